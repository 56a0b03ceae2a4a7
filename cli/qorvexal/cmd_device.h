// What the device commands of qorvexal-cli share: naming a device, progress on standard error, and the
// status text of a failure.
#pragma once

#include "device/deviceentry.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// A device named on the command line: "ADDRESS[:PORT]", or an entry of the device list (by name or
// address). Fills `entry` with a copy (time-out 10 s unless the list says otherwise). Returns false
// with a message on standard error.
bool QvDeviceFromArgument(const std::string& name, DeviceEntry* entry);
// Parses "-t SECONDS" (1 to 3600) into the entry's time-out.
bool QvTimeoutOption(const std::optional<std::string>& text, int32_t* seconds);
// Prints the entry's status text and returns the exit code: 0 for "Ok", 1 otherwise.
int QvReportStatus(const DeviceEntry& entry, const char* what);
// Runs `work` on a worker thread while the calling thread shows the entry's progress on standard error
// (when standard error is a terminal, or QORVEXAL_PROGRESS is set). Returns what `work` returns.
int QvWithProgress(DeviceEntry& entry, const std::function<int()>& work);
