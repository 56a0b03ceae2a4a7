// qorvexal-cli check: reads the system information of each named device (or of every device of a
// folder) through the check job of the device worker and prints each device's status.
#include "cli/qorvexal/jobfront.h"
#include "cli/qorvexal/qvjson.h"
#include "device/devstatus.h"

#include <cstdio>

namespace {
int RunCheck(std::vector<std::string>& words)
{
    CliArgs args(words);
    bool json = args.Flag("--json");
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    if (args.Rest().empty())
        return CliFail("usage: check [-t SECONDS] DEVICE|FOLDER...", 2);
    if (int rc = front.Select(args.Rest()))
        return rc;
    if (int rc = front.Start(false))
        return rc;
    // Every device is checked, also after one that does not answer.
    front.Job(JobCheck, front.Selected(), 0);
    int failed = 0;
    std::string out = "{\"devices\": [";
    for (DeviceEntry* e : front.Selected()) {
        int32_t status = e->status.load();
        failed += status != DevStatusOk;
        if (json) {
            out += std::string(e == front.Selected().front() ? "\n  " : ",\n  ")
                + QvDeviceJson(DeviceRowOf(*e, "", e->link == LinkSerial ? e->line_name.str() : e->AddressText()));
            continue;
        }
        std::string text = QvStatusText(*e);
        if (front.Selected().size() == 1)
            std::printf("%s\n", text.c_str());
        else
            std::printf("%-24s %-21s %s\n", e->name.c_str(),
                e->link == LinkSerial ? e->line_name.c_str() : e->AddressText().c_str(), text.c_str());
    }
    if (json)
        std::printf("%s\n], \"failed\": %d}\n", out.c_str(), failed);
    return failed ? 1 : 0;
}

CliRegistrar g_check { { "check",
    "check [--json] [-t SECONDS] DEVICE|FOLDER...    read the devices' system information; prints their status",
    RunCheck } };
} // namespace
