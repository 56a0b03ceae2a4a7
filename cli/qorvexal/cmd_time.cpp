// qorvexal-cli time: sets a device's clock to this computer's local time or a given moment.
#include "cli/cli.h"
#include "cli/qorvexal/cmd_device.h"
#include "config/device/devcmd.h"
#include "config/device/devop.h"
#include "config/device/devstatus.h"

#include <ctime>

namespace {
int RunTime(std::vector<std::string>& words)
{
    CliArgs args(words);
    std::optional<std::string> password = args.Value("-p", "--password");
    std::optional<std::string> t = args.Value("-t", "--timeout");
    if (std::optional<std::string> unknown = args.UnknownOption())
        return CliFail(*unknown, 2);
    if (args.Rest().empty() || args.Rest().size() > 2)
        return CliFail("usage: time [-p PASSWORD] [-t SECONDS] DEVICE [hhmmssDDMMYYYY]", 2);
    DeviceEntry entry;
    if (!QvDeviceFromArgument(args.Rest()[0], &entry) || !QvTimeoutOption(t, &entry.timeout_s))
        return 2;
    if (password)
        entry.password = *password;
    std::string moment;
    if (args.Rest().size() == 2) {
        moment = args.Rest()[1];
        if (moment.size() != 14 || moment.find_first_not_of("0123456789") != std::string::npos)
            return CliFail("the time is written hhmmssDDMMYYYY: " + moment, 2);
    } else {
        std::time_t now = std::time(nullptr);
        std::tm local {};
#ifdef _WIN32
        localtime_s(&local, &now);
#else
        localtime_r(&now, &local);
#endif
        moment = DevTimeText(
            local.tm_hour, local.tm_min, local.tm_sec, local.tm_mday, local.tm_mon + 1, local.tm_year + 1900);
    }
    entry.status = DevStatusSettingClock;
    DevOpSetTime(entry, moment);
    if (int code = QvReportStatus(entry, "setting the clock of"))
        return code;
    std::printf("%s\n", DevStatusText(entry.status.load()).c_str());
    return 0;
}

CliRegistrar g_time { { "time",
    "time [-p PASSWORD] [-t SECONDS] DEVICE [hhmmssDDMMYYYY]    set the device's clock (default: local time now)",
    RunTime } };
} // namespace
