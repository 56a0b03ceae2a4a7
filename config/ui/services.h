// The services qorvexal.exe starts that other parts of the program provide: the dial-up library, the
// description index, the device worker, and what the shell verbs open. Each is a hook; an unset hook is
// skipped (the verbs note on the diagnostic output what they were asked to do).
#pragma once

#include "config/startup/startup.h"

#include <cstdint>
#include <functional>
#include <string>

struct QorvexalServices {
    std::function<void()> loadDialupLibrary;
    std::function<void()> unloadDialupLibrary;
    std::function<void(const StartupPaths&)> startDescriptionIndex; // also registers its stop at exit
    // Starts the device worker thread and returns its thread id (0 when it could not start).
    std::function<uint32_t()> startDeviceWorker;
    ShellVerbHooks verbs; // edit, print, printTo, newConfiguration, autoUpdateFromFile, autoUpdateDevice
};
QorvexalServices& Services();
