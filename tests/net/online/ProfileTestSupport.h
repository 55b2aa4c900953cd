#pragma once
// Shared set-up of the profile and leaderboard tests: an in-process broker with a data
// folder and the game's stats schema, its control commands, and clients.
#include <memory>
#include <string>

#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineStore.h"
#include "platform/online/OnlineTestUtil.h"
#include "tools/broker/BrokerControl.h"

namespace profiletest {

inline online::StatsSchema GameSchema() {
    online::StatsSchema s;
    std::string error;
    EXPECT_TRUE(s.Load(std::string(PROJECT_SOURCE_ROOT) + "/platform/online/online_schema.txt", &error)) << error;
    return s;
}

class BrokerTest : public ::testing::Test {
protected:
    void SetUp() override { OpenBroker(); }

    void OpenBroker() {
        broker = std::make_unique<online::LocalBroker>();
        ASSERT_TRUE(broker->Open(dir.path.string(), GameSchema(), nullptr));
    }
    // A control command ("seed", "stats", "leaderboard", "file") on the broker's store.
    std::string Control(const std::string& command, const std::string& argument) {
        std::string answer;
        const bool ok = broker->WithStore(
            [&](online::BrokerStore& store) { return online::RunControl(store, command, argument, &answer); });
        EXPECT_TRUE(ok) << command << " " << argument << ": " << answer;
        return answer;
    }
    std::unique_ptr<online::OnlineContext> Client(uint32_t account, const char* persona, bool statsFail = false,
                                                  bool overlayEvents = false) {
        online::ClientConfig c = onlinetest::Config(account, persona);
        c.statsFail = statsFail;
        c.overlayEvents = overlayEvents;
        return broker->CreateClient(c);
    }

    onlinetest::TempDir dir;
    std::unique_ptr<online::LocalBroker> broker;
};

}  // namespace profiletest

#include <lua.hpp>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "CaptureLogSink.h"
#include "engine/script/LuaWrapper.h"
#include "net/online/GameDelegateProfilesModuleSteam.h"
#include "net/online/PCMacGamerProfile.h"

namespace profiletest {

// tests/support/cloudfile.py with the arguments; its exit status (-1 when it did not run).
inline int CloudFile(const std::string& arguments) {
    const std::string command = "/usr/bin/python3 " PROJECT_SOURCE_ROOT "/tests/support/cloudfile.py " + arguments + " > /dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The broker with user 1 ("Me") signed in, the script class "PCMacGamerProfile"
// recording the profile's events, and a profile module on the user's services.
class ProfileTest : public BrokerTest {
protected:
    void SetUp() override {
        BrokerTest::SetUp();
        Control("seed", "user 1 Me\n");
        GamerProfile::ResetProcessState();
        gLua.Init();
        gLua.RegisterClass("PCMacGamerProfile", "");
        gLua.ExecuteString(
            "events = {}\n"
            "function PCMacGamerProfile:OnInit() table.insert(events, 'OnInit') end\n"
            "function PCMacGamerProfile:OnDataRetrieved() table.insert(events, 'OnDataRetrieved') end\n"
            "function PCMacGamerProfile:OnRelease() table.insert(events, 'OnRelease') end\n"
            "function PCMacGamerProfile:OnGameOverlayActivated(a) table.insert(events, 'Overlay ' .. a) end\n");
        log.Attach();
    }
    void TearDown() override {
        module.reset();
        ctx.reset();
        log.Detach();
        gLua.Close();
        GamerProfile::ResetProcessState();
    }
    // Signs the user in (with the knobs) and logs the default user in.
    void LogIn(bool statsFail = false, bool overlayEvents = false) {
        ctx = Client(1, "Me", statsFail, overlayEvents);
        ASSERT_TRUE(ctx);
        module = std::make_unique<GameDelegateProfilesModuleSteam>(ctx.get());
        module->LogInDefaultUser();
    }
    PCMacGamerProfile& Profile() { return *static_cast<PCMacGamerProfile*>(module->GetProfile()); }
    bool Pump(const std::function<bool()>& until) { return onlinetest::PumpUntil({ctx.get()}, until); }
    bool PumpUntilRetrieved() { return Pump([&] { return Profile().AreStatsRetrieved(); }); }
    std::string Events() {
        gLua.ExecuteString("eventsText = table.concat(events, ',')");
        lua_State* L = gLua.GetState();
        lua_getglobal(L, "eventsText");
        std::string s = lua_tostring(L, -1) ? lua_tostring(L, -1) : "";
        lua_pop(L, 1);
        return s;
    }
    void PutFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(broker->WithStore([&](online::BrokerStore& s) { return s.WriteFile(1, name, bytes.data(), bytes.size()); }));
    }
    std::vector<uint8_t> GetFile(const std::string& name) {
        std::vector<uint8_t> bytes;
        broker->WithStore([&](online::BrokerStore& s) { return s.ReadFile(1, name, &bytes); });
        return bytes;
    }
    // A cloud file made by cloudfile.py ("make" arguments after the output path).
    void PutMadeFile(const std::string& name, const std::string& arguments) {
        const std::string path = (dir.path / "made.bin").string();
        ASSERT_EQ(CloudFile("make " + path + " " + arguments), 0);
        PutFile(name, ReadBytes(path));
    }
    // cloudfile.py's check of a stored copy.
    bool CheckFile(const std::string& name, const char* kind, uint32_t layout, uint32_t stamp) {
        const std::string path = (dir.path / "fetched.bin").string();
        WriteBytes(path, GetFile(name));
        return CloudFile("check " + path + " " + kind + " " + std::to_string(layout) + " " + std::to_string(stamp)) == 0;
    }
    static uint32_t ProgressLayout() {
        PCMacGamerProfileData::PCMacGamerProfileProgressData p;
        return p.GetRTTIClass()->GetLayoutHash(&p);
    }
    static uint32_t ResultsLayout() {
        PCMacGamerProfileData::PCMacGamerProfileResultsData r;
        return r.GetRTTIClass()->GetLayoutHash(&r);
    }

    CaptureLogSink log;
    std::unique_ptr<online::OnlineContext> ctx;
    std::unique_ptr<GameDelegateProfilesModuleSteam> module;
};

}  // namespace profiletest
