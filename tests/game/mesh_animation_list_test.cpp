// test-sanitize: address
// The Game's mesh animation list as the replicated-animation switches fill it: a mesh is
// posed in every game step while its replication is on, no longer once it is off, again
// when it is switched back on, and a mesh deleted while listed is never reached.
#include <gtest/gtest.h>

#include <utility>

#include "../scene/animation/MeshEntityFixture.h"
#include "core/Log.h"
#include "engine/services/GameServices.h"
#include "engine/services/SceneContentServices.h"
#include "game/Game.h"
#include "scene/animation/MeshAnimationController.h"

namespace {

const char kTree[] =
    "[{'name': 'root', 'first': 0, 'count': 3, 'parent': 4294967295, 'child': 1, 'sibling': 4294967295},"
    "{'name': 'upper', 'first': 1, 'count': 2, 'parent': 0, 'child': 4294967295, 'sibling': 4294967295}]";

struct MeshAnimationListTest : animtest::MeshFixture {
    void SetUp() override {
        MeshFixture::SetUp();
        savedGame = std::exchange(gGame, &game);
        SetGameServices(&GetRunningGameServices());
        SetSceneContentServices(&SceneLibraryContentServices());
    }
    void TearDown() override {
        SetLogFrameNumbers(0, 0);
        SetSceneContentServices(nullptr);
        SetGameServices(nullptr);
        gGame = savedGame;
        MeshFixture::TearDown();
    }
    MeshEntity* Arm() {
        using animtest::ChainHierarchy;
        MeshEntity* m = Make(Template(ChainHierarchy({"upper", "fore", "hand"}, {-1, 0, 1}, {0, 1, 1}, kTree), "arm"));
        m->GetAnimationController()->ClearEvaluationStamp();
        return m;
    }
    // The game step of the mesh's last pose (0: never posed).
    static uint32_t PosedStep(MeshEntity* m) { return m->GetAnimationController()->evaluationTick; }

    Game game;
    Game* savedGame = nullptr;
};

TEST_F(MeshAnimationListTest, ReplicatedMeshesArePosedEachStepUntilSwitchedOffOrDeleted) {
    MeshEntity* gone = Arm();
    MeshEntity* listed = Arm();
    MeshEntity* never = Arm();
    gone->ReplicateAnimEnable(3, 4);  // listed ahead of the mesh that stays
    listed->ReplicateAnimEnable(3, 4);
    gone->DeleteMe();

    const struct Step {
        void (*before)(MeshEntity*);
        uint32_t posedStep;  // the listed mesh's last pose after this step
    } steps[] = {
        {nullptr, 1},
        {nullptr, 2},
        {[](MeshEntity* m) { m->ReplicateAnimDisable(); }, 2},
        {nullptr, 2},
        {[](MeshEntity* m) { m->ReplicateAnimEnable(3, 4); }, 5},
        {nullptr, 6},
    };
    uint32_t step = 0;
    for (const Step& s : steps) {
        ++step;
        SCOPED_TRACE(step);
        if (s.before) s.before(listed);
        SetLogFrameNumbers(int32_t(step), 1);
        game.StepMeshAnimations();
        EXPECT_EQ(PosedStep(listed), s.posedStep);
        EXPECT_EQ(listed->GetAnimationController()->evaluationFrame, 1u);
        EXPECT_EQ(PosedStep(never), 0u);
    }
}

}  // namespace
