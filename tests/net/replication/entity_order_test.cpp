// The order in which new entities reach the client, and their ends, over a link that
// loses, delays and reorders packets (a late packet is skipped whole), with passes too
// full for everything that changed: a parent always arrives before its child, a named
// entity before the one naming it, however long the chain; every destroy and tear-off
// arrives and frees its id; an old record that arrives after later ones of its id (a
// packet of the same frame time overtaken) changes nothing.
// test-sanitize: thread
// test-timeout: 900
#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <map>
#include <vector>

#include "CaptureLogSink.h"
#include "net/PeerSyncRecord.h"
#include "net/packet/GamePacket.h"
#include "../NetMatch.h"

namespace {

using nettest::Match;

struct ClientView {
    std::vector<EntityRecord> records;
    std::map<uint16_t, bool> alive;
    static void Sink(void* self, const EntityRecord& r) { static_cast<ClientView*>(self)->Take(r); }
    void Take(const EntityRecord& r) {
        records.push_back(r);
        if (r.flags & ENTITYRECORD_CREATE) alive[r.multiplayerId] = true;
        if (r.flags & ENTITYRECORD_DESTROY) alive[r.multiplayerId] = false;
    }
    // Arrival position of the first create of an id (-1: none).
    int FirstCreate(uint16_t id) const {
        for (size_t i = 0; i < records.size(); ++i)
            if (records[i].multiplayerId == id && (records[i].flags & ENTITYRECORD_CREATE)) return int(i);
        return -1;
    }
};

struct Row {
    const char* name;
    double loss;
    int64_t jitterUs;
    int passesPerFrame;  // send passes between two host frames: packets of one frame time
    uint32_t fieldBytes;
    const char* seen;  // a log line the conditions must have caused (null: none)
};

// Two chains of new entities longer than any walk would cut: in the first each entity is
// the child of the next (the deepest child has the lowest id, so it is the first
// candidate), in the second each names the next through its field. Then the chains end:
// the first torn off child first, as the host tears a hierarchy off, the second
// destroyed.
constexpr uint16_t kParents = 100, kNames = 300, kLength = 90;

// A host and a client whose entity records go to VIEW, connected and synchronised.
void ConnectWatched(Match& m, ClientView& view) {
    MultiplayerEngine::Options o;
    o.entityRecordSink = &ClientView::Sink;
    o.entityRecordSinkContext = &view;
    m.client.engine.reset();
    m.client.Make(m.link.Endpoint(1), o);
    ASSERT_TRUE(m.Connect());
    m.host.engine->SynchronizePlayer(m.host.engine->GetRemotePlayer(0));
    m.Step();
}

void Play(const Row& row) {
    SCOPED_TRACE(row.name);
    CaptureLogSink log;
    log.Attach();
    ClientView view;
    Match m;
    ConnectWatched(m, view);
    if (::testing::Test::HasFatalFailure()) return;
    MultiplayerEngine& host = *m.host.engine;
    LoopbackConditions link;
    link.loss = row.loss;
    link.delayUs = 60000;
    link.jitterUs = row.jitterUs;
    m.link.SetConditions(0, link);
    m.link.SetConditions(1, link);
    uint64_t frame = 1000000;
    const auto frames = [&](int n) {
        for (int i = 0; i < n; ++i) {
            host.EndFrame(frame);
            for (int p = 0; p < row.passesPerFrame; ++p) m.Step(kSendIntervalUs + 1000);
            m.client.engine->EndFrame(frame);
            m.Step(30000);
            frame += 66666;
        }
    };
    const auto post = [&](uint16_t id, uint8_t flags, uint16_t parent, uint16_t names) {
        EntityRecord r;
        r.multiplayerId = id;
        r.flags = flags;
        r.templateGuid.bytes[0] = 7;
        r.parentId = parent;
        for (uint32_t i = 0; i < row.fieldBytes; ++i) r.fields.Append(uint8_t(id + i), 8);
        r.fields.referencedIds[0] = names;
        r.dirtyMask = (uint64_t(1) << row.fieldBytes) - 1;
        host.PostEntityRecord(r);
    };
    for (uint16_t k = 0; k < kLength; ++k) {
        post(uint16_t(kParents + k), ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES, k + 1 < kLength ? uint16_t(kParents + k + 1) : kNoMultiplayerId,
             kNoMultiplayerId);
        post(uint16_t(kNames + k), ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES, kNoMultiplayerId,
             k + 1 < kLength ? uint16_t(kNames + k + 1) : kNoMultiplayerId);
    }
    frames(40);
    for (uint16_t k = 0; k < kLength; ++k) {
        const uint16_t child = uint16_t(kParents + k), parent = uint16_t(kParents + k + 1);
        ASSERT_GE(view.FirstCreate(child), 0) << child;
        if (k + 1 < kLength) {
            EXPECT_LT(view.FirstCreate(parent), view.FirstCreate(child)) << "child " << child << " before its parent";
        }
        const uint16_t naming = uint16_t(kNames + k), named = uint16_t(kNames + k + 1);
        ASSERT_GE(view.FirstCreate(naming), 0) << naming;
        if (k + 1 < kLength) {
            EXPECT_LT(view.FirstCreate(named), view.FirstCreate(naming)) << naming << " before the entity it names";
        }
    }
    for (uint16_t k = 0; k < kLength; ++k) {
        post(uint16_t(kParents + k), ENTITYRECORD_FINAL, kNoMultiplayerId, kNoMultiplayerId);
        post(uint16_t(kNames + k), ENTITYRECORD_DESTROY, kNoMultiplayerId, kNoMultiplayerId);
    }
    frames(40);
    m.link.SetConditions(0, LoopbackConditions());
    m.link.SetConditions(1, LoopbackConditions());
    frames(5);
    for (uint16_t k = 0; k < kLength; ++k)
        for (uint16_t id : {uint16_t(kParents + k), uint16_t(kNames + k)}) {
            EXPECT_FALSE(view.alive[id]) << id << " outlived its end at the client";
            EXPECT_FALSE(host.ReplicationStates()[id].IsCreated()) << id << "'s id was not freed";
        }
    if (row.seen) {
        EXPECT_TRUE(log.Contains(row.seen)) << "the link never caused \"" << row.seen << "\"";
    }
}

TEST(EntityOrder, ParentsAndNamedEntitiesGoFirstAndEveryEndArrives) {
    const Row rows[] = {
        {"in order", 0.0, 0, 1, 1, nullptr},
        {"lost, reordered, late packets skipped", 0.15, 50000, 3, 1, "Skipping packet"},
        {"full passes, lost and reordered", 0.1, 50000, 2, 40, "Couldn't fit complete state in 2 packets"},
    };
    for (const Row& row : rows) Play(row);
}

// The longest chain of new entities there can be, every id but the last in it, each the
// child of the next (the deepest has the lowest id, so it is the first candidate): the
// walk from it follows the whole chain, one level on the stack per entity, and every
// entity arrives after its parent. (A chain of names walks the same way; each such
// chain costs seconds, so one runs here.)
//
// It runs on a thread of 2 MB of stack (a step of the walk must cost little of it); the
// sanitizers' larger frames get the usual 8 MB.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kChainStackBytes = size_t(8) << 20;
#else
constexpr size_t kChainStackBytes = size_t(2) << 20;
#endif
void PlayLongestChain() {
    constexpr uint16_t kChain = kNoMultiplayerId - 1;
    ClientView view;
    Match m(0, 4u << 20);  // a command ring that holds every posted record
    ConnectWatched(m, view);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    MultiplayerEngine& host = *m.host.engine;
    for (uint16_t k = 0; k < kChain; ++k) {
        EntityRecord r;
        r.multiplayerId = k;
        r.flags = ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES;
        r.templateGuid.bytes[0] = 7;
        r.parentId = k + 1 < kChain ? uint16_t(k + 1) : kNoMultiplayerId;
        r.fields.Append(uint8_t(k), 8);
        r.dirtyMask = 1;
        host.PostEntityRecord(r);
    }
    uint64_t frame = 1000000;
    for (int i = 0; i < 400 && view.FirstCreate(0) < 0; ++i) {
        host.EndFrame(frame);
        m.Step(kSendIntervalUs + 1000);
        m.client.engine->EndFrame(frame);
        m.Step(30000);
        frame += 66666;
    }
    std::vector<int> arrival(kChain);
    for (uint16_t k = 0; k < kChain; ++k) {
        arrival[k] = view.FirstCreate(k);
        ASSERT_GE(arrival[k], 0) << k << " never arrived";
    }
    for (uint16_t k = 0; k + 1 < kChain; ++k) ASSERT_LT(arrival[k + 1], arrival[k]) << "child " << k << " before its parent";
}

TEST(EntityOrder, TheLongestChainArrivesInOrder) {
#if defined(__SANITIZE_THREAD__)
    // One thread walks the chain: nothing for the race checker, and its slowdown of the
    // chain's quadratic walk (minutes) would be the whole thread run's length.
    GTEST_SKIP() << "single-threaded: run by the other builds";
#endif
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, kChainStackBytes), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, [](void*) -> void* {
                  PlayLongestChain();
                  return nullptr;
              }, nullptr), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// The entity records and calls a game packet carries, read as the client reads them.
struct PacketItems {
    std::vector<EntityRecord> records;
    std::vector<MPMethodCall> calls;
};
PacketItems ReadPacketItems(const uint8_t* data, uint32_t length) {
    PacketItems out;
    GamePacket p;
    if (!p.Parse(data, length)) return out;
    BitReader& in = p.Reader();
    for (uint32_t i = 0; i < p.ReceivedCount(SECTION_DICTIONARY); ++i) {
        uint8_t slot = 0, guid[16];
        if (!ReadDictionaryItem(in, slot, guid)) return out;
    }
    for (uint32_t i = 0; i < p.ReceivedCount(SECTION_ENTITIES); ++i) {
        EntityRecord r;
        if (!ReadEntityRecordWire(in, r)) return out;
        out.records.push_back(r);
    }
    for (uint32_t i = 0; i < p.ReceivedCount(SECTION_ACKS); ++i) {
        uint16_t id = 0;
        if (!ReadAckItem(in, id)) return out;
    }
    for (uint32_t i = 0; i < p.ReceivedCount(SECTION_CALLS); ++i) {
        uint32_t sequence = 0;
        MPMethodCall c;
        if (!ReadCallItem(in, sequence, c)) return out;
        out.calls.push_back(c);
    }
    return out;
}
std::vector<EntityRecord> EntityRecords(const uint8_t* data, uint32_t length) { return ReadPacketItems(data, length).records; }

// A copy of an old record of an id that arrives after the id's later records (the host
// sent it again as its first went unacknowledged; the host's frame time had not moved,
// so the late packet is not skipped): the client takes nothing from it. Rows: a create
// of the id's first entity arriving after that entity and the next one of the id were
// made and destroyed (it would make the first one again); a destroy of the first one
// arriving after the next one was made (it would destroy that one).
TEST(EntityOrder, AnOldRecordArrivingAfterTheIdsLaterOnesChangesNothing) {
    struct Row {
        const char* name;
        uint8_t heldFlag;  // the first record of id 40 with this flag is held back
        bool secondDestroyed;
    };
    const Row rows[] = {{"a late create of the first entity", ENTITYRECORD_CREATE, true},
                        {"a late destroy of the first entity", ENTITYRECORD_DESTROY, false}};
    constexpr uint16_t kId = 40;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ClientView view;
        Match m;
        ConnectWatched(m, view);
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        MultiplayerEngine& host = *m.host.engine;
        host.EndFrame(1000000);  // the one frame time of every packet below
        m.Step();
        std::vector<uint8_t> held;
        m.link.SetDelayRule(0, [&](const uint8_t* data, uint32_t length, uint32_t kind) -> int64_t {
            if (kind != NETFRAME_GAME_PACKET || !held.empty()) return 0;
            for (const EntityRecord& r : EntityRecords(data, length))
                if (r.multiplayerId == kId && (r.flags & row.heldFlag)) {
                    held.assign(data, data + length);
                    return int64_t(600) * 1000000;  // delivered by hand below
                }
            return 0;
        });
        const auto post = [&](uint8_t flags, uint8_t value) {
            EntityRecord r;
            r.multiplayerId = kId;
            r.flags = flags;
            r.templateGuid.bytes[0] = 7;
            if (flags & ENTITYRECORD_PROPERTIES) {
                r.fields.Append(value, 8);
                r.dirtyMask = 1;
            }
            host.PostEntityRecord(r);
        };
        // Until the id is free again: its state released after the client acknowledged the end.
        const auto untilReleased = [&] {
            for (int i = 0; i < 40 && host.ReplicationStates()[kId].IsCreated(); ++i) m.Step(kSendIntervalUs + 1000);
            ASSERT_FALSE(host.ReplicationStates()[kId].IsCreated());
        };
        const auto passes = [&](int n) {
            for (int i = 0; i < n; ++i) m.Step(kSendIntervalUs + 1000);
        };
        post(ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES, 1);
        passes(3);
        post(ENTITYRECORD_DESTROY, 0);
        untilReleased();
        post(ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES, 2);  // the id's next entity
        passes(3);
        if (row.secondDestroyed) {
            post(ENTITYRECORD_DESTROY, 0);
            untilReleased();
        }
        ASSERT_FALSE(held.empty()) << "no record was held back";
        ASSERT_EQ(view.alive[kId], !row.secondDestroyed);
        const size_t before = view.records.size();
        m.client.driver->Inject(NETFRAME_GAME_PACKET, held.data(), uint32_t(held.size()));
        passes(3);
        EXPECT_EQ(view.alive[kId], !row.secondDestroyed);
        for (size_t i = before; i < view.records.size(); ++i)
            EXPECT_NE(view.records[i].multiplayerId, kId) << "the late record reached the game, flags " << int(view.records[i].flags);
    }
}

// A reliable call naming a new child goes in a packet no earlier than the child's
// create (the sections of a packet are read in order: records before calls). Rows: the
// parent names the child through its field, so the parent's walk meets the child first
// and holds it until the parent is written, and the child then goes in the same packet;
// two entities each the other's parent, so neither can go and the call waits with them;
// the same with an unreliable call, which waits too, while an unreliable call posted after
// it goes.
TEST(EntityOrder, ACallNamingANewChildGoesNoEarlierThanTheChildsCreate) {
    struct Row {
        const char* name;
        uint16_t childsParent, parentsParent, parentNames;
        bool created;  // the child's create goes (in the parent's packet)
        bool reliable;
    };
    constexpr uint16_t kParent = 20, kChild = 21;
    const Row rows[] = {{"the parent names the child", kParent, kNoMultiplayerId, kChild, true, true},
                        {"a loop of parents", kParent, kChild, kNoMultiplayerId, false, true},
                        {"a loop of parents, an unreliable call", kParent, kChild, kNoMultiplayerId, false, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ClientView view;
        Match m;
        ConnectWatched(m, view);
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        MultiplayerEngine& host = *m.host.engine;
        host.EndFrame(1000000);
        m.Step();
        // Per game packet to the client, in sending order: the ids created, and whether
        // the call went.
        std::vector<std::vector<uint16_t>> creates;
        std::vector<bool> callSent, laterCallSent;
        m.link.SetDelayRule(0, [&](const uint8_t* data, uint32_t length, uint32_t kind) -> int64_t {
            if (kind != NETFRAME_GAME_PACKET) return 0;
            const PacketItems items = ReadPacketItems(data, length);
            creates.emplace_back();
            for (const EntityRecord& r : items.records)
                if (r.flags & ENTITYRECORD_CREATE) creates.back().push_back(r.multiplayerId);
            bool call = false, later = false;
            for (const MPMethodCall& c : items.calls) {
                call = call || c.methodId == 9;
                later = later || c.methodId == 10;
            }
            callSent.push_back(call);
            laterCallSent.push_back(later);
            return 0;
        });
        const auto post = [&](uint16_t id, uint16_t parent, uint16_t names) {
            EntityRecord r;
            r.multiplayerId = id;
            r.flags = ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES;
            r.templateGuid.bytes[0] = 7;
            r.parentId = parent;
            r.fields.Append(uint8_t(id), 8);
            r.fields.referencedIds[0] = names;
            r.dirtyMask = 1;
            host.PostEntityRecord(r);
        };
        post(kParent, row.parentsParent, row.parentNames);
        post(kChild, row.childsParent, kNoMultiplayerId);
        MPMethodCall call;
        call.methodId = 9;
        call.AddEntityArg(kChild);
        host.ReplicateMethodCall(host.GetRemotePlayer(0), call, row.reliable);
        MPMethodCall later;
        later.methodId = 10;
        if (!row.reliable) host.ReplicateMethodCall(host.GetRemotePlayer(0), later, false);
        for (int i = 0; i < 10; ++i) m.Step(kSendIntervalUs + 1000);
        const auto packetOf = [&](uint16_t id) {
            for (size_t p = 0; p < creates.size(); ++p)
                for (uint16_t c : creates[p])
                    if (c == id) return int(p);
            return -1;
        };
        int firstCall = -1;
        for (size_t p = 0; p < callSent.size() && firstCall < 0; ++p)
            if (callSent[p]) firstCall = int(p);
        if (row.created) {
            ASSERT_GE(packetOf(kParent), 0);
            EXPECT_EQ(packetOf(kChild), packetOf(kParent)) << "the child waited a packet for a parent already written";
            ASSERT_GE(firstCall, 0) << "the call never went";
            EXPECT_GE(firstCall, packetOf(kChild)) << "the call went before the child's create";
            EXPECT_LT(view.FirstCreate(kParent), view.FirstCreate(kChild));
        } else {
            EXPECT_EQ(packetOf(kChild), -1);
            EXPECT_EQ(firstCall, -1) << "the call went before the child's create";
        }
        if (row.reliable) continue;
        EXPECT_NE(std::find(laterCallSent.begin(), laterCallSent.end(), true), laterCallSent.end())
            << "a waiting unreliable call held back the one after it";
    }
}

// Packet ids run 1 to 65535 and then from 1 again; the client counts on past the wrap to
// the count nearest the newest packet's, so a late packet from before the wrap stays old.
TEST(EntityOrder, PacketIdsCountOnPastTheirWrap) {
    struct Row {
        uint64_t newest;
        uint16_t id;
        uint64_t count;
    };
    const Row rows[] = {{0, 7, 7},           {7, 8, 8},           {8, 5, 5},
                        {65535, 1, 65536},   {65536, 65535, 65535}, {65536, 2, 65537},
                        {131070, 1, 131071}, {131071, 65534, 131069}, {70000, 4465, 70000}};
    for (const Row& r : rows) EXPECT_EQ(UnwrapPacketId(r.newest, r.id), r.count) << r.newest << " " << r.id;
}

}  // namespace
