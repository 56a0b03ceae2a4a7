// qorvexal-cli search: finds devices by broadcast and merges them into the device list.
#include "cli/cli.h"
#include "cli/qorvexal/devices.h"
#include "cli/qorvexal/jobfront.h"
#include "cli/qorvexal/qvjson.h"
#include "common/ini.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/frontend/mainview.h"
#include "device/console.h"
#include "device/search.h"

#include <cstdio>

namespace {

int RunSearch(std::vector<std::string>& args)
{
    CliArgs a(args);
    CliSearchOptions search(a, 0, kTftpPort);
    bool serial = a.Flag("--serial");
    bool json = a.Flag("--json");
    std::vector<std::string> serialPorts = a.Values("--serial-port");
    if (std::optional<std::string> unknown = a.UnknownOption())
        return CliFail(*unknown, 2);
    if (!a.Rest().empty())
        return CliFail("search takes no arguments besides its options (see --help)", 2);
    if (!search.Check(serial, "--serial"))
        return 2;
    if (!serialPorts.empty() && !serial)
        return CliFail("--serial-port needs --serial", 2);
    for (const std::string& p : serialPorts)
        if (p.size() > kConsolePortNameMax)
            return CliFail(StrFormat("serial port name too long (at most %u characters): %s",
                               static_cast<unsigned>(kConsolePortNameMax), p.c_str()),
                2);

    DeviceList list;
    if (!QvLoadDevices(list))
        return 1;
    IniFile ini;
    ini.Load(QvIniPath());
    // The search runs as the window's Find command does: as job 1028 on the device worker, one job
    // for the local network and one for each remote network.
    QvJobFront front;
    if (int rc = front.Start(false))
        return rc;
    // The serial ports: those named, else the enumeration (natively the settings' "SerialPorts").
    ConsoleSerialSearch serialSearch(serialPorts.empty() ? ConsoleEnumeratePorts(&ini) : serialPorts);
    std::vector<DeviceEntry> results = front.SearchAll(search, ini, serial ? &serialSearch : nullptr);

    size_t total = results.size();
    std::string jsonRows;
    SearchMergeResult merge = DeviceSearchMerge(list, results, list.FindFolder(list.current_folder));
    for (size_t i = 0; i < results.size(); ++i) {
        const DeviceEntry& e = results[i];
        const char* mark = static_cast<int>(i) < merge.conflicts ? "conflict" : "";
        bool added = false;
        for (DeviceEntry* n : merge.added)
            added = added
                || (e.link == LinkSerial ? n->link == LinkSerial && StrEqualNoCase(n->line_name, e.line_name)
                                         : n->address == e.address && n->mac_address == e.mac_address);
        if (!*mark && added)
            mark = "new";
        if (json) {
            DeviceRow row = DeviceRowOf(e, "", e.link == LinkSerial ? e.line_name.str() : e.AddressText());
            row.mark = mark;
            jsonRows += std::string(i ? ",\n  " : "\n  ") + QvDeviceJson(row, true);
            continue;
        }
        std::printf("%-24s %-24s %-21s %-12s %-10s %s\n", e.name.c_str(), e.device_type.c_str(),
            e.link == LinkSerial ? e.line_name.c_str() : e.AddressText().c_str(), e.mac_address.c_str(),
            e.fw_version.c_str(), mark);
    }
    if (json)
        std::printf("{\"devices\": [%s%s], \"found\": %u, \"new\": %d, \"conflicts\": %d}\n", jsonRows.c_str(),
            jsonRows.empty() ? "" : "\n", static_cast<unsigned>(total), merge.new_devices, merge.conflicts);
    else
        std::printf("%u device(s) found, %d new, %d conflict(s)\n", static_cast<unsigned>(total), merge.new_devices,
            merge.conflicts);
    if (merge.conflicts)
        std::fprintf(stderr, "%s\n\n%s", QvMessageLines(SearchConflictMessage()).c_str(),
            QvMessageLines(SearchConflictDetails(results, merge.conflicts)).c_str());
    else if (merge.new_devices == 0)
        std::fprintf(stderr, "%s\n", StrLoad(qorvexal_Strings(), MainStrNoNewDevices).c_str());
    if (merge.new_devices || !merge.updated.empty())
        if (!QvSaveDevices(list))
            return 1;
    return 0;
}

CliRegistrar g_search { { "search",
    "[--ini FILE] search [--json] [-t SECONDS] [--no-local] [--net ADDRESS/NETMASK]... [--port PORT] [--serial "
    "[--serial-port NAME]...]   find devices (local network by broadcast, remote networks by directed broadcast, "
    "with --serial first the consoles on the serial ports named or enumerated) and merge them into the device "
    "list; with --port the new entries keep that port",
    RunSearch } };

} // namespace
