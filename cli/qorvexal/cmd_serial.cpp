// qorvexal-cli serial ports: the serial ports the device search checks, one name a line.
#include "cli/cli.h"
#include "cli/qorvexal/devices.h"
#include "common/ini.h"
#include "device/console.h"

#include <cstdio>

namespace {
int RunSerial(std::vector<std::string>& words)
{
    CliArgs args(words);
    if (std::optional<std::string> unknown = args.UnknownOption())
        return CliFail(*unknown, 2);
    if (args.Rest().size() != 1 || args.Rest()[0] != "ports")
        return CliFail("usage: serial ports", 2);
    IniFile ini;
    ini.Load(QvIniPath());
    for (const std::string& port : ConsoleEnumeratePorts(&ini))
        std::printf("%s\n", port.c_str());
    return 0;
}

CliRegistrar g_serial { { "serial",
    "[--ini FILE] serial ports    the serial ports a search checks, one a line (Windows: the system's COM ports; "
    "elsewhere the ports named in the settings, section Options, key SerialPorts, separated by \";\")",
    RunSerial } };
} // namespace
