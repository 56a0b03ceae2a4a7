// Machine-readable output of qorvexal-cli: JSON texts (UTF-8, from the suite's ANSI texts) and CSV
// fields. Each command's schema is documented in README.md.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A JSON string: quoted, the ANSI text as UTF-8, quotes, backslashes and control characters escaped.
std::string QvJson(std::string_view ansi);
// A CSV field (RFC 4180): as it stands, or quoted with inner quotes doubled when it holds a comma, a
// quote or a line break; the ANSI text as UTF-8.
std::string QvCsv(std::string_view ansi);

struct DeviceEntry;

// One device as the machine-readable outputs of list, check and search give it.
struct QvDeviceRow {
    std::string name, folder, link, address, type, firmware, serial, mac, status, description, mark;
    int status_code = 0;
};
// `where`: how the device is reached as the command shows it (address, serial port, dial-up).
QvDeviceRow QvDeviceRowOf(const DeviceEntry& e, std::string_view folder, std::string_view where);
// {"name": ..., "folder": ..., ...}: every field of the row; "mark" only when `withMark`.
std::string QvDeviceJson(const QvDeviceRow& row, bool withMark = false);
// The CSV export of a device list: a header line, then per device name, folder, address, type,
// firmware, serial number, MAC address, status, description (CR LF line ends).
std::string QvDeviceCsv(const std::vector<QvDeviceRow>& rows);
// list --json / --csv / --check: checks the devices first with --check (every one, through the check
// job), then prints them as JSON ({"devices": [...], "count": N}), CSV, or the text table with status.
int QvPrintDeviceList(const std::vector<std::pair<DeviceEntry*, std::string>>& shown, bool json, bool csv, bool check,
    std::string (*where)(const DeviceEntry&));
