// Entity replication between two engines over the in-memory driver pair: the host's
// states and versions, the wire record, the order of a pass, acknowledgement and
// release, the client's filter, hostile records and a lossy link.
// test-sanitize: thread
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>

#include "CaptureLogSink.h"
#include "core/CrtRand.h"
#include "../NetMatch.h"

namespace {

using nettest::Match;

size_t Errors(CaptureLogSink& log) {
    size_t n = 0;
    for (const auto& m : log.Messages()) n += m.severity == uint8_t(LogSeverity::Error);
    return n;
}

constexpr uint32_t kClientPlayer = 1;  // the player id the host's peer plays as

SimpleGUID Guid(uint8_t b) {
    SimpleGUID g;
    g.bytes[0] = b;
    g.bytes[15] = 0xA0;
    return g;
}

// Every property of these test entities is an 8-bit field; a record carries them all,
// as the authority's serialisation does, with the changed ones in the dirty mask.
EntityRecord Props(uint16_t id, const std::vector<uint8_t>& values, uint64_t dirty, uint8_t flags = ENTITYRECORD_PROPERTIES) {
    EntityRecord r;
    r.multiplayerId = id;
    r.flags = flags;
    for (uint8_t v : values) r.fields.Append(v, 8);
    r.dirtyMask = dirty;
    return r;
}

EntityRecord Create(uint16_t id, uint8_t guid, const std::vector<uint8_t>& values, uint16_t parent = kNoMultiplayerId,
                    uint32_t owner = kNoOwnerId) {
    EntityRecord r = Props(id, values, (uint64_t(1) << values.size()) - 1, ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES);
    r.templateGuid = Guid(guid);
    r.parentId = parent;
    r.ownerId = owner;
    return r;
}

EntityRecord Destroy(uint16_t id) {
    EntityRecord r;
    r.multiplayerId = id;
    r.flags = ENTITYRECORD_DESTROY;
    return r;
}

// What the client has been told, by id.
struct ClientView {
    struct Entity {
        bool alive = false;
        SimpleGUID guid;
        uint16_t parent = kNoMultiplayerId;
        uint8_t owned = 0;
        std::array<uint8_t, 8> values{};
    };
    std::map<uint16_t, Entity> entities;
    std::vector<EntityRecord> records;

    static void Sink(void* self, const EntityRecord& r) { static_cast<ClientView*>(self)->Take(r); }
    void Take(const EntityRecord& r) {
        records.push_back(r);
        Entity& e = entities[r.multiplayerId];
        if (r.flags & ENTITYRECORD_CREATE) {
            e.alive = true;
            e.guid = r.templateGuid;
            e.parent = r.parentId;
            e.owned = r.ownedByReceiver;
        }
        if (r.flags & ENTITYRECORD_PROPERTIES) {
            uint32_t k = 0;
            for (uint32_t i = 0; i < 8; ++i)
                if (r.dirtyMask & (uint64_t(1) << i)) e.values[i] = r.fields.data[k++];
        }
        if (r.flags & ENTITYRECORD_DESTROY) e.alive = false;
    }
    // Position of the first record of an id in arrival order (-1: none).
    int FirstOf(uint16_t id) const {
        for (size_t i = 0; i < records.size(); ++i)
            if (records[i].multiplayerId == id) return int(i);
        return -1;
    }
};

struct ReplicationMatch {
    ClientView view;
    std::unique_ptr<Match> m;
    uint64_t frame = 1000000;

    ReplicationMatch() {
        m = std::make_unique<Match>();
        // The sink is set through the options, so the client side is made again with it.
        MultiplayerEngine::Options o;
        o.entityRecordSink = &ClientView::Sink;
        o.entityRecordSinkContext = &view;
        m->client.engine.reset();
        m->client.Make(m->link.Endpoint(1), o);
        EXPECT_TRUE(m->Connect());
        m->host.engine->SynchronizePlayer(m->host.engine->GetRemotePlayer(0));
        m->Step();
    }
    MultiplayerEngine& Host() { return *m->host.engine; }
    EntityReplicationState& State(uint16_t id) { return Host().ReplicationStates()[id]; }
    PeerEntityEntry& HostPeerEntry(uint16_t id) { return m->host.Peer()->entities[id]; }
    void Post(const EntityRecord& r) { Host().PostEntityRecord(r); }
    // One host frame: its send pass, the delivery, and the client's acknowledging pass.
    void Frame() {
        Host().EndFrame(frame);
        m->Step(30000);
        m->client.engine->EndFrame(frame);
        m->Step(30000);
        m->Step(6666);
        frame += 66666;
    }
};

// ---------------------------------------------------------------------------------
// States and the dictionary (no packets)

TEST(ReplicationStates, ChangesBetweenPassesShareOneVersionAndCreatesGoOutWhole) {
    EntityReplicationStates s;
    ASSERT_TRUE(s.Apply(Create(7, 1, {1, 2, 3})));
    ASSERT_TRUE(s.Apply(Props(7, {1, 9, 3}, 0b010)));
    ASSERT_TRUE(s.Apply(Props(7, {1, 9, 4}, 0b100)));
    EntityRecord r;
    s.BuildRecord(s[7], 0, kClientPlayer, r);
    EXPECT_EQ(r.flags, ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES);
    EXPECT_EQ(r.version, 1u);
    EXPECT_EQ(r.dirtyMask, 0b111u);
    EXPECT_EQ(r.fields.FieldValue(1), 9u);
    EXPECT_EQ(r.fields.FieldValue(2), 4u);
    EXPECT_EQ(r.creationCounter, 1u);
    EXPECT_EQ(r.dictionarySlot, 1u);
    // After the build, the next change takes a new version; a peer at version 1 gets
    // only the changed field, without the create.
    ASSERT_TRUE(s.Apply(Props(7, {5, 9, 4}, 0b001)));
    s.BuildRecord(s[7], 1, kClientPlayer, r);
    EXPECT_EQ(r.version, 2u);
    EXPECT_EQ(r.flags, ENTITYRECORD_PROPERTIES);
    EXPECT_EQ(r.dirtyMask, 0b001u);
}

TEST(ReplicationStates, BuildTable) {
    struct Row {
        const char* name;
        std::vector<EntityRecord> applied;
        uint32_t acknowledged;
        uint8_t flags;
        uint64_t dirty;
        uint8_t owned;
    };
    EntityRecord owned = Create(3, 1, {1, 2});
    owned.ownerId = kClientPlayer;
    owned.ownerRelevantMask = ~uint64_t(0b10);  // property 1 is the owner's own
    EntityRecord ownedChange = Props(3, {4, 5}, 0b11);
    ownedChange.ownerId = kClientPlayer;
    ownedChange.ownerRelevantMask = ~uint64_t(0b10);
    EntityRecord tornOff = Props(3, {1, 2}, 0b01, ENTITYRECORD_FINAL);
    const std::vector<Row> rows = {
        {"destroy", {Create(3, 1, {1, 2}), Destroy(3)}, 1, ENTITYRECORD_DESTROY, 0, 0},
        {"torn off", {Create(3, 1, {1, 2}), tornOff}, 1, ENTITYRECORD_FINAL, 0b01, 0},
        {"create and destroy unacknowledged", {Create(3, 1, {1, 2}), Destroy(3)}, 0, ENTITYRECORD_DESTROY | ENTITYRECORD_CREATE, 0, 0},
        {"owner's own property held back after creation", {owned, ownedChange}, 1, ENTITYRECORD_PROPERTIES, 0b01, 1},
        {"owner gets everything while created", {owned, ownedChange}, 0, ENTITYRECORD_PROPERTIES | ENTITYRECORD_CREATE, 0b11, 1},
    };
    for (const Row& row : rows) {
        EntityReplicationStates s;
        EntityRecord r;
        for (size_t i = 0; i < row.applied.size(); ++i) {
            ASSERT_TRUE(s.Apply(row.applied[i])) << row.name;
            s.BuildRecord(s[3], 0, kClientPlayer, r);  // each record in a pass of its own
        }
        s.BuildRecord(s[3], row.acknowledged, kClientPlayer, r);
        EXPECT_EQ(r.flags, row.flags) << row.name;
        EXPECT_EQ(r.dirtyMask, row.dirty) << row.name;
        EXPECT_EQ(r.ownedByReceiver, row.owned) << row.name;
    }
}

TEST(ReplicationStates, TheDictionaryRefusesThe256thGuidWithOneError) {
    CaptureLogSink log;
    log.Attach();
    EntityReplicationStates s;
    EXPECT_EQ(s.AddTemplateGUID(SimpleGUID()), 0u);  // slot 0 is the all-zero GUID
    for (uint32_t i = 1; i < 256; ++i) {
        SimpleGUID g;
        g.bytes[0] = uint8_t(i);
        g.bytes[1] = 1;
        ASSERT_EQ(s.AddTemplateGUID(g), i);
        ASSERT_EQ(s.AddTemplateGUID(g), i);  // found again
    }
    EntityRecord late = Create(9, 0, {1});
    late.templateGuid.bytes[5] = 77;
    EXPECT_FALSE(s.Apply(late));
    EXPECT_EQ(s[9].createdVersion, 0u) << "a refused create is never sent";
    EXPECT_EQ(Errors(log), 1u);
    EXPECT_EQ(s.DictionaryEntry(0), SimpleGUID());
    s.Reset();
    EXPECT_EQ(s.DictionaryCount(), 1u);
    EXPECT_EQ(s[9].multiplayerId, 9u);
}

// ---------------------------------------------------------------------------------
// The wire record

TEST(EntityWire, RoundTripsEveryFlagCombinationAndBothLengthForms) {
    struct Row {
        uint8_t flags;
        uint32_t fieldBits;  // per field, 3 fields
        uint64_t snap;
        uint32_t lengthBits;  // of T
    };
    const std::vector<Row> rows = {
        {0, 0, 0, 0},
        {ENTITYRECORD_DESTROY, 0, 0, 0},
        {ENTITYRECORD_CREATE, 0, 0, 0},
        {ENTITYRECORD_FINAL, 8, 0, 7},
        {ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES, 0, 0, 7},   // T = 0
        {ENTITYRECORD_PROPERTIES, 42, 0b100, 7},                    // T = 126 with W
        {ENTITYRECORD_PROPERTIES | ENTITYRECORD_TEAROFF, 43, 0, 11},  // T = 129
        {0xF, 64, 0b1, 11},
    };
    for (const Row& row : rows) {
        EntityRecord r;
        r.multiplayerId = 0xABC;
        r.flags = row.flags;
        r.dictionarySlot = 200;
        r.creationCounter = 254;
        r.parentId = 0x123;
        r.ownedByReceiver = 1;
        for (uint32_t i = 0; i < 3; ++i) r.fields.Append(0x5A5A5A5A5A5A5A5Aull + i, row.fieldBits);
        r.dirtyMask = 0b111;
        r.snapMask = row.snap;
        static GamePacket p;
        p.Reset();
        p.BeginSection(SECTION_ENTITIES);
        ASSERT_TRUE(WriteEntityRecordWire(p, r)) << int(row.flags);
        p.EndSection();
        EXPECT_EQ(p.SectionBits(SECTION_ENTITIES), EntityRecordWireBits(r));
        std::vector<uint8_t> bytes(kMaxPacketBytes + BitWriter::kSlackBytes);
        bytes.resize(p.Build(bytes.data()));
        static GamePacket q;
        ASSERT_TRUE(q.Parse(bytes.data(), uint32_t(bytes.size())));
        EntityRecord back;
        ASSERT_TRUE(ReadEntityRecordWire(q.Reader(), back));
        EXPECT_EQ(back.multiplayerId, 0xABC);
        EXPECT_EQ(back.flags, row.flags & 15);
        if (row.flags & ENTITYRECORD_CREATE) {
            EXPECT_EQ(back.dictionarySlot, 200);
            EXPECT_EQ(back.creationCounter, 254);
            EXPECT_EQ(back.parentId, 0x123);
            EXPECT_EQ(back.ownedByReceiver, 1);
        }
        if (row.flags & ENTITYRECORD_PROPERTIES) {
            EXPECT_EQ(back.dirtyMask, 0b111u);
            EXPECT_EQ(back.snapMask, row.snap);
            EXPECT_EQ(back.fields.totalBits, 3 * row.fieldBits);
            BitReader fields(back.fields.data, back.fields.totalBits);
            for (uint32_t i = 0; i < 3 && row.fieldBits; ++i) {
                uint64_t v = 0;
                ASSERT_TRUE(fields.ReadValue(v, row.fieldBits));
                const uint64_t mask = row.fieldBits == 64 ? ~0ull : (uint64_t(1) << row.fieldBits) - 1;
                EXPECT_EQ(v, (0x5A5A5A5A5A5A5A5Aull + i) & mask);
            }
            const uint32_t expectedLength = 3 * row.fieldBits > 127 ? 11 : 7;
            if (row.lengthBits) {
                EXPECT_EQ(expectedLength, row.lengthBits);
            }
        }
    }
}

TEST(EntityWire, FieldsBeyondElevenBitsAreRefused) {
    CaptureLogSink log;
    log.Attach();
    EntityRecord r;
    r.flags = ENTITYRECORD_PROPERTIES;
    for (uint32_t i = 0; i < 32; ++i) r.fields.Append(i, 64);  // 2,048 bits
    r.dirtyMask = 0xFFFFFFFF;
    static GamePacket p;
    p.Reset();
    p.BeginSection(SECTION_ENTITIES);
    EXPECT_FALSE(WriteEntityRecordWire(p, r));
    EXPECT_EQ(Errors(log), 1u);
    EXPECT_EQ(p.SectionBits(SECTION_ENTITIES), 0u) << "no part of the record";
}

TEST(EntityWire, ARecordIsWrittenWholeOrNotAtAll) {
    // Field lengths that disagree with the buffer's total still give a record of T bits,
    // so the one after it reads intact; a record that does not fit leaves nothing.
    struct Row {
        const char* name;
        uint32_t totalBits;   // the buffer's claimed total
        uint64_t fields;      // the first 40 field bits read back (whole fields up to T, then zeros)
        uint32_t fieldCount;  // the buffer's claimed field count (0: as appended)
    };
    const Row rows[] = {{"lengths above the total", 20, 0xABCD, 0},
                        {"lengths below the total", 90, 0x123456ABCD, 0},
                        {"lengths equal", 40, 0x123456ABCD, 0},
                        {"a field count past the property table", 40, 0x123456ABCD, 65}};
    for (const Row& row : rows) {
        EntityRecord r;
        r.multiplayerId = 5;
        r.flags = ENTITYRECORD_PROPERTIES;
        r.fields.Append(0xABCD, 16);
        r.fields.Append(0x123456, 24);
        r.fields.totalBits = row.totalBits;
        if (row.fieldCount) r.fields.fieldCount = row.fieldCount;
        r.dirtyMask = 0b11;
        EntityRecord next;
        next.multiplayerId = 6;
        next.flags = ENTITYRECORD_DESTROY;
        static GamePacket p;
        p.Reset();
        p.BeginSection(SECTION_ENTITIES);
        ASSERT_TRUE(WriteEntityRecordWire(p, r)) << row.name;
        p.EndSection();
        EXPECT_EQ(p.SectionBits(SECTION_ENTITIES), EntityRecordWireBits(r)) << row.name;
        p.BeginSection(SECTION_ENTITIES);
        ASSERT_TRUE(WriteEntityRecordWire(p, next));
        p.EndSection();
        std::vector<uint8_t> bytes(kMaxPacketBytes + BitWriter::kSlackBytes);
        bytes.resize(p.Build(bytes.data()));
        static GamePacket q;
        ASSERT_TRUE(q.Parse(bytes.data(), uint32_t(bytes.size())));
        EntityRecord back;
        ASSERT_TRUE(ReadEntityRecordWire(q.Reader(), back)) << row.name;
        EXPECT_EQ(back.fields.totalBits, row.totalBits) << row.name;
        BitReader fields(back.fields.data, back.fields.totalBits);
        uint64_t v = 0;
        EXPECT_TRUE(fields.ReadValue(v, row.totalBits < 40 ? row.totalBits : 40)) << row.name;
        EXPECT_EQ(v, row.fields) << row.name;
        ASSERT_TRUE(ReadEntityRecordWire(q.Reader(), back)) << row.name;
        EXPECT_EQ(back.multiplayerId, 6) << row.name;
        EXPECT_EQ(back.flags, ENTITYRECORD_DESTROY) << row.name;
    }

    // A packet with room for less than the record: nothing of it, and the overflow flag.
    static GamePacket p;
    p.Reset();
    EntityRecord r;
    r.flags = ENTITYRECORD_PROPERTIES;
    r.fields.Append(1, 64);
    r.dirtyMask = 1;
    ASSERT_GT(EntityRecordWireBits(r), 100u);
    p.BeginSection(SECTION_TEXTS);
    for (uint32_t left = kMaxPacketBits - kPacketHeaderBits - 100; left; left -= left < 64 ? left : 64)
        ASSERT_TRUE(p.WriteValue(0, left < 64 ? left : 64));
    p.EndSection();
    p.BeginSection(SECTION_ENTITIES);
    EXPECT_FALSE(WriteEntityRecordWire(p, r));
    p.EndSection();
    EXPECT_TRUE(p.Overflowed());
    EXPECT_EQ(p.SectionBits(SECTION_ENTITIES), 0u);
}

// ---------------------------------------------------------------------------------
// The client's filter

TEST(ClientFilter, RepeatedCreatesAndLateDataAfterADestroy) {
    struct Step {
        uint8_t flags;
        uint8_t counter;
        bool forwarded;
        uint8_t flagsAfter;
    };
    struct Row {
        const char* name;
        std::vector<Step> steps;
    };
    const uint8_t CP = ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES;
    const std::vector<Row> rows = {
        {"repeated create", {{CP, 4, true, CP}, {CP, 4, true, ENTITYRECORD_PROPERTIES}}},
        {"a new creation of the id", {{CP, 4, true, CP}, {ENTITYRECORD_DESTROY, 0, true, 2}, {CP, 5, true, CP}}},
        {"late data after destroy", {{CP, 4, true, CP}, {ENTITYRECORD_DESTROY, 0, true, 2}, {ENTITYRECORD_PROPERTIES, 0, false, 0}}},
        {"late destroy after destroy", {{ENTITYRECORD_DESTROY, 0, true, 2}, {ENTITYRECORD_DESTROY, 0, false, 0}}},
        {"a late create after a change", {{CP, 4, true, CP}, {ENTITYRECORD_PROPERTIES, 0, true, 1}, {CP, 4, true, ENTITYRECORD_PROPERTIES}}},
        {"a late create after the destroy", {{CP, 4, true, CP}, {ENTITYRECORD_DESTROY, 0, true, 2}, {CP, 4, false, 0}}},
        {"a first create of counter 0", {{CP, 0, true, CP}}},
    };
    EntityReplicationStates dictionary;
    dictionary.WriteDictionaryEntry(3, Guid(3));
    for (const Row& row : rows) {
        PeerEntityEntry entry;
        for (const Step& s : row.steps) {
            EntityRecord r;
            r.multiplayerId = 1;
            r.flags = s.flags;
            r.creationCounter = s.counter;
            r.dictionarySlot = 3;
            EXPECT_EQ(FilterReceivedEntityRecord(entry, r, dictionary), s.forwarded) << row.name;
            EXPECT_EQ(r.flags, s.flagsAfter) << row.name;
            if (r.flags & ENTITYRECORD_CREATE) {
                EXPECT_EQ(r.templateGuid, Guid(3)) << row.name;
            }
        }
    }
}

// ---------------------------------------------------------------------------------
// Two engines

TEST(Replication, CreateAndChangesArriveAsOneRecord) {
    ReplicationMatch rm;
    rm.Post(Create(5, 1, {1, 2, 3}));
    rm.Post(Props(5, {1, 7, 3}, 0b010));
    rm.Post(Props(5, {1, 7, 8}, 0b100));
    rm.Frame();
    ASSERT_EQ(rm.view.records.size(), 1u);
    EXPECT_EQ(rm.view.records[0].flags, ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES);
    EXPECT_EQ(rm.view.entities[5].guid, Guid(1));
    EXPECT_EQ(rm.view.entities[5].values[1], 7);
    EXPECT_EQ(rm.view.entities[5].values[2], 8);
    EXPECT_EQ(rm.HostPeerEntry(5).acknowledgedVersion, rm.State(5).currentVersion);
}

TEST(Replication, ALostCreateIsSentAgainAndItsSlotUntilAcknowledged) {
    ReplicationMatch rm;
    rm.Post(Create(5, 1, {1}));
    // The first pass is lost on the way to the client.
    const int64_t now = os::ReadCounter() / (os::kCounterFrequency / 1000000);
    rm.m->link.SetPartition(0, now, now + 45000);
    rm.Host().EndFrame(rm.frame);
    rm.m->Step(30000);
    EXPECT_TRUE(rm.view.records.empty());
    EXPECT_EQ(rm.HostPeerEntry(5).acknowledgedVersion, 0u);
    EXPECT_FALSE(rm.m->host.Peer()->knownSlots[0] & 2) << "slot 1 is not known before an acknowledgement";
    rm.Post(Props(5, {9}, 1));
    rm.Frame();
    ASSERT_EQ(rm.view.records.size(), 1u);
    EXPECT_EQ(rm.view.records[0].flags, ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES);
    EXPECT_EQ(rm.view.entities[5].values[0], 9);
    EXPECT_TRUE(rm.m->host.Peer()->knownSlots[0] & 2);
    // A second entity of the same template: no dictionary entry travels again.
    {
        uint32_t dictionaryItems = 0;
        rm.m->host.driver->SetSendTap([&](const uint8_t* data, uint32_t, uint32_t kind) {
            if (kind == NETFRAME_GAME_PACKET) dictionaryItems += uint32_t(data[16] | data[17] << 8);
        });
        rm.Post(Create(6, 1, {1}));
        rm.Frame();
        rm.m->host.driver->SetSendTap(nullptr);
        EXPECT_EQ(dictionaryItems, 0u);
        EXPECT_EQ(rm.view.entities[6].guid, Guid(1));
    }
}

TEST(Replication, ParentsAndReferencedEntitiesGoFirst) {
    ReplicationMatch rm;
    // Child 10 names parent 900 and, through a field, entity 901; ids sort the other way.
    EntityRecord child = Create(10, 1, {1, 2}, 900);
    child.fields.referencedIds[1] = 901;
    rm.Post(child);
    rm.Post(Create(900, 2, {3}));
    rm.Post(Create(901, 3, {4}));
    rm.Frame();
    ASSERT_EQ(rm.view.records.size(), 3u);
    EXPECT_LT(rm.view.FirstOf(900), rm.view.FirstOf(10));
    EXPECT_LT(rm.view.FirstOf(901), rm.view.FirstOf(10));
    EXPECT_EQ(rm.view.entities[10].parent, 900);
}

TEST(Replication, OwnerRelevantPropertiesAndOwnerOnlyEntities) {
    ReplicationMatch rm;
    EntityRecord owned = Create(20, 1, {1, 2}, kNoMultiplayerId, kClientPlayer);
    owned.ownerRelevantMask = ~uint64_t(0b10);
    rm.Post(owned);
    EntityRecord hostOnly = Create(21, 1, {1});
    hostOnly.flags |= ENTITYRECORD_OWNER_ONLY;
    hostOnly.ownerId = 0;  // the host's own player
    rm.Post(hostOnly);
    rm.Frame();
    EXPECT_EQ(rm.view.entities[20].owned, 1);
    EXPECT_EQ(rm.view.entities[20].values[1], 2) << "everything while created";
    EXPECT_EQ(rm.view.FirstOf(21), -1) << "an owner-only entity goes to its owner only";
    EntityRecord change = Props(20, {5, 6}, 0b11);
    change.ownerId = kClientPlayer;
    change.ownerRelevantMask = ~uint64_t(0b10);
    rm.Post(change);
    rm.Frame();
    EXPECT_EQ(rm.view.entities[20].values[0], 5);
    EXPECT_EQ(rm.view.entities[20].values[1], 2) << "the owner's own value is not sent back";
}

TEST(Replication, ReleaseWaitsForTheDestroysAcknowledgement) {
    CaptureLogSink log;
    log.Attach();
    ReplicationMatch rm;
    rm.Post(Create(30, 1, {1}));
    rm.Frame();
    rm.Post(Destroy(30));
    // The destroy is lost: no release yet.
    const int64_t now = os::ReadCounter() / (os::kCounterFrequency / 1000000);
    rm.m->link.SetPartition(0, now, now + 45000);
    rm.Host().EndFrame(rm.frame);
    rm.m->Step(30000);
    rm.m->client.engine->EndFrame(rm.frame);
    rm.m->Step(30000);
    EXPECT_TRUE(rm.State(30).IsCreated());
    EXPECT_FALSE(log.Contains("Other thread released id: 30"));
    rm.Frame();
    EXPECT_FALSE(rm.view.entities[30].alive);
    EXPECT_FALSE(rm.State(30).IsCreated());
    EXPECT_TRUE(log.Contains("MultiplayerEngine::_TryToReleaseEntityState - Other thread released id: 30"));
    // A reused id never repeats a version.
    const uint32_t old = rm.State(30).currentVersion;
    rm.Post(Create(30, 1, {2}));
    rm.Frame();
    EXPECT_GT(rm.State(30).currentVersion, old);
    EXPECT_TRUE(rm.view.entities[30].alive);
    EXPECT_EQ(rm.view.entities[30].values[0], 2);
}

TEST(Replication, ADestroyedIdIsScrubbedFromTheClientsQueuedCalls) {
    ReplicationMatch rm;
    rm.Post(Create(5, 1, {1}));
    rm.Frame();
    // The client's call naming entity 5 cannot leave yet.
    const int64_t now = os::ReadCounter() / (os::kCounterFrequency / 1000000);
    rm.m->link.SetPartition(1, now, now + 150000);
    MPMethodCall call;
    call.methodId = 9;
    call.AddEntityArg(5);
    rm.m->client.engine->ReplicateMethodCall(rm.m->client.engine->GetLocalPlayer(), call, true);
    rm.Post(Destroy(5));
    rm.Host().EndFrame(rm.frame);
    rm.m->Step(30000);
    ASSERT_FALSE(rm.view.entities[5].alive);
    for (int i = 0; i < 4; ++i) rm.m->Step(60000);
    rm.m->client.engine->EndFrame(rm.frame);
    rm.m->Step(30000);
    rm.m->Step(30000);
    ASSERT_FALSE(rm.m->host.delegate.calls.empty());
    const MPMethodCall& got = rm.m->host.delegate.calls.back();
    EXPECT_EQ(got.methodId, 9);
    EXPECT_EQ(got.GetEntityArg(0), kNoMultiplayerId);
}

TEST(Replication, LengthFormsOnTheWire) {
    // 15 8-bit fields are 120 bits (7-bit T), 16 are 128 bits (11-bit T): 4 bits apart
    // plus the 8 field bits.
    for (uint32_t n : {15u, 16u}) {
        EntityRecord r = Props(1, std::vector<uint8_t>(n, 1), (uint64_t(1) << n) - 1);
        EXPECT_EQ(EntityRecordWireBits(r), 16u + 8 + 1 + 2 * 8 + 1 + (n == 15 ? 7u : 11u) + 8 * n);
    }
}

TEST(Replication, ConvergesOverALossyLink) {
    ReplicationMatch rm;
    LoopbackConditions lossy;
    lossy.loss = 0.2;
    rm.m->link.SetConditions(0, lossy);
    rm.m->link.SetConditions(1, lossy);
    CrtSrand(53);
    std::map<uint16_t, std::array<uint8_t, 4>> host;
    for (int frame = 0; frame < 60; ++frame) {
        for (int k = 0; k < 6; ++k) {
            const uint16_t id = uint16_t(100 + CrtRand() % 40);
            auto it = host.find(id);
            if (it == host.end()) {
                std::array<uint8_t, 4> v{};
                for (uint8_t& x : v) x = uint8_t(CrtRand());
                host[id] = v;
                rm.Post(Create(id, uint8_t(1 + id % 4), {v[0], v[1], v[2], v[3]}));
            } else {
                const uint32_t i = CrtRand() % 4;
                it->second[i] = uint8_t(CrtRand());
                const auto& v = it->second;
                rm.Post(Props(id, {v[0], v[1], v[2], v[3]}, uint64_t(1) << i));
            }
        }
        rm.Frame();
    }
    rm.m->link.SetConditions(0, LoopbackConditions());
    rm.m->link.SetConditions(1, LoopbackConditions());
    for (int i = 0; i < 5; ++i) rm.Frame();
    for (const auto& [id, v] : host) {
        const ClientView::Entity& e = rm.view.entities[id];
        ASSERT_TRUE(e.alive) << id;
        EXPECT_EQ(e.guid, Guid(uint8_t(1 + id % 4))) << id;
        for (int i = 0; i < 4; ++i) EXPECT_EQ(e.values[i], v[i]) << id << " field " << i;
        EXPECT_EQ(rm.HostPeerEntry(id).acknowledgedVersion, rm.State(id).currentVersion) << id;
    }
}

// ---------------------------------------------------------------------------------
// Hostile records

std::vector<uint8_t> CraftEntities(uint16_t packetId, const std::vector<EntityRecord>& records) {
    static GamePacket p;
    p.Reset();
    p.packetId = packetId;
    p.frameTime = 2000000;
    p.packetCount = 1;
    for (const EntityRecord& r : records) {
        p.BeginSection(SECTION_ENTITIES);
        WriteEntityRecordWire(p, r);
        p.EndSection();
    }
    std::vector<uint8_t> out(kMaxPacketBytes + BitWriter::kSlackBytes);
    out.resize(p.Build(out.data()));
    return out;
}

TEST(Replication, AClientsEntityRecordsChangeNothingOnTheHost) {
    ReplicationMatch rm;
    rm.Post(Create(40, 1, {1}));
    rm.Frame();
    const uint32_t version = rm.State(40).currentVersion;
    const auto bytes = CraftEntities(900, {Destroy(40), Create(41, 1, {5})});
    rm.m->host.driver->Inject(NETFRAME_GAME_PACKET, bytes.data(), uint32_t(bytes.size()));
    rm.m->Step();
    EXPECT_EQ(rm.State(40).currentVersion, version);
    EXPECT_EQ(rm.State(40).destroyedVersion, 0u);
    EXPECT_FALSE(rm.State(41).IsCreated());
}

TEST(Replication, HostileRecordsAtTheClient) {
    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
        size_t recordsAfter;  // records the client's main thread sees
    };
    EntityRecord id4095 = Create(kNoMultiplayerId, 1, {1});
    std::vector<uint8_t> truncated = CraftEntities(702, {Create(50, 1, {1, 2, 3})});
    truncated[16 + 2] = 2;  // two entity records claimed, one present
    std::vector<uint8_t> longT = CraftEntities(703, {Props(51, {1}, 1)});
    const std::vector<Row> rows = {
        {"id 4095", CraftEntities(701, {id4095}), 0},
        {"count past the end", truncated, 0},
        {"fields past the end", std::vector<uint8_t>(longT.begin(), longT.end() - 1), 0},
        {"well formed", CraftEntities(704, {Create(52, 1, {1})}), 1},
    };
    for (const Row& row : rows) {
        ReplicationMatch rm;
        CaptureLogSink log;
        log.Attach();
        rm.m->client.driver->Inject(NETFRAME_GAME_PACKET, row.bytes.data(), uint32_t(row.bytes.size()));
        rm.m->Step();
        EXPECT_EQ(rm.view.records.size(), row.recordsAfter) << row.name;
        // Each refusal is one warning.
        size_t warnings = 0;
        std::string texts;
        for (const CaptureLogSink::Message& m : log.Messages())
            if (m.severity >= uint8_t(LogSeverity::Warning)) ++warnings, texts += m.text + "\n";
        EXPECT_EQ(warnings, row.recordsAfter ? 0u : 1u) << row.name << "\n" << texts;
    }
}

// ---------------------------------------------------------------------------------
// Packets out of order

// An entity naming thirty others through its fields, every record large, so that it
// and the creates it needs first overflow an empty packet: the pass tries it twice and
// rolls it back, and whatever it marked then must not keep the records written after it
// from their template slot (or from the pass).
std::vector<uint16_t> PostFan(ReplicationMatch& rm, uint16_t first, uint16_t count) {
    std::vector<uint16_t> ids = {first};
    EntityRecord hub = Create(first, 1, std::vector<uint8_t>(count, 1));
    for (uint16_t k = 0; k < count; ++k) {
        const uint16_t id = uint16_t(first + 1 + k);
        hub.fields.referencedIds[k] = id;
        rm.Post(Create(id, 1, std::vector<uint8_t>(60, uint8_t(id))));
        ids.push_back(id);
    }
    rm.Post(hub);
    return ids;
}

// A chain of new entities, each naming the next through its first field, every record
// large: every one but the last few needs more creates before it than a packet holds.
// Each pass sends what fits of the chain's far end, and the whole chain arrives.
TEST(Replication, AChainOfCreatesLongerThanAPacketStillArrives) {
    ReplicationMatch rm;
    std::vector<uint16_t> ids;
    for (uint16_t k = 0; k < 45; ++k) {
        const uint16_t id = uint16_t(300 + k);
        EntityRecord r = Create(id, 2, std::vector<uint8_t>(60, uint8_t(k)));
        if (k + 1 < 45) r.fields.referencedIds[0] = uint16_t(id + 1);
        rm.Post(r);
        ids.push_back(id);
    }
    for (int i = 0; i < 30; ++i) rm.Frame();
    for (uint16_t id : ids) {
        EXPECT_TRUE(rm.view.entities[id].alive) << id;
        EXPECT_EQ(rm.HostPeerEntry(id).acknowledgedVersion, rm.State(id).currentVersion) << id;
    }
    // Each arrived after the one it names.
    for (uint16_t k = 0; k + 1 < 45; ++k) EXPECT_GT(rm.view.FirstOf(uint16_t(300 + k)), rm.view.FirstOf(uint16_t(301 + k))) << k;
}

// A web of new entities, each naming the next three through its fields (so a great many
// paths lead from the first to the last), far more than a packet holds: the creates the
// first ones need do not fit an empty packet.
std::vector<EntityRecord> Web(uint16_t first, uint16_t count) {
    std::vector<EntityRecord> web;
    for (uint16_t k = 0; k < count; ++k) {
        EntityRecord r = Create(uint16_t(first + k), 1, std::vector<uint8_t>(24, uint8_t(k)));
        for (uint16_t j = 0; j < 3; ++j)
            if (k + 1 + j < count) r.fields.referencedIds[j] = uint16_t(first + k + 1 + j);
        web.push_back(r);
    }
    return web;
}

TEST(Replication, AWebOfNewEntitiesNamingEachOtherIsWrittenInBoundedWork) {
    constexpr uint16_t kCount = 90;
    {
        // One pass of the host's writer: its work grows with the entities, not with the
        // paths through the web.
        EntityReplicationStates states;
        for (const EntityRecord& r : Web(100, kCount)) ASSERT_TRUE(states.Apply(r));
        std::vector<PeerEntityEntry> entries(kMultiplayerIdCount);
        uint64_t pending[kMultiplayerIdCount / 64] = {};
        uint64_t known[kDictionarySlots / 64] = {1};
        PeerEntityView view;
        view.playerId = kClientPlayer;
        view.syncState = PLAYERSYNCSTATE_READY;
        view.pass = 1;
        view.entities = entries.data();
        view.pendingEntities = pending;
        view.knownSlots = known;
        EntityPassMarks marks;
        static GamePacket packet;
        packet.Reset();
        struct Flush {
            EntityPassMarks* marks;
            uint32_t packets = 0;
            static bool Run(void* self) {
                Flush& f = *static_cast<Flush*>(self);
                if (f.packets + 1 >= kMaxPacketsPerPass) return false;
                ++f.packets;
                packet.Reset();
                for (uint64_t& w : f.marks->entitiesInPacket) w = 0;
                for (uint64_t& w : f.marks->slotsInPacket) w = 0;
                return true;
            }
        } flush{&marks};
        EntityPassWriter writer(states, view, marks, packet);
        writer.WriteEntityRecords(&Flush::Run, &flush);
        // Each entity is tried once or twice (from its referrers, or as a candidate), and
        // a try looks at each entity at most once per reference to it; the walk without a
        // memory of its tries grows as three to the power of the chain's length.
        EXPECT_LT(writer.EntityWriteCalls(), uint32_t(kCount) * kCount * 4);
    }
    // Between two engines every entity arrives.
    ReplicationMatch rm;
    for (const EntityRecord& r : Web(100, kCount)) rm.Post(r);
    for (int i = 0; i < 40; ++i) rm.Frame();
    for (uint16_t k = 0; k < kCount; ++k) {
        const uint16_t id = uint16_t(100 + k);
        EXPECT_TRUE(rm.view.entities[id].alive) << id;
        EXPECT_EQ(rm.HostPeerEntry(id).acknowledgedVersion, rm.State(id).currentVersion) << id;
    }
}

// A hub whose creates do not fit an empty packet, tried first: the pass sends no packet
// that carries nothing.
TEST(Replication, ACandidateLargerThanAPacketSendsNoEmptyPacket) {
    ReplicationMatch rm;
    uint32_t packets = 0, empty = 0;
    rm.m->host.driver->SetSendTap([&](const uint8_t* data, uint32_t length, uint32_t kind) {
        if (kind != NETFRAME_GAME_PACKET || length < kPacketHeaderBytes) return;
        ++packets;
        uint32_t items = 0;
        for (uint32_t s = 0; s < kPacketSectionCount; ++s) items += uint32_t(data[16 + 2 * s] | data[17 + 2 * s] << 8);
        empty += items == 0;
    });
    const std::vector<uint16_t> ids = PostFan(rm, 100, 30);
    rm.Frame();
    rm.m->host.driver->SetSendTap(nullptr);
    EXPECT_EQ(packets, kMaxPacketsPerPass);
    EXPECT_EQ(empty, 0u);
    for (int i = 0; i < 10; ++i) rm.Frame();
    for (uint16_t id : ids) EXPECT_TRUE(rm.view.entities[id].alive) << id;
}

// Game packets that carry dictionary items.
bool CarriesSlots(const uint8_t* data, uint32_t length, uint32_t kind) {
    return kind == NETFRAME_GAME_PACKET && length >= kPacketHeaderBytes && (data[16] | data[17] << 8) != 0;
}

// The host writes a create's dictionary entry into every packet with the create until
// the peer acknowledged one, so reordering alone never brings a create before its slot.
// The rows that need it take the first pass's packets that carry entries off the link and
// hand the client copies without them (their creates ahead of their slot, as packets that
// overtook the one with the slot): the client withholds its acknowledgement and the host
// sends those creates again, with their slot.
std::vector<uint8_t> WithoutSlots(const uint8_t* data, uint32_t length) {
    const uint32_t entries = uint32_t(data[16] | data[17] << 8);
    std::vector<uint8_t> out(data, data + kPacketHeaderBytes);
    out[16] = out[17] = 0;
    out.insert(out.end(), data + kPacketHeaderBytes + entries * 17, data + length);  // 8 + 128 bits an entry
    return out;
}

TEST(Replication, EveryCreateArrivesWithItsTemplateWhateverOrderPacketsTake) {
    struct Row {
        const char* name;
        bool createsBeforeTheirSlot;
        double loss;
    };
    const Row rows[] = {{"in order", false, 0.0}, {"creates before their slot", true, 0.0}, {"creates before their slot, lossy", true, 0.1}};
    for (const Row& row : rows) {
        CaptureLogSink log;
        log.Attach();
        ReplicationMatch rm;
        std::vector<std::vector<uint8_t>> held;
        bool taking = row.createsBeforeTheirSlot, taken = false;
        rm.m->link.SetDelayRule(0, [&](const uint8_t* data, uint32_t length, uint32_t kind) -> int64_t {
            if (!taking || !CarriesSlots(data, length, kind)) return 0;
            taken = true;
            held.push_back(WithoutSlots(data, length));
            return int64_t(600) * 1000000;  // past the end of the test
        });
        LoopbackConditions lossy;
        lossy.loss = row.loss;
        rm.m->link.SetConditions(0, lossy);
        rm.m->link.SetConditions(1, lossy);
        const std::vector<uint16_t> ids = PostFan(rm, 100, 30);
        for (int i = 0; i < 60; ++i) {
            rm.Host().EndFrame(rm.frame);
            rm.m->Step(30000);
            taking = false;
            for (const std::vector<uint8_t>& copy : held) {
                rm.m->client.driver->Inject(NETFRAME_GAME_PACKET, copy.data(), uint32_t(copy.size()));
                rm.m->Step(1000);
            }
            held.clear();
            rm.m->client.engine->EndFrame(rm.frame);
            rm.m->Step(30000);
            rm.m->Step(5666);
            rm.frame += 66666;
        }
        rm.m->link.SetConditions(0, LoopbackConditions());
        rm.m->link.SetConditions(1, LoopbackConditions());
        for (int i = 0; i < 10; ++i) rm.Frame();
        EXPECT_EQ(taken, row.createsBeforeTheirSlot) << row.name;
        EXPECT_EQ(log.Contains("creates wait for their template slot"), row.createsBeforeTheirSlot) << row.name;
        for (const EntityRecord& r : rm.view.records)
            if (r.flags & ENTITYRECORD_CREATE) {
                EXPECT_EQ(r.templateGuid, Guid(1)) << row.name << ": a create of " << r.multiplayerId << " without its template";
            }
        for (uint16_t id : ids) {
            EXPECT_TRUE(rm.view.entities[id].alive) << row.name << ": " << id;
            EXPECT_EQ(rm.view.entities[id].guid, Guid(1)) << row.name << ": " << id;
            EXPECT_EQ(rm.HostPeerEntry(id).acknowledgedVersion, rm.State(id).currentVersion) << row.name << ": " << id;
        }
    }
}

// A create whose template slot the client has not received (its packet overtook the
// slot's) holds back its whole packet, unacknowledged, as if it were lost: a child in the
// same packet would otherwise be made under the scene root and keep that parent, and a
// reliable call sent with the create would run before its entity exists and never come
// again. The packet sent again with the slot is applied whole, once.
std::vector<uint8_t> CraftWithCallAndText(uint16_t packetId, bool withSlot, const std::vector<EntityRecord>& records) {
    static GamePacket p;
    p.Reset();
    p.packetId = packetId;
    p.frameTime = 2000000;
    p.packetCount = 1;
    p.ackedReliable = 0;
    if (withSlot) {
        p.BeginSection(SECTION_DICTIONARY);
        WriteDictionaryItem(p, 3, Guid(3).bytes);
        p.EndSection();
    }
    for (const EntityRecord& r : records) {
        p.BeginSection(SECTION_ENTITIES);
        WriteEntityRecordWire(p, r);
        p.EndSection();
    }
    MPMethodCall call;
    call.methodId = 12;
    call.AddEntityArg(60);
    p.BeginSection(SECTION_CALLS);
    WriteCallItem(p, 1, call);
    p.EndSection();
    const char16_t text[] = u"hi";
    p.BeginSection(SECTION_TEXTS);
    WriteTextItem(p, 1, text, 2);
    p.EndSection();
    std::vector<uint8_t> out(kMaxPacketBytes + BitWriter::kSlackBytes);
    out.resize(p.Build(out.data()));
    return out;
}

TEST(Replication, ACreateBeforeItsTemplateSlotHoldsBackItsWholePacket) {
    ReplicationMatch rm;
    EntityRecord early = Create(60, 3, {7});
    early.dictionarySlot = 3;
    early.creationCounter = 9;
    EntityRecord child = Create(61, 0, {8}, 60);  // slot 0: the all-zero GUID, always known
    auto acknowledged = [&](uint16_t id) {
        bool found = false;
        for (const AckEntry& a : rm.m->client.Peer()->acks) found |= a.packetId == id;
        return found;
    };
    auto deliver = [&](const std::vector<uint8_t>& bytes) {
        rm.m->client.driver->Inject(NETFRAME_GAME_PACKET, bytes.data(), uint32_t(bytes.size()));
        for (int i = 0; i < 3; ++i) rm.m->Step();
        rm.m->client.engine->DispatchReplicatedMethodCalls(true);
    };
    deliver(CraftWithCallAndText(900, false, {early, child}));
    EXPECT_TRUE(rm.view.records.empty()) << "no record of the packet is applied";
    EXPECT_TRUE(rm.m->client.delegate.calls.empty()) << "the call waits with its entity";
    EXPECT_TRUE(rm.m->client.delegate.chat.empty()) << "nothing of the packet is applied";
    EXPECT_EQ(rm.m->client.Peer()->lastReliableReceived, 0u);
    EXPECT_EQ(rm.m->client.Peer()->lastTextReceived, 0u);
    EXPECT_FALSE(acknowledged(900)) << "acknowledged without the slot";

    // Sent again with the slot, then once more (as when its acknowledgement is lost).
    for (uint16_t id : {uint16_t(901), uint16_t(902)}) {
        deliver(CraftWithCallAndText(id, true, {early, child}));
        EXPECT_TRUE(acknowledged(id)) << id;
    }
    // The copy after the first applied one comes as updates only.
    ASSERT_EQ(rm.view.records.size(), 4u);
    EXPECT_EQ(rm.view.records[0].flags & ENTITYRECORD_CREATE, ENTITYRECORD_CREATE);
    EXPECT_EQ(rm.view.entities[60].guid, Guid(3));
    EXPECT_EQ(rm.view.records[1].flags & ENTITYRECORD_CREATE, ENTITYRECORD_CREATE);
    EXPECT_EQ(rm.view.records[1].parentId, 60);
    EXPECT_EQ(rm.view.records[2].flags & ENTITYRECORD_CREATE, 0);
    EXPECT_EQ(rm.view.records[3].flags & ENTITYRECORD_CREATE, 0);
    ASSERT_EQ(rm.m->client.delegate.calls.size(), 1u);
    EXPECT_EQ(rm.m->client.delegate.calls[0].GetEntityArg(0), 60);
    ASSERT_EQ(rm.m->client.delegate.chat.size(), 1u);
    EXPECT_EQ(rm.m->client.delegate.chat[0].substr(rm.m->client.delegate.chat[0].size() - 2), u"hi");
}

// A client that leaves and joins again starts with no template slots: the slots it learnt
// in its first game name nothing in the next, which numbers its own.
TEST(Replication, AClientJoiningAgainForgetsTheSlotsOfItsLastGame) {
    ReplicationMatch rm;
    rm.Post(Create(5, 1, {1}));
    rm.Frame();
    ASSERT_EQ(rm.view.entities[5].guid, Guid(1));
    rm.m->client.engine->Disconnect(0);
    for (int i = 0; i < 4; ++i) rm.m->Step();
    rm.m->client.engine->Join("loopback", 0, 0);
    for (int i = 0; i < 20 && rm.m->client.engine->GetMainThreadState() != NETSTATE_IN_GAME; ++i) rm.m->Step();
    ASSERT_EQ(rm.m->client.engine->GetMainThreadState(), uint32_t(NETSTATE_IN_GAME));
    EntityRecord create = Create(7, 9, {1});
    create.dictionarySlot = 1;  // without its entry: the last game's slot 1 must not serve
    const auto bytes = CraftEntities(900, {create});
    rm.m->client.driver->Inject(NETFRAME_GAME_PACKET, bytes.data(), uint32_t(bytes.size()));
    rm.m->Step();
    EXPECT_EQ(rm.view.FirstOf(7), -1) << "created with the last game's template";
}

}  // namespace
