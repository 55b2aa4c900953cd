// test-sanitize: address
// The game classes as the ordered start-up leaves them, before any game object exists
// (this program makes none before its one test; a class's GetRTTIClass would register it
// late): every class the independent writer lists (tests/support/proplist.py
// "gameclassorder") is found by name, and the template classes hold class indices of the
// class-name registry in the listed order.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ShellCommand.h"
#include "core/rtti/RTTIClass.h"

TEST(GameClassRegistration, EveryClassInStartUpOrderBeforeAnyInstance) {
    const std::vector<uint8_t> listed = shelltest::PropList("gameclassorder", "{}");
    std::istringstream lines(std::string(listed.begin(), listed.end()));
    std::vector<std::string> names;
    for (std::string n; std::getline(lines, n);) names.push_back(n);
    ASSERT_FALSE(names.empty());
    int32_t previous = -1;
    for (const std::string& n : names) {
        const RTTIClass* c = RTTIClassRegistry::FindClass(n.c_str());
        ASSERT_NE(c, nullptr) << n;
        const int32_t index = NameRegistry::FindIndex(n.c_str());
        if (!n.ends_with("Template")) {
            EXPECT_EQ(index, -1) << n;
            continue;
        }
        EXPECT_GT(index, previous) << n;
        EXPECT_EQ(c->id, index) << n;
        previous = index;
    }
}
