// Where a destroyed tower's wreck effect and explosion play, checked by Debian's lua5.1 on
// the sample's scripts (towers_rules_check.lua): the wreck on the ground at the tower,
// started once, the explosion at the wreck; a tower left standing plays nothing.
#include <gtest/gtest.h>

#include <string>

#include "SampleTestSupport.h"

namespace {

TEST(TowersRules, ADestroyedTowersWreckAndExplosionPlayAtTheTower) {
    const std::string command = "/usr/bin/lua5.1 '" PROJECT_SOURCE_ROOT "/tests/game/sample/towers_rules_check.lua' '" PROJECT_SOURCE_ROOT
                                "/data/common/scripts' 2>&1";
    int status = -1;
    const std::string out = sampletest::CommandOutput(command, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("towers rules: 0 failures"), std::string::npos) << out;
}

}  // namespace
