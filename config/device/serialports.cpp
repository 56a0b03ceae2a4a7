// The serial ports the search checks: the system's list on Windows, the user's list elsewhere.
#include "common/diag.h"
#include "common/ini.h"
#include "common/text.h"
#include "config/device/console.h"

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

std::vector<std::string> ConsoleEnumeratePorts(const IniFile* settings)
{
    // Natively the tool never opens a serial port of the machine unasked: only the ports the user
    // named in the settings are searched.
    if (!settings)
        return {};
    return ConsoleSplitPortList(settings->GetString("Options", "SerialPorts", ""));
}
