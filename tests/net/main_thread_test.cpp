// The main thread's side of the multiplayer engine: the command records it writes, the
// callbacks it handles, the players, the lobby reads and the full callback queue.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CaptureLogSink.h"
#include "NetTestSupport.h"
#include "core/config/GameConfig.h"
#include "engine/entity/EntityTestSupport.h"
#include "engine/services/GameServices.h"
#include "engine/services/UIServices.h"
#include "engine/script/LuaUnicodeString.h"
#include "net/LoopbackNetDriver.h"
#include "net/MultiplayerEngine.h"
#include "net/Player.h"

// The running Game's command line.
struct ArgumentsGame : GameServices {
    int GetArgumentCount() const override { return argc; }
    const char* GetArgument(int index) const override { return index >= 0 && index < argc ? argv[index] : nullptr; }
    char** argv = nullptr;
    int argc = 0;
};

namespace {

using nettest::RecordingDelegate;

class MainThreadTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        MultiplayerEngine::Options o;
        o.delegate = &delegate;
        o.driver = link.Endpoint(0);
        o.startThread = false;
        engine = std::make_unique<MultiplayerEngine>(o);
        engine->InitRemotePlayers(1);
    }
    void TearDown() override {
        engine.reset();
        EntityTest::TearDown();
    }

    // The next record of the command ring.
    struct Record {
        uint32_t id = 0;
        std::vector<uint8_t> payload;
    };
    bool Next(Record* r) {
        CommandRingBuffer& ring = engine->Ring();
        if (!ring.BeginRead()) return false;
        r->id = ring.RecordId();
        r->payload.resize(ring.RecordSize());
        ring.Read(r->payload.data(), ring.RecordSize());
        ring.EndRead();
        return true;
    }
    template <class... T>
    static std::vector<uint8_t> Bytes(T... values) {
        std::vector<uint8_t> out;
        (
            [&] {
                const uint8_t* p = reinterpret_cast<const uint8_t*>(&values);
                out.insert(out.end(), p, p + sizeof values);
            }(),
            ...);
        return out;
    }
    // A callback as the network thread writes it.
    template <class... T>
    void Push(uint32_t id, T... values) {
        const std::vector<uint8_t> b = Bytes(values...);
        CommandRingBuffer& q = engine->CallbackQueue();
        ASSERT_TRUE(q.BeginWrite(id, uint32_t(b.size())));
        q.Write(b.data(), uint32_t(b.size()));
        q.EndWrite();
    }
    void PushRaw(uint32_t id, const std::vector<uint8_t>& b) {
        CommandRingBuffer& q = engine->CallbackQueue();
        ASSERT_TRUE(q.BeginWrite(id, uint32_t(b.size())));
        q.Write(b.data(), uint32_t(b.size()));
        q.EndWrite();
    }

    RecordingDelegate delegate;
    LoopbackLink link;
    std::unique_ptr<MultiplayerEngine> engine;
};

TEST_F(MainThreadTest, CommandRecordsAreTheirRows) {
    const uint32_t port = gGameConfig->port;
    const std::string longName(200, 'h');
    const std::u16string chat127(127, u'c'), chat200(200, u'd');
    Network::LobbySnapshot owner;
    owner.isOwner = true;
    struct Row {
        const char* name;
        std::function<void()> post;
        uint32_t id;
        std::vector<uint8_t> payload;  // empty with id 0: nothing posted
    };
    std::vector<uint8_t> join = Bytes(port, uint32_t(0));
    join.insert(join.end(), longName.begin(), longName.begin() + 128);
    join.push_back(0);
    std::vector<uint8_t> chatWhole = Bytes(uint32_t(127));
    chatWhole.insert(chatWhole.end(), reinterpret_cast<const uint8_t*>(chat127.data()), reinterpret_cast<const uint8_t*>(chat127.data()) + 254);
    chatWhole.push_back(0);
    std::vector<uint8_t> chatCut = Bytes(uint32_t(127));
    chatCut.insert(chatCut.end(), reinterpret_cast<const uint8_t*>(chat200.data()), reinterpret_cast<const uint8_t*>(chat200.data()) + 254);
    chatCut.push_back(1);
    std::vector<uint8_t> autoMatch = Bytes(int32_t(1), int32_t(2), int32_t(3), int32_t(4), int32_t(5), int32_t(6), int32_t(7), int32_t(8),
                                           int32_t(9), uint32_t(1));
    const Row rows[] = {
        {"host on the configured port", [&] { engine->Host(0); }, NETCMD_HOST, Bytes(port)},
        {"host on a port", [&] { engine->Host(4000); }, NETCMD_HOST, Bytes(uint32_t(4000))},
        {"join: a 200-character name travels as 128", [&] { engine->Join(longName.c_str(), 0, 0); }, NETCMD_JOIN, join},
        {"disconnect", [&] { engine->Disconnect(1); }, NETCMD_DISCONNECT, Bytes(uint8_t(1))},
        {"network parameters", [&] { engine->SetNetworkParams(1, 2, 3, -1, -1, -1); }, NETCMD_SET_NETWORK_PARAMS,
         Bytes(1.0f, 2.0f, 3.0f, -1.0f, -1.0f, -1.0f)},
        {"ready", [&] { engine->LobbySetReady(true); }, NETCMD_LOBBY_SET_READY, Bytes(uint8_t(1))},
        {"skill", [&] { engine->LobbySetSkill(1.5f, 2.5f); }, NETCMD_LOBBY_SET_SKILL, Bytes(1.5f, 2.5f)},
        {"ranked skill", [&] { engine->LobbySetRankedSkill(3.5f, 4.5f); }, NETCMD_LOBBY_SET_RANKED_SKILL, Bytes(3.5f, 4.5f)},
        {"grade", [&] { engine->LobbySetGrade(7); }, NETCMD_LOBBY_SET_GRADE, Bytes(uint32_t(7))},
        {"map 3", [&] { engine->LobbySetSelectedMap(3); }, NETCMD_LOBBY_SET_SELECTED_MAP, Bytes(uint32_t(3))},
        {"map 4 posts nothing", [&] { engine->LobbySetSelectedMap(4); }, 0, {}},
        {"map -1 posts nothing", [&] { engine->LobbySetSelectedMap(-1); }, 0, {}},
        {"owner by a non-owner posts nothing", [&] { engine->LobbySetOwner(1); }, 0, {}},
        {"auto match: the 40-byte record", [&] { engine->LobbyAutoMatch(1, 2, 3, 4, 5, 6, 7, 8, 9, true); }, NETCMD_LOBBY_AUTO_MATCH, autoMatch},
        {"a 127-unit line whole", [&] { engine->SendChatMessage(0, chat127.c_str()); }, NETCMD_CHAT, chatWhole},
        {"a 200-unit line cut", [&] { engine->SendChatMessage(1, chat200.c_str()); }, NETCMD_CHAT, chatCut},
        {"an empty line posts nothing", [&] { engine->SendChatMessage(0, u""); }, 0, {}},
        {"no argument, no lobby", [&] { engine->OnMainMenuShowForTheFirstTime(); }, 0, {}},
        {"synchronise outside a hosted game posts nothing", [&] { engine->SynchronizePlayer(engine->GetRemotePlayer(0)); }, 0, {}},
        {"no-payload lobby commands", [&] { engine->LobbyCreatePrivate(); }, NETCMD_LOBBY_CREATE_PRIVATE, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        r.post();
        Record rec;
        if (r.id == 0) {
            EXPECT_FALSE(Next(&rec));
            continue;
        }
        ASSERT_TRUE(Next(&rec));
        EXPECT_EQ(rec.id, r.id);
        EXPECT_EQ(rec.payload, r.payload);
        EXPECT_FALSE(Next(&rec)) << "one record";
    }
    // Owner: posted once the lobby says we own it.
    link.Endpoint(0)->SetLobby(owner);
    engine->RunWake();
    engine->LobbySetOwner(1);
    Record rec;
    ASSERT_TRUE(Next(&rec));
    EXPECT_EQ(rec.id, uint32_t(NETCMD_LOBBY_SET_OWNER));
}

TEST_F(MainThreadTest, ConnectLobbyArgument) {
    struct Row {
        std::vector<std::string> args;
        uint64_t lobby;  // 0: nothing posted
    } rows[] = {
        {{"prog", "+connect_lobby", "109775241058543104"}, 109775241058543104ull},
        {{"prog", "+connect_lobby"}, 0},
        {{"prog", "+connect_lobby", "0"}, 0},
        {{"prog", "+connect_lobby", "12x"}, 0},
        {{"prog", "+connect_lobby", "99999999999999999999"}, 0},
        {{"prog", "-connect_lobby", "5"}, 0},
    };
    ArgumentsGame game;
    for (const Row& r : rows) {
        std::vector<char*> argv;
        for (const std::string& a : r.args) argv.push_back(const_cast<char*>(a.c_str()));
        game.argv = argv.data(), game.argc = int(argv.size());
        SetGameServices(&game);
        engine->OnMainMenuShowForTheFirstTime();
        Record rec;
        if (r.lobby == 0) {
            EXPECT_FALSE(Next(&rec)) << r.args.back();
        } else {
            ASSERT_TRUE(Next(&rec));
            EXPECT_EQ(rec.id, uint32_t(NETCMD_LOBBY_REQUEST_JOIN));
            EXPECT_EQ(rec.payload, Bytes(r.lobby));
        }
    }
    SetGameServices(nullptr);
}

TEST_F(MainThreadTest, ChatEchoesLocally) {
    Network::LobbySnapshot lobby;
    std::memcpy(lobby.members[0].name, u"Ann", 8);
    link.Endpoint(0)->SetLobby(lobby);
    engine->RunWake();
    engine->SendChatMessage(1, u"hello");
    ASSERT_EQ(delegate.chat.size(), 1u);
    EXPECT_EQ(delegate.chat[0], u"Ann: hello");
    EXPECT_EQ(delegate.events[0], "chat 1 0");
}

TEST_F(MainThreadTest, CallbackHandlers) {
    struct JoinsText : UIServices {
        const char16_t* LookupString(const char* id) const override {
            const std::string s = id;
            if (s == "QV/System/UI/Menu/Multiplayer/PlayerJoins") return u"joins";
            if (s == "QV/System/UI/Menu/Multiplayer/TeamsSwitched") return u"switched";
            return nullptr;
        }
    } joinsText;
    SetUIServices(&joinsText);
    struct Uninstall {
        ~Uninstall() { SetUIServices(nullptr); }
    } uninstall;
    auto text = [&](uint32_t kind, const std::u16string& name, const std::u16string& body) {
        std::vector<uint8_t> b = Bytes(kind, uint32_t(name.size() * 2 + 2), uint32_t(body.size() * 2 + 2));
        auto add = [&](const std::u16string& s) {
            const uint8_t* p = reinterpret_cast<const uint8_t*>(s.c_str());
            b.insert(b.end(), p, p + s.size() * 2 + 2);
        };
        add(name);
        add(body);
        b.push_back(0);
        PushRaw(NETCB_TEXT_MESSAGE, b);
    };
    struct Row {
        const char* name;
        std::function<void()> push;
        std::vector<std::string> events;
        std::u16string line;  // the chat line when one is expected
    };
    const Row rows[] = {
        {"host failed: no change", [&] { Push(NETCB_HOST_RESULT, uint32_t(3)); }, {"hosted 3"}, u""},
        {"callbacks naming a missing player", [&] {
             Push(NETCB_PEER_CONNECTED, uint32_t(5));
             Push(NETCB_PEER_READY, uint32_t(5));
             Push(NETCB_CALLS_ACKNOWLEDGED, uint32_t(5), uint32_t(2));
             Push(NETCB_PEER_DISCONNECTED, uint32_t(5), uint32_t(0));
             Push(NETCB_PEER_STALL, uint32_t(5));
             Push(NETCB_PEER_RESUME, uint32_t(5));
         }, {}, u""},
        {"chat", [&] { text(1, u"Bob", u"hi"); }, {"chat 0 1"}, u"Bob: hi"},
        {"joins", [&] { text(2, u"Bob", u""); }, {"chat 0 2"}, u"Bob joins"},
        {"leaves without a string: the name alone", [&] { text(3, u"Bob", u""); }, {"chat 0 3"}, u"Bob"},
        {"teams switched ignores the name", [&] { text(4, u"Bob", u""); }, {"chat 0 4"}, u"switched"},
        {"an unknown kind: an empty line", [&] { text(9, u"Bob", u"x"); }, {"chat 0 9"}, u""},
        {"a name larger than its buffer is skipped", [&] { text(1, std::u16string(40, u'n'), u"x"); }, {}, u""},
        {"unknown id", [&] { Push(99, uint32_t(1)); }, {}, u""},
        {"frame times then lobby updated", [&] { Push(NETCB_FRAME_TIMES, int64_t(10), int64_t(20)); }, {"lobby updated"}, u""},
        {"lobby events", [&] {
             Push(NETCB_LOBBY_JOIN_REQUESTED, uint8_t(0));
             Push(NETCB_LOBBY_GAME_START_REQUEST, uint32_t(4), uint8_t(1), uint8_t(0));
             Push(NETCB_LOBBY_ERROR, uint32_t(1));
         }, {"lobby join requested", "lobby start 4 1 0", "lobby error 1"}, u""},
        {"disconnected while idle: no game event", [&] { Push(NETCB_DISCONNECTED, uint32_t(0)); }, {}, u""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        delegate.events.clear();
        delegate.chat.clear();
        r.push();
        engine->UpdateMainThread();
        EXPECT_EQ(delegate.events, r.events);
        if (!r.events.empty() && r.events[0].rfind("chat", 0) == 0) {
            ASSERT_EQ(delegate.chat.size(), 1u);
            EXPECT_EQ(delegate.chat[0], r.line);
        }
        EXPECT_EQ(engine->GetMainThreadMode(), 0u);
        EXPECT_EQ(engine->GetMainThreadState(), 0u);
    }
    EXPECT_EQ(engine->GetLatestFrameTime(), 20);
    EXPECT_EQ(engine->GetRemotePlayer(0)->GetReliableMethodAckID(), 0u);
}

TEST_F(MainThreadTest, LobbyChatIsCutToItsBuffersWithoutSplittingAPair) {
    // A 40-unit name whose 31st unit opens a surrogate pair, a 200-unit text.
    std::u16string name(30, u'n');
    name += u"\xD83D\xDE00";
    name += std::u16string(8, u'm');
    std::u16string text(126, u't');
    text += u"\xD83D\xDE00";
    text += std::u16string(72, u'u');
    Network::NetDriverObserver& observer = *engine;
    observer.OnChatMessage(1, name.c_str(), text.c_str());
    engine->UpdateMainThread();
    ASSERT_EQ(delegate.chat.size(), 1u);
    EXPECT_EQ(delegate.events[0], "chat 1 1");
    EXPECT_EQ(delegate.chat[0], std::u16string(30, u'n') + u": " + std::u16string(126, u't'));
}

TEST_F(MainThreadTest, DisconnectedRunsPendingCallsAndResetsReplication) {
    MPMethodCall call;
    call.methodId = 7;
    engine->ReplicateMethodCall(engine->GetLocalPlayer(), call, true);  // no game: runs locally, pending
    EXPECT_EQ(engine->PendingCallCount(), 1u);
    Push(NETCB_DISCONNECTED, uint32_t(0));
    engine->UpdateMainThread();
    EXPECT_EQ(delegate.events, std::vector<std::string>{"call 7"});
    EXPECT_EQ(engine->PendingCallCount(), 0u);
}

TEST_F(MainThreadTest, HostedThenPlayers) {
    Push(NETCB_HOST_RESULT, uint32_t(0));
    Push(NETCB_PEER_CONNECTING, uint32_t(1));
    Push(NETCB_PEER_CONNECTED, uint32_t(1));
    Push(NETCB_CALLS_ACKNOWLEDGED, uint32_t(1), uint32_t(4));
    Push(NETCB_PEER_CONNECTING, uint32_t(1));  // already connected: rejected
    engine->UpdateMainThread();
    EXPECT_EQ(engine->GetMainThreadMode(), 1u);
    EXPECT_EQ(engine->GetMainThreadState(), 1u);
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"hosted 0", "connecting", "player connected"}));
    EXPECT_EQ(engine->GetRemotePlayer(0)->GetReliableMethodAckID(), 4u);
    Record rec;
    ASSERT_TRUE(Next(&rec));
    EXPECT_EQ(rec.payload, Bytes(uint32_t(1), uint8_t(1)));
    ASSERT_TRUE(Next(&rec));
    EXPECT_EQ(rec.payload, Bytes(uint32_t(1), uint8_t(0)));
}

TEST_F(MainThreadTest, RemotePlayers) {
    engine->InitRemotePlayers(1);
    engine->InitRemotePlayers(1);
    ASSERT_NE(engine->GetRemotePlayer(0), nullptr);
    EXPECT_EQ(engine->GetRemotePlayer(0)->GetPeerID(), 1u);
    EXPECT_EQ(engine->GetRemotePlayer(1), nullptr);
    EXPECT_EQ(engine->GetPlayerById(1), engine->GetRemotePlayer(0));
    EXPECT_EQ(engine->GetPlayerById(2), nullptr);
    EXPECT_EQ(engine->GetLocalPlayer()->GetPeerID(), 0xFFFFFFFFu);
    EXPECT_EQ(engine->GetLocalPlayer()->GetControllerIndex(), 256u);
    log.Clear();
    engine->InitRemotePlayers(3);
    EXPECT_EQ(engine->GetRemotePlayer(0)->GetPeerID(), 1u);
    EXPECT_TRUE(log.Contains("InitRemotePlayers"));
    engine->InitRemotePlayers(0);
    EXPECT_EQ(engine->GetRemotePlayer(0), nullptr);
}

TEST_F(MainThreadTest, ADeletedRemotePlayerLeavesNoEntityNamingIt) {
    engine->InitRemotePlayers(1);
    Player* remote = engine->GetRemotePlayer(0);
    Entity* a = Make();
    Entity* b = Make();
    a->SetPlayerOwner(remote);
    b->SetPlayerOwner(engine->GetLocalPlayer());
    remote->SetPlayerControllerRaw(a);
    engine->InitRemotePlayers(1);
    EXPECT_EQ(a->GetPlayerOwner(), nullptr);
    EXPECT_EQ(b->GetPlayerOwner(), engine->GetLocalPlayer());
}

TEST_F(MainThreadTest, LobbyReadsAndMemberPresence) {
    auto id = [](uint32_t universe, uint32_t type, uint32_t instance, uint32_t account) {
        return uint64_t(universe) << 56 | uint64_t(type) << 52 | uint64_t(instance) << 32 | account;
    };
    struct Row {
        uint64_t steamId;
        bool present;
    } rows[] = {
        {id(1, 1, 1, 42), true},   {id(1, 1, 5, 42), false}, {id(1, 1, 1, 0), false}, {id(1, 3, 7, 42), true},
        {id(1, 3, 0, 0), false},   {id(1, 7, 0, 42), true},  {id(1, 7, 1, 42), false}, {id(0, 1, 1, 42), false},
        {id(5, 1, 1, 42), false},  {id(4, 10, 3, 0), true},  {id(1, 11, 0, 1), false}, {0, false},
    };
    for (const Row& r : rows) {
        Network::LobbySnapshot lobby;
        lobby.members[1].steamId = r.steamId;
        lobby.members[1].grade = 12;
        std::memcpy(lobby.members[1].name, u"Zed", 8);
        link.Endpoint(0)->SetLobby(lobby);
        engine->RunWake();
        EXPECT_EQ(engine->LobbyGetMemberPresent(1), r.present) << std::hex << r.steamId;
    }
    EXPECT_EQ(engine->LobbyGetMemberGrade(1), 12);
    EXPECT_EQ(std::u16string(engine->LobbyGetMemberNameLuaUnichar(1).GetUnicharPtr()), u"Zed");
    EXPECT_FALSE(engine->LobbyGetMemberPresent(2));
    EXPECT_EQ(engine->LobbyGetMemberGrade(-1), 0);
}

// The network thread waits for room while the queue is full; here the wait hook plays
// the main thread and drains the queue on the 25th try.
TEST_F(MainThreadTest, AFullCallbackQueueWaitsAndLogsEveryTenthTry) {
    struct Waiter {
        MultiplayerEngine* engine = nullptr;
        int tries = 0;
        int drainedAt = 25;
    } waiter;
    MultiplayerEngine::Options o;
    o.delegate = &delegate;
    o.driver = link.Endpoint(1);
    o.startThread = false;
    o.callbackQueueBytes = 4096;
    o.callbackQueueWait = [](void* c) {
        auto* w = static_cast<Waiter*>(c);
        if (++w->tries == w->drainedAt) w->engine->ProcessMessages();
    };
    o.callbackQueueWaitContext = &waiter;
    MultiplayerEngine small(o);
    waiter.engine = &small;
    Network::LobbySnapshot lobby;
    for (int i = 0; i < 600; ++i) link.Endpoint(1)->SetLobby(lobby);
    delegate.events.clear();
    log.Clear();
    small.RunWake();
    small.ProcessMessages();
    EXPECT_EQ(delegate.events.size(), 600u) << "nothing is dropped";
    int delays = 0;
    for (const auto& message : log.Messages())
        if (message.text.find("MultiplayerEngine Callback queue is causing delay!!!") != std::string::npos) ++delays;
    EXPECT_EQ(waiter.tries, 25);
    EXPECT_EQ(delays, 3) << "tries 1, 11 and 21";
}

}  // namespace
