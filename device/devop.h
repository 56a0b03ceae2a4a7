// Device operations: one entry point per operation on a DeviceEntry, dispatching on its link type,
// and the wait for a device that restarts. Each sets `status` and returns 1 on success, 0 on failure.
// They run on the device worker thread; the window thread reads status and progress and sets cancel.
#pragma once

#include "device/deviceentry.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

class CfgTempStream;

// Wait flags of DevOpWaitRestart.
enum DevWaitFlags : uint32_t {
    DevWaitRestarts = 0x1, // the device restarts: wait 4 s first and allow 10 s more
    DevWaitFurtherAddresses = 0x2, // try the entry's further addresses when it does not answer
};

// Block size every operation asks for (the devices may answer with a smaller one).
constexpr int32_t kDevBlockSize = 512;

// Reads the system information into the entry.
int DevOpCheck(DeviceEntry& entry);
// Check, then the configuration into a new temporary stream, handed back open and rewound.
int DevOpReadConfig(DeviceEntry& entry, std::shared_ptr<CfgTempStream>* stream);
// Sends a configuration text; cannot be cancelled once started.
int DevOpWriteConfig(DeviceEntry& entry, CfgTempStream& stream);
// Sends a firmware file from its current position (`imageParam` as built by the firmware upload).
int DevOpUploadFirmware(DeviceEntry& entry, std::FILE* firmware, uint32_t imageParam);
int DevOpActivateImage(DeviceEntry& entry, int32_t image);
// `timeText`: "hhmmssDDMMYYYY".
int DevOpSetTime(DeviceEntry& entry, std::string_view timeText);
// After an operation that makes the device restart: waits, then checks until it answers, at its
// address or (DevWaitFurtherAddresses) at one of `address_list`. `extraSeconds` lengthen the check.
int DevOpWaitRestart(DeviceEntry& entry, uint32_t flags, int32_t extraSeconds);
