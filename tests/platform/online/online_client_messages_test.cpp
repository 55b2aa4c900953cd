// The message reader and frame splitter at their limits, and the client's reader of broker
// messages: every kind taken whole or dropped with one warning; the caches keep their limits.
#include "platform/online/OnlineClientCore.h"
#include "platform/online/OnlineTypes.h"
#include "platform/online/OnlineWire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace online;
using namespace online::wire;

namespace {

TEST(Wire, ReadsPastTheEndFailAndAnswerZeroFromThenOn) {
    const uint8_t bytes[7] = {1, 2, 3, 4, 5, 6, 7};
    Reader past(bytes, 7, false);
    EXPECT_EQ(past.U32(), 0x04030201u);
    EXPECT_FALSE(past.Failed());
    EXPECT_EQ(past.U64(), 0u);  // 3 bytes are left
    EXPECT_TRUE(past.Failed());
    EXPECT_EQ(past.U8(), 0u);
    // Byte strings up to their cap; counts up to theirs and to what the rest can hold.
    Writer w(kReply);
    w.Bytes("abc", 3).U32(2).U32(0).U32(0);
    const std::vector<uint8_t>& f = w.Frame();
    const struct { uint32_t cap, maxCount, itemSize; bool ok; } cases[] = {{3, 2, 4, true}, {2, 2, 4, false}, {3, 1, 4, false}, {3, 2, 5, false}, {3, 2, 0, true}};
    for (const auto& c : cases) {
        Reader r(f.data() + 4, f.size() - 4);
        uint32_t n = 0;
        const uint8_t* p = r.Bytes(c.cap, &n);
        const uint32_t count = r.Count(c.maxCount, c.itemSize);
        EXPECT_EQ(!r.Failed(), c.ok) << c.cap << " " << c.maxCount << " " << c.itemSize;
        EXPECT_EQ(count, c.ok ? 2u : 0u);
        if (c.cap == 3) {
            EXPECT_TRUE(p && n == 3 && std::memcmp(p, "abc", 3) == 0);
        }
    }
    Writer nul(kReply);
    nul.Bytes("ab\0cd", 5);
    Reader r(nul.Frame().data() + 4, nul.Frame().size() - 4);
    EXPECT_EQ(r.Text(5), "ab");  // texts end at an embedded terminator
    EXPECT_TRUE(r.AtEnd());
}

TEST(Wire, FrameSplitterReassemblesAndRefusesBadLengths) {
    auto frame = [](uint32_t body) {
        std::vector<uint8_t> f = {uint8_t(body), uint8_t(body >> 8), uint8_t(body >> 16), uint8_t(body >> 24)};
        f.resize(4 + std::min<uint32_t>(body, 16), uint8_t(0x30 + body));
        return f;
    };
    for (uint32_t bad : {0u, kMaxFrame + 1}) {
        FrameSplitter s;
        EXPECT_FALSE(s.Push(frame(bad).data(), 4)) << bad;
        EXPECT_TRUE(s.Broken());
        EXPECT_FALSE(s.Push(frame(3).data(), 7));  // nothing more is taken
    }
    FrameSplitter largest;
    EXPECT_TRUE(largest.Push(frame(kMaxFrame).data(), 4));
    EXPECT_EQ(largest.HeadLength(), kMaxFrame);
    // Two frames and the start of a third, pushed a byte at a time.
    std::vector<uint8_t> stream = frame(3);
    for (uint32_t n : {1u, 9u}) {
        const auto f = frame(n);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    stream.resize(stream.size() - 2);
    FrameSplitter s;
    std::vector<std::vector<uint8_t>> bodies;
    std::vector<uint8_t> body;
    for (uint8_t byte : stream) {
        ASSERT_TRUE(s.Push(&byte, 1));
        while (s.Next(body)) bodies.push_back(body);
    }
    using B = std::vector<std::vector<uint8_t>>;
    EXPECT_EQ(bodies, (B{{0x33, 0x33, 0x33}, {0x31}}));
    EXPECT_EQ(std::make_pair(s.HeadLength(), s.Buffered()), std::make_pair(uint32_t(9), size_t(4 + 7)));
}

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
    void Feed(Kind kind, const std::function<void(Writer&)>& fill) {
        Writer w(kind);
        fill(w);
        Feed(Body(w));
    }
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
        const std::vector<uint8_t> record(size);
        Feed(kEvent, [&](Writer& w) { w.I32(id).U64(0).Bytes(record.data(), record.size()); });
    }
    Feed(static_cast<Kind>(3), [](Writer&) {});
    EXPECT_EQ(gWarnings, 5);
}

TEST_F(ClientMessages, ARefusedSnapshotLeavesTheCachesAsTheyWere) {
    Feed(kLobbyState, [](Writer& w) { Snapshot(w, MakeLobbyId(1), 1); });
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
    for (uint32_t i = 1; i <= 300; ++i) Feed(kChatEntry, [&](Writer& w) { w.U64(MakeLobbyId(1)).U32(i).U64(MakeUserId(2)).Text("x"); });
    for (uint32_t i = 1; i <= 40; ++i) Feed(kEntries, [&](Writer& w) { w.U64(i).U64(1).I32(0).U32(0); });
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
    EXPECT_EQ(std::make_tuple(c.account, c.packetLossPercent, c.offline), std::make_tuple(42u, 7u, true));
    EXPECT_EQ(warnings, "configuration line skipped: NOPE=1\nconfiguration line skipped: no equals sign\n");
    std::string limit = "ONLINE_ACCOUNT=9\n";
    for (size_t size : {64 * 1024, 64 * 1024 + 1}) {
        limit.resize(size, '#');
        ClientConfig d;
        EXPECT_EQ(d.ParseText(limit.data(), limit.size()), size == 64 * 1024);
        EXPECT_EQ(d.account, size == 64 * 1024 ? 9u : 1u);
    }
    // From a file: read whole, or not at all when it is missing.
    char path[] = "/tmp/onlineconfigXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    ClientConfig f;
    EXPECT_FALSE(f.LoadFile(path));  // its unknown lines make it unclean
    EXPECT_EQ(f.account, 42u);
    unlink(path);
    EXPECT_FALSE(f.LoadFile(path));
}

}  // namespace
