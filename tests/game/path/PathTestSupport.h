#pragma once
// Shared fixture of the path renderer tests: the scene's entity layer on a started
// renderer, a graph entity whose flag children the routes run through, and a path
// renderer entity of a template the test owns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/NumpyReference.h"
#include "engine/entity/EntityManager.h"
#include "game/path/ZKRPathRendererEntity.h"
#include "game/path/ZKRPathRendererTemplate.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/GraphEntity.h"
#include "scene/startup/SceneStaticInit.h"
#include "../../scene/SceneFrameTestSupport.h"

namespace pathtest {

inline std::string Words(const Vector& v, int count) {
    std::string s;
    for (int i = 0; i < count; ++i) s += " " + FloatBits(v[i]);
    return s;
}

inline std::string PointWords(const std::vector<Vector>& points) {
    std::string s = " " + std::to_string(points.size());
    for (const Vector& p : points) s += Words(p, 4);
    return s;
}

template <class Base>
struct PathFixture : sceneframe::SceneEntityFixture<Base> {
    PathFixture() { this->sceneBox = BoundingBox4(Vector(-2000, -50, -2000, 1), Vector(2000, 200, 2000, 1)); }
    void SetUp() override {
        sceneframe::SceneEntityFixture<Base>::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        flagTemplate.SetName("flag");
        graphTemplate.SetName("graph");
        pathTemplate.SetName("path");
        graph = Graph(Matrix::IDENTITY);
        path = static_cast<ZKRPathRendererEntity*>(
            gEntityManager->CreateEntityFromTemplate(&pathTemplate, nullptr, Matrix::IDENTITY, 0, nullptr));
        ASSERT_NE(path, nullptr);
    }
    void TearDown() override {
        this->EndScene();
        // Before the resource pools go with the base's TearDown.
        pathTemplate.ReleaseHeldResources();
        sceneframe::SceneEntityFixture<Base>::TearDown();
    }
    GraphEntity* Graph(const Matrix& m) {
        auto* g = dynamic_cast<GraphEntity*>(gEntityManager->CreateEntityFromTemplate(&graphTemplate, nullptr, m, 0, nullptr));
        EXPECT_NE(g, nullptr);
        return g;
    }
    FlagEntity* Flag(const Vector& p, Entity* parent = nullptr) {
        Matrix m;
        m.LoadTranslation(p.x, p.y, p.z);
        auto* f = dynamic_cast<FlagEntity*>(
            gEntityManager->CreateEntityFromTemplate(&flagTemplate, parent ? parent : graph, m, 0, nullptr));
        EXPECT_NE(f, nullptr);
        return f;
    }
    // A straight connection from a to b, measured.
    void Connect(FlagEntity* a, FlagEntity* b) {
        a->AddConnection(b);
        a->RecomputeConnections();
    }
    // Flags at the positions, each connected to the next.
    std::vector<FlagEntity*> Chain(const std::vector<Vector>& positions, Entity* parent = nullptr) {
        std::vector<FlagEntity*> flags;
        for (const Vector& p : positions) flags.push_back(Flag(p, parent));
        for (size_t i = 0; i + 1 < flags.size(); ++i) Connect(flags[i], flags[i + 1]);
        return flags;
    }
    // A route along the chain with one offset, finished.
    void Route(const std::vector<FlagEntity*>& flags, float offset) {
        path->BeginPath();
        for (size_t i = 0; i + 1 < flags.size(); ++i) path->AddGraphSegment(flags[i], flags[i + 1], offset, false, false, false);
        path->FinishPath();
    }

    FlagTemplate flagTemplate;
    GraphTemplate graphTemplate;
    ZKRPathRendererTemplate pathTemplate;
    GraphEntity* graph = nullptr;
    ZKRPathRendererEntity* path = nullptr;
};

}  // namespace pathtest
