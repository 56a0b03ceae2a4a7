// The serial ports the search checks: the system's list on Windows, the user's list elsewhere.
#include "common/diag.h"
#include "common/ini.h"
#include "common/platform/registry.h"
#include "common/text.h"
#include "device/console.h"

namespace {
// Adds `name` unless it is there already (ignoring case) or does not fit a DeviceEntry.
void AddPort(std::vector<std::string>& ports, std::string_view name)
{
    name = Trim(name);
    if (name.empty())
        return;
    for (const std::string& p : ports)
        if (StrEqualNoCase(p, name))
            return;
    if (name.size() > kConsolePortNameMax) {
        Diag("serial port name too long (at most %u characters): %.*s\n", static_cast<unsigned>(kConsolePortNameMax),
            static_cast<int>(name.size()), name.data());
        return;
    }
    ports.emplace_back(name);
}
} // namespace

std::vector<std::string> ConsoleSplitPortList(std::string_view text)
{
    std::vector<std::string> ports;
    while (!text.empty()) {
        size_t semi = text.find(';');
        AddPort(ports, text.substr(0, semi));
        text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
    }
    return ports;
}

std::vector<std::string> ConsoleRegistryPorts(bool win9x)
{
    std::vector<std::string> ports;
    auto text = [](const std::string& data) { return data.substr(0, data.find('\0')); };
    if (!win9x) {
        // Windows NT: each value of the key names a port in its data ("\Device\Serial0" = "COM1").
        RegKey key;
        if (key.Open(RegRoot::LocalMachine, "Hardware\\DeviceMap\\SerialComm") != RegStatus::Ok)
            return ports;
        std::string name, data;
        uint32_t type = 0;
        for (uint32_t i = 0; key.EnumValue(i, &name, &type, &data) == RegStatus::Ok; ++i)
            if (type == kRegSz || type == kRegExpandSz)
                AddPort(ports, text(data));
        return ports;
    }
    // The older family: devices under "Enum" (bus, device, instance) with a "PortName" whose driver
    // class key names a serial port (first byte of "PortSubClass" 1; 0 is a printer port).
    RegKey root;
    if (root.Open(RegRoot::LocalMachine, "Enum") != RegStatus::Ok)
        return ports;
    std::string bus, device, instance;
    for (uint32_t b = 0; root.EnumKey(b, &bus) == RegStatus::Ok; ++b) {
        RegKey busKey;
        if (busKey.Open(root, bus) != RegStatus::Ok)
            continue;
        for (uint32_t d = 0; busKey.EnumKey(d, &device) == RegStatus::Ok; ++d) {
            RegKey deviceKey;
            if (deviceKey.Open(busKey, device) != RegStatus::Ok)
                continue;
            for (uint32_t n = 0; deviceKey.EnumKey(n, &instance) == RegStatus::Ok; ++n) {
                RegKey key;
                if (key.Open(deviceKey, instance) != RegStatus::Ok)
                    continue;
                std::optional<std::string> port = key.ReadString("PortName");
                std::optional<std::string> driver = key.ReadString("Driver");
                if (!port || !driver)
                    continue;
                RegKey classKey;
                std::string subClass;
                uint32_t type = 0;
                if (classKey.Open(RegRoot::LocalMachine, "System\\CurrentControlSet\\Services\\Class\\" + *driver)
                        == RegStatus::Ok
                    && classKey.QueryValue("PortSubClass", &type, &subClass) == RegStatus::Ok && !subClass.empty()
                    && subClass[0] == 1)
                    AddPort(ports, *port);
            }
        }
    }
    return ports;
}

std::vector<std::string> ConsoleEnumeratePorts(const IniFile* settings)
{
#ifdef _WIN32
    (void)settings;
    return ConsoleRegistryPorts(false);
#endif
    // Natively the tool never opens a serial port of the machine unasked: only the ports the user
    // named in the settings are searched.
    if (!settings)
        return {};
    return ConsoleSplitPortList(settings->GetString("Options", "SerialPorts", ""));
}
