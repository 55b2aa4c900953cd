#pragma once
// Included by a test program whose Game runs without a multiplayer engine in every test.
#include <gtest/gtest.h>

#include "game/Game.h"

namespace gametest {

class NoMultiplayerEngine : public testing::Environment {
public:
    void SetUp() override {
        static const Game::MultiplayerEngineFactory none = {[]() -> MultiplayerEngine* { return nullptr; },
                                                            [](MultiplayerEngine*) {}};
        Game::SetMultiplayerEngineFactory(&none);
    }
    void TearDown() override { Game::SetMultiplayerEngineFactory(nullptr); }
};
[[maybe_unused]] inline testing::Environment* const kNoMultiplayerEngine =
    testing::AddGlobalTestEnvironment(new NoMultiplayerEngine);

}  // namespace gametest
