#pragma once
// Triggers and activators on the engine's entity manager and spatial grid, with a native
// handler that records every callback as "enter T E", "exit T E", "cleared T".
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/entity/EntityTestSupport.h"
#include "scene/entities/TriggerEntity.h"
#include "scene/startup/SceneStaticInit.h"

namespace trigtest {

struct Recorder : EntityEventHandler {
    TriggerEntity* owner = nullptr;
    std::vector<std::string>* log = nullptr;
    // Runs after the record, with the entity (null for cleared).
    std::function<void(const char* what, Entity* entity)> then;
    void Note(const char* what, Entity* e) {
        log->push_back(std::string(what) + " " + owner->GetName() + (e ? std::string(" ") + e->GetName() : ""));
        if (then) then(what, e);
    }
    void OnEnter(Entity* e) override { Note("enter", e); }
    void OnExit(Entity* e) override { Note("exit", e); }
    void OnCleared() override { Note("cleared", nullptr); }
};

inline Matrix Place(const Vector& position, const Vector& scale = Vector(1, 1, 1, 0),
                    const Vector& degrees = Vector(0, 0, 0, 1)) {
    Matrix m;
    m.LoadComplexTransformation(position, degrees, scale);
    return m;
}

class TriggerTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        InstallSceneHooks();
        TriggerEntity::EnableChecks();
        activator.activatesTriggers = true;
        activator.SetName("act");
        activator.staticBoundingBox = BoundingBox4(Vector(-0.1f, -0.1f, -0.1f, 1), Vector(0.1f, 0.1f, 0.1f, 1));
        plain.SetName("plain");
    }
    void TearDown() override {
        for (auto& r : recorders) r->then = nullptr;
        TriggerEntity::ClearPendingChecks();
        EntityTest::TearDown();
    }
    TriggerTemplate* Kind(uint32_t shape, uint32_t mode) {
        kinds.push_back(std::make_unique<TriggerTemplate>());
        TriggerTemplate* t = kinds.back().get();
        t->shape = shape;
        t->mode = mode;
        t->SetName("trigger");
        return t;
    }
    TriggerEntity* MakeTrigger(const char* name, const Matrix& local, uint32_t shape = TRIGGER_SHAPE_BOX,
                               uint32_t mode = TRIGGER_MODE_POSITION_INSIDE, Entity* parent = nullptr) {
        auto* t = static_cast<TriggerEntity*>(
            gEntityManager->CreateEntityFromTemplate(Kind(shape, mode), parent, local, 0, nullptr));
        t->SetName(name);
        recorders.push_back(std::make_unique<Recorder>());
        recorders.back()->owner = t;
        recorders.back()->log = &events;
        t->SetEventHandler(recorders.back().get());
        return t;
    }
    Recorder* RecorderOf(TriggerEntity* t) { return static_cast<Recorder*>(t->GetEventHandler()); }
    Entity* MakeActivator(const char* name, const Vector& position) {
        Entity* e = gEntityManager->CreateEntityFromTemplate(&activator, nullptr, Place(position), 0, nullptr);
        e->SetName(name);
        e->InitTriggerActivation();
        return e;
    }
    void Pass() { TriggerEntity::ProcessPendingChecks(); }
    std::vector<std::string> Take() { return std::exchange(events, {}); }

    EntityTemplate activator, plain;
    std::vector<std::unique_ptr<TriggerTemplate>> kinds;
    std::vector<std::unique_ptr<Recorder>> recorders;
    std::vector<std::string> events;
};

using Events = std::vector<std::string>;

}  // namespace trigtest
