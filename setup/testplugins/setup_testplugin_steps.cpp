// Test plug-in of the installer: steps. Step 0 (level 4, progress maximum 10) appends "marker" and
// each progress position to the file named by SETUP_TESTPLUGIN_MARKER; step 1 (level 4) names an entry
// point the library lacks; step 2 (level 5, never run) fills its texts to the last byte without a NUL;
// step 3 (level 4) is a gate: with SETUP_TESTPLUGIN_GATE naming a path P it creates P.ready and waits
// (bounded: 120 s) for P.go, so that a test acts while the installation runs; without it, it returns.
#include "setup/testplugins/setup_testplugin.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

void Put32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutText(uint8_t* field, const char* text)
{
    std::memcpy(field, text, std::strlen(text) + 1);
}

} // namespace

TESTPLUGIN_EXPORT int TESTPLUGIN_CALL GetVersionNumber()
{
    return 1;
}

TESTPLUGIN_EXPORT int TESTPLUGIN_CALL QuerySteps()
{
    return 4;
}

TESTPLUGIN_EXPORT int TESTPLUGIN_CALL GetStepNumber(uint8_t* record, int index)
{
    switch (index) {
    case 0:
        Put32(record, 4);
        PutText(record + 4, "WriteMarker");
        PutText(record + 260, "Writing the test marker ...");
        Put32(record + 1284, 10);
        break;
    case 1:
        Put32(record, 4);
        PutText(record + 4, "NoSuchEntry");
        PutText(record + 260, "A step without entry point");
        break;
    case 3:
        Put32(record, 4);
        PutText(record + 4, "WaitAtGate");
        PutText(record + 260, "Waiting at the test gate ...");
        break;
    default:
        Put32(record, 5);
        std::memset(record + 4, 'E', 256);
        std::memset(record + 260, 'T', 1024);
        Put32(record + 1284, 0);
        break;
    }
    return 1;
}

TESTPLUGIN_EXPORT int TESTPLUGIN_CALL WriteMarker(void(TESTPLUGIN_CALL* progress)(int))
{
    const char* path = std::getenv("SETUP_TESTPLUGIN_MARKER");
    FILE* out = path ? std::fopen(path, "ab") : nullptr;
    if (out)
        std::fputs("marker", out);
    for (int i = 0; i <= 10; i += 5) {
        progress(i);
        if (out)
            std::fprintf(out, " %d", i);
    }
    if (out) {
        std::fputs("\n", out);
        std::fclose(out);
    }
    return 1;
}

TESTPLUGIN_EXPORT int TESTPLUGIN_CALL WaitAtGate(void(TESTPLUGIN_CALL*)(int))
{
    const char* gate = std::getenv("SETUP_TESTPLUGIN_GATE");
    if (!gate)
        return 1;
    std::string ready = std::string(gate) + ".ready";
    std::string go = std::string(gate) + ".go";
    if (FILE* out = std::fopen(ready.c_str(), "wb"))
        std::fclose(out);
    for (int i = 0; i < 1200; ++i) {
        if (FILE* in = std::fopen(go.c_str(), "rb")) {
            std::fclose(in);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
}
