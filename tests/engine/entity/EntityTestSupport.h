#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "CaptureLogSink.h"
#include "engine/EngineSeamsTestSupport.h"
#include "engine/services/GameServices.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"

class EntityTest : public testing::Test {
protected:
    void SetUp() override {
        ResetEngineSeams();
        log.Attach();
        gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
        log.Clear();
    }
    void TearDown() override {
        gEntityManager->NewScene();
        ResetEngineSeams();
        SetGameServices(nullptr);
        log.Detach();
    }
    // A template of the given type that lives for the test.
    EntityTemplate* Template(uint32_t typeId = 0, const char* name = "tpl") {
        templates.push_back(std::make_unique<EntityTemplate>());
        EntityTemplate* t = templates.back().get();
        t->typeId = typeId;
        t->SetName(name);
        return t;
    }
    Entity* Make(Entity* parent = nullptr, uint32_t creationFlags = 0, EntityTemplate* t = nullptr) {
        if (!t) t = templates.empty() ? Template() : templates.front().get();
        return gEntityManager->CreateEntityFromTemplate(t, parent, Matrix::IDENTITY, creationFlags, nullptr);
    }
    Entity* Root() { return gEntityManager->GetRootEntity(); }

    CaptureLogSink log;
    std::vector<std::unique_ptr<EntityTemplate>> templates;
};
