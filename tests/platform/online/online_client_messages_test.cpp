// The client's reader of broker messages: every kind is taken whole or dropped with one
// warning, and the caches keep their limits.
#include "platform/online/OnlineClientCore.h"
#include "platform/online/OnlineTypes.h"
#include "platform/online/OnlineWire.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace online;
using namespace online::wire;

namespace {

int gWarnings = 0;
void CountWarning(int, const char*) { ++gWarnings; }

class ClientMessages : public ::testing::Test {
protected:
    void SetUp() override {
        client.connected = true;
        client.hook = CountWarning;
        gWarnings = 0;
    }
    void Feed(const std::vector<uint8_t>& body) { client.OnFrame(body.data(), body.size()); }
    static std::vector<uint8_t> Body(Writer& w) { return std::vector<uint8_t>(w.Frame().begin() + 4, w.Frame().end()); }

    ClientCore client{ClientConfig{}};
};

void Snapshot(Writer& w, OnlineId lobby, uint32_t members) {
    w.U64(lobby).I32(kLobbyPublic).I32(4).U8(1).U64(MakeUserId(1)).U32(1).Text("k").Text("v").U32(members);
    for (uint32_t i = 0; i < members; ++i) w.U64(MakeUserId(1 + i)).Text("P").U32(1).Text("ready").Text("1");
}

TEST_F(ClientMessages, EveryKindIsTakenWholeOrDroppedWithAWarning) {
    const OnlineId lobby = MakeLobbyId(1);
    const LobbyCreated created{kResultOK, lobby};
    const std::vector<std::pair<Kind, std::function<void(Writer&)>>> messages = {
        {kEvent, [&](Writer& w) { w.I32(LobbyCreated::kCallbackId).U64(0).Bytes(&created, sizeof created); }},
        {kLobbyState, [&](Writer& w) { Snapshot(w, lobby, 2); }},
        {kLobbyGone, [&](Writer& w) { w.U64(lobby); }},
        {kChatEntry, [&](Writer& w) { w.U64(lobby).U32(1).U64(MakeUserId(2)).Text("hi"); }},
        {kLobbyListResult, [&](Writer& w) { Snapshot(w.U64(5).U32(1), lobby, 1); }},
        {kP2PPacket, [](Writer& w) { w.U64(MakeUserId(2)).U8(1).I32(0).Text("p"); }},
        {kUserKnown, [](Writer& w) { w.U64(MakeUserId(3)).Text("Q").U8(1).U8(0); }},
        {kLeaderboardInfo, [](Writer& w) { w.U64(6).U64(1).Text("B").I32(3).U8(1); }},
        {kEntries, [](Writer& w) { w.U64(7).U64(1).I32(1).U32(1).U64(MakeUserId(2)).Text("Q").I32(1).I32(5).U32(1).I32(9); }},
        {kScoreUploaded, [](Writer& w) { w.U64(8).U8(1).U64(1).I32(5).U8(1).I32(1).I32(0).I32(1); }},
    };
    for (const auto& [kind, build] : messages) {
        Writer w(kind);
        build(w);
        std::vector<uint8_t> body = Body(w);
        Feed(body);
        EXPECT_EQ(gWarnings, 0) << int(kind);
        body.push_back(0);
        Feed(body);
        EXPECT_EQ(gWarnings, 1) << "trailing byte, kind " << int(kind);
        body.resize(body.size() - 2);
        Feed(body);
        EXPECT_EQ(gWarnings, 2) << "cut, kind " << int(kind);
        gWarnings = 0;
    }
    // Event records must have their callback's size; unknown kinds are dropped too.
    const std::vector<std::pair<int, uint32_t>> events = {
        {LobbyCreated::kCallbackId, sizeof(LobbyCreated) - 1}, {LobbyCreated::kCallbackId, sizeof(LobbyCreated) + 1},
        {12345, 4}, {LobbyCreated::kCallbackId, 0}};
    for (const auto& [id, size] : events) {
        Writer w(kEvent);
        std::vector<uint8_t> record(size);
        w.I32(id).U64(0).Bytes(record.data(), record.size());
        Feed(Body(w));
    }
    Writer unknown(static_cast<Kind>(3));
    Feed(Body(unknown));
    EXPECT_EQ(gWarnings, 5);
}

TEST_F(ClientMessages, ARefusedSnapshotLeavesTheCachesAsTheyWere) {
    Writer good(kLobbyState);
    Snapshot(good, MakeLobbyId(1), 1);
    Feed(Body(good));
    // A snapshot naming a second member, cut inside that member: nothing of it is kept.
    Writer bad(kLobbyState);
    Snapshot(bad, MakeLobbyId(1), 2);
    std::vector<uint8_t> body = Body(bad);
    body.resize(body.size() - 3);
    Feed(body);
    EXPECT_EQ(gWarnings, 1);
    std::lock_guard<std::mutex> lock(client.state);
    EXPECT_EQ(client.lobbies[MakeLobbyId(1)].members.size(), 1u);
    EXPECT_EQ(client.users.count(MakeUserId(2)), 0u);
}

TEST_F(ClientMessages, CachesKeepTheirLimits) {
    for (uint32_t i = 1; i <= 300; ++i) {
        Writer w(kChatEntry);
        w.U64(MakeLobbyId(1)).U32(i).U64(MakeUserId(2)).Text("x");
        Feed(Body(w));
    }
    for (uint32_t i = 1; i <= 40; ++i) {
        Writer w(kEntries);
        w.U64(i).U64(1).I32(0).U32(0);
        Feed(Body(w));
    }
    std::lock_guard<std::mutex> lock(client.state);
    ASSERT_EQ(client.chat.size(), 256u);
    EXPECT_EQ(client.chat.front().chatId, 45u);  // the oldest go first
    ASSERT_EQ(client.downloads.size(), 32u);
    EXPECT_EQ(client.downloads.begin()->first, 9u);
}

TEST_F(ClientMessages, ConfigurationTextIsBoundedAndLineByLine) {
    ClientConfig c;
    std::string warnings;
    const std::string text = "ONLINE_ACCOUNT=42\r\n# comment\n\nONLINE_PACKET_LOSS=7\nNOPE=1\nno equals sign\nONLINE_OFFLINE=yes";
    EXPECT_FALSE(c.ParseText(text.data(), text.size(), &warnings));
    EXPECT_EQ(c.account, 42u);
    EXPECT_EQ(c.packetLossPercent, 7u);
    EXPECT_TRUE(c.offline);
    EXPECT_EQ(warnings, "configuration line skipped: NOPE=1\nconfiguration line skipped: no equals sign\n");
    std::string limit = "ONLINE_ACCOUNT=9\n";
    limit.resize(64 * 1024, '#');
    ClientConfig d;
    EXPECT_TRUE(d.ParseText(limit.data(), limit.size()));
    EXPECT_EQ(d.account, 9u);
    limit.push_back('#');
    ClientConfig e;
    EXPECT_FALSE(e.ParseText(limit.data(), limit.size()));
    EXPECT_EQ(e.account, 1u);
}

}  // namespace
