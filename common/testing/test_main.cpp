// The main of every unit and integration test: the network stack is started as each program's
// start-up does (WSAStartup on Windows), then GoogleTest runs.
#include "common/platform/net.h"

#include <cstdio>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!NetStartup()) {
        // Said, so that a test program that ends at once is never a failure without a word.
        std::fprintf(stderr, "%s: the network stack did not start\n", argc > 0 ? argv[0] : "test");
        return 1;
    }
    int result = RUN_ALL_TESTS();
    NetCleanup();
    return result;
}
