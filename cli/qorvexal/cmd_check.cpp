// qorvexal-cli check: reads a device's system information and prints its status.
#include "cli/cli.h"
#include "cli/qorvexal/cmd_device.h"
#include "config/device/devop.h"
#include "config/device/devstatus.h"

namespace {
int RunCheck(std::vector<std::string>& words)
{
    CliArgs args(words);
    DeviceEntry entry;
    int32_t timeout = 10;
    std::optional<std::string> t = args.Value("-t", "--timeout");
    if (std::optional<std::string> unknown = args.UnknownOption())
        return CliFail(*unknown, 2);
    if (args.Rest().size() != 1)
        return CliFail("usage: check [-t SECONDS] DEVICE", 2);
    if (!QvDeviceFromArgument(args.Rest()[0], &entry) || !QvTimeoutOption(t, &timeout))
        return 2;
    entry.timeout_s = timeout;
    entry.status = DevStatusChecking;
    DevOpCheck(entry);
    std::printf("%s\n", DevStatusText(entry.status.load()).c_str());
    return entry.status.load() == DevStatusOk ? 0 : 1;
}

CliRegistrar g_check { { "check",
    "check [-t SECONDS] DEVICE    read the device's system information; prints its status", RunCheck } };
} // namespace
