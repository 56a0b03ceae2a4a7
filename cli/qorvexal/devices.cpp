#include "cli/qorvexal/devices.h"

#include "cli/cli.h"
#include "cli/qorvexal/globals.h"
#include "common/datafolder.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/frontend/mainview.h"
#include "device/console.h"

#include <cstdlib>

std::string QvIniPath()
{
    if (!QvGlobal().iniFile.empty())
        return QvGlobal().iniFile;
    if (const char* env = std::getenv("QORVEXAL_INI"); env && *env)
        return env;
    std::string name = StrLoad(qorvexal_Strings(), MainStrIniName);
    if (name.empty())
        name = "qorvexal.ini";
#ifdef _WIN32
    // As the configuration tool keeps it: beside the program, or in the user's folder when the
    // program's folder takes no files (common/datafolder.h).
    return ChooseDataFolder(FileProgramDirectory(), "Velquin", { name }).folder + name;
#else
    return name;
#endif
}

std::string QvLegacyListPath()
{
    std::string ini = QvIniPath();
    size_t slash = ini.find_last_of("/\\");
    std::string dir = slash == std::string::npos ? "" : ini.substr(0, slash + 1);
    std::string name = StrLoad(qorvexal_Strings(), MainStrDeviceListName);
    return dir + (name.empty() ? "qorvexal.lst" : name);
}

int QvLoadDevices(DeviceList& list)
{
    if (!DeviceListLoadFile(list, QvIniPath(), QvLegacyListPath())) {
        CliFail("cannot import " + QvLegacyListPath() + " into " + QvIniPath());
        return 0;
    }
    return 1;
}

int QvSaveDevices(const DeviceList& list)
{
    if (!DeviceListSave(list, QvIniPath())) {
        CliFail("cannot write " + QvIniPath() + " (the file is unchanged)");
        return 0;
    }
    return 1;
}

bool QvParseAddressPort(std::string_view text, uint32_t* ip, uint16_t* port, bool* hasPort)
{
    std::string_view address = text;
    uint16_t p = 0;
    bool withPort = false;
    size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        std::optional<uint32_t> n = ParseUnsignedStrict(text.substr(colon + 1));
        if (!n || *n > 65535 || text.substr(colon + 1).find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        p = static_cast<uint16_t>(*n);
        withPort = true;
        address = text.substr(0, colon);
    }
    std::optional<uint32_t> a = NetParseAddress(address);
    if (!a)
        return false;
    *ip = *a;
    *port = p;
    if (hasPort)
        *hasPort = withPort;
    return true;
}

int QvParseLinkSpec(std::string_view text, DeviceEntry* entry, std::string* error)
{
    if (StrStartsWithNoCase(text, "serial:")) {
        std::string_view port = text.substr(7);
        if (port.empty()) {
            *error = "serial: needs a port name";
            return -1;
        }
        if (port.size() > kConsolePortNameMax) {
            *error = StrFormat("serial port name too long (at most %u characters): %.*s",
                static_cast<unsigned>(kConsolePortNameMax), static_cast<int>(port.size()), port.data());
            return -1;
        }
        *entry = DeviceEntry();
        entry->link = LinkSerial;
        entry->line_name = port;
        entry->name = port;
        return 1;
    }
    if (StrStartsWithNoCase(text, "ras:")) {
        std::string_view rest = text.substr(4);
        size_t at = rest.rfind('@');
        uint32_t ip = 0;
        uint16_t port = 0;
        if (at == std::string_view::npos || at == 0 || !QvParseAddressPort(rest.substr(at + 1), &ip, &port)) {
            *error = "a dial-up device is ras:PHONE@ADDRESS[:PORT]: " + std::string(text);
            return -1;
        }
        *entry = DeviceEntry();
        entry->link = LinkDialUp;
        entry->phone_number = rest.substr(0, at);
        entry->address = ip;
        entry->address_list[0] = ip;
        entry->port = port;
        entry->name = std::string(text);
        return 1;
    }
    return 0;
}

std::vector<DeviceEntry*> QvMatchDevices(DeviceList& list, std::string_view spec)
{
    std::vector<DeviceEntry*> byName, byAddress, byLine;
    uint32_t ip = 0;
    uint16_t port = 0;
    bool hasPort = false;
    bool isAddress = QvParseAddressPort(spec, &ip, &port, &hasPort);
    for (DeviceEntry* e : list.All()) {
        if (StrEqualNoCase(e->name, spec))
            byName.push_back(e);
        else if (isAddress && e->link != LinkSerial && e->address == ip && (!hasPort || e->port == port))
            byAddress.push_back(e);
        else if (e->link == LinkSerial && StrEqualNoCase(e->line_name, spec))
            byLine.push_back(e);
    }
    if (!byName.empty())
        return byName;
    if (!byAddress.empty())
        return byAddress;
    return byLine;
}

std::string QvAmbiguousText(std::string_view spec, const std::vector<DeviceEntry*>& found)
{
    std::string text
        = StrFormat("%u devices match '%.*s'; name one of them by its address:", static_cast<unsigned>(found.size()),
            static_cast<int>(spec.size()), spec.data());
    for (const DeviceEntry* e : found) {
        std::string where = e->link == LinkSerial ? e->line_name.str()
            : e->link == LinkDialUp               ? e->ras_entry.str() + " (" + e->phone_number.str() + ")"
                                                  : e->AddressText();
        text += "\n  " + e->name.str() + " (" + where + ")";
    }
    return text;
}

DeviceEntry* QvResolveDevice(
    DeviceList& list, std::string_view spec, std::unique_ptr<DeviceEntry>& scratch, std::string& error)
{
    std::vector<DeviceEntry*> found = QvMatchDevices(list, spec);
    if (found.size() == 1)
        return found[0];
    if (found.size() > 1) {
        error = QvAmbiguousText(spec, found);
        return nullptr;
    }
    DeviceEntry linked;
    if (int kind = QvParseLinkSpec(spec, &linked, &error)) {
        if (kind < 0)
            return nullptr;
        scratch = std::make_unique<DeviceEntry>(linked);
        return scratch.get();
    }
    uint32_t ip = 0;
    uint16_t port = 0;
    if (QvParseAddressPort(spec, &ip, &port)) {
        scratch = std::make_unique<DeviceEntry>();
        scratch->link = LinkIp;
        scratch->address = ip;
        scratch->address_list[0] = ip;
        scratch->port = port;
        scratch->name = std::string(spec);
        return scratch.get();
    }
    error = StrFormat("no device '%.*s' in the device list", static_cast<int>(spec.size()), spec.data());
    return nullptr;
}
