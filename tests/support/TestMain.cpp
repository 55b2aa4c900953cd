// The main of every test program: the process-wide start-up a program runs first
// (class registrations, the file system, the worker objects, pools, and the tables of
// every library the program links), then the tests, then the shutdown in reverse order.
#include <gtest/gtest.h>

#include "ProgramStaticInit.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    RunProgramStaticInit();
    const int result = RUN_ALL_TESTS();
    RunStaticShutdown();
    return result;
}
