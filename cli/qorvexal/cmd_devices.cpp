// qorvexal-cli add / list / remove: the device list in the settings file.
#include "cli/cli.h"
#include "cli/qorvexal/devices.h"
#include "cli/qorvexal/qvjson.h"
#include "common/platform/net.h"
#include "common/text.h"

#include <cstdio>

namespace {

const char* KindText(const DeviceEntry& e)
{
    switch (e.link) {
    case LinkIp:
        return "IP";
    case LinkDialUp:
        return "RAS";
    case LinkSerial:
        return "COM";
    default:
        return "?";
    }
}

// Where the device is reached: ADDRESS[:PORT], the serial port, or the phone-book entry and number.
std::string WhereText(const DeviceEntry& e)
{
    return DeviceWhereText(e);
}

int RunAdd(std::vector<std::string>& args)
{
    CliArgs a(args);
    std::optional<std::string> folder = a.Value("--folder", "-f");
    std::optional<std::string> description = a.Value("--description", "-d");
    std::optional<std::string> password = a.Value("--password", "-p");
    std::optional<std::string> timeout = a.Value("--timeout", "-t");
    std::optional<std::string> serial = a.Value("--serial");
    std::optional<std::string> dialup = a.Value("--dialup");
    std::optional<std::string> phone = a.Value("--phone");
    std::optional<std::string> idle = a.Value("--idle");
    bool local = a.Flag("--local");
    if (std::optional<std::string> unknown = a.UnknownOption())
        return CliFail(*unknown, 2);
    std::vector<std::string>& rest = a.Rest();

    auto entry = std::make_unique<DeviceEntry>();
    size_t want = 2;
    if (serial && dialup)
        return CliFail("--serial and --dialup exclude each other", 2);
    if (serial) {
        entry->link = LinkSerial;
        entry->line_name = *serial;
        want = 1;
        if (serial->size() > FixedText<16>::kMax)
            return CliFail("serial port name longer than 15 characters: " + *serial, 2);
    } else if (dialup) {
        entry->link = LinkDialUp;
        entry->ras_entry = *dialup;
        entry->phone_number = phone.value_or("");
        entry->ras_idle_s = 20;
        want = 1;
    }
    if (rest.size() != want)
        return CliFail(want == 2 ? "add needs NAME and ADDRESS[:PORT] (see --help)" : "add needs NAME (see --help)", 2);
    const std::string& name = rest[0];
    if (name.empty() || name.size() > FixedText<64>::kMax || name.find_first_of("\r\n") != std::string::npos)
        return CliFail("the name must have 1 to 63 characters on one line", 2);
    entry->name = name;
    if (want == 2) {
        uint32_t ip = 0;
        uint16_t port = 0;
        if (!QvParseAddressPort(rest[1], &ip, &port))
            return CliFail("not an address (a.b.c.d or a.b.c.d:port): " + rest[1], 2);
        entry->address = ip;
        entry->address_list[0] = ip;
        entry->port = port;
    }
    unsigned long long n = 0;
    if (timeout) {
        if (!CliNumber(timeout, 3600, &n, "time-out"))
            return 2;
        entry->timeout_s = static_cast<int32_t>(n);
    }
    if (idle) {
        if (!CliNumber(idle, 86400, &n, "idle seconds"))
            return 2;
        entry->ras_idle_s = static_cast<int32_t>(n);
    }
    if (description) {
        if (description->size() > FixedText<256>::kMax)
            return CliFail("the description is longer than 255 characters", 2);
        entry->description = *description;
    }
    if (password) {
        if (password->size() > FixedText<64>::kMax)
            return CliFail("the password is longer than 63 characters", 2);
        entry->password = *password;
    }
    entry->local = local ? 1 : 0;

    DeviceList list;
    if (!QvLoadDevices(list))
        return 1;
    // Names identify devices on the command line: keep them unique.
    for (DeviceEntry* e : list.All())
        if (StrEqualNoCase(e->name, name))
            return CliFail("a device named '" + name + "' is already in the list", 1);
    DeviceFolder* target = folder ? &list.MakeFolder(*folder) : &list.Root();
    DeviceEntry* added = list.Add(std::move(entry), target);
    if (!QvSaveDevices(list))
        return 1;
    std::string path = DeviceList::FolderPath(*target);
    std::printf("added %s (%s %s)%s%s\n", added->name.c_str(), KindText(*added), WhereText(*added).c_str(),
        path.empty() ? "" : " in ", path.c_str());
    return 0;
}

int RunList(std::vector<std::string>& args)
{
    CliArgs a(args);
    std::optional<std::string> folder = a.Value("--folder", "-f");
    bool json = a.Flag("--json");
    bool csv = a.Flag("--csv");
    bool check = a.Flag("--check");
    if (std::optional<std::string> unknown = a.UnknownOption())
        return CliFail(*unknown, 2);
    if (!a.Rest().empty())
        return CliFail("list takes no arguments besides --folder, --json, --csv and --check", 2);
    if (json && csv)
        return CliFail("list takes --json or --csv, not both", 2);
    DeviceList list;
    if (!QvLoadDevices(list))
        return 1;
    DeviceFolder* only = nullptr;
    if (folder) {
        only = list.FindFolder(*folder);
        if (!only)
            return CliFail("no folder '" + *folder + "' in the device list", 1);
    }
    int count = 0;
    std::vector<std::pair<DeviceEntry*, std::string>> shown; // with --json, --csv, --check: entry, folder
    list.ForEach([&](DeviceFolder& f, DeviceEntry& e) {
        if (only) {
            const DeviceFolder* up = &f;
            while (up && up != only)
                up = up->parent;
            if (!up)
                return;
        }
        std::string path = DeviceList::FolderPath(f);
        if (json || csv || check)
            shown.push_back({ &e, path.empty() ? "/" : path });
        else
            std::printf("%-24s %-4s %-21s %-16s %s\n", e.name.c_str(), KindText(e), WhereText(e).c_str(),
                path.empty() ? "/" : path.c_str(), e.description.c_str());
        ++count;
    });
    if (json || csv || check)
        return QvPrintDeviceList(shown, json, csv, check, [](const DeviceEntry& e) { return WhereText(e); });
    std::printf("%d device(s)\n", count);
    return 0;
}

int RunRemove(std::vector<std::string>& args)
{
    CliArgs a(args);
    bool all = a.Flag("--all");
    if (std::optional<std::string> unknown = a.UnknownOption())
        return CliFail(*unknown, 2);
    if (a.Rest().empty())
        return CliFail("remove needs NAME or ADDRESS[:PORT] (see --help)", 2);
    DeviceList list;
    if (!QvLoadDevices(list))
        return 1;
    std::vector<std::string> removed;
    for (const std::string& spec : a.Rest()) {
        std::vector<DeviceEntry*> found = QvMatchDevices(list, spec);
        if (found.empty())
            return CliFail("no device '" + spec + "' in the device list (nothing removed)", 1);
        if (found.size() > 1 && !all)
            return CliFail(StrFormat("%u devices match '%s'; use --all to remove every one (nothing removed)",
                               static_cast<unsigned>(found.size()), spec.c_str()),
                1);
        for (DeviceEntry* e : found) {
            removed.push_back(e->name.str() + " (" + WhereText(*e) + ")");
            list.Remove(e);
        }
    }
    if (!QvSaveDevices(list))
        return 1;
    for (const std::string& r : removed)
        std::printf("removed %s\n", r.c_str());
    return 0;
}

CliRegistrar g_add { { "add",
    "[--ini FILE] add NAME ADDRESS[:PORT] [--folder PATH] [--description TEXT] [--password PW] [--timeout S] "
    "[--local]  |  add NAME --serial PORT [...]  |  add NAME --dialup ENTRY --phone NUMBER [--idle S] [...]"
    "   add a device to the device list",
    RunAdd } };
CliRegistrar g_list { { "list",
    "[--ini FILE] list [--folder PATH] [--json | --csv] [--check]   show the device list (--check: each "
    "device's type, firmware, serial number, MAC address and status as it answers now)",
    RunList } };
CliRegistrar g_remove { { "remove",
    "[--ini FILE] remove NAME|ADDRESS[:PORT]... [--all]   remove devices from the device list", RunRemove } };

} // namespace
