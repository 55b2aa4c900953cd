// Multiplayer properties on a manual clock: bit widths and quantised encodings, the set
// rule, declaration limits, the receiver's snapshots with interpolation, extrapolation
// and the correction blend, and the authority's waiting sets.
// test-sanitize: address
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "EntityTestSupport.h"
#include "core/BitStream.h"
#include "engine/entity/MPProperty.h"
#include "engine/services/GameClock.h"
#include "platform/os/Clock.h"

namespace {

constexpr int64_t kUs = os::kCounterFrequency / 1000000;

class MPPropTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        manual.Install();
        savedClock = gGameClock;
        gGameClock = &clock;
        clock.Tick(-1, 1.0f);
        SetMPReplicationBox(Vector(-100, -25, -100, 1), Vector(100, 200, 100, 1));
        SetMPHostFrameTimes(0, 0);
        SetMPLocalPlayer(nullptr);
    }
    void TearDown() override {
        gGameClock = savedClock;
        manual.Uninstall();
        EntityTest::TearDown();
    }
    uint64_t Now() const { return uint64_t(clock.GetCurrentTime()); }
    // The game clock moves by us microseconds.
    void Advance(int64_t us) {
        manual.Advance(us * kUs);
        clock.Tick(-1, 1.0f);
    }
    Entity* WithProperties() {
        Entity* e = Make();
        e->CreateMPProperties();
        return e;
    }
    size_t Count(uint8_t severity) {
        size_t n = 0;
        for (const auto& m : log.Messages()) n += m.severity == severity;
        return n;
    }
    os::ManualClock manual{1000 * os::kCounterFrequency};
    GameClock clock;
    GameClock* savedClock = nullptr;
};

// The fields of a record as a receiver gets them: packed back to back.
MPFieldBuffer Packed(const std::vector<std::pair<uint32_t, uint64_t>>& fields) {
    MPFieldBuffer b;
    BitWriter w(b.data, kMPFieldBufferBytes * 8);
    for (const auto& [bits, q] : fields) w.WriteValue(q, bits);
    b.totalBits = w.BitCount();
    b.bytesUsed = w.ByteCount();
    return b;
}

// ---------------------------------------------------------------------------------
// Widths and encodings

TEST(MPPropWidths, IntAndFloatRanges) {
    struct Row {
        int32_t min, max;
        uint32_t bits;
        int32_t widenedMax;
    };
    for (const Row& r : {Row{0, 255, 9, 511}, Row{5, 5, 1, 6}, Row{0, 1, 2, 3}, Row{-3, 0, 3, 4}, Row{0, 2, 2, 3}, Row{0, 1 << 30, 24, (1 << 24) - 1}}) {
        int32_t max = r.max;
        EXPECT_EQ(MPPropIntBits(r.min, max), r.bits) << r.min << " " << r.max;
        EXPECT_EQ(max, r.widenedMax) << r.min << " " << r.max;
    }
    float step = 0.01f;
    EXPECT_EQ(MPPropFloatBits(0.0f, 1.0f, step), 7u);
    EXPECT_FLOAT_EQ(step, 1.0f / 127.0f);
    step = 2.0f;
    EXPECT_EQ(MPPropFloatBits(0.0f, 1023.0f, step), 10u);
    EXPECT_FLOAT_EQ(step, 1.0f);
}

// The wrap is part of the wire form: it must give the very float of the two fmods, also
// next to the turn's ends, where a + 360 rounds.
TEST(MPPropWidths, AngleWrapIsTheFloatOfTwoFmods) {
    const auto twoFmods = [](float a) {
        float w = std::fmod(std::fmod(a, 360.0f) + 360.0f, 360.0f);
        return w >= 360.0f ? 0.0f : w;
    };
    std::vector<float> angles;
    for (const float centre : {-720.0f, -360.0f, -180.0f, 0.0f, 180.0f, 360.0f, 720.0f}) {
        float up = centre, down = centre;
        for (int k = 0; k < 3000; ++k, up = std::nextafter(up, 1e9f), down = std::nextafter(down, -1e9f)) angles.insert(angles.end(), {up, down});
    }
    for (uint32_t i = 0; i < 200000; ++i) angles.push_back(-800.0f + 1600.0f * float(i) / 200000.0f);
    angles.insert(angles.end(), {1e-30f, -1e-30f, -0.0f, 1e30f, -1e30f});
    for (const float a : angles) {
        const float got = MPPropWrapAngle(a), want = twoFmods(a);
        ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << std::hexfloat << a << ": " << got << " against " << want;
    }
}

// Positions and angles quantise and decode to the values of plain float divisions, for
// boxes of awkward sizes too.
TEST(MPPropWidths, QuantisingIsThePlainFloatDivision) {
    const auto round = [](float x) { return x > 0.0f ? uint32_t(x + 0.5f) : 0u; };
    const float boxes[][2] = {{-100.0f, 100.0f}, {-25.0f, 200.0f}, {-37.3f, 911.7f}, {0.001f, 0.0013f}, {-4096.5f, 3.0e6f}};
    MPProperty posY, angle, angles;
    posY.kind = MPPROPTYPE_FLOAT_POSY;
    angle.kind = MPPROPTYPE_VEC_ANGLEY;
    angles.kind = MPPROPTYPE_VEC_ANGLEXY;
    MPValue v;
    for (const auto& box : boxes) {
        SetMPReplicationBox(Vector(-1, box[0], -1, 1), Vector(1, box[1], 1, 1));
        for (uint32_t i = 0; i <= 100000; ++i) {
            v.f = box[0] + (box[1] - box[0]) * (float(i) / 100000.0f);
            v.f = std::min(std::max(v.f, box[0]), box[1]);
            const uint32_t want = std::min(round((v.f - box[0]) * 65535.0f / (box[1] - box[0])), 65535u);
            ASSERT_EQ(MPPropEncode(posY, v, nullptr), want) << box[0] << " " << box[1] << " " << std::hexfloat << v.f;
        }
    }
    SetMPReplicationBox(Vector(-100, -25, -100, 1), Vector(100, 200, 100, 1));
    for (uint32_t i = 0; i < 400000; ++i) {
        v.v = Vector(float(i) * 0.0009f, float(i) * 0.0009f, 0, 1);
        ASSERT_EQ(MPPropEncode(angle, v, nullptr), round(MPPropWrapAngle(v.v.y) * 1023.0f / 360.0f)) << std::hexfloat << v.v.y;
        ASSERT_EQ(MPPropEncode(angles, v, nullptr) & 255, round(MPPropWrapAngle(v.v.x) * 255.0f / 360.0f)) << std::hexfloat << v.v.x;
    }
    for (uint32_t q = 0; q < 1024; ++q) {
        MPPropDecode(angle, q, v);
        ASSERT_EQ(v.v.y, float(q) * 360.0f / 1023.0f) << q;
        MPPropDecode(angles, q & 255, v);
        ASSERT_EQ(v.v.x, float(q & 255) * 360.0f / 255.0f) << q;
    }
}

// Copying only the used part: a larger buffer copied over leaves none of its lengths, ids
// or field values behind, and a received buffer (bits only, no fields) keeps its bits.
TEST(MPFieldBufferCopy, CopyUsedGivesWhatAWholeCopyGives) {
    MPFieldBuffer big, small, received, target;
    for (uint32_t i = 0; i < 40; ++i) ASSERT_TRUE(big.Append(0x9E3779B97F4A7C15ull >> i, 1 + i % 64, uint16_t(100 + i)));
    ASSERT_TRUE(small.Append(0x1234, 13, 7));
    ASSERT_TRUE(small.Append(0xFFFFFFFFFFFFFFFFull, 64));
    received.totalBits = 2047;
    for (uint32_t k = 0; k < kMPFieldBufferBytes; ++k) received.data[k] = uint8_t(k * 7 + 1);
    received.bytesUsed = 256;
    for (const MPFieldBuffer* from : {&big, &small, &received, &big, &received, &small}) {
        target.CopyUsed(*from);
        const MPFieldBuffer whole = *from;
        EXPECT_EQ(target.totalBits, whole.totalBits);
        EXPECT_EQ(target.bytesUsed, whole.bytesUsed);
        ASSERT_EQ(target.fieldCount, whole.fieldCount);
        EXPECT_EQ(std::memcmp(target.bitLengths, whole.bitLengths, sizeof whole.bitLengths), 0);
        EXPECT_EQ(std::memcmp(target.referencedIds, whole.referencedIds, sizeof whole.referencedIds), 0);
        for (uint32_t i = 0; i < whole.fieldCount; ++i) EXPECT_EQ(target.FieldValue(i), whole.FieldValue(i)) << i;
        EXPECT_EQ(std::memcmp(target.data, whole.data, (whole.totalBits + 7) / 8 > whole.bytesUsed ? (whole.totalBits + 7) / 8 : whole.bytesUsed), 0);
    }
}

TEST_F(MPPropTest, EncodingsRoundTripAndClamp) {
    struct Row {
        uint32_t kind;
        Vector in;
        uint64_t q;        // expected quantised value (~0: not checked)
        Vector out;        // decoded
        float tolerance;
        const char* logged;  // a warning that must appear, or null
    };
    const std::vector<Row> rows = {
        {MPPROPTYPE_VEC_ANGLEY, {0, 359.9f, 0, 1}, 1023, {0, 360, 0, 1}, 1e-4f, nullptr},
        {MPPROPTYPE_VEC_ANGLEY, {0, -90, 0, 1}, 767, {0, 270, 0, 1}, 0.2f, nullptr},
        {MPPROPTYPE_VEC_ANGLEXY, {90, 180, 0, 1}, 64 | 128 << 8, {90, 180, 0, 1}, 1.0f, nullptr},
        {MPPROPTYPE_VEC_SCALE, {250, 1, 0, 1}, 65535 | uint64_t(328) << 16, {200, 1, 0, 1}, 0.01f, "Scale vec out of bounds"},
        {MPPROPTYPE_VEC_POS, {-100, 200, 100, 1}, 0 | uint64_t(65535) << 16 | uint64_t(65535) << 32, {-100, 200, 100, 1}, 1e-3f, nullptr},
        {MPPROPTYPE_VEC_POS, {0, 300, 0, 1}, ~0ull, {0, 200, 0, 1}, 0.01f, "Vector posXYZ out of bounds"},
        {MPPROPTYPE_VEC_POSXZ, {150, 0, -7, 1}, ~0ull, {100, 0, -7, 1}, 0.01f, "Vector posXZ out of bounds"},
    };
    for (const Row& r : rows) {
        log.Clear();
        MPProperty p;
        p.kind = r.kind;
        p.bits = MPPropKindBits(r.kind);
        MPValue v;
        v.v = r.in;
        const uint64_t q = MPPropEncode(p, v, nullptr);
        if (r.q != ~0ull) {
            EXPECT_EQ(q, r.q) << r.kind;
        }
        EXPECT_LT(q >> p.bits, 1u) << "fits its bits";
        MPValue back;
        MPPropDecode(p, q, back);
        EXPECT_NEAR(back.v.x, r.out.x, r.tolerance) << r.kind;
        EXPECT_NEAR(back.v.y, r.out.y, r.tolerance) << r.kind;
        EXPECT_NEAR(back.v.z, r.out.z, r.tolerance) << r.kind;
        EXPECT_EQ(log.Contains(r.logged ? r.logged : "out of bounds"), r.logged != nullptr) << r.kind;
    }
    // Scalars: y in the box, progress, a float range, bool, animation with none.
    MPProperty p;
    MPValue v, back;
    p.kind = MPPROPTYPE_FLOAT_POSY;
    v.f = 87.5f;
    MPPropDecode(p, MPPropEncode(p, v, nullptr), back);
    EXPECT_NEAR(back.f, 87.5f, 225.0f / 65535.0f);
    p.kind = MPPROPTYPE_ANIM;
    v.animIndex = 255;
    v.animLoop = 1;
    v.animProgress = 0.5f;
    const uint64_t q = MPPropEncode(p, v, nullptr);
    EXPECT_EQ(q, 0xFFu | 128u << 8);
    MPPropDecode(p, q, back);
    EXPECT_EQ(back.animIndex, 255);
    MPPropDecode(p, 127, back);
    EXPECT_EQ(back.animIndex, 255) << "127 means none too";
    // An index seven bits cannot carry is sent as none, never as another animation;
    // progress past either end is held at that end.
    const struct {
        uint8_t index, loop;
        float progress;
        uint64_t q;
    } anims[] = {{126, 0, 1.0f, 126u | 255u << 8}, {200, 0, 0.0f, 127u}, {128, 1, 1.5f, 255u | 255u << 8}, {3, 0, -0.5f, 3u}};
    for (const auto& a : anims) {
        v.animIndex = a.index, v.animLoop = a.loop, v.animProgress = a.progress;
        EXPECT_EQ(MPPropEncode(p, v, nullptr), a.q) << int(a.index) << " " << a.progress;
    }
}

TEST_F(MPPropTest, EntityReferencesByIdAndMissingOnes) {
    Entity* target = Make();
    target->SetMultiplayerId(77);
    MPProperty p;
    p.kind = MPPROPTYPE_ENTITY;
    MPValue v;
    v.entity = target;
    uint16_t ref = 0;
    EXPECT_EQ(MPPropEncode(p, v, &ref), 77u);
    EXPECT_EQ(ref, 77u);
    MPValue back;
    MPPropDecode(p, 77, back);
    EXPECT_EQ(back.entity.Get(), target);
    MPPropDecode(p, 78, back);
    EXPECT_EQ(back.entity.Get(), nullptr);
    EXPECT_TRUE(log.Contains("Deserialize: can't find entity mid:78"));
    log.Clear();
    MPPropDecode(p, 4095, back);
    EXPECT_FALSE(log.Contains("can't find")) << "none is no reference, without a log";
}

// ---------------------------------------------------------------------------------
// Declarations and sets

TEST_F(MPPropTest, DeclarationLimitsAreRefusedWithOneError) {
    struct Row {
        const char* name;
        uint32_t type;
        uint32_t accepted;  // declarations after the three standard ones
    };
    // INT [0, 2^24-1] is 24 bits (3 bytes); a byte-wide float 8 bits; a bool 1 bit.
    for (const Row& r : {Row{"65th property", MPPROPTYPE_BOOL, 61}, Row{"257th byte", MPPROPTYPE_FLOAT, 0}, Row{"2,048th bit", MPPROPTYPE_INT, 0}}) {
        Entity* e = WithProperties();
        log.Clear();
        uint32_t accepted = 0, last = 0;
        for (int i = 0; i < 200 && last != kMPRefused; ++i) {
            if (r.type == MPPROPTYPE_BOOL)
                last = e->MPPropAddBool(false, MPPROPTYPE_BOOL, 0, "b");
            else if (r.type == MPPROPTYPE_FLOAT)
                last = e->MPPropAddVec(Vector(), MPPROPTYPE_VEC_SCALE, 0, "s");  // 6 bytes each
            else
                last = e->MPPropAddInt(0, MPPROPTYPE_INT, 0, 0, (1 << 24) - 1, "i");
            if (last != kMPRefused) ++accepted;
        }
        EXPECT_EQ(Count(uint8_t(LogSeverity::Error)), 1u) << r.name;
        if (r.accepted) {
            EXPECT_EQ(accepted, r.accepted) << r.name;
        }
        EXPECT_LE(e->GetMPProperties()->Count(), kMaxMPProperties) << r.name;
        MPFieldBuffer b;
        uint64_t snap = 0, relevant = 0;
        e->MPPropSerialize(b, snap, relevant);
        EXPECT_EQ(b.fieldCount, e->GetMPProperties()->Count()) << r.name << ": every declared property fits the record";
        EXPECT_LE(b.totalBits, kMaxMPFieldBits) << r.name;
    }
}

TEST_F(MPPropTest, ASetWithinItsToleranceMarksNothing) {
    Entity* e = WithProperties();
    const uint32_t f = e->MPPropAddFloat(0.5f, MPPROPTYPE_FLOAT, 0, 0.0f, 1.0f, 0.01f, "f");
    const uint32_t a = e->MPPropAddVec(Vector(0, 10, 0, 1), MPPROPTYPE_VEC_ANGLEY, 0, "a");
    struct Row {
        const char* name;
        uint32_t index;
        float value;
        bool dirty;
    };
    for (const Row& r : {Row{"float within 0.001", f, 0.5005f, false}, Row{"float moved", f, 0.6f, true},
                         Row{"angle 370 is 10", a, 370.0f, false}, Row{"angle moved", a, 20.0f, true}}) {
        e->ClearReplicationDirtyMasks();
        if (r.index == f)
            e->MPPropSetFloat(f, r.value, 0);
        else
            e->MPPropSetVec(a, Vector(0, r.value, 0, 1), 0);
        EXPECT_EQ((e->GetReplicationDirtyMask(0) >> r.index) & 1, r.dirty ? 1u : 0u) << r.name;
    }
    // Without a container: nothing, and the neutral values.
    Entity* bare = Make();
    bare->MPPropSetFloat(0, 1.0f, 0);
    EXPECT_EQ(bare->MPPropGetFloat(0), 0.0f);
    EXPECT_EQ(bare->MPPropGetType(0), uint32_t(MPPROPTYPE_UNKNOWN));
    EXPECT_EQ(bare->MPPropGetAnim(0).index, 255);
    EXPECT_EQ(bare->MPPropAddBool(true, MPPROPTYPE_BOOL, 0, "b"), kMPRefused);
    EXPECT_EQ(e->MPPropGetFloat(99), 0.0f) << "an index beyond the count acts the same";
}

TEST_F(MPPropTest, AnAuthoritySetInALaterFrameReadsBackAfterTheNextStep) {
    Entity* e = WithProperties();
    const uint32_t i = e->MPPropAddInt(3, MPPROPTYPE_INT, 0, 0, 255, "i");
    e->MPPropSetInt(i, 4, 0);
    EXPECT_EQ(e->MPPropGetInt(i), 4) << "the same frame applies at once";
    Advance(66666);
    e->MPPropSetInt(i, 9, 0);
    EXPECT_EQ(e->MPPropGetInt(i), 4) << "a later frame waits";
    EXPECT_NE(e->GetReceivedChangeMask() & (uint64_t(1) << i), 0u);
    e->MPPropApplyReceived(Now(), Now() - 66666);
    EXPECT_EQ(e->MPPropGetInt(i), 9);
    EXPECT_EQ(e->GetReceivedChangeMask(), 0u);
    // The record carries the newest value either way.
    MPFieldBuffer b;
    uint64_t snap = 0, relevant = 0;
    e->MPPropSerialize(b, snap, relevant);
    EXPECT_EQ(b.FieldValue(i), 9u);
    // A proxy's own (client-owned) values show at once.
    Entity* proxy = Make(nullptr, ENTITYCREATION_MULTIPLAYER_PROXY);
    ASSERT_EQ(proxy->GetMultiplayerRole(), MPROLE_PROXY);
    proxy->CreateMPProperties();
    const uint32_t k = proxy->MPPropAddInt(3, MPPROPTYPE_INT, MPPROPFLAG_OWNEDBYCLIENT, 0, 255, "k");
    Advance(66666);
    proxy->MPPropSetInt(k, 8, 0);
    EXPECT_EQ(proxy->MPPropGetInt(k), 8);
}

TEST_F(MPPropTest, OwnerRelevantMaskAndSnapBits) {
    Player* me = reinterpret_cast<Player*>(0x1000);
    Entity* e = WithProperties();
    const uint32_t own = e->MPPropAddFloat(0.0f, MPPROPTYPE_FLOAT, MPPROPFLAG_OWNEDBYCLIENT, 0, 1, 0.01f, "own");
    e->MPPropSetFloat(own, 0.5f, 1);
    MPFieldBuffer b;
    uint64_t snap = 0, relevant = 0;
    e->MPPropSerialize(b, snap, relevant);
    EXPECT_EQ((relevant >> own) & 1, 0u) << "the client's own property is not sent back to it";
    EXPECT_EQ((snap >> own) & 1, 1u);
    SetMPLocalPlayer(me);
    e->SetPlayerOwner(me);
    e->MPPropSerialize(b, snap, relevant);
    EXPECT_EQ((relevant >> own) & 1, 1u) << "owned by the local player: relevant";
    e->SetPlayerOwner(nullptr);
    SetMPLocalPlayer(nullptr);
}

// ---------------------------------------------------------------------------------
// Receiving

TEST_F(MPPropTest, SnapshotsInterpolateAndExtrapolateAtMostAFifthOfASecond) {
    Entity* e = WithProperties();
    const uint32_t f = e->MPPropAddFloat(0.0f, MPPROPTYPE_FLOAT, 0, 0.0f, 1023.0f, 2.0f, "f");
    const uint64_t t0 = Now();
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{10, 0}}), uint64_t(1) << f, 0, t0, true));
    // One snapshot per host frame: 0 at t0, 100 at t0 + 100 ms.
    SetMPHostFrameTimes(t0, t0 + 100000);
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{10, 100}}), uint64_t(1) << f, 0, t0 + 100000, false));
    struct Row {
        uint64_t t;
        float value;
    };
    for (const Row& r : {Row{t0 + 50000, 50.0f}, Row{t0 + 100000, 100.0f}, Row{t0 + 200000, 200.0f}, Row{t0 + 300000, 300.0f},
                         Row{t0 + 600000, 300.0f}}) {
        e->MPPropTick(r.t);
        EXPECT_NEAR(e->MPPropGetFloat(f), r.value, 0.01f) << (r.t - t0);
    }
}

// Snapshots one microsecond apart still make a span: the newer is reached at its own
// time, and past it the value runs on at the same rate (an empty span would stop it).
TEST_F(MPPropTest, SnapshotsOneMicrosecondApartInterpolateAndExtrapolate) {
    Entity* e = WithProperties();
    const uint32_t f = e->MPPropAddFloat(0.0f, MPPROPTYPE_FLOAT, 0, 0.0f, 1023.0f, 2.0f, "f");
    const uint64_t t0 = Now();
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{10, 0}}), uint64_t(1) << f, 0, t0, true));
    SetMPHostFrameTimes(t0, t0 + 1);
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{10, 4}}), uint64_t(1) << f, 0, t0 + 1, false));
    struct Row {
        uint64_t t;
        float value;
    };
    for (const Row& r : {Row{t0 + 1, 4.0f}, Row{t0 + 3, 12.0f}, Row{t0 + 10, 40.0f}}) {
        e->MPPropTick(r.t);
        EXPECT_NEAR(e->MPPropGetFloat(f), r.value, 0.01f) << (r.t - t0);
    }
}

// A record that arrives late (its packet's time before the previous complete host frame,
// as after a stall) still ends as the value shown, stepping and interpolated kinds alike.
TEST_F(MPPropTest, ALateRecordStillEndsAsTheShownValue) {
    Entity* e = WithProperties();
    const uint32_t b = e->MPPropAddBool(false, MPPROPTYPE_BOOL, 0, "b");
    const uint32_t i = e->MPPropAddInt(0, MPPROPTYPE_INT, 0, 0, 255, "i");
    const uint64_t t0 = Now(), mask = uint64_t(1) << b | uint64_t(1) << i;
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{1, 0}, {9, 10}}), mask, 0, t0, true));
    SetMPHostFrameTimes(t0 + 500000, t0 + 600000);
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{1, 1}, {9, 20}}), mask, 0, t0 + 100000, false));
    for (const uint64_t t : {t0 + 700000, t0 + 2000000}) {
        e->MPPropTick(t);
        EXPECT_TRUE(e->MPPropGetBool(b)) << (t - t0);
        EXPECT_EQ(e->MPPropGetInt(i), 20) << (t - t0);
    }
}

TEST_F(MPPropTest, AnglesGoTheShortWayAndDisableLerpSteps) {
    Entity* e = WithProperties();
    const uint32_t a = e->MPPropAddVec(Vector(), MPPROPTYPE_VEC_ANGLEY, 0, "a");
    const uint32_t s = e->MPPropAddInt(0, MPPROPTYPE_INT, MPPROPFLAG_DISABLELERP, 0, 255, "s");
    const uint64_t t0 = Now();
    const auto q = [](float deg) { return uint64_t(deg * 1023.0f / 360.0f + 0.5f); };
    const uint64_t mask = uint64_t(1) << a | uint64_t(1) << s;
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{10, q(350)}, {9, 10}}), mask, 0, t0, true));
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{10, q(10)}, {9, 20}}), mask, 0, t0 + 100000, false));
    e->MPPropTick(t0 + 50000);
    const float y = e->MPPropGetVec(a).y;
    EXPECT_TRUE(y < 1.0f || y > 359.0f) << y << ": halfway from 350 to 10 is 0";
    EXPECT_EQ(e->MPPropGetInt(s), 10) << "steps only when the newer time is reached";
    e->MPPropTick(t0 + 100000);
    EXPECT_EQ(e->MPPropGetInt(s), 20);
}

TEST_F(MPPropTest, ACorrectionBlendsInOverHalfASecond) {
    Entity* e = WithProperties();
    const uint32_t f = e->MPPropAddFloat(0.0f, MPPROPTYPE_FLOAT, 0, 0.0f, 1023.0f, 2.0f, "f");
    const uint64_t t0 = Now();
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{10, 0}}), uint64_t(1) << f, 0, t0, true));
    SetMPHostFrameTimes(t0, t0 + 100000);
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{10, 10}}), uint64_t(1) << f, 0, t0 + 100000, false));
    Advance(200000);
    e->MPPropTick(t0 + 200000);  // extrapolating: 20
    ASSERT_NEAR(e->MPPropGetFloat(f), 20.0f, 0.01f);
    // The host says 10 still: a correction from the shown 20.
    SetMPHostFrameTimes(t0 + 100000, t0 + 200000);
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{10, 10}}), uint64_t(1) << f, 0, t0 + 200000, false));
    Advance(250000);
    e->MPPropTick(t0 + 200000);
    EXPECT_NEAR(e->MPPropGetFloat(f), 15.0f, 0.5f) << "halfway through the blend";
    Advance(260000);
    e->MPPropTick(t0 + 200000);
    EXPECT_NEAR(e->MPPropGetFloat(f), 10.0f, 0.01f);
    // Settled: the entity leaves the tick list.
    EXPECT_FALSE(e->MPPropTick(t0 + 900000));
}

TEST_F(MPPropTest, HostileRecordsLeaveTheValues) {
    Entity* e = WithProperties();
    const uint32_t i = e->MPPropAddInt(7, MPPROPTYPE_INT, 0, 0, 255, "i");
    struct Row {
        const char* name;
        MPFieldBuffer fields;
        uint64_t mask;
    };
    const std::vector<Row> rows = {
        {"a property the proxy lacks", Packed({{9, 1}, {9, 1}}), uint64_t(1) << i | uint64_t(1) << 40},
        {"widths beyond T", Packed({{4, 1}}), uint64_t(1) << i},
        {"all 64 bits", Packed({{9, 1}}), ~0ull},
    };
    for (const Row& r : rows) {
        log.Clear();
        EXPECT_FALSE(e->MPPropDeserialize(r.fields, r.mask, 0, Now(), false)) << r.name;
        EXPECT_EQ(e->MPPropGetInt(i), 7) << r.name;
        EXPECT_EQ(Count(uint8_t(LogSeverity::Warning)), 1u) << r.name;
    }
}

TEST_F(MPPropTest, ClientOwnedValuesAreNotMovedForTheirOwner) {
    Player* me = reinterpret_cast<Player*>(0x1000);
    SetMPLocalPlayer(me);
    Entity* e = WithProperties();
    const uint32_t own = e->MPPropAddInt(5, MPPROPTYPE_INT, MPPROPFLAG_OWNEDBYCLIENT, 0, 255, "own");
    e->SetPlayerOwner(me);
    e->MPPropTick(Now());
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{9, 99}}), uint64_t(1) << own, 0, Now() + 1000, false));
    e->MPPropTick(Now() + 2000);
    EXPECT_EQ(e->MPPropGetInt(own), 5);
    EXPECT_FALSE(e->MPPropHasChanged(own));
    e->SetPlayerOwner(nullptr);
    SetMPLocalPlayer(nullptr);
}

TEST_F(MPPropTest, CallbacksOncePerChangingTickAndNotWhileDisabled) {
    static int calls = 0;
    calls = 0;
    static struct : GameServices {
        void OnReplicatedProperty(Entity* e) override {
            ++calls;
            EXPECT_TRUE(e->GetMPProperties()->InCallback());
        }
    } game;
    SetGameServices(&game);
    struct Row {
        const char* name;
        bool disabled;
        int expected;
    };
    for (const Row& r : {Row{"enabled", false, 1}, Row{"ENTITYFLAG_DISABLE_UPDATE", true, 0}}) {
        calls = 0;
        Entity* e = WithProperties();
        const uint32_t c = e->MPPropAddInt(0, MPPROPTYPE_INT, MPPROPFLAG_CALLBACK, 0, 255, "c");
        const uint32_t quiet = e->MPPropAddInt(0, MPPROPTYPE_INT, 0, 0, 255, "quiet");
        if (r.disabled) e->RaiseFlag(ENTITYFLAG_DISABLE_UPDATE, false);
        e->MPPropTick(Now());  // the declarations' own first tick
        calls = 0;
        ASSERT_TRUE(e->MPPropDeserialize(Packed({{9, 5}, {9, 6}}), uint64_t(1) << c | uint64_t(1) << quiet, 0, Now(), true));
        e->MPPropTick(Now());
        e->MPPropTick(Now() + 1000);  // nothing moved
        EXPECT_EQ(calls, r.expected) << r.name;
        ASSERT_TRUE(e->MPPropDeserialize(Packed({{9, 7}}), uint64_t(1) << quiet, 0, Now(), true));
        e->MPPropTick(Now() + 2000);
        EXPECT_EQ(calls, r.expected) << r.name << ": a change without CALLBACK calls nothing";
    }
    SetGameServices(nullptr);
}

TEST_F(MPPropTest, TheStandardPropertiesPlaceTheProxy) {
    Entity* e = WithProperties();
    const uint64_t t0 = Now();
    MPProperty px;
    px.kind = MPPROPTYPE_VEC_POSXZ;
    MPValue v;
    v.v = Vector(10, 0, -20, 1);
    const uint64_t xz = MPPropEncode(px, v, nullptr);
    px.kind = MPPROPTYPE_FLOAT_POSY;
    v.f = 5.0f;
    const uint64_t y = MPPropEncode(px, v, nullptr);
    const uint64_t rot = uint64_t(90.0f * 1023.0f / 360.0f + 0.5f);
    ASSERT_TRUE(e->MPPropDeserialize(Packed({{32, xz}, {16, y}, {10, rot}}), 7, 0, t0, true));
    e->MPPropApplyLocation();
    const Vector p = e->GetLocalLocationMatrix().r[3];
    EXPECT_NEAR(p.x, 10.0f, 0.01f);
    EXPECT_NEAR(p.y, 5.0f, 0.01f);
    EXPECT_NEAR(p.z, -20.0f, 0.01f);
    EXPECT_NEAR(e->MPPropGetRotationValue().y, 90.0f, 0.2f);
}

}  // namespace
