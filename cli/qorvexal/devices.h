// The device list as the qorvexal-cli commands see it: loading and saving the settings file named by
// --ini, and finding a device by its name or by ADDRESS[:PORT].
#pragma once

#include "device/devicelist.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The settings file: --ini FILE, else $QORVEXAL_INI, else "qorvexal.ini" in the current directory (on
// Windows: in the configuration tool's data folder, beside the program or in the user's folder).
std::string QvIniPath();
// The legacy list file beside the settings file ("qorvexal.lst").
std::string QvLegacyListPath();

// Loads the device list (importing a legacy list file when one lies beside the settings file).
// Returns 1 on success; prints the error and returns 0 otherwise.
int QvLoadDevices(DeviceList& list);
// Saves the list in one replacement of the settings file; prints the error and returns 0 on failure.
int QvSaveDevices(const DeviceList& list);

// Every entry named `spec`: by name (ignoring case), else by ADDRESS or ADDRESS:PORT (an IP or
// dial-up entry at that address; without a port, any port), else serial entries by port name.
std::vector<DeviceEntry*> QvMatchDevices(DeviceList& list, std::string_view spec);

// The refusal of a name or address that several entries match: how many, and each with where it is
// reached, so that the user can name one by its address (two devices may report one name).
std::string QvAmbiguousText(std::string_view spec, const std::vector<DeviceEntry*>& found);

// The one device a command works on: the list's entry named `spec`, else, when `spec` is an ADDRESS[:PORT]
// that no entry has, a new IP entry for it held in `scratch` (not added to the list). Null with
// `error` set when no device or several devices match.
DeviceEntry* QvResolveDevice(
    DeviceList& list, std::string_view spec, std::unique_ptr<DeviceEntry>& scratch, std::string& error);

// "serial:PORT" (a device path natively, COMn on Windows) or "ras:PHONE@ADDRESS[:PORT]": a serial or
// dial-up entry in `entry`. Returns 1 for such a text, 0 for any other, -1 for one that names a link
// but cannot be used (`error` says why: a port name longer than an entry holds, no phone number...).
int QvParseLinkSpec(std::string_view text, DeviceEntry* entry, std::string* error);

// "a.b.c.d" or "a.b.c.d:port"; false when the text is not such an address.
bool QvParseAddressPort(std::string_view text, uint32_t* ip, uint16_t* port, bool* hasPort = nullptr);
