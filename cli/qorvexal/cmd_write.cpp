// qorvexal-cli write: sends a configuration text to a device and waits until it is back after its
// restart, at its address or at one of the further addresses the new configuration gives it.
#include "cli/cli.h"
#include "cli/qorvexal/cmd_device.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/tempstream.h"
#include "config/device/devop.h"
#include "config/device/devstatus.h"

namespace {
int RunWrite(std::vector<std::string>& words)
{
    CliArgs args(words);
    std::optional<std::string> password = args.Value("-p", "--password");
    std::optional<std::string> t = args.Value("-t", "--timeout");
    std::vector<std::string> further = args.Values("-a", "--address");
    if (std::optional<std::string> unknown = args.UnknownOption())
        return CliFail(*unknown, 2);
    if (args.Rest().size() != 2)
        return CliFail("usage: write [-p PASSWORD] [-t SECONDS] [-a ADDRESS]... DEVICE FILE", 2);
    DeviceEntry entry;
    if (!QvDeviceFromArgument(args.Rest()[0], &entry) || !QvTimeoutOption(t, &entry.timeout_s))
        return 2;
    if (password)
        entry.password = *password;
    // Further addresses to try after the restart. (With the configuration store, the job takes them
    // from the configuration's important address items; here the user names them.)
    size_t n = 1;
    for (size_t i = 1; i < DeviceEntry::kAddressListSize && entry.address_list[i]; ++i)
        n = i + 1;
    for (const std::string& text : further) {
        std::optional<uint32_t> ip = NetParseAddress(text);
        if (!ip)
            return CliFail("not an address: " + text, 2);
        if (n < DeviceEntry::kAddressListSize)
            entry.address_list[n++] = *ip;
    }
    std::string text;
    if (!FileReadAll(args.Rest()[1], &text))
        return CliFail("cannot read " + args.Rest()[1], 1);
    CfgTempStream stream;
    if (!stream.Open() || stream.Write(text) != text.size() || !stream.Rewind())
        return CliFail("cannot create a temporary file", 1);

    // The device's flags say whether it restarts and how long it takes.
    entry.status = DevStatusChecking;
    if (!DevOpCheck(entry))
        return QvReportStatus(entry, "checking");
    entry.status = DevStatusWritingConfig;
    QvWithProgress(entry, [&] { return DevOpWriteConfig(entry, stream); });
    if (int code = QvReportStatus(entry, "writing the configuration to"))
        return code;
    uint32_t flags = DevWaitFurtherAddresses;
    bool restarts = !(entry.flags & DevFlagNoRestart);
    if (restarts)
        flags |= DevWaitRestarts;
    int32_t extra = (entry.flags & DevFlagSlowRestart) ? 30 : 0;
    entry.status = restarts ? DevStatusRestarting : DevStatusChecking;
    if (restarts)
        std::fprintf(stderr, "%s\n", DevStatusText(DevStatusRestarting).c_str());
    // The write set `cancel` to keep itself from being interrupted; the wait may be cancelled again.
    entry.cancel = 0;
    DevOpWaitRestart(entry, flags, extra);
    if (int code = QvReportStatus(entry, "waiting for the restart of"))
        return code;
    std::printf("%s\n", DevStatusText(entry.status.load()).c_str());
    if (entry.address != entry.address_list[0])
        std::printf("%s\n", entry.AddressText().c_str());
    return 0;
}

CliRegistrar g_write { { "write",
    "write [-p PASSWORD] [-t SECONDS] [-a ADDRESS]... DEVICE FILE    send FILE as the device's configuration, wait "
    "for its restart (trying the further addresses -a); prints the new address when it moved",
    RunWrite } };
} // namespace
