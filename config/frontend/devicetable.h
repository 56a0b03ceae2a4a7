// The device list as a table for other programs: one row per device with the fields the list shows
// and the check adds, and its CSV export (qorvexal-cli list --csv and the window's File, Export device
// list write the same text through here).
#pragma once

#include <string>
#include <string_view>
#include <vector>

class DeviceList;
struct DeviceEntry;

// One device as the machine-readable outputs give it.
struct DeviceRow {
    std::string name, folder, link, address, type, firmware, serial, mac, status, description, mark;
    int status_code = 0;
};

// How the device is reached: its address ("a.b.c.d[:port]"), its serial port, or the dial-up
// phone-book entry with the number ("Office (0301234)").
std::string DeviceWhereText(const DeviceEntry& e);
// The status text of an entry: "Dial-Up error" carries the dial-up error's text, another failure what
// the device said about it ("Status unknown: File not found (1)").
std::string DeviceStatusLine(const DeviceEntry& e);
// The row of a device in `folder`; `where` as the caller shows how it is reached. The status is ""
// while the device was not checked.
DeviceRow DeviceRowOf(const DeviceEntry& e, std::string_view folder, std::string_view where);
// A CSV field (RFC 4180): the ANSI text as UTF-8, as it stands, or quoted with inner quotes doubled
// when it holds a comma, a quote or a line break.
std::string CsvField(std::string_view ansi);
// The CSV export of a device list: a header line, then per device name, folder, address, type,
// firmware, serial number, MAC address, status, description (CR LF line ends).
std::string DeviceListCsv(const std::vector<DeviceRow>& rows);
// Every device of the list in its order, with its folder's path ("/" for the top folder) and how it
// is reached as DeviceWhereText tells.
std::vector<DeviceRow> DeviceListRows(DeviceList& list);
