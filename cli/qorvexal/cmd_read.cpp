// qorvexal-cli read: reads the configuration of each named device (or of every device of a folder)
// through the device worker: the configuration text as the device sent it through the read job (the
// one the configuration dialogs use), or with --lcf a configuration file through the save job.
#include "cli/qorvexal/jobfront.h"
#include "common/platform/file.h"
#include "common/tempstream.h"
#include "config/cfgfile/cfg_file.h"
#include "device/devstatus.h"

#include <cstdio>
#include <filesystem>

namespace {
#define READ_USAGE "read [--lcf] " QV_JOB_USAGE " DEVICE|FOLDER... FILE|DIR"

// Without a description of the device the read job cannot run: the save job reads the text into a
// scratch configuration file, which gives the text back as the device sent it.
int ReadWithoutDescription(QvJobFront& front, DeviceEntry* e, std::string* text)
{
    std::string scratch = QvScratchFile(*e);
    e->file_name = scratch;
    int32_t result = front.Job(JobSaveToFile, { e });
    CfgTempStream stream = result == JobSaveOk ? CfgImportFile(scratch) : CfgTempStream();
    std::error_code ec;
    std::filesystem::remove(scratch, ec);
    if (!stream.IsOpen())
        return 0;
    *text = stream.Contents();
    return 1;
}

// The device's configuration text into `path`, replaced only by a complete text.
int ReadText(QvJobFront& front, DeviceEntry* e, const std::string& path)
{
    int32_t result = front.Command(CmdConfigure, { e });
    int rc = 0;
    std::string text;
    if (result == JobReadNoDescription) {
        if (!ReadWithoutDescription(front, e, &text)) {
            QvReportFailure(*e, "reading the configuration of");
            rc = 1;
        } else if (!FileWriteAtomic(path, text)) {
            rc = CliFail("cannot write " + path, 1);
        }
    } else if (result != JobReadOk || !e->config_stream) {
        if (!QvReportFailure(*e, "reading the configuration of"))
            std::fprintf(stderr, "%s: no configuration read from %s\n", CliProgramName(), e->AddressText().c_str());
        rc = 1;
    } else if (!FileWriteAtomic(path, e->config_stream->Contents())) {
        rc = CliFail("cannot write " + path, 1);
    }
    front.Job(JobRelease, { e });
    return rc;
}

// The device's configuration as a configuration file (header, secret values scrambled) at `path`.
int ReadFile(QvJobFront& front, DeviceEntry* e, const std::string& path)
{
    int32_t result = front.Command(CmdSaveConfig, { e }, [&](DeviceJob& job) {
        job.first->file_name = path;
        return 1;
    });
    if (result == JobSaveOk)
        return 0;
    if (!QvReportFailure(*e, "reading the configuration of"))
        std::fprintf(stderr, "%s: no configuration saved from %s\n", CliProgramName(), e->AddressText().c_str());
    return 1;
}

int RunRead(std::vector<std::string>& words)
{
    CliArgs args(words);
    bool lcf = args.Flag("--lcf");
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    std::vector<std::string> rest = args.Rest();
    if (rest.size() < 2)
        return CliFail("usage: " READ_USAGE, 2);
    std::string target = rest.back();
    rest.pop_back();
    if (int rc = front.Select(rest))
        return rc;
    // Several devices (or a directory named as the target): one file per device in that directory.
    std::error_code ec;
    bool toDirectory = front.Selected().size() > 1 || std::filesystem::is_directory(target, ec);
    if (toDirectory && !std::filesystem::is_directory(target, ec))
        return CliFail("with several devices the last argument must be an existing directory: " + target, 2);
    if (int rc = front.Start())
        return rc;
    int failed = 0;
    for (DeviceEntry* e : front.Selected()) {
        std::string path = toDirectory
            ? (std::filesystem::path(target) / (QvDeviceFileBase(*e) + (lcf ? ".lcf" : ".txt"))).string()
            : target;
        if ((lcf ? ReadFile(front, e, path) : ReadText(front, e, path)) != 0) {
            ++failed;
            continue;
        }
        if (toDirectory)
            std::printf("%s\n", path.c_str());
        else
            std::printf("%s\n", CliText(DevStatusText(e->status.load())).c_str());
    }
    front.SaveListIfChanged();
    return failed ? 1 : 0;
}

CliRegistrar g_read { { "read",
    READ_USAGE "    read each device's configuration text into FILE (several devices: DIR/NAME.txt); "
               "--lcf: a configuration file instead (secret values scrambled)",
    RunRead } };
} // namespace
