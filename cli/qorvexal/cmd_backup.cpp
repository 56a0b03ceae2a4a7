// qorvexal-cli backup: saves the configuration of each named device (or of every device of a folder)
// into a new time-stamped configuration file, through the save job of the device worker.
#include "cli/qorvexal/jobfront.h"
#include "common/text.h"
#include "config/device/devstatus.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

namespace {
#define BACKUP_USAGE "backup [--to DIR] " QV_JOB_USAGE " DEVICE|FOLDER..."

std::string Stamped(const DeviceEntry& e, const std::string& dir)
{
    std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &local);
    std::string base = e.name.empty() ? e.AddressText() : e.name.str();
    for (char& c : base)
        if (c == '/' || c == '\\' || c == ':' || c == ' ')
            c = '_';
    std::error_code ec;
    std::string path;
    for (int n = 1; n < 1000; ++n) {
        path = (std::filesystem::path(dir) / (base + "_" + stamp + (n > 1 ? StrFormat("-%d", n) : "") + ".lcf"))
                   .string();
        if (!std::filesystem::exists(path, ec))
            break;
    }
    return path;
}

int RunBackup(std::vector<std::string>& words)
{
    CliArgs args(words);
    std::optional<std::string> to = args.Value("--to");
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    if (std::optional<std::string> unknown = args.UnknownOption())
        return CliFail(*unknown, 2);
    if (args.Rest().empty())
        return CliFail("usage: " BACKUP_USAGE, 2);
    if (int rc = front.Select(args.Rest()))
        return rc;
    if (int rc = front.Start())
        return rc;
    std::string dir = to ? *to : QvJobFront::BackupDirectory();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    int failed = 0;
    // The save job works on the first device of its job: one job per device.
    for (DeviceEntry* e : front.Selected()) {
        std::string path;
        int32_t result = front.Command(CmdSaveConfig, { e }, [&](DeviceJob& job) {
            path = Stamped(*job.first, dir);
            job.first->file_name = path;
            return 1;
        });
        if (result == JobSaveOk)
            std::printf("%s\n", path.c_str());
        else
            ++failed;
    }
    front.SaveListIfChanged();
    return failed ? 1 : 0;
}

CliRegistrar g_backup { { "backup",
    BACKUP_USAGE "    save each device's configuration into a new time-stamped file (default: Config beside "
                 "the settings file); earlier backups are kept",
    RunBackup } };
} // namespace
