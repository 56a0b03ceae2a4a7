// qorvexal-cli backup: saves the configuration of each named device (or of every device of a folder)
// into a new time-stamped configuration file, through the save job of the device worker.
#include "cli/qorvexal/jobfront.h"
#include "common/text.h"
#include "device/devstatus.h"

#include <cstdio>
#include <filesystem>

namespace {
#define BACKUP_USAGE "backup [--to DIR] " QV_JOB_USAGE " DEVICE|FOLDER..."

int RunBackup(std::vector<std::string>& words)
{
    CliArgs args(words);
    std::optional<std::string> to = args.Value("--to");
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
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
            path = QvJobFront::BackupPath(*job.first, dir);
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
