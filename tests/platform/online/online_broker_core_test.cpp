// The broker core message by message: every request's size and count checks at their
// exact limits, malformed requests, and the rules behind lobby lists, tickets, stats,
// leaderboards and cloud files. Answers are read back from the frames the core sends.
// test-sanitize: address
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineStore.h"
#include "platform/online/OnlineTypes.h"
#include "platform/online/OnlineWire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace online;
using namespace online::wire;

namespace {

struct Sent {
    uint32_t session;
    SharedFrame frame;
    const uint8_t* Body() const { return frame->data() + 4; }
    size_t Size() const { return frame->size() - 4; }
};

class Core : public ::testing::Test, public BrokerOutput {
protected:
    void SetUp() override {
        StatsSchema schema;
        const char text[] = "stat I int\nstat F float\nachievement X\n";
        ASSERT_TRUE(schema.Parse(text, sizeof text - 1, nullptr));
        ASSERT_TRUE(core.Open("", schema, nullptr));
        a = SignIn(1);
        b = SignIn(2);
        sent.clear();
    }
    void Deliver(uint32_t session, const SharedFrame& frame, OnlineId) override {
        ASSERT_LE(frame->size(), kMaxFrame + 4u);
        sent.push_back(Sent{session, frame});
    }
    uint32_t SignIn(uint32_t account) {
        const uint32_t s = core.AddSession();
        EXPECT_TRUE(Send(s, kHello, [&](Writer& w) { w.U32(account).Text("P").U32(1).Text("english"); }, 1));
        return s;
    }
    bool Handle(uint32_t session, Writer& w) {
        const std::vector<uint8_t>& f = w.Frame();
        return core.Handle(session, f.data() + 4, f.size() - 4);
    }
    bool Send(uint32_t session, Kind kind, const std::function<void(Writer&)>& build, uint32_t sequence = 2) {
        Writer w(kind, sequence);
        build(w);
        return Handle(session, w);
    }
    // Bodies of one kind sent to a session since the last call (all of them are dropped).
    std::vector<std::vector<uint8_t>> Take(uint32_t session, Kind kind) {
        std::vector<std::vector<uint8_t>> out;
        for (const Sent& s : sent)
            if (s.session == session && s.Body()[0] == kind) out.emplace_back(s.Body(), s.Body() + s.Size());
        sent.clear();
        return out;
    }
    // The records of one callback sent to a session since the last call.
    template <class T>
    std::vector<T> Events(uint32_t session) {
        std::vector<T> out;
        for (const auto& body : Take(session, kEvent)) {
            Reader r(body.data(), body.size());
            const int32_t id = r.I32();
            r.U64();
            uint32_t n = 0;
            const uint8_t* p = r.Bytes(1024, &n);
            T t;
            if (id == T::kCallbackId && n == sizeof t) out.push_back((std::memcpy(&t, p, n), t));
        }
        return out;
    }
    OnlineId CreateLobby(uint32_t session, int32_t type, int32_t maxMembers = 4) {
        EXPECT_TRUE(Send(session, kCreateLobby, [&](Writer& w) { w.U64(1).I32(type).I32(maxMembers); }));
        const auto created = Events<LobbyCreated>(session);
        return created.size() == 1 && created[0].result == kResultOK ? created[0].lobby : 0;
    }
    bool SetData(uint32_t session, Kind kind, OnlineId lobby, const std::string& key, const std::string& value) {
        return Send(session, kind, [&](Writer& w) { w.U64(lobby).Text(key).Text(value); });
    }
    // The ids a lobby list answers with.
    std::vector<OnlineId> List(uint32_t session, const std::function<void(Writer&)>& filters) {
        EXPECT_TRUE(Send(session, kLobbyList, [&](Writer& w) { filters(w.U64(9)); }));
        std::vector<OnlineId> ids;
        for (const auto& body : Take(session, kLobbyListResult)) {
            Reader r(body.data(), body.size());
            r.U64();
            const uint32_t n = r.U32();
            for (uint32_t i = 0; i < n; ++i) {
                ids.push_back(r.U64());
                r.I32(), r.I32(), r.U8(), r.U64();
                for (uint32_t d = r.U32(); d > 0; --d) r.Text(kMaxKey), r.Text(kMaxValue);
                for (uint32_t m = r.U32(); m > 0; --m) {
                    r.U64(), r.Text(kMaxName);
                    for (uint32_t d = r.U32(); d > 0; --d) r.Text(kMaxKey), r.Text(kMaxValue);
                }
            }
        }
        return ids;
    }
    std::vector<uint8_t> Reply(uint32_t session) {
        auto replies = Take(session, kReply);
        EXPECT_EQ(replies.size(), 1u);
        return replies.empty() ? std::vector<uint8_t>() : std::vector<uint8_t>(replies[0].begin() + 5, replies[0].end());
    }

    BrokerCore core{this};
    std::vector<Sent> sent;
    uint32_t a = 0, b = 0;
};

std::string Text(uint32_t n, char c = 't') { return std::string(n, c); }

// n items written by item(w, i) after what w holds.
Writer& Repeat(Writer& w, uint32_t n, const std::function<void(Writer&, uint32_t)>& item) {
    for (uint32_t i = 0; i < n; ++i) item(w, i);
    return w;
}

// One request kind, built with a variable size n at one of its checked fields.
struct SizeRule {
    const char* what;
    uint32_t limit;  // n = limit is accepted, limit + 1 refused
    std::function<void(Writer&, uint32_t n)> build;
    Kind kind;
};

TEST_F(Core, EveryCheckedSizeIsAcceptedAtItsLimitAndRefusedOnePast) {
    const OnlineId lobby = CreateLobby(a, kLobbyPublic);
    const OnlineId user = MakeUserId(2);
    const std::vector<SizeRule> rules = {
        {"lobby key", kMaxKey, [&](Writer& w, uint32_t n) { w.U64(lobby).Text(Text(n)).Text("v"); }, kSetLobbyData},
        {"lobby value", kMaxValue, [&](Writer& w, uint32_t n) { w.U64(lobby).Text("k").Text(Text(n)); }, kSetLobbyData},
        {"member key", kMaxKey, [&](Writer& w, uint32_t n) { w.U64(lobby).Text(Text(n)).Text("v"); }, kSetMemberData},
        {"member value", kMaxValue, [&](Writer& w, uint32_t n) { w.U64(lobby).Text("k").Text(Text(n)); }, kSetMemberData},
        {"chat", kMaxChatMessage, [&](Writer& w, uint32_t n) { w.U64(lobby).Text(Text(n)); }, kChat},
        {"reliable packet", kMaxReliablePacket, [&](Writer& w, uint32_t n) { w.U64(user).U8(1).I32(0).Text(Text(n)); }, kP2PSend},
        {"unreliable packet", kMaxUnreliablePacket, [&](Writer& w, uint32_t n) { w.U64(user).U8(0).I32(0).Text(Text(n)); }, kP2PSend},
        {"ticket", kMaxTicketBytes, [&](Writer& w, uint32_t n) { w.U64(user).U32(0).Text(Text(n)); }, kValidateTicket},
        {"leaderboard name", kMaxName, [&](Writer& w, uint32_t n) { w.U64(1).Text(Text(n)); }, kFindLeaderboard},
        {"score details", kMaxLeaderboardDetails, [&](Writer& w, uint32_t n) { Repeat(w.U64(1).U64(1).I32(kUploadKeepBest).I32(5).U32(n), n, [](Writer& w, uint32_t) { w.I32(1); }); }, kUploadScore},
        {"file name", kMaxName, [&](Writer& w, uint32_t n) { w.Text(Text(n)).Text("d"); }, kFileWrite},
        {"file data", kMaxCloudFile, [&](Writer& w, uint32_t n) { w.Text("f").Text(Text(n)); }, kFileWrite},
        {"read name", kMaxName, [&](Writer& w, uint32_t n) { w.Text(Text(n)); }, kFileRead},
        {"string filters", 64, [&](Writer& w, uint32_t n) { Repeat(w.U64(1).U32(n), n, [](Writer& w, uint32_t) { w.Text("k").Text("v").I32(kCompareEqual); }).U32(0).U32(0).I32(0); }, kLobbyList},
        {"string filter value", kMaxValue, [&](Writer& w, uint32_t n) { w.U64(1).U32(1).Text("k").Text(Text(n)).I32(0).U32(0).U32(0).I32(0); }, kLobbyList},
        {"numeric filters", 64, [&](Writer& w, uint32_t n) { Repeat(w.U64(1).U32(0).U32(n), n, [](Writer& w, uint32_t) { w.Text("k").I32(1).I32(kCompareEqual); }).U32(0).I32(0); }, kLobbyList},
        {"near filters", 64, [&](Writer& w, uint32_t n) { Repeat(w.U64(1).U32(0).U32(0).U32(n), n, [](Writer& w, uint32_t) { w.Text(Text(kMaxKey)).I32(1); }).I32(0); }, kLobbyList},
        {"stats", 4096, [&](Writer& w, uint32_t n) { Repeat(w.U32(n), n, [](Writer& w, uint32_t i) { w.Text("I").U8(0).U32(i); }).U32(0); }, kStoreStats},
        {"stat name", 127, [&](Writer& w, uint32_t n) { w.U32(1).Text(Text(n)).U8(0).U32(1).U32(0); }, kStoreStats},
        {"achievements", 4096, [&](Writer& w, uint32_t n) { Repeat(w.U32(0).U32(n), n, [](Writer& w, uint32_t) { w.Text("X").U8(1); }); }, kStoreStats},
    };
    for (const SizeRule& rule : rules)
        for (uint32_t n : {rule.limit, rule.limit + 1}) {
            EXPECT_EQ(Send(a, rule.kind, [&](Writer& w) { rule.build(w, n); }), n == rule.limit) << rule.what << " " << n;
            sent.clear();
        }
    // Sign-in fields, on fresh sessions.
    const std::pair<uint32_t, uint32_t> hello[] = {{kMaxName, 64}, {kMaxName + 1, 64}, {kMaxName, 65}};
    for (const auto& [persona, language] : hello)
        EXPECT_EQ(Send(core.AddSession(), kHello, [&](Writer& w) { w.U32(7).Text(Text(persona)).U32(1).Text(Text(language)); }),
                  persona == kMaxName && language == 64)
            << persona << " " << language;
}

TEST_F(Core, MalformedRequestsAreRefusedWhole) {
    const OnlineId lobby = CreateLobby(a, kLobbyPublic);
    // One well-formed request of every kind; each must fail with a byte more or less.
    const std::vector<std::pair<Kind, std::function<void(Writer&)>>> requests = {
        {kCreateLobby, [](Writer& w) { w.U64(1).I32(kLobbyPublic).I32(2); }},
        {kJoinLobby, [&](Writer& w) { w.U64(1).U64(lobby); }},
        {kLeaveLobby, [&](Writer& w) { w.U64(lobby + 1); }},
        {kSetLobbyData, [&](Writer& w) { w.U64(lobby).Text("k").Text("v"); }},
        {kSetMemberData, [&](Writer& w) { w.U64(lobby).Text("k").Text("v"); }},
        {kSetJoinable, [&](Writer& w) { w.U64(lobby).U8(1); }},
        {kSetOwner, [&](Writer& w) { w.U64(lobby).U64(MakeUserId(1)); }},
        {kChat, [&](Writer& w) { w.U64(lobby).Text("hi"); }},
        {kLobbyList, [](Writer& w) { w.U64(1).U32(0).U32(0).U32(0).I32(0); }},
        {kInvite, [&](Writer& w) { w.U64(lobby).U32(2); }},
        {kP2PSend, [](Writer& w) { w.U64(MakeUserId(2)).U8(1).I32(0).Text("p"); }},
        {kGetTicket, [](Writer&) {}},
        {kCancelTicket, [](Writer& w) { w.U32(1); }},
        {kValidateTicket, [](Writer& w) { w.U64(MakeUserId(1)).U32(0).Text("t"); }},
        {kUserInfo, [](Writer& w) { w.U64(MakeUserId(2)); }},
        {kGetStats, [](Writer&) {}},
        {kStoreStats, [](Writer& w) { w.U32(1).Text("I").U8(0).U32(3).U32(1).Text("X").U8(1); }},
        {kFindLeaderboard, [](Writer& w) { w.U64(1).Text("B"); }},
        {kDownloadEntries, [](Writer& w) { w.U64(1).U64(1).I32(0).I32(1).I32(10); }},
        {kUploadScore, [](Writer& w) { w.U64(1).U64(1).I32(kUploadKeepBest).I32(5).U32(1).I32(2); }},
        {kFileWrite, [](Writer& w) { w.Text("f").Text("d"); }},
        {kFileRead, [](Writer& w) { w.Text("f"); }},
    };
    for (const auto& [kind, build] : requests) {
        Writer good(kind, 3);
        build(good);
        EXPECT_TRUE(Handle(a, good)) << int(kind);
        std::vector<uint8_t> body(good.Frame().begin() + 4, good.Frame().end());
        body.push_back(0);
        EXPECT_FALSE(core.Handle(a, body.data(), body.size())) << "trailing byte, kind " << int(kind);
        EXPECT_FALSE(core.Handle(a, body.data(), body.size() - 2)) << "cut, kind " << int(kind);
        EXPECT_FALSE(Handle(core.AddSession(), good)) << "no sign-in, kind " << int(kind);
    }
    // Control messages belong to the broker program; unknown kinds, a second sign-in,
    // account 0, an empty body and one beyond the frame limit are refused.
    EXPECT_FALSE(Send(a, kControl, [](Writer& w) { w.Text("stop").Text(""); }));
    EXPECT_FALSE(Send(a, static_cast<Kind>(200), [](Writer&) {}));
    for (uint32_t account : {1u, 0u})
        EXPECT_FALSE(Send(account ? a : core.AddSession(), kHello, [&](Writer& w) { w.U32(account).Text("P").U32(1).Text("english"); }));
    EXPECT_FALSE(core.Handle(a, nullptr, 0));
    std::vector<uint8_t> huge(kMaxFrame + 1, 0);
    huge[0] = kGetTicket;
    EXPECT_FALSE(core.Handle(a, huge.data(), huge.size()));
    EXPECT_FALSE(Send(999, kGetTicket, [](Writer&) {}));  // no such session
}

TEST_F(Core, LobbyCreationChecksTypeAndSize) {
    const struct { int32_t type, maxMembers; bool created; } cases[] = {{kLobbyPrivate - 1, 2, false}, {kLobbyPrivate, 2, true}, {kLobbyInvisible, 2, true},
                 {kLobbyInvisible + 1, 2, false}, {kLobbyPublic, 0, false}, {kLobbyPublic, 1, true},
                 {kLobbyPublic, 250, true}, {kLobbyPublic, 251, false}};
    for (const auto& c : cases) {
        ASSERT_TRUE(Send(a, kCreateLobby, [&](Writer& w) { w.U64(1).I32(c.type).I32(c.maxMembers); }));
        const auto created = Events<LobbyCreated>(a);
        ASSERT_EQ(created.size(), 1u);
        EXPECT_EQ(created[0].result, c.created ? kResultOK : kResultInvalidParam) << c.type << " " << c.maxMembers;
        EXPECT_EQ(IsValidLobbyId(created[0].lobby), c.created);
    }
}

TEST_F(Core, OnlyTheOwnerChangesALobbyAndOnlyMembersTakePart) {
    const OnlineId lobby = CreateLobby(a, kLobbyPublic, 3);
    const OnlineId ida = MakeUserId(1), idb = MakeUserId(2), idc = MakeUserId(3);
    const uint32_t c = SignIn(3);
    auto send = [&](uint32_t session, Kind kind, const std::function<void(Writer&)>& build) { EXPECT_TRUE(Send(session, kind, build)); };
    auto updates = [&](uint32_t session) { return Events<LobbyDataUpdate>(session).size(); };
    auto join = [&](uint32_t session, OnlineId id) {
        send(session, kJoinLobby, [&](Writer& w) { w.U64(1).U64(id); });
        const auto e = Events<LobbyEnter>(session);
        return e.empty() ? 0u : e.back().response;
    };
    EXPECT_EQ(join(b, lobby), kEnterSuccess);
    EXPECT_EQ(join(b, lobby), kEnterSuccess);  // already in: answered again, nothing changes
    EXPECT_EQ(join(b, lobby + 1), kEnterDoesNotExist);
    // Owner changes: not by a member, not to oneself or a stranger, and only real changes.
    // target: the new owner or the joinable flag; updates: raised at the owner
    const struct { uint32_t session; Kind kind; OnlineId target; size_t updates; } changes[] = {{b, kSetOwner, idb, 0},     {a, kSetOwner, ida, 0},     {a, kSetOwner, idc, 0},
                   {b, kSetJoinable, 0, 0},    {a, kSetJoinable, 1, 0},    {a, kSetJoinable, 0, 1},
                   {a, kSetOwner, idb, 1}};
    for (const auto& ch : changes) {
        send(ch.session, ch.kind, [&](Writer& w) {
            w.U64(lobby);
            ch.kind == kSetOwner ? w.U64(ch.target) : w.U8(static_cast<uint8_t>(ch.target));
        });
        EXPECT_EQ(updates(a), ch.updates) << ch.kind << " " << ch.target;
    }
    EXPECT_EQ(join(c, lobby), kEnterNotAllowed);
    send(b, kSetJoinable, [&](Writer& w) { w.U64(lobby).U8(1); });  // b owns it now
    EXPECT_EQ(join(c, lobby), kEnterSuccess);
    EXPECT_EQ(join(SignIn(4), lobby), kEnterFull);
    // Strangers neither chat, set data, nor leave; members leave with a goodbye.
    const uint32_t d = SignIn(5);
    sent.clear();
    send(d, kChat, [&](Writer& w) { w.U64(lobby).Text("x"); });
    send(d, kSetMemberData, [&](Writer& w) { w.U64(lobby).Text("k").Text("v"); });
    send(d, kLeaveLobby, [&](Writer& w) { w.U64(lobby); });
    EXPECT_TRUE(sent.empty());
    send(c, kLeaveLobby, [&](Writer& w) { w.U64(lobby); });
    EXPECT_EQ(Take(c, kLobbyGone).size(), 1u);
    // Invitations reach online users only, for lobbies that exist.
    const struct { OnlineId lobby; uint32_t account; size_t delivered; } invites[] = {{lobby, 1, 1}, {lobby, 9, 0}, {lobby + 1, 1, 0}};
    for (const auto& inv : invites) {
        send(b, kInvite, [&](Writer& w) { w.U64(inv.lobby).U32(inv.account); });
        EXPECT_EQ(Events<GameLobbyJoinRequested>(a).size(), inv.delivered) << inv.account;
    }
}

TEST_F(Core, PeerPacketsReachOnlineUsersAndReportAFailureOncePerSignIn) {
    auto sendTo = [&](OnlineId target) {
        EXPECT_TRUE(Send(a, kP2PSend, [&](Writer& w) { w.U64(target).U8(1).I32(0).Text("p"); }));
        return Events<P2PSessionConnectFail>(a).size();
    };
    EXPECT_EQ(sendTo(MakeUserId(3)), 1u);
    EXPECT_EQ(sendTo(MakeUserId(3)), 0u);
    EXPECT_EQ(sendTo(MakeLobbyId(3)), 1u);
    const uint32_t c = SignIn(3);
    EXPECT_EQ(sendTo(MakeUserId(3)), 0u);
    core.RemoveSession(c);
    EXPECT_EQ(sendTo(MakeUserId(3)), 1u);  // gone again: reported again
    ASSERT_TRUE(Send(a, kP2PSend, [](Writer& w) { w.U64(MakeUserId(2)).U8(0).I32(7).Text("u"); }));
    const auto packets = Take(b, kP2PPacket);
    ASSERT_EQ(packets.size(), 1u);
    Reader r(packets[0].data(), packets[0].size());
    EXPECT_EQ(r.U64(), MakeUserId(1));
    EXPECT_EQ(r.U8(), 0);
    EXPECT_EQ(r.I32(), 7);
}

TEST_F(Core, LobbyDataIsCappedByEntriesAndByBytes) {
    const OnlineId lobby = CreateLobby(a, kLobbyPublic, 8);
    const std::string value = Text(kMaxValue);
    auto key = [](int i) { return std::to_string(1000 + i) + Text(kMaxKey - 4, 'k'); };
    auto updates = [&](uint32_t session) { return Events<LobbyDataUpdate>(session).size(); };
    // 256 entries per owner: the 257th new key is ignored, an existing one still changes.
    for (int i = 0; i < 256; ++i, sent.clear()) ASSERT_TRUE(SetData(a, kSetLobbyData, lobby, key(i), value));
    EXPECT_TRUE(SetData(a, kSetLobbyData, lobby, key(256), "v"));
    EXPECT_EQ(updates(a), 0u);
    EXPECT_TRUE(SetData(a, kSetLobbyData, lobby, key(0), "v"));
    EXPECT_EQ(updates(a), 1u);
    EXPECT_TRUE(SetData(a, kSetLobbyData, lobby, key(0), "v"));  // unchanged: no update
    EXPECT_EQ(updates(a), 0u);
    // Members' data counts too: a lobby holds at most what one frame carries beside 250
    // members' ids, names and counts (276 bytes each) and a kilobyte of headers.
    constexpr size_t kCap = 9 * 1024 * 1024 - 250 * 276 - 1024;
    constexpr size_t kEntry = 8 + kMaxKey + kMaxValue;
    size_t bytes = 255 * kEntry + 8 + kMaxKey + 1;
    std::vector<uint32_t> members;
    for (uint32_t account = 10; bytes + kEntry <= kCap; ++account) {
        members.push_back(SignIn(account));
        ASSERT_TRUE(Send(members.back(), kJoinLobby, [&](Writer& w) { w.U64(1).U64(lobby); }));
        for (int i = 0; i < 256 && bytes + kEntry <= kCap; ++i, bytes += kEntry) {
            ASSERT_TRUE(SetData(members.back(), kSetMemberData, lobby, key(i), value));
            sent.clear();
        }
    }
    const uint32_t last = members.back();
    EXPECT_TRUE(SetData(last, kSetMemberData, lobby, "k", Text(static_cast<uint32_t>(kCap - bytes - 9))));
    EXPECT_EQ(updates(last), 1u);  // exactly full
    EXPECT_TRUE(SetData(last, kSetMemberData, lobby, "j", ""));
    EXPECT_EQ(updates(last), 0u);  // one entry more would not fit
    // A leaving member's data frees its room.
    ASSERT_TRUE(Send(members.front(), kLeaveLobby, [&](Writer& w) { w.U64(lobby); }));
    sent.clear();
    EXPECT_TRUE(SetData(last, kSetMemberData, lobby, "j", ""));
    EXPECT_EQ(updates(last), 1u);
}

TEST_F(Core, LobbyListShowsListableLobbiesThatPassEveryFilter) {
    // Which lobbies are listed at all.
    const OnlineId open = CreateLobby(a, kLobbyPublic, 2);
    CreateLobby(a, kLobbyPrivate);
    CreateLobby(a, kLobbyFriendsOnly);
    const OnlineId hidden = CreateLobby(a, kLobbyInvisible);  // listed once it has data
    const OnlineId closed = CreateLobby(a, kLobbyPublic);
    ASSERT_TRUE(Send(a, kSetJoinable, [&](Writer& w) { w.U64(closed).U8(0); }));
    const auto none = [](Writer& w) { w.U32(0).U32(0).U32(0).I32(0); };
    EXPECT_EQ(List(b, none), (std::vector<OnlineId>{open}));
    ASSERT_TRUE(SetData(a, kSetLobbyData, hidden, "n", "5"));
    EXPECT_EQ(List(b, none), (std::vector<OnlineId>{open, hidden}));
    ASSERT_TRUE(Send(b, kJoinLobby, [&](Writer& w) { w.U64(1).U64(open); }));  // now full
    EXPECT_EQ(List(b, none), (std::vector<OnlineId>{hidden}));

    // Numeric filters compare "lobby value OP given value"; values that are no number fail.
    // below, equal, above: the lobby's 5 against given values 6, 5 and 4
    const struct { int32_t cmp; bool below, equal, above; } ops[] = {{kCompareLessOrEqual, true, true, false}, {kCompareLess, true, false, false},
               {kCompareEqual, false, true, false},      {kCompareGreater, false, false, true},
               {kCompareGreaterOrEqual, false, true, true}, {kCompareNotEqual, true, false, true},
               {7, false, false, false}};
    for (const auto& op : ops) {
        const bool expected[3] = {op.below, op.equal, op.above};
        for (int32_t given = 6; given >= 4; --given) {
            const auto hits = List(b, [&](Writer& w) { w.U32(0).U32(1).Text("n").I32(given).I32(op.cmp).U32(0).I32(0); });
            EXPECT_EQ(hits.size(), expected[6 - given] ? 1u : 0u) << op.cmp << " " << given;
        }
    }
    for (const char* bad : {"5x", ""}) {
        ASSERT_TRUE(SetData(a, kSetLobbyData, hidden, "n", bad));
        EXPECT_TRUE(List(b, [](Writer& w) { w.U32(0).U32(1).Text("n").I32(5).I32(kCompareLessOrEqual).U32(0).I32(0); }).empty()) << bad;
    }
    EXPECT_TRUE(List(b, [](Writer& w) { w.U32(0).U32(1).Text("m").I32(5).I32(kCompareNotEqual).U32(0).I32(0); }).empty());
    // String filters: equal and not equal (a missing key reads as empty); other comparisons match nothing.
    ASSERT_TRUE(SetData(a, kSetLobbyData, hidden, "s", "x"));
    const struct { const char* key; const char* value; int32_t cmp; bool hit; } strings[] = {{"s", "x", kCompareEqual, true},  {"s", "y", kCompareEqual, false}, {"s", "x", kCompareNotEqual, false},
                   {"s", "y", kCompareNotEqual, true}, {"t", "", kCompareEqual, true},  {"s", "x", kCompareLess, false}};
    for (const auto& f : strings) {
        const auto hits = List(b, [&](Writer& w) { w.U32(1).Text(f.key).Text(f.value).I32(f.cmp).U32(0).U32(0).I32(0); });
        EXPECT_EQ(hits.size(), f.hit ? 1u : 0u) << f.key << " " << f.value << " " << f.cmp;
    }
    // Every filter must pass: a passing string filter does not rescue a failing one.
    EXPECT_TRUE(List(b, [](Writer& w) {
                    w.U32(2).Text("s").Text("y").I32(kCompareEqual).Text("s").Text("x").I32(kCompareEqual).U32(0).U32(0).I32(0);
                }).empty());
}

TEST_F(Core, NearFilterOrdersByExactDistanceOverTheWholeNumberRange) {
    // Values at the ends of the 64-bit range, one that is no number, one lobby without
    // the key (lobbies without a distance come last, oldest first), and one 2^63 away
    // from INT32_MAX, which a wrapped subtraction would place wrongly.
    const char* const values[] = {"9223372036854775807", "0", "-9223372036854775808", "x", nullptr, "-9223372034707292161"};
    std::vector<OnlineId> lobbies;
    for (const char* v : values) {
        lobbies.push_back(CreateLobby(a, kLobbyPublic));
        if (v) {
            ASSERT_TRUE(SetData(a, kSetLobbyData, lobbies.back(), "n", v));
        }
    }
    // order: indices into values
    const struct { int32_t near; int order[6]; } cases[] = {{-1, {1, 5, 2, 0, 3, 4}}, {1, {1, 5, 0, 2, 3, 4}}, {INT32_MAX, {1, 0, 5, 2, 3, 4}},
                 {INT32_MIN, {1, 5, 2, 0, 3, 4}}};
    for (const auto& c : cases) {
        const auto hits = List(b, [&](Writer& w) { w.U32(0).U32(0).U32(1).Text("n").I32(c.near).I32(0); });
        std::vector<OnlineId> expected;
        for (int i : c.order) expected.push_back(lobbies[i]);
        EXPECT_EQ(hits, expected) << c.near;
    }
}

TEST_F(Core, ALobbyListCarriesTheLobbiesThatFitOneFrame) {
    // Snapshots count with their members' names at the longest: 33 bytes, 276 for the one
    // member, and the data. Four lobbies of 256 longest entries, and a fifth filled so
    // that the answer (17 bytes of its own) is exactly one frame, then one byte more.
    constexpr size_t kEntry = 8 + kMaxKey + kMaxValue, kLobby = 33 + 276;
    const std::string value = Text(kMaxValue);
    auto key = [](size_t i) { return std::to_string(1000 + i) + Text(kMaxKey - 4, 'k'); };
    std::vector<OnlineId> lobbies;
    for (int l = 0; l < 5; ++l) {
        lobbies.push_back(CreateLobby(a, kLobbyPublic));
        for (size_t i = 0; i < (l < 4 ? 256u : 0u); ++i, sent.clear()) ASSERT_TRUE(SetData(a, kSetLobbyData, lobbies[l], key(i), value));
    }
    size_t rest = kMaxFrame - 17 - 4 * (kLobby + 256 * kEntry) - kLobby, i = 0;
    for (; rest > kEntry; rest -= kEntry, sent.clear()) ASSERT_TRUE(SetData(a, kSetLobbyData, lobbies[4], key(i++), value));
    const auto none = [](Writer& w) { w.U32(0).U32(0).U32(0).I32(0); };
    for (size_t extra : {0, 1}) {
        ASSERT_TRUE(SetData(a, kSetLobbyData, lobbies[4], key(i), Text(static_cast<uint32_t>(rest - 8 - kMaxKey + extra))));
        EXPECT_EQ(List(b, none).size(), extra ? 4u : 5u);
    }
}

TEST_F(Core, LobbyListResultCountDefaultsToFifty) {
    for (int i = 0; i < 52; ++i) CreateLobby(a, kLobbyPublic);
    const struct { int32_t count; size_t listed; } cases[] = {{0, 50}, {-1, 50}, {1, 1}, {51, 51}, {60, 52}};
    for (const auto& c : cases)
        EXPECT_EQ(List(b, [&](Writer& w) { w.U32(0).U32(0).U32(0).I32(c.count); }).size(), c.listed) << c.count;
}

TEST_F(Core, TicketsValidateOnlyUnchangedForTheirOwner) {
    auto issue = [&](uint32_t session, uint32_t* handle) {
        EXPECT_TRUE(Send(session, kGetTicket, [](Writer&) {}));
        const std::vector<uint8_t> reply = Reply(session);
        Reader r(reply.data(), reply.size(), false);
        *handle = r.U32();
        uint32_t n = 0;
        const uint8_t* p = r.Bytes(kMaxTicketBytes, &n);
        return std::vector<uint8_t>(p, p + n);
    };
    auto validate = [&](const std::vector<uint8_t>& ticket, OnlineId claimed, uint32_t forced = 0) {
        EXPECT_TRUE(Send(b, kValidateTicket, [&](Writer& w) { w.U64(claimed).U32(forced).Bytes(ticket.data(), ticket.size()); }));
        const auto v = Events<ValidateAuthTicketResponse>(b);
        return v.size() == 1 ? v[0].response : 99u;
    };
    uint32_t handle = 0, other = 0;
    const std::vector<uint8_t> ticket = issue(a, &handle);
    issue(b, &other);
    const OnlineId owner = MakeUserId(1);
    ASSERT_EQ(ticket.size(), 32u);
    EXPECT_EQ(validate(ticket, owner), kAuthOK);
    EXPECT_EQ(validate(ticket, owner, 5), 5u);  // the forced failure replaces only a success
    EXPECT_EQ(validate(ticket, MakeUserId(2), 5), kAuthTicketInvalid);
    // Any changed byte, or a ticket of another length, is invalid.
    for (size_t i = 0; i < ticket.size(); ++i) {
        std::vector<uint8_t> t = ticket;
        t[i] ^= 0x40;
        EXPECT_EQ(validate(t, owner), kAuthTicketInvalid) << i;
    }
    std::vector<uint8_t> longer = ticket;
    EXPECT_EQ(validate((longer.push_back(0), longer), owner), kAuthTicketInvalid);
    EXPECT_EQ(validate(std::vector<uint8_t>(ticket.begin(), ticket.end() - 1), owner), kAuthTicketInvalid);
    // Only the owner cancels a ticket.
    const auto cancel = [&](Writer& w) { w.U32(handle); };
    ASSERT_TRUE(Send(b, kCancelTicket, cancel));
    EXPECT_EQ(validate(ticket, owner), kAuthOK);
    ASSERT_TRUE(Send(a, kCancelTicket, cancel));
    EXPECT_EQ(validate(ticket, owner), kAuthTicketCanceled);
    EXPECT_EQ(validate(ticket, owner, 5), kAuthTicketCanceled);
}

TEST(StatsSchema, HoldsUpTo4096EntriesInAtMostOneMebibyte) {
    std::string text = "# stats\n\nstat s0 int\nstat s1 float\n";
    for (int i = 2; i < 4096; ++i) text += "achievement a" + std::to_string(i) + "\n";
    StatsSchema schema;
    std::string error;
    ASSERT_TRUE(schema.Parse(text.data(), text.size(), &error)) << error;
    EXPECT_EQ(schema.stats.size(), 2u);
    EXPECT_EQ(schema.stats[1].type, 1);
    EXPECT_EQ(schema.achievements.size(), 4094u);
    EXPECT_FALSE(schema.Parse((text + "achievement more\n").data(), text.size() + 17, &error));
    EXPECT_EQ(error, "schema line 4099 is malformed");
    EXPECT_TRUE(schema.stats.empty());
    const char* bad[] = {"stat x long\n", "stat x\n", "achievement\n", "achievement a b\n", "trophy t\n"};
    for (const char* line : bad) EXPECT_FALSE(schema.Parse(line, std::strlen(line), nullptr)) << line;
    std::string longName = "achievement " + std::string(127, 'n') + "\n";
    EXPECT_TRUE(schema.Parse(longName.data(), longName.size(), nullptr));
    longName.insert(12, "n");
    EXPECT_FALSE(schema.Parse(longName.data(), longName.size(), nullptr));
    std::string big(1 << 20, '#');
    EXPECT_TRUE(schema.Parse(big.data(), big.size(), nullptr));
    big.push_back('\n');
    EXPECT_FALSE(schema.Parse(big.data(), big.size(), &error));
}

TEST_F(Core, StatsFollowTheSchemaAndReportNewUnlocksOnce) {
    auto store = [&](uint32_t session, std::vector<std::tuple<const char*, uint8_t, uint32_t>> stats,
                     std::vector<std::pair<const char*, uint8_t>> achievements) {
        EXPECT_TRUE(Send(session, kStoreStats, [&](Writer& w) {
            w.U32(static_cast<uint32_t>(stats.size()));
            for (auto& [n, t, v] : stats) w.Text(n).U8(t).U32(v);
            w.U32(static_cast<uint32_t>(achievements.size()));
            for (auto& [n, u] : achievements) w.Text(n).U8(u);
        }));
        const std::vector<uint8_t> reply = Reply(session);
        Reader r(reply.data(), reply.size(), false);
        std::vector<std::string> out{std::to_string(r.U32())};
        for (uint32_t n = r.U32(); n > 0; --n) out.push_back(r.Text(127));
        return out;
    };
    const std::string ok = std::to_string(kResultOK), invalid = std::to_string(kResultInvalidParam);
    using V = std::vector<std::string>;
    EXPECT_EQ(store(a, {{"I", 1, 3}}, {}), (V{invalid}));  // wrong type
    EXPECT_EQ(store(a, {{"Q", 0, 3}}, {}), (V{invalid}));    // unknown stat
    EXPECT_EQ(store(a, {}, {{"Y", 1}}), (V{invalid}));        // unknown achievement
    for (uint32_t bits : {0x7FC00000u, 0x7F800000u, 0xFF800000u})  // not a number, infinities: refused whole
        EXPECT_EQ(store(a, {{"I", 0, 7}, {"F", 1, bits}}, {}), (V{invalid})) << bits;
    EXPECT_EQ(store(a, {{"I", 0, 0xFFFFFFFF}, {"F", 1, 0x40490FDB}}, {{"X", 0}}), (V{ok}));
    EXPECT_EQ(store(a, {}, {{"X", 1}}), (V{ok, "X"}));
    EXPECT_EQ(store(a, {}, {{"X", 1}}), (V{ok}));  // already unlocked
    EXPECT_EQ(store(b, {}, {{"X", 1}}), (V{ok, "X"}));
    ASSERT_TRUE(Send(a, kGetStats, [](Writer&) {}));
    Writer expected(kReply);
    expected.U32(kResultOK).U32(2).Text("I").U8(0).U32(0xFFFFFFFFu).Text("F").U8(1).U32(0x40490FDBu).U32(1).Text("X").U8(1);
    EXPECT_EQ(Reply(a), std::vector<uint8_t>(expected.Frame().begin() + 9, expected.Frame().end()));
}

TEST_F(Core, LeaderboardRangesAreClampedAndCapped) {
    auto find = [&](const std::string& name) {
        EXPECT_TRUE(Send(a, kFindLeaderboard, [&](Writer& w) { w.U64(1).Text(name); }));
        const auto info = Take(a, kLeaderboardInfo);
        Reader r(info[0].data(), info[0].size());
        r.U64();
        return static_cast<int64_t>(r.U64());
    };
    EXPECT_EQ(find(""), 0);
    const int64_t board = find("B");
    ASSERT_GT(board, 0);
    // Accounts 100..5104 score 5005 down to 1: account 100 + i holds rank i + 1.
    ASSERT_TRUE(core.Store().AddFriends(1, 103));
    for (uint32_t i = 0; i < 5005; ++i) ASSERT_TRUE(core.Store().PutScore(board, StoredScore{100 + i, static_cast<int32_t>(5005 - i), {}}));
    ASSERT_TRUE(core.Store().PutScore(board, StoredScore{1, 4000, {}}));  // rank 1006, after account 1105's equal score
    auto download = [&](int64_t which, int32_t request, int32_t start, int32_t end) {
        EXPECT_TRUE(Send(a, kDownloadEntries, [&](Writer& w) { w.U64(2).U64(static_cast<uint64_t>(which)).I32(request).I32(start).I32(end); }));
        const auto entries = Take(a, kEntries);
        Reader r(entries[0].data(), entries[0].size());
        r.U64(), r.U64(), r.I32();
        std::vector<int32_t> ranks;
        for (uint32_t n = r.U32(); n > 0; --n) {
            r.U64(), r.Text(kMaxName);
            ranks.push_back(r.I32());
            r.I32();
            for (uint32_t d = r.U32(); d > 0; --d) r.I32();
        }
        return ranks;
    };
    using R = std::vector<int32_t>;
    EXPECT_EQ(download(board, kLeaderboardGlobal, 0, 2), (R{1, 2}));
    EXPECT_EQ(download(board, kLeaderboardGlobal, 5005, 9000), (R{5005, 5006}));
    EXPECT_EQ(download(board, kLeaderboardGlobal, 3, 2), R{});
    EXPECT_EQ(download(board, kLeaderboardGlobal, 1, 6000).size(), 5000u);  // at most 5000 rows
    EXPECT_EQ(download(board, kLeaderboardAroundUser, -1, 1), (R{1006, 1007, 1008}));
    EXPECT_EQ(download(board, kLeaderboardFriends, 0, 0), (R{4, 1007}));
    EXPECT_EQ(download(board, 3, 0, 10), R{});
    EXPECT_EQ(download(board + 1, kLeaderboardGlobal, 1, 10), R{});
    EXPECT_EQ(download(0, kLeaderboardGlobal, 1, 10), R{});
}

TEST_F(Core, ScoreUploadsKeepTheBetterScoreForTheBoardsOrder) {
    ASSERT_TRUE(core.Store().DefineBoard("up", kSortAscending));
    ASSERT_TRUE(core.Store().DefineBoard("down", kSortDescending));
    auto upload = [&](const char* name, int32_t method, int32_t score) {
        const int64_t board = core.Store().FindBoard(name, false, nullptr);
        EXPECT_TRUE(Send(a, kUploadScore, [&](Writer& w) {
            w.U64(3).U64(static_cast<uint64_t>(board)).I32(method).I32(score).U32(3).I32(INT32_MIN).I32(-2).I32(score);
        }));
        const auto up = Take(a, kScoreUploaded);
        Reader r(up[0].data(), up[0].size());
        r.U64();
        const uint8_t success = r.U8();
        r.U64(), r.I32();
        const uint8_t changed = r.U8();
        return std::pair<int, int>(success, changed);
    };
    using P = std::pair<int, int>;
    EXPECT_EQ(upload("up", kUploadKeepBest, 10), P(1, 1));
    EXPECT_EQ(upload("up", kUploadKeepBest, 10), P(1, 0));  // equal is not better
    EXPECT_EQ(upload("up", kUploadKeepBest, 11), P(1, 0));
    EXPECT_EQ(upload("up", kUploadKeepBest, 9), P(1, 1));
    EXPECT_EQ(upload("down", kUploadKeepBest, 10), P(1, 1));
    EXPECT_EQ(upload("down", kUploadKeepBest, 9), P(1, 0));
    EXPECT_EQ(upload("down", kUploadKeepBest, 11), P(1, 1));
    EXPECT_EQ(upload("down", kUploadForceUpdate, 11), P(1, 0));  // forced but the same
    EXPECT_EQ(upload("down", kUploadForceUpdate, 2), P(1, 1));
    EXPECT_EQ(upload("down", 0, 50), P(0, 0));
    EXPECT_EQ(upload("down", 3, 50), P(0, 0));
    EXPECT_EQ(upload("none", kUploadKeepBest, 50), P(0, 0));
    // The stored entry keeps the score and its details.
    const auto ranked = core.Store().Ranked(core.Store().FindBoard("down", false, nullptr));
    ASSERT_EQ(ranked.size(), 1u);
    EXPECT_EQ(ranked[0].score, 2);
    EXPECT_EQ(ranked[0].details, (std::vector<int32_t>{INT32_MIN, -2, 2}));
}

TEST_F(Core, CloudFilesNeedANameAndArePerAccount) {
    auto write = [&](uint32_t session, const std::string& name, const std::string& data) {
        EXPECT_TRUE(Send(session, kFileWrite, [&](Writer& w) { w.Text(name).Text(data); }));
        return Reply(session) == std::vector<uint8_t>{1};
    };
    auto read = [&](uint32_t session, const std::string& name) {
        EXPECT_TRUE(Send(session, kFileRead, [&](Writer& w) { w.Text(name); }));
        const std::vector<uint8_t> reply = Reply(session);
        return reply[0] ? std::string(reply.begin() + 5, reply.end()) : std::string("(none)");
    };
    EXPECT_FALSE(write(a, "", "x"));
    EXPECT_TRUE(write(a, "f", "abc"));
    EXPECT_TRUE(write(a, "e", ""));
    EXPECT_EQ(read(a, "f"), "abc");
    EXPECT_EQ(read(a, "e"), "");
    EXPECT_EQ(read(b, "f"), "(none)");
    EXPECT_EQ(read(a, ""), "(none)");
}

}  // namespace
