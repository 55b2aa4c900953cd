// The mission's rules that no unattended run reaches, checked by Debian's lua5.1 on the
// sample's scripts (mission_rules_check.lua): the repair's count of the walkers it healed,
// and a mission that cannot start saying why once and raising it out of the scene's start,
// for the program to say and end with.
#include <gtest/gtest.h>

#include <string>

#include "SampleTestSupport.h"

namespace {

TEST(MissionRules, RepairCountsTheWalkersItHealsAndAMissionThatCannotStartEnds) {
    const std::string command = "/usr/bin/lua5.1 '" PROJECT_SOURCE_ROOT "/tests/game/sample/mission_rules_check.lua' '" PROJECT_SOURCE_ROOT
                                "/data/common/scripts' 2>&1";
    int status = -1;
    const std::string out = sampletest::CommandOutput(command, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("mission rules: 0 failures"), std::string::npos) << out;
}

}  // namespace
