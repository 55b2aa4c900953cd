#pragma once
// Mesh entities for the animation tests: templates from tests/support/mesh_block.py,
// entities made by the entity manager with the renderer and the resource manager running
// (no shader definitions).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/BoundedReader.h"
#include "engine/entity/EntityManager.h"
#include "render/resources/ResourceTestSupport.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

namespace animtest {

// A hierarchy model for mesh_block.py: node i has parent parents[i], bone i and a
// translation (0, lengths[i], 0) from its parent; bone matrices undo the bind pose.
inline std::string ChainHierarchy(const std::vector<std::string>& names, const std::vector<int>& parents,
                                  const std::vector<float>& lengths, const std::string& tree) {
    std::string nodes, bones;
    std::vector<float> height(names.size(), 0.0f);
    for (size_t i = 0; i < names.size(); ++i) {
        height[i] = lengths[i] + (parents[i] >= 0 ? height[size_t(parents[i])] : 0.0f);
        nodes += "{'name': '" + names[i] + "', 'parent': " + std::to_string(parents[i] < 0 ? 255 : parents[i]) +
                 ", 'bone': " + std::to_string(i) + ", 'matrix': [1,0,0,0, 0,1,0,0, 0,0,1,0, 0," +
                 std::to_string(lengths[i]) + ",0,1]},";
        bones += "[1,0,0,0, 0,1,0,0, 0,0,1,0, 0," + std::to_string(-height[i]) + ",0,1],";
    }
    return "{'nodes': [" + nodes + "], 'bones': [" + bones + "], 'tree': " + tree + "}";
}

struct MeshFixture : sceneframe::SceneEntityFixture<resourcetest::ResourceFixture> {
    void TearDown() override {
        EndScene();
        templates.clear();
        SceneEntityFixture::TearDown();
    }
    // The template of a box mesh with this hierarchy model (empty: none).
    MeshTemplate* Template(const std::string& hierarchy = "", const char* name = "mesh") {
        templates.push_back(std::make_unique<MeshTemplate>());
        MeshTemplate* t = templates.back().get();
        t->SetName(name);
        EXPECT_TRUE(Read(t, hierarchy));
        return t;
    }
    // Reads the block of a box mesh with this hierarchy model into t.
    static bool Read(MeshTemplate* t, const std::string& hierarchy) {
        // One file per process: test programs run side by side.
        std::string model = "m.box_mesh()";
        if (!hierarchy.empty()) model = "(lambda b: (b.update({'hier': " + hierarchy + "}), b)[1])(m.box_mesh())";
        const std::string file = "anim_mesh_fixture_block_" + std::to_string(getpid()) + ".bin";
        const std::vector<uint8_t> block = sceneframe::MeshToolBlock(model, file);
        std::remove((PROJECT_BINARY_ROOT "/" + file).c_str());
        BoundedReader reader(block.data(), block.size());
        return t->ReadBinaryData(reader, 50);
    }
    MeshEntity* Make(MeshTemplate* t, const Matrix& where = Matrix::IDENTITY) {
        auto* m = dynamic_cast<MeshEntity*>(gEntityManager->CreateEntityFromTemplate(t, nullptr, where, 0, nullptr));
        EXPECT_NE(m, nullptr);
        return m;
    }
    std::vector<std::unique_ptr<MeshTemplate>> templates;
};

}  // namespace animtest
