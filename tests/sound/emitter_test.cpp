// test-sanitize: address
// Entity sound emitters: their operations, the entity's sound methods through the
// engine's entries, the release at destruction (AddressSanitizer sees an instance that
// kept a freed emitter), and the rules while the sound thread does not run
// (LeakSanitizer sees an emitter that is never freed).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "SoundTestSupport.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/services/EngineServices.h"
#include "sound/EntitySoundEmitter.h"
#include "sound/SoundServices.h"

using namespace soundtest;

namespace {

struct Emitters : InlineEngineFixture {
    void SetUp() override {
        InlineEngineFixture::SetUp();
        FillSoundServices();
        ASSERT_TRUE(MakeTone(Sound("mono.wav"), "-r 48000 -c 1 -b 16", 1.0));
        gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
        tpl.typeId = 0;
        tpl.SetName("tpl");
    }
    void TearDown() override {
        gEntityManager->NewScene();
        FillSoundServices();
        InlineEngineFixture::TearDown();
    }
    Entity* Make() { return gEntityManager->CreateEntityFromTemplate(&tpl, nullptr, Matrix::IDENTITY, 0, nullptr); }

    EntityTemplate tpl;
};

TEST_F(Emitters, OperationsMoveTheEmitterAndTheAltitudeOverridePinsItsHeight) {
    StartEngine();
    EntitySoundEmitter* e = new EntitySoundEmitter(At(1, 2, 3));
    struct Row {
        const char* what;
        int op;  // 1 transform to (x, y, z), 3 override y
        float x, y, z;
        float wantY, wantSaved;
    };
    const Row rows[] = {
        {"made at y 2", 0, 0, 0, 0, 2, 2},
        {"moved to y 3", 1, 4, 3, 6, 3, 3},
        {"pinned at 5", 3, 0, 5, 0, 5, 3},
        {"moves keep the pin", 1, 7, 9, 1, 5, 9},
        {"a pin of 0 holds", 3, 0, 0, 0, 0, 9},
        {"-1 restores the own y at once", 3, 0, -1, 0, 9, 9},
        {"moves follow again", 1, 0, -4, 0, -4, -4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.op == 1) e->PostTransform(At(row.x, row.y, row.z));
        if (row.op == 3) e->PostAltitudeOverride(row.y);
        EXPECT_EQ(e->Transform().r[3].y, row.wantY);
        EXPECT_EQ(e->SavedAltitude(), row.wantSaved);
        if (row.op == 1) {
            EXPECT_EQ(e->Transform().r[3].x, row.x);
        }
    }
    e->PostVelocity(Vector(1, 2, 3, 0));
    EXPECT_EQ(e->Velocity().z, 3.0f);

    // Operations 5 and above, and short records, change nothing.
    const Matrix before = e->Transform();
    for (uint32_t op : {5u, 6u, 0xFFFFFFFFu, 1u, 2u, 3u}) {
        uint8_t payload[4 + 8] = {};
        std::memcpy(payload, &op, 4);
        std::memset(payload + 4, 0x41, 8);
        EntitySoundEmitter::Execute(e, payload, op >= 5 ? sizeof payload : 4 + 2);
        EXPECT_EQ(std::memcmp(&before, &e->Transform(), sizeof before), 0) << op;
        EXPECT_EQ(e->Velocity().z, 3.0f) << op;
    }
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
    e->PostRelease();
}

TEST_F(Emitters, EntitySoundsFollowTheEntityAndFadeWhereItDied) {
    StartEngine();
    Entity* entity = Make();
    entity->StopSound(kSoundAllInstances, 0.0f);
    entity->PauseSound(kSoundAllInstances, 0.0f, -1);
    entity->SetVolume(0.5f, 0.0f, 0, kSoundAllInstances);
    entity->ExitLoop(kSoundAllInstances);
    EXPECT_FALSE(entity->HasSoundEmitter());  // none of these makes an emitter

    EXPECT_EQ(entity->PlaySound(nullptr, nullptr), 0u);
    EXPECT_TRUE(entity->HasSoundEmitter());  // made anyway
    SoundParamWrapper endless = Params(0, 0);
    endless.Flags = SOUNDSTARTFLAG_IMPORTANT;
    const uint32_t id = entity->PlaySound("mono.wav", &endless);
    EXPECT_NE(id, 0u);
    ASSERT_TRUE(RunUntilVoiced());

    entity->SetGlobalPosition3(10, 1, 20);
    Step();
    const SoundInstanceBase* i = SoundInstanceBase::First();
    EXPECT_EQ(i->OwnerTransform().r[3].x, 10.0f);
    EXPECT_EQ(i->OwnerTransform().r[3].y, 1.0f);
    entity->SetSoundAltitudeOverride(5.0f);
    entity->SetGlobalPosition3(11, 2, 21);
    Step();
    EXPECT_EQ(i->OwnerTransform().r[3].x, 11.0f);
    EXPECT_EQ(i->OwnerTransform().r[3].y, 5.0f);
    entity->SetSoundAltitudeOverride(-1.0f);
    Step();
    EXPECT_EQ(i->OwnerTransform().r[3].y, 2.0f);

    entity->SetGlobalPosition3(12, 3, 22);
    Step();
    entity->SetGlobalPosition3(13, 3, 22);  // not heard there: no update in between
    entity->Destroy();
    Step();
    i = SoundInstanceBase::First();
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->Owner(), nullptr);
    EXPECT_TRUE(i->StateFlags() & SOUNDINSTANCE_STOPPING);
    EXPECT_EQ(i->OwnerTransform().r[3].x, 12.0f);
    int steps = 1;
    while (SoundInstanceBase::First() && steps < 100) {
        Step();
        ++steps;
    }
    EXPECT_EQ(steps, 11);  // 0.3 s of 30 ms updates
}

TEST_F(Emitters, WithoutTheSoundThreadNothingPlaysAndNothingLeaks) {
    // Never started, and not stepped by the test either: an ordinary engine that is down.
    engine->SetRunWithoutThread(false);
    Entity* entity = Make();
    EXPECT_EQ(entity->PlaySound("mono.wav", nullptr), 0u);
    entity->SetVelocityForDopplerEffect(Vector(1, 0, 0, 0));
    entity->SetSoundAltitudeOverride(3.0f);
    entity->SetGlobalPosition3(1, 1, 1);
    EXPECT_EQ(entity->GetSoundEmitter()->Transform().r[3].y, 3.0f);  // ran on the caller
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
    entity->Destroy();  // frees the emitter at once
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
}

int gEntryCalls = 0;

TEST_F(Emitters, WithTheEntriesEmptyEntitiesMakeNoSound) {
    StartEngine();
    gEngineServices = EngineServices();
    gEngineServices.entityUpdateSoundEmitter = [](EntitySoundEmitter*, const Matrix&) { ++gEntryCalls; };
    gEngineServices.entityReleaseSoundEmitter = [](EntitySoundEmitter*) { ++gEntryCalls; };
    Entity* entity = Make();
    EXPECT_EQ(entity->PlaySound("mono.wav", nullptr), 0u);
    EXPECT_EQ(entity->GetSoundEmitter(), nullptr);
    entity->SetGlobalPosition3(3, 4, 5);
    entity->Destroy();
    EXPECT_EQ(gEntryCalls, 0);
    Step();
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
}

}  // namespace
