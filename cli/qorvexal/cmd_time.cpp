// qorvexal-cli time: sets the clock of each named device to this computer's local time or a given
// moment, through the set-time job of the device worker.
#include "cli/qorvexal/jobfront.h"
#include "device/devcmd.h"
#include "device/devstatus.h"

#include <cstdio>
#include <ctime>

namespace {
#define TIME_USAGE "time [-p PASSWORD] [-t SECONDS] [--at hhmmssDDMMYYYY] DEVICE|FOLDER..."

int RunTime(std::vector<std::string>& words)
{
    CliArgs args(words);
    std::optional<std::string> at = args.Value("--at");
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    std::vector<std::string> devices = args.Rest();
    // The moment may also follow a single device, as in "time DEVICE hhmmssDDMMYYYY".
    if (!at && devices.size() == 2 && devices[1].size() == 14
        && devices[1].find_first_not_of("0123456789") == std::string::npos) {
        at = devices[1];
        devices.pop_back();
    }
    if (devices.empty())
        return CliFail("usage: " TIME_USAGE, 2);
    std::string moment;
    if (at) {
        moment = *at;
        if (moment.size() != 14 || moment.find_first_not_of("0123456789") != std::string::npos)
            return CliFail("the time is written hhmmssDDMMYYYY: " + moment, 2);
    }
    if (int rc = front.Select(devices))
        return rc;
    if (int rc = front.Start(false))
        return rc;
    int32_t result = front.Command(CmdSetTime, {}, [&](DeviceJob& job) {
        if (moment.empty()) {
            std::time_t now = std::time(nullptr);
            std::tm local {};
            localtime_r(&now, &local);
            moment = DevTimeText(
                local.tm_hour, local.tm_min, local.tm_sec, local.tm_mday, local.tm_mon + 1, local.tm_year + 1900);
        }
        job.first->cSysTime = moment;
        return 1;
    });
    if (result != JobTimeOk)
        return 1;
    std::printf("%s\n", DevStatusText(DevStatusOk).c_str());
    return 0;
}

CliRegistrar g_time { { "time", TIME_USAGE "    set the devices' clocks (default: local time now)", RunTime } };
} // namespace
