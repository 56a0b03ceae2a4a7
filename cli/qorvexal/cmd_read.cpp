// qorvexal-cli read: reads a device's configuration text into a file.
#include "cli/cli.h"
#include "cli/qorvexal/cmd_device.h"
#include "common/platform/file.h"
#include "common/tempstream.h"
#include "config/device/devop.h"
#include "config/device/devstatus.h"

namespace {
int RunRead(std::vector<std::string>& words)
{
    CliArgs args(words);
    std::optional<std::string> password = args.Value("-p", "--password");
    std::optional<std::string> t = args.Value("-t", "--timeout");
    if (std::optional<std::string> unknown = args.UnknownOption())
        return CliFail(*unknown, 2);
    if (args.Rest().size() != 2)
        return CliFail("usage: read [-p PASSWORD] [-t SECONDS] DEVICE FILE", 2);
    DeviceEntry entry;
    if (!QvDeviceFromArgument(args.Rest()[0], &entry) || !QvTimeoutOption(t, &entry.timeout_s))
        return 2;
    if (password)
        entry.password = *password;
    std::shared_ptr<CfgTempStream> stream;
    entry.status = DevStatusReadingConfig;
    QvWithProgress(entry, [&] { return DevOpReadConfig(entry, &stream); });
    if (int code = QvReportStatus(entry, "reading the configuration of"))
        return code;
    // The file is replaced only by a complete text.
    if (!FileWriteAtomic(args.Rest()[1], stream->Contents()))
        return CliFail("cannot write " + args.Rest()[1], 1);
    std::printf("%s\n", DevStatusText(entry.status.load()).c_str());
    return 0;
}

CliRegistrar g_read { { "read",
    "read [-p PASSWORD] [-t SECONDS] DEVICE FILE    read the device's configuration text into FILE", RunRead } };
} // namespace
