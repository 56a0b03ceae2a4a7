// Machine-readable output of qorvexal-cli: JSON texts (UTF-8, from the suite's ANSI texts) and CSV
// fields. Each command's schema is documented in README.md.
#pragma once

#include "config/frontend/devicetable.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A JSON string: quoted, the ANSI text as UTF-8, quotes, backslashes and control characters escaped.
std::string QvJson(std::string_view ansi);

struct DeviceEntry;

// {"name": ..., "folder": ..., ...}: every field of a device's row (config/frontend/devicetable.h,
// shared with the window's export); "mark" only when `withMark`.
std::string QvDeviceJson(const DeviceRow& row, bool withMark = false);
// list --json / --csv / --check: checks the devices first with --check (every one, through the check
// job), then prints them as JSON ({"devices": [...], "count": N}), CSV, or the text table with status.
int QvPrintDeviceList(const std::vector<std::pair<DeviceEntry*, std::string>>& shown, bool json, bool csv, bool check,
    std::string (*where)(const DeviceEntry&));
