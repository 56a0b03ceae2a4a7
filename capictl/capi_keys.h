// The registry keys of the CAPI task and driver (all under HKEY_LOCAL_MACHINE), and the settings records
// built from the driver's parameters key.
#pragma once

#include "common/platform/registry.h"

#include <string>

enum class CapiFamily { WindowsNT, Windows9x };

struct CapiKeys {
    std::string settings; // the task's settings key
    std::string driver; // the driver's key
    std::string parameters; // driver + "\Parameters"
    std::string rcapi; // driver + "\Parameters\RCapi"
};

// Determines the keys for the system family: NT the fixed service keys; 9x the "DrvBaseKey" value of the
// task's settings, else the device enumeration ("Enum", three levels) for "ZEVRARCAPI". 1 or 0.
int CapiFindDriverKey(CapiFamily family);
const CapiKeys& CapiGetKeys();

// The settings records of the key tree below `path` (depth first: a key's values, its key-end record,
// then its subkeys). 0 when the key cannot be opened or nothing was collected. A value whose data exceeds
// 260 bytes or whose relative name would exceed 519 characters is left out with a diagnostic line (the
// key's later values still follow); a subkey whose path would be too long is left out with its subtree.
int CapiBuildSettings(RegRoot root, const std::string& path, std::string* records);
// The two records of the suspend command: "RCapi\RCapiSuspended" and the key end "RCapi\".
std::string CapiSuspendRecords(uint32_t flag);

constexpr size_t kCapiMaxValueData = 260;
constexpr size_t kCapiMaxRelativeName = 519;
