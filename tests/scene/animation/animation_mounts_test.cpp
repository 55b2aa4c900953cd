// Mounting child entities on hierarchy nodes of a MeshAnimationController: the placed
// matrix (offset first, then the node, then the entity), the refusals with their
// messages, unmounting, offsets and children that are gone.
// test-sanitize: address
#include <gtest/gtest.h>

#include <memory>

#include "engine/entity/EntityTestSupport.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/mesh/MeshData.h"

namespace {

struct MountsTest : EntityTest {
    void SetUp() override {
        EntityTest::SetUp();
        for (const char* name : {"root", "spine", "hand"}) hierarchy.nodes.push_back({NameString(name), 255, 255});
        controller = std::make_unique<MeshAnimationController>(hierarchy);
        nodes[0] = nodes[1] = nodes[2] = Matrix::IDENTITY;
        nodes[2].LoadTranslation(0, 2, 0);
        global.LoadYRotation(90);
        Matrix move;
        move.LoadTranslation(10, 0, 0);
        global.Mul(move, global);  // rotate, then move
    }
    void TearDown() override {
        controller.reset();
        EntityTest::TearDown();
    }
    // The origin carried through each matrix in turn.
    static Vector Through(std::initializer_list<const Matrix*> matrices) {
        Vector p(0, 0, 0, 1);
        for (const Matrix* m : matrices) p.Transform3D(*m);
        return p;
    }
    std::vector<std::string> Errors() {
        std::vector<std::string> out;
        for (const CaptureLogSink::Message& m : log.Messages())
            if (m.severity == 4 && m.category == 2) out.push_back(m.text);
        return out;
    }
    MeshHierarchy hierarchy;
    std::unique_ptr<MeshAnimationController> controller;
    Matrix nodes[3];
    Matrix global;
};

TEST_F(MountsTest, AMountedChildGoesThroughItsOffsetTheNodeAndTheEntity) {
    Entity* child = Make();
    Matrix offset;
    offset.LoadTranslation(0, 0, 1);
    ASSERT_TRUE(controller->MountEntity("hand", child, offset));
    EXPECT_TRUE(child->GetFlags2() & ENTITYFLAG2_MOUNTED_TO_BONE);
    EXPECT_EQ(controller->evaluationFrame, 0u);
    controller->ApplyMounts(global, nodes, 3);
    const Vector want = Through({&offset, &nodes[2], &global});
    const Vector got = Through({&child->GetGlobalLocationMatrix()});
    EXPECT_NEAR(got.x, want.x, 1e-5f);
    EXPECT_NEAR(got.y, want.y, 1e-5f);
    EXPECT_NEAR(got.z, want.z, 1e-5f);
    EXPECT_NEAR(want.x, 11.0f, 1e-5f);  // (0, 2, 1) turned 90 degrees about y, then moved
    // A new offset replaces the old one.
    ASSERT_TRUE(controller->SetMountedEntityOffset(child));
    controller->ApplyMounts(global, nodes, 3);
    const Vector moved = Through({&child->GetGlobalLocationMatrix()});
    const Vector want2 = Through({&nodes[2], &global});
    EXPECT_NEAR(moved.x, want2.x, 1e-5f);
    EXPECT_NEAR(moved.z, want2.z, 1e-5f);
    EXPECT_FALSE(controller->SetMountedEntityOffset(Make()));
}

TEST_F(MountsTest, RefusedMountsLogTheirMessageAndChangeNothing) {
    Entity* child = Make();
    child->SetName("gun");
    ASSERT_TRUE(controller->MountEntity(1, child));
    log.Clear();
    struct Case {
        const char* node;  // null: by index
        int32_t index;
        const char* message;
    } const cases[] = {
        {"hand", 0, "Entity gun has already been mounted to some other entity"},
        {nullptr, 2, "Entity gun has already been mounted to some other entity"},
        {"tail", 0, "Cannot mount entity gun because tail cannot be found"},
        {nullptr, -1, "Cannot mount entity to bone with -1 index"},
        {nullptr, 3, "Cannot mount entity to bone with 3 index"},
    };
    for (const Case& c : cases) {
        log.Clear();
        if (c.index == 0 && c.node && std::string(c.node) == "tail") child->SetFlags2(ENTITYFLAG2_MOUNTED_TO_BONE, false);
        EXPECT_FALSE(c.node ? controller->MountEntity(c.node, child) : controller->MountEntity(c.index, child));
        EXPECT_EQ(Errors(), std::vector<std::string>{c.message});
        child->SetFlags2(ENTITYFLAG2_MOUNTED_TO_BONE, true);
    }
    EXPECT_EQ(controller->MountCount(), 1u);
    EXPECT_FALSE(controller->MountEntity(0, nullptr));
}

TEST_F(MountsTest, UnmountingAndGoneChildren) {
    Entity* a = Make();
    Entity* b = Make();
    Entity* c = Make();
    for (Entity* e : {a, b, c}) ASSERT_TRUE(controller->MountEntity("spine", e));
    controller->UnmountEntity(b);
    EXPECT_FALSE(b->GetFlags2() & ENTITYFLAG2_MOUNTED_TO_BONE);
    EXPECT_EQ(controller->MountCount(), 2u);
    // Mounting again after the unmount works.
    EXPECT_TRUE(controller->MountEntity("hand", b));
    // A destroyed child leaves the list when the mounts are next applied.
    gEntityManager->DestroyEntity(a);
    controller->ApplyMounts(global, nodes, 3);
    EXPECT_EQ(controller->MountCount(), 2u);
    controller->UnmountEntity(nullptr);
    EXPECT_EQ(controller->MountCount(), 0u);
    for (Entity* e : {b, c}) EXPECT_FALSE(e->GetFlags2() & ENTITYFLAG2_MOUNTED_TO_BONE);
}

}  // namespace
