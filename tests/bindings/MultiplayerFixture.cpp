#include "MultiplayerFixture.h"

#include <lua.hpp>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bindings/frame/LuaBindingSupport.h"
#include "core/fs/FileSystem.h"
#include "engine/entity/EntityManager.h"
#include "engine/script/LuaUnicodeString.h"
#include "engine/script/LuaWrapper.h"
#include "game/delegate/LuaGameDelegate.h"
#include "net/LoopbackNetDriver.h"
#include "net/MultiplayerEngine.h"
#include "net/Player.h"
#include "net/online/PCMacGamerProfile.h"
#include "net/online/SteamLeaderboardsManager.h"
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineStore.h"
#include "tools/broker/BrokerControl.h"

namespace {

// The engine's delegate: keeps the chat lines it is told about.
struct ChatDelegate : GameDelegate {
    void OnChatMessage(bool, int32_t, const char16_t* text) override { lines.emplace_back(text ? text : u""); }
    std::vector<std::u16string> lines;
};

// Answers yes to every platform query and counts the two actions.
struct AnsweringDelegate : LuaGameDelegate {
    bool IsSteamEnabled() override { return true; }
    bool IsXBoxLiveEnabled() override { return true; }
    bool IsXBoxLiveSignedIn() override { return true; }
    bool IsXBoxLiveAgeRestricted() override { return true; }
    bool IsGameCenterEnabled() override { return true; }
    void XBoxLiveLogin() override { ++actions; }
    void OpenGameCenterMatchmakingUI() override { ++actions; }
    int actions = 0;
};

struct State {
    ChatDelegate chat;
    std::unique_ptr<LoopbackLink> link;
    std::unique_ptr<MultiplayerEngine> engine;
    std::filesystem::path folder;  // the broker's data and the scenes
    std::unique_ptr<online::LocalBroker> broker;
    std::unique_ptr<online::OnlineContext> services;
    std::unique_ptr<SteamLeaderboardsManager> leaderboards;
    std::unique_ptr<PCMacGamerProfile> profile;
    GameDelegate baseDelegate;
    LuaGameDelegate luaDelegate;
    AnsweringDelegate answering;
};
State* gState = nullptr;
// Pumps a state may still run: a script (a fuzzed one above all) cannot stall its program
// in the fixture's own waits, which no instruction budget interrupts.
constexpr int kPumpsPerState = 50;
int gPumpsLeft = 0;

State& S() {
    if (!gState) gState = new State;
    return *gState;
}

std::filesystem::path Folder() {
    State& s = S();
    if (s.folder.empty()) {
        char pattern[] = "/tmp/bindingsmpXXXXXX";
        if (mkdtemp(pattern)) s.folder = pattern;
    }
    return s.folder;
}

MultiplayerEngine* Engine() {
    State& s = S();
    if (!s.engine) {
        s.link = std::make_unique<LoopbackLink>();
        MultiplayerEngine::Options o;
        o.delegate = &s.chat;
        o.driver = s.link->Endpoint(0);
        o.startThread = false;
        s.engine = std::make_unique<MultiplayerEngine>(o);
        s.engine->InitRemotePlayers(1);
        gLua.SetGlobalObject(s.engine.get(), "MultiplayerEngine", "gMultiplayerEngine");
    }
    return s.engine.get();
}

int EngineObject(lua_State* L) {
    LuaBindingPushObject(L, Engine(), "MultiplayerEngine");
    return 1;
}

int LocalPlayer(lua_State* L) {
    LuaBindingPushObject(L, Engine()->GetLocalPlayer(), "Player");
    return 1;
}

int Commands(lua_State* L) {
    lua_newtable(L);
    CommandRingBuffer& ring = Engine()->Ring();
    for (int n = 1; n <= 10000 && ring.BeginRead(); ++n) {
        std::vector<uint8_t> payload(ring.RecordSize());
        const uint32_t id = ring.RecordId();
        ring.Read(payload.data(), uint32_t(payload.size()));
        ring.EndRead();
        lua_newtable(L);
        lua_pushnumber(L, id);
        lua_setfield(L, -2, "id");
        lua_pushnumber(L, double(payload.size()));
        lua_setfield(L, -2, "size");
        lua_pushlstring(L, reinterpret_cast<const char*>(payload.data()), payload.size());
        lua_setfield(L, -2, "bytes");
        lua_newtable(L);
        lua_newtable(L);
        for (size_t i = 0; i + 4 <= payload.size(); i += 4) {
            uint32_t u;
            float f;
            std::memcpy(&u, &payload[i], 4);
            std::memcpy(&f, &payload[i], 4);
            lua_pushnumber(L, u);
            lua_rawseti(L, -3, int(i / 4 + 1));
            lua_pushnumber(L, f);
            lua_rawseti(L, -2, int(i / 4 + 1));
        }
        lua_setfield(L, -3, "f32");
        lua_setfield(L, -2, "u32");
        lua_rawseti(L, -2, n);
    }
    return 1;
}

// UTF-8 to UTF-16 (the cases' texts: the basic plane).
std::u16string Utf16(const char* text) {
    std::u16string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); p && *p;) {
        uint32_t c = *p++;
        int more = c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (more) c &= more == 2 ? 0x0F : 0x1F;
        for (; more > 0 && (*p & 0xC0) == 0x80; --more) c = (c << 6) | (*p++ & 0x3F);
        out.push_back(char16_t(c));
    }
    return out;
}

int SetLobby(lua_State* L) {
    MultiplayerEngine* engine = Engine();
    Network::LobbySnapshot lobby;
    for (int i = 0; i < 2 && lua_istable(L, 1); ++i) {
        lua_rawgeti(L, 1, i + 1);
        if (lua_istable(L, -1)) {
            Network::LobbyMember& m = lobby.members[i];
            m.steamId = 0x0110000100000000ull + uint64_t(i + 1);
            lua_getfield(L, -1, "name");
            const std::u16string name = Utf16(lua_tostring(L, -1));
            std::memcpy(m.name, name.data(), 2 * std::min<size_t>(name.size(), 31));
            lua_getfield(L, -2, "skill");
            m.squadSkill = float(lua_tonumber(L, -1));
            lua_getfield(L, -3, "ready");
            m.ready = lua_toboolean(L, -1) != 0;
            lua_pop(L, 3);
        }
        lua_pop(L, 1);
    }
    S().link->Endpoint(0)->SetLobby(lobby);
    engine->RunWake();
    return 0;
}

int ChatEchoes(lua_State* L) {
    lua_newtable(L);
    int n = 0;
    for (const std::u16string& line : S().chat.lines) {
        lua_newtable(L);
        for (size_t i = 0; i < line.size(); ++i) {
            lua_pushnumber(L, line[i]);
            lua_rawseti(L, -2, int(i + 1));
        }
        lua_rawseti(L, -2, ++n);
    }
    return 1;
}

int Units(lua_State* L) {
    auto* text = static_cast<LuaUnicodeString*>(LuaBindingReader{"LuaUnicodeString"}(L, 1, nullptr));
    if (!text) return 0;
    lua_newtable(L);
    const char16_t* p = text->GetUnicharPtr();
    for (uint32_t i = 0; i < text->GetCount(); ++i) {
        lua_pushnumber(L, p[i]);
        lua_rawseti(L, -2, int(i + 1));
    }
    return 1;
}

int Unicode(lua_State* L) {
    const std::u16string text = Utf16(lua_tostring(L, 1));
    LuaBindingPushOwned(L, Mtolua_new((LuaUnicodeString)(text.c_str())), "LuaUnicodeString");
    LuaBindingRegisterGc(L, lua_gettop(L));
    return 1;
}

bool OpenBroker() {
    State& s = S();
    if (s.services) return true;
    s.broker = std::make_unique<online::LocalBroker>();
    online::StatsSchema schema;
    std::string error;
    std::error_code ec;
    std::filesystem::create_directories(Folder() / "broker", ec);
    if (!schema.Load(std::string(PROJECT_SOURCE_ROOT) + "/platform/online/online_schema.txt", &error) ||
        !s.broker->Open((Folder() / "broker").string(), schema, &error))
        return false;
    std::string seed = "user 1 Me\nleaderboard M01 descending\n";
    for (int i = 0; i < 10; ++i) seed += "score M01 " + std::to_string(100 + i) + " " + std::to_string(1000 - 50 * i) + "\n";
    std::string answer;
    s.broker->WithStore([&](online::BrokerStore& store) { return online::RunControl(store, "seed", seed, &answer); });
    online::ClientConfig config;
    config.account = 1;
    config.persona = "Me";
    config.appId = 0x1234567;
    s.services = s.broker->CreateClient(config);
    if (!s.services) return false;
    s.leaderboards = std::make_unique<SteamLeaderboardsManager>(s.services.get());
    return true;
}

int Leaderboards(lua_State* L) {
    if (!OpenBroker()) return 0;
    LuaBindingPushObject(L, S().leaderboards.get(), "SteamLeaderboardsManager");
    return 1;
}

int PumpLeaderboards(lua_State* L) {
    State& s = S();
    bool settled = false;
    if (gPumpsLeft > 0 && OpenBroker()) {
        --gPumpsLeft;
        auto* given =
            static_cast<SteamLeaderboardsManager*>(LuaBindingReader{"SteamLeaderboardsManager"}(L, 1, nullptr));
        gLuaBindingDeadArgument = false;
        SteamLeaderboardsManager& manager = given ? *given : *s.leaderboards;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!(settled = manager.RequestCount() == 0 && !manager.InFlight()) &&
               std::chrono::steady_clock::now() < until) {
            s.services->RunCallbacks();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    lua_pushboolean(L, settled);
    return 1;
}

int Profile(lua_State* L) {
    State& s = S();
    if (!OpenBroker()) return 0;
    if (!s.profile) {
        s.profile = std::make_unique<PCMacGamerProfile>(s.services.get(), s.leaderboards.get());
        s.profile->Login("Me");
    }
    LuaBindingPushObject(L, s.profile.get(), "GamerProfile");
    return 1;
}

int BaseDelegate(lua_State* L) {
    LuaBindingPushObject(L, &S().baseDelegate, "GameDelegate");
    return 1;
}

int BaseLuaDelegate(lua_State* L) {
    LuaBindingPushObject(L, &S().luaDelegate, "LuaGameDelegate");
    return 1;
}

int Answering(lua_State* L) {
    LuaBindingPushObject(L, &S().answering, "LuaGameDelegate");
    return 1;
}

int Actions(lua_State* L) {
    lua_pushnumber(L, S().answering.actions);
    return 1;
}

int Scene(lua_State* L) {
    const char* name = lua_tostring(L, 1);
    const char* text = lua_tostring(L, 2);
    // The file system cannot unmount one folder, so "scenes" is mounted once for the
    // process, on a folder of its own that outlives every fixture state.
    static const std::filesystem::path scenes = [] {
        std::filesystem::path p = std::filesystem::temp_directory_path() /
                                  ("multiplayer_fixture_scenes_" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(p);
        return p;
    }();
    static const bool mounted = gFileSystem.MountDirectory("scenes", scenes.string().c_str());
    if (!mounted) return 0;
    // Plain names only: the file stays in the scenes folder.
    if (name && std::strspn(name, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") != std::strlen(name)) return 0;
    if (name && *name && text) {
        std::ofstream(scenes / (std::string(name) + ".lua")) << text;
    }
    if (gEntityManager) gEntityManager->SetSceneFileName(name);
    return 0;
}

}  // namespace

void OpenMultiplayerFixture(lua_State* L) {
    gPumpsLeft = kPumpsPerState;
    static const luaL_Reg kFunctions[] = {{"MultiplayerEngine", &EngineObject},
                                          {"Player", &LocalPlayer},
                                          {"MultiplayerCommands", &Commands},
                                          {"SetLobby", &SetLobby},
                                          {"ChatEchoes", &ChatEchoes},
                                          {"Units", &Units},
                                          {"Unicode", &Unicode},
                                          {"SteamLeaderboardsManager", &Leaderboards},
                                          {"PumpLeaderboards", &PumpLeaderboards},
                                          {"GamerProfile", &Profile},
                                          {"GameDelegate", &BaseDelegate},
                                          {"LuaGameDelegate", &BaseLuaDelegate},
                                          {"AnsweringDelegate", &Answering},
                                          {"Actions", &Actions},
                                          {"Scene", &Scene},
                                          {nullptr, nullptr}};
    luaL_register(L, "Fixture", kFunctions);
    lua_pop(L, 1);
}

online::OnlineContext* MultiplayerFixtureServices() { return OpenBroker() ? S().services.get() : nullptr; }

void CloseMultiplayerFixture() {
    if (!gState) return;
    if (gState->engine && gLua.GetState()) gLua.SetGlobalObject(nullptr, "MultiplayerEngine", "gMultiplayerEngine");
    if (gEntityManager) gEntityManager->SetSceneFileName(nullptr);
    gState->profile.reset();
    gState->leaderboards.reset();
    gState->services.reset();
    gState->broker.reset();
    gState->engine.reset();
    gState->link.reset();
    std::error_code ec;
    if (!gState->folder.empty()) std::filesystem::remove_all(gState->folder, ec);
    delete gState;
    gState = nullptr;
}
