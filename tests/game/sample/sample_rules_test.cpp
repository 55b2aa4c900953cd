// The sample scripts' rules that no unattended run reaches, each checked by Debian's lua5.1
// on the sample's scripts through its own check script:
// - mission_rules_check.lua: the repair's count of the walkers it healed, and a mission that
//   cannot start saying why once and raising it out of the scene's start, for the program to
//   say and end with;
// - towers_rules_check.lua: a destroyed tower's wreck on the ground at the tower, started
//   once, its explosion at the wreck; a tower left standing plays nothing.
#include <gtest/gtest.h>

#include <string>

#include "SampleTestSupport.h"

namespace {

struct RulesCheck {
    const char* script;
    const char* passLine;
};

TEST(SampleRules, EachCheckScriptPassesOnTheSampleScripts) {
    for (const RulesCheck& check : {RulesCheck{"mission_rules_check.lua", "mission rules: 0 failures"},
                                    RulesCheck{"towers_rules_check.lua", "towers rules: 0 failures"}}) {
        SCOPED_TRACE(check.script);
        const std::string command = std::string("/usr/bin/lua5.1 '" PROJECT_SOURCE_ROOT "/tests/game/sample/") +
                                    check.script + "' '" PROJECT_SOURCE_ROOT "/data/common/scripts' 2>&1";
        int status = -1;
        const std::string out = sampletest::CommandOutput(command, &status);
        EXPECT_EQ(status, 0) << out;
        EXPECT_NE(out.find(check.passLine), std::string::npos) << out;
    }
}

}  // namespace
