// The mission's rules that no unattended run reaches, checked by Debian's lua5.1 on the
// sample's scripts (mission_rules_check.lua): the repair's count of the walkers it healed,
// and a mission that cannot start saying why, counting it and ending the program.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(MissionRules, RepairCountsTheWalkersItHealsAndAMissionThatCannotStartEnds) {
    const std::string command = "/usr/bin/lua5.1 '" PROJECT_SOURCE_ROOT "/tests/game/sample/mission_rules_check.lua' '" PROJECT_SOURCE_ROOT
                                "/data/common/scripts' 2>&1";
    std::string out;
    int status = -1;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        status = pclose(pipe);
    }
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("mission rules: 0 failures"), std::string::npos) << out;
}

}  // namespace
