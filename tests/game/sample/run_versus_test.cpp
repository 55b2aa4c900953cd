// test-depends: quorvel2 sample_data online_broker
// test-timeout: 900
// The one-machine versus match a user starts with `scripts/run --versus`, on this test's
// build: the script finds everything built (it builds nothing when nothing changed), starts
// a broker with a fresh secret and the two sides in folders of their own (here a scratch
// folder of the test's, not the user's build/run-versus), and prints both sides' result
// lines, which agree; it ends with status 0 and leaves no broker running.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "SampleTestSupport.h"

namespace {

using namespace sampletest;

TEST(RunVersus, ThePrintedMatchOfTwoProgramsOnOneMachine) {
    std::string scratch = (std::filesystem::temp_directory_path() / "run-versus-XXXXXX").string();
    ASSERT_NE(mkdtemp(scratch.data()), nullptr);
    const std::string folder = scratch + "/match";
    const std::string command = "cd '" PROJECT_SOURCE_ROOT "' && BUILD='" PROJECT_BINARY_ROOT "' VERSUS_DIR='" +
                                folder + "' JOBS=2 timeout -s KILL 800 bash scripts/run --versus 2>&1";
    int status = -1;
    const std::string out = CommandOutput(command, &status);
    const std::string host = ReadFile(folder + "/host/log.txt"), guest = ReadFile(folder + "/guest/log.txt");
    static const std::regex kStory("Versus|Lobby|rror|arning|closed|cannot");
    EXPECT_EQ(status, 0) << out << "\nhost:\n" << Story(host, kStory) << "\nguest:\n" << Story(guest, kStory);
    EXPECT_NE(out.find("ninja: no work to do."), std::string::npos) << "everything was built: nothing is rebuilt\n" << out;

    std::smatch h, g;
    const std::regex kHost("run: host: (Versus result: winner (squad|towers) score \\d+ steps \\d+)");
    const std::regex kGuest("run: guest: (Versus result: winner (squad|towers) score \\d+ steps \\d+)");
    ASSERT_TRUE(std::regex_search(out, h, kHost)) << out;
    ASSERT_TRUE(std::regex_search(out, g, kGuest)) << out;
    EXPECT_EQ(h[1].str(), g[1].str());
    // The secret was the script's own, and the broker has gone with the match.
    EXPECT_EQ(ReadFile(folder + "/secret").size(), 32u);
    EXPECT_NE(std::system(("test -S '" + folder + "/broker/broker.sock'").c_str()), 0) << "the broker still runs";
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(scratch);
}

}  // namespace
