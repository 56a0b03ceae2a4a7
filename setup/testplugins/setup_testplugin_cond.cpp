// Test plug-in of the installer: conditions. "AlwaysHolds" holds; "HoldsUnlessAsked" fails while the
// environment variable SETUP_TESTPLUGIN_FAIL is set, and then leaves a failure text of 300 characters
// (more than the 255 the installer takes) for GetLastFailMessage.
#include "setup/testplugins/setup_testplugin.h"

#include <cstdlib>
#include <cstring>

namespace {
bool g_failed = false;
}

TESTPLUGIN_EXPORT int TESTPLUGIN_CALL GetVersionNumber()
{
    return 1;
}

TESTPLUGIN_EXPORT int TESTPLUGIN_CALL AlwaysHolds()
{
    return 1;
}

TESTPLUGIN_EXPORT int TESTPLUGIN_CALL HoldsUnlessAsked()
{
    g_failed = std::getenv("SETUP_TESTPLUGIN_FAIL") != nullptr;
    return g_failed ? 0 : 1;
}

TESTPLUGIN_EXPORT void TESTPLUGIN_CALL GetLastFailMessage(char* buffer)
{
    const char text[] = "The test condition does not hold on this computer. ";
    size_t len = 0;
    while (len < 300) {
        size_t n = std::strlen(text) < 300 - len ? std::strlen(text) : 300 - len;
        std::memcpy(buffer + len, text, n);
        len += n;
    }
    buffer[len] = 0;
}
