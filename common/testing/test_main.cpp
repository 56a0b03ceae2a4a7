// The main of every unit and integration test: the network stack is started as each program's
// start-up does (WSAStartup on Windows), then GoogleTest runs.
#include "common/platform/net.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!NetStartup())
        return 1;
    int result = RUN_ALL_TESTS();
    NetCleanup();
    return result;
}
