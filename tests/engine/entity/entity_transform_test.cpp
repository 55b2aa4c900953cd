// test-sources: ../NumpyReference.cpp
// test-sanitize: address
#include <cmath>
#include <random>
#include <sstream>

#include "EntityTestSupport.h"
#include "engine/NumpyReference.h"

namespace {

struct Tree {
    std::vector<Entity*> nodes;
    std::vector<int> parents;
};

int IndexOf(const Tree& t, const Entity* e) {
    for (size_t i = 0; i < t.nodes.size(); ++i)
        if (t.nodes[i] == e) return int(i);
    return -1;
}

// Entities listed parents first (breadth first from the scene root's children).
std::string Describe(Tree& t) {
    std::vector<Entity*> order;
    for (Entity* e : t.nodes)
        if (IndexOf(t, e->GetParent()) < 0) order.push_back(e);
    for (size_t i = 0; i < order.size(); ++i)
        for (uint32_t c = 0; c < order[i]->GetChildrenCount(); ++c) order.push_back(order[i]->GetChild(c));
    t.nodes = order;
    std::ostringstream s;
    s << t.nodes.size();
    for (Entity* e : t.nodes) {
        // A parent outside the tree is the scene root, whose global matrix is identity.
        s << ' ' << IndexOf(t, e->GetParent()) << ' ' << (e->CheckFlag(ENTITYFLAG_PARENTNOSCALE) ? 1 : 0);
        const Matrix& m = e->GetLocalLocationMatrix();
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) s << ' ' << FloatBits(m.r[r][c]);
    }
    return s.str() + "\n";
}

void ExpectNear(float actual, float expected, const char* what) {
    EXPECT_NEAR(actual, expected, 2e-4f * std::max(1.0f, std::fabs(expected))) << what;
}

void Check(Tree& t, const std::vector<std::string>& lines, size_t first) {
    ASSERT_GE(lines.size(), first + t.nodes.size());
    for (size_t i = 0; i < t.nodes.size(); ++i) {
        Entity* e = t.nodes[i];
        std::istringstream in(lines[first + i]);
        std::vector<std::string> w{std::istream_iterator<std::string>(in), {}};
        ASSERT_EQ(w.size(), 20u);
        const Matrix& g = e->GetGlobalLocationMatrix();
        for (int k = 0; k < 16; ++k) ExpectNear(g.r[k / 4][k % 4], BitsToFloat(w[k]), "global");
        EXPECT_EQ((e->GetEnforcedRenderingFlags() & ENFORCED_MIRRORED) != 0, w[16] == "1");
        const Vector s = e->GetGlobalScale();
        for (int k = 0; k < 3; ++k) ExpectNear(s[k], BitsToFloat(w[17 + k]), "global scale");
    }
}

class TransformTest : public EntityTest {};

TEST_F(TransformTest, RandomTreesMatchTheReference) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> angle(-180, 180), pos(-40, 40), scale(0.3f, 2.5f);
    std::string input;
    std::vector<Tree> trees;
    for (int round = 0; round < 6; ++round) {
        Tree t;
        for (int i = 0; i < 14; ++i) {
            Entity* parent = i && rng() % 5 ? t.nodes[rng() % t.nodes.size()] : nullptr;
            Entity* e = Make(parent);
            if (rng() % 3 == 0) e->RaiseFlag(ENTITYFLAG_PARENTNOSCALE, false);
            // Mixed setters: matrices, parts, uniform and mirroring scales.
            e->SetLocalRotation3(angle(rng), angle(rng), angle(rng));
            e->SetLocalScale3(scale(rng), scale(rng), rng() % 4 ? scale(rng) : -scale(rng));
            e->SetLocalPosition3(pos(rng), pos(rng), pos(rng));
            t.nodes.push_back(e);
        }
        input += Describe(t);
        // Re-parent some in place: their world matrices stay.
        for (int k = 0; k < 4; ++k) {
            Entity* e = t.nodes[rng() % t.nodes.size()];
            Entity* p = t.nodes[rng() % t.nodes.size()];
            const Matrix g = e->GetGlobalLocationMatrix();
            e->SetParentInPlace(p);  // a loop is refused and keeps everything
            for (int r = 0; r < 16; ++r) ExpectNear(e->GetGlobalLocationMatrix().r[r / 4][r % 4], g.r[r / 4][r % 4], "in place");
        }
        // Global setters on random nodes.
        t.nodes[rng() % t.nodes.size()]->SetGlobalPosition3(pos(rng), pos(rng), pos(rng));
        t.nodes[rng() % t.nodes.size()]->SetGlobalRotation3(angle(rng), angle(rng), angle(rng));
        Entity* scaled = t.nodes[rng() % t.nodes.size()];
        scaled->SetGlobalScale3(scale(rng), scale(rng), scale(rng));
        input += Describe(t);
        trees.push_back(t);
    }
    const std::vector<std::string> lines = RunNumpyReference("entity/entity_reference.py", input);
    // The reference lists each tree twice (as built, then after the moves); the second
    // description is the present state.
    size_t at = 0;
    for (Tree& t : trees) {
        at += t.nodes.size();
        Check(t, lines, at);
        at += t.nodes.size();
    }
}

TEST_F(TransformTest, SettersClearTheirCaches) {
    // Cache bytes 0-1 are the local rotation and scale; the child keeps only those.
    const struct {
        const char* name;
        void (*set)(Entity*);
        bool keepsLocal;
    } cases[] = {
        {"SetLocalPosition", [](Entity* e) { e->SetLocalPosition3(1, 2, 3); }, true},
        {"SetLocalRotation", [](Entity* e) { e->SetLocalRotation3(10, 0, 0); }, true},
        {"SetLocalScale", [](Entity* e) { e->SetLocalScale3(2, 1, 1); }, true},
        {"CopyLocalLocation", [](Entity* e) { e->CopyLocalLocation(e->GetParent()); }, false},
        {"SetGlobalLocationMatrix", [](Entity* e) { e->SetGlobalLocationMatrix(Matrix::IDENTITY); }, false},
        {"SetGlobalPosition", [](Entity* e) { e->SetGlobalPosition3(4, 0, 0); }, false},
    };
    for (const auto& c : cases) {
        Entity* e = Make(Make());
        Entity* child = Make(e);
        for (Entity* x : {e, child}) {
            x->GetLocalRotation();
            x->GetGlobalRotation();
            x->GetInversedGlobalLocationMatrix();
        }
        c.set(e);
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(e->IsCacheValid(k), c.keepsLocal && k < 2) << c.name << " byte " << k;
            EXPECT_EQ(child->IsCacheValid(k), k < 2) << c.name << " child byte " << k;
        }
        // The caches that stay valid still hold the right values.
        Matrix rebuilt;
        rebuilt.LoadQuaternionTranslationAndScale(e->GetLocalRotation(), e->GetLocalPosition(), e->GetLocalScale());
        for (int r = 0; r < 16; ++r)
            EXPECT_NEAR(rebuilt.r[r / 4][r % 4], e->GetLocalLocationMatrix().r[r / 4][r % 4], 1e-4) << c.name;
    }
}

}  // namespace
