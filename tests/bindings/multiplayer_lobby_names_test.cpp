// The lobby member names scripts read, from the broker's persona names: two players of an
// in-process broker meet in a lobby, and the host's multiplayer engine (over its online
// driver, without its thread) publishes the lobby that the multiplayer package reads.
// test-sanitize: address
// test-link: bindings broker_server
#include "bindings/BindingsFixture.h"
#include "net/steam/SteamDriverPair.h"

#include <tolua++.h>

#include "engine/delegate/GameDelegate.h"
#include "engine/script/LuaUnicodeString.h"
#include "net/MultiplayerEngine.h"

namespace {

const char* const kGuestName = "Zo\xC3\xAB \xC3\x9Cnal";  // "Zoë Ünal"

class LobbyNames : public steamtest::DriverPair {
protected:
    void Adjust(online::ClientConfig& c, int account) override {
        if (account == 2) c.persona = kGuestName;
    }
    void SetUp() override {
        DriverPair::SetUp();
        if (HasFatalFailure()) return;
        sink.Attach();
        gLua.Init();
        ASSERT_NE(gLua.GetState(), nullptr);
    }
    void TearDown() override {
        gLua.SetGlobalObject(nullptr, "MultiplayerEngine", "gMultiplayerEngine");
        if (engine) a.D().SetRouteTarget(nullptr);
        engine.reset();
        gLua.Close();
        sink.Detach();
        DriverPair::TearDown();
    }
    // The owner's engine takes over its driver once both met in the lobby.
    void StartEngine() {
        MultiplayerEngine::Options o;
        o.delegate = &delegate;
        o.driver = a.driver.get();
        o.startThread = false;
        engine = std::make_unique<MultiplayerEngine>(o);
        a.D().SetRouteTarget(engine.get());
        gLua.SetGlobalObject(engine.get(), "MultiplayerEngine", "gMultiplayerEngine");
    }
    // Both sides' services, the engine's wake on the owner's side.
    bool PumpUntil(const std::function<bool()>& pred) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            clock.Advance(os::kCounterFrequency / 1000);
            a.ctx->RunCallbacks();
            engine->RunWake();
            b.ctx->RunCallbacks();
            b.ring.Run();
            b.driver->Tick();
            if (pred()) return true;
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        return false;
    }
    // The string a chunk returns, as the script holds it (null for anything else).
    std::u16string Name(const char* chunk, uint32_t* count) {
        lua_State* L = gLua.GetState();
        std::u16string text;
        *count = 0;
        if (luaL_loadstring(L, chunk) == 0 && lua_pcall(L, 0, 1, 0) == 0) {
            tolua_Error error;
            if (tolua_isusertype(L, -1, "LuaUnicodeString", 0, &error)) {
                const auto* s = static_cast<const LuaUnicodeString*>(tolua_tousertype(L, -1, nullptr));
                *count = s->GetCount();
                text.assign(s->GetUnicharPtr(), s->GetCount());
            }
        }
        lua_pop(L, 1);
        return text;
    }

    CaptureLogSink sink;
    GameDelegate delegate;
    std::unique_ptr<MultiplayerEngine> engine;
};

TEST_F(LobbyNames, TheGuestsPersonaNameArrivesTerminated) {
    MeetInLobby();
    ASSERT_FALSE(HasFatalFailure());
    StartEngine();
    b.D().LobbySetReady(true);  // a lobby update the engine publishes
    ASSERT_TRUE(PumpUntil([&] { return engine->LobbyGetMemberReady(1); }));

    uint32_t count = 0;
    const std::u16string name = Name("return gMultiplayerEngine:LobbyGetMemberNameLuaUnichar(1)", &count);
    EXPECT_EQ(count, 9u) << "eight characters and the terminator";
    EXPECT_EQ(name, std::u16string(u"Zo\u00eb \u00dcnal") + u'\0');
    const std::u16string own = Name("return gMultiplayerEngine:LobbyGetMemberNameLuaUnichar(0)", &count);
    EXPECT_EQ(own, std::u16string(u"\u00c5sa \u65e5") + u'\0');
    Name("return gMultiplayerEngine:LobbyGetMemberNameLuaUnichar(2)", &count);
    EXPECT_EQ(count, 0u) << "no third member";
}

}  // namespace
