// The main of every test program: the process-wide start-up a program runs first
// (class registrations, the file system, the worker objects, pools), then the tests,
// then the shutdown in reverse order.
#include <gtest/gtest.h>

#include "core/StaticInit.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    RunStaticInit();
    const int result = RUN_ALL_TESTS();
    RunStaticShutdown();
    return result;
}
