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
