// A host pass with more to say than its packets hold: entity records beyond two packets,
// and calls that carry the creations of the entities they name. Every pass sends at most
// its packets, the last one counting them; nothing written in a pass is left unsent; an
// entity that did not fit is not overtaken by later ones; the rest follows in the next
// passes until the client has everything.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "NetMatch.h"

namespace {

using nettest::Match;

// The host engine's packets, each with the pass that sent it.
struct PassTap {
    struct Packet {
        uint32_t pass;
        uint8_t count;  // header byte 15
    };
    std::vector<Packet> packets;
};

// What the client heard: each entity's first creation (pass, values) and the calls.
struct ClientSide {
    uint32_t pass = 0;  // the host pass being delivered
    std::vector<std::pair<uint16_t, uint32_t>> creations;  // id, pass, in arrival order
    std::map<uint16_t, std::vector<uint8_t>> values;
    static void Sink(void* self, const EntityRecord& r) {
        ClientSide& c = *static_cast<ClientSide*>(self);
        if (r.flags & ENTITYRECORD_CREATE) c.creations.push_back({r.multiplayerId, c.pass});
        if (r.flags & ENTITYRECORD_PROPERTIES) c.values[r.multiplayerId].assign(r.fields.data, r.fields.data + (r.fields.totalBits + 7) / 8);
    }
};

struct LimitMatch {
    ClientSide client;
    PassTap tap;
    std::unique_ptr<Match> m;
    uint64_t frame = 1000000;

    LimitMatch() {
        m = std::make_unique<Match>();
        MultiplayerEngine::Options o;
        o.entityRecordSink = &ClientSide::Sink;
        o.entityRecordSinkContext = &client;
        m->client.engine.reset();
        m->client.Make(m->link.Endpoint(1), o);
        EXPECT_TRUE(m->Connect());
        m->host.engine->SynchronizePlayer(m->host.engine->GetRemotePlayer(0));
        m->Step();
        m->host.driver->SetSendTap([this](const uint8_t* data, uint32_t, uint32_t kind) {
            if (kind == NETFRAME_GAME_PACKET) tap.packets.push_back({m->host.Peer()->passCounter, data[15]});
        });
    }
    ~LimitMatch() { m->host.driver->SetSendTap(nullptr); }

    // One host pass, its delivery and the client's acknowledging pass.
    void Frame() {
        client.pass = m->host.Peer()->passCounter;
        m->host.engine->EndFrame(frame);
        m->Step(30000);
        m->client.engine->EndFrame(frame);
        m->Step(30000);
        m->Step(6666);
        m->client.engine->DispatchReplicatedMethodCalls(true);
        frame += 66666;
    }
};

// An entity of one template with n 8-bit properties, each its id's low byte.
EntityRecord Create(uint16_t id, uint32_t n) {
    EntityRecord r;
    r.multiplayerId = id;
    r.flags = ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES;
    r.templateGuid.bytes[0] = 1;
    for (uint32_t i = 0; i < n; ++i) r.fields.Append(uint8_t(id), 8);
    r.dirtyMask = (uint64_t(1) << n) - 1;
    return r;
}

TEST(SendPassLimit, OverfullPassesKeepTheirLimitAndLoseNothing) {
    struct Row {
        const char* name;
        std::vector<EntityRecord> entities;
        std::vector<MPMethodCall> calls;  // unreliable, each naming one entity
        std::function<void(const LimitMatch&)> check;
    };
    std::vector<Row> rows;
    {
        // 100 entities of 198 bits, then small ones of 78 bits: the first pass ends at the
        // first large entity that finds both packets used, with room left (148 bits) that
        // a small one would fill.
        Row r{"entity records beyond two packets", {}, {}, nullptr};
        for (uint16_t id = 100; id < 200; ++id) r.entities.push_back(Create(id, 15));
        for (uint16_t id = 300; id < 310; ++id) r.entities.push_back(Create(id, 1));
        r.check = [](const LimitMatch& lm) {
            uint16_t next = 100;
            for (const auto& [id, pass] : lm.client.creations) {
                if (pass != lm.client.creations.front().second) break;
                EXPECT_EQ(id, next++) << "the first pass writes the entities in order, none past one that did not fit";
            }
            EXPECT_LT(next, 200) << "the first pass could not hold them all";
        };
        rows.push_back(r);
    }
    {
        // Twelve calls of 1,674 bits, each naming an entity created in the same frame
        // (78 bits): a packet holds five calls with the entities they carry, so the last
        // calls find both packets used and wait for the next pass.
        Row r{"calls carrying entity creations", {}, {}, nullptr};
        const std::string text(200, 'x');
        for (uint16_t i = 0; i < 12; ++i) {
            r.entities.push_back(Create(uint16_t(500 + i), 1));
            MPMethodCall c;
            c.methodId = uint8_t(1 + i);
            c.AddEntityArg(uint16_t(500 + i));
            c.AddStringArg(text.c_str(), uint32_t(text.size()));
            r.calls.push_back(c);
        }
        r.check = [](const LimitMatch& lm) {
            const auto& calls = lm.m->client.delegate.calls;
            ASSERT_EQ(calls.size(), 12u) << "each unreliable call arrives once";
            for (uint32_t i = 0; i < 12; ++i) {
                EXPECT_EQ(calls[i].methodId, 1 + i);
                EXPECT_EQ(calls[i].GetEntityArg(0), 500 + i);
            }
        };
        rows.push_back(r);
    }

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CaptureLogSink log;
        log.Attach();
        LimitMatch lm;
        for (const EntityRecord& e : row.entities) lm.m->host.engine->PostEntityRecord(e);
        for (const MPMethodCall& c : row.calls) lm.m->host.engine->ReplicateMethodCall(lm.m->host.engine->GetRemotePlayer(0), c, false);
        for (int i = 0; i < 12; ++i) lm.Frame();

        // Per pass: at most the limit, byte 15 only on the last packet, giving the count.
        std::map<uint32_t, std::vector<uint8_t>> passes;
        for (const PassTap::Packet& p : lm.tap.packets) passes[p.pass].push_back(p.count);
        bool full = false;
        for (const auto& [pass, counts] : passes) {
            ASSERT_LE(counts.size(), kMaxPacketsPerPass) << "pass " << pass;
            for (size_t i = 0; i + 1 < counts.size(); ++i) EXPECT_EQ(counts[i], 0) << "pass " << pass;
            EXPECT_EQ(counts.back(), counts.size()) << "pass " << pass;
            full = full || counts.size() == kMaxPacketsPerPass;
        }
        EXPECT_TRUE(full) << "some pass used every packet";
        EXPECT_TRUE(log.Contains("Couldn't fit complete state in 2 packets"));

        // In the end the client has every entity, created once, with its values.
        std::set<uint16_t> created;
        for (const auto& [id, pass] : lm.client.creations) EXPECT_TRUE(created.insert(id).second) << "entity " << id << " created twice";
        for (const EntityRecord& e : row.entities) {
            ASSERT_TRUE(created.count(e.multiplayerId)) << "entity " << e.multiplayerId;
            EXPECT_EQ(lm.client.values[e.multiplayerId], std::vector<uint8_t>(e.fields.fieldCount, uint8_t(e.multiplayerId)));
        }
        row.check(lm);
    }
}

}  // namespace
