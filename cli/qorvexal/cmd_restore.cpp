// qorvexal-cli restore: writes a configuration file to a device through the restore job and waits
// for its restart; first shows what it changes and keeps a backup of the configuration it replaces.
#include "cli/qorvexal/globals.h"
#include "cli/qorvexal/history_cli.h"
#include "cli/qorvexal/jobfront.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"

#include <cstdio>

namespace {
#define RESTORE_USAGE "restore [--no-backup] [--no-diff] " QV_JOB_USAGE " DEVICE (FILE | --version N)"

int RunRestore(std::vector<std::string>& words)
{
    CliArgs args(words);
    bool noBackup = args.Flag("--no-backup");
    bool noDiff = args.Flag("--no-diff");
    std::optional<std::string> version = args.Value("--version");
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    std::vector<std::string>& rest = args.Rest();
    if (rest.size() != (version ? 1u : 2u))
        return CliFail("usage: " RESTORE_USAGE, 2);
    CfgFileHeader header;
    if (!version && !CfgReadFileHeader(rest[1], &header))
        return QvNotConfigFile(rest[1]);
    DeviceEntry* e = nullptr;
    if (int rc = front.StartOne(rest[0], "restore", &e))
        return rc;
    // A kept version of the device's configuration history is written back as its file.
    if (version) {
        std::string path;
        if (int rc = QvHistoryVersionFile(front, *e, *version, &path))
            return rc;
        rest.push_back(path);
    }
    if (!noBackup || !noDiff) {
        if (front.Command(CmdConfigure, { e }) != JobReadOk)
            return 1;
        if (!noDiff) {
            CfgDescriptionPtr after = front.FreshCopy(*e);
            CfgTempStream text = CfgImportFile(rest[1]);
            if (after && text.IsOpen()) {
                CfgReadFile(text, *after);
                QvPrintDiff(*e->config, *after);
            }
        }
        if (!noBackup && front.BackupBeforeWrite(*e))
            return 1;
        std::fflush(stdout);
        front.Job(JobRelease, { e });
    }
    int32_t result = front.Command(CmdRestoreConfig, { e }, [&](DeviceJob& job) {
        job.first->file_name = rest[1];
        return 1;
    });
    front.SaveListIfChanged();
    if (result != JobRestoreOk)
        return 1;
    std::printf("%s: restored, back at %s\n", QvDeviceLabel(*e).c_str(), e->AddressText().c_str());
    return 0;
}

CliRegistrar g_restore { { "restore",
    RESTORE_USAGE "    write a configuration file (or version N of its history) to the device (showing what changes "
                  "and keeping a backup of "
                  "the configuration it replaces) and wait for its restart",
    RunRestore } };
} // namespace
