// qorvexal-cli write: sends a configuration to each named device (or to every device of a folder)
// through the device worker and waits until it is back after its restart, at its address or at one
// of the addresses the new configuration gives it. A configuration text goes through the write job
// (the one the configuration dialogs use), a configuration file through the restore job. Before
// writing, each device's configuration is read: what changes is shown and the configuration being
// replaced is kept as a backup.
#include "cli/qorvexal/jobfront.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/tempstream.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "device/devstatus.h"

#include <cstdio>
#include <memory>

namespace {
#define WRITE_USAGE "write [--no-backup] [--no-diff] [-a ADDRESS]... " QV_JOB_USAGE " DEVICE|FOLDER... FILE"

// The addresses named with -a join the entry's further addresses (after those it has), which the
// restart wait tries after the ones the configuration gives.
void AddFurther(DeviceEntry& e, const std::vector<uint32_t>& further)
{
    size_t n = 1;
    while (n < DeviceEntry::kAddressListSize && e.address_list[n])
        ++n;
    for (uint32_t ip : further)
        if (n < DeviceEntry::kAddressListSize && ip != e.address_list[0])
            e.address_list[n++] = ip;
}

// Without a description of the device: the backup through the save job, no diff, and the text sent
// through the restore job from a scratch configuration file.
int WriteWithoutDescription(QvJobFront& front, DeviceEntry* e, const std::string& path, const std::string& text,
    bool isFile, bool backup, const std::vector<uint32_t>& further)
{
    if (backup) {
        e->file_name = QvJobFront::BackupPath(*e, QvJobFront::BackupDirectory());
        if (front.Job(JobSaveToFile, { e }) != JobSaveOk) {
            QvReportFailure(*e, "reading the configuration of");
            return CliFail("cannot write the backup; nothing was written (--no-backup to write without one)", 1);
        }
        std::printf("backup: %s\n", e->file_name.c_str());
    }
    std::string source = path;
    std::string scratch;
    if (!isFile) {
        CfgTempStream stream;
        scratch = QvScratchFile(*e);
        if (!stream.Open() || stream.Write(text) != text.size() || !stream.Rewind()
            || !CfgExportFile(
                stream, e->device_type.str(), e->fw_version.str(), 0xFFFFFFFFu, 0, scratch, e->name.str()))
            return CliFail("cannot write the scratch file " + scratch, 1);
        source = scratch;
    }
    std::fflush(stdout);
    AddFurther(*e, further);
    e->file_name = source;
    int32_t result = front.Job(JobRestoreFromFile, { e });
    if (!scratch.empty())
        std::remove(scratch.c_str());
    if (result != JobRestoreOk) {
        QvReportFailure(*e, "writing the configuration to");
        return 1;
    }
    std::printf("%s: written, back at %s\n", QvDeviceLabel(*e).c_str(), e->AddressText().c_str());
    return 0;
}

int WriteOne(QvJobFront& front, DeviceEntry* e, const std::string& path, const std::string& text, bool isFile,
    bool backup, bool diff, const std::vector<uint32_t>& further)
{
    // The current configuration: for the backup, for the diff, and (a text) as the description the
    // write job writes from.
    int32_t read = front.Command(CmdConfigure, { e });
    if (read == JobReadNoDescription) {
        if (diff)
            std::fprintf(stderr, "%s: no description of %s: the changes cannot be shown\n", CliProgramName(),
                e->AddressText().c_str());
        return WriteWithoutDescription(front, e, path, text, isFile, backup, further);
    }
    if (read != JobReadOk || !e->config) {
        if (!QvReportFailure(*e, "reading the configuration of"))
            std::fprintf(stderr, "%s: nothing was written to %s\n", CliProgramName(), e->AddressText().c_str());
        front.Job(JobRelease, { e });
        return 1;
    }
    CfgDescriptionPtr after = front.FreshCopy(*e);
    if (!after) {
        front.Job(JobRelease, { e });
        return CliFail("cannot load the description of " + e->AddressText(), 1);
    }
    auto stream = std::make_shared<CfgTempStream>(isFile ? CfgImportFile(path) : CfgTempStream());
    if (!isFile && stream->Open())
        stream->Write(text);
    if (!stream->IsOpen() || !stream->Rewind()) {
        front.Job(JobRelease, { e });
        return CliFail("cannot read " + path, 1);
    }
    CfgReadFile(*stream, *after);
    stream->Rewind();
    if (diff) {
        if (front.Selected().size() > 1)
            std::printf("%s:\n", QvDeviceLabel(*e).c_str());
        QvPrintDiff(*e->config, *after);
    }
    if (backup && front.BackupBeforeWrite(*e))
        return 1;
    std::fflush(stdout);
    AddFurther(*e, further);
    int32_t result = 0;
    bool ok = false;
    if (isFile) {
        front.Job(JobRelease, { e });
        e->file_name = path;
        result = front.Job(JobRestoreFromFile, { e });
        ok = result == JobRestoreOk;
    } else {
        // The text as written: its lines, with the values read into the description, so that lines
        // the description does not know are sent as they stand.
        e->config = std::shared_ptr<CfgDescription>(std::move(after));
        e->config_stream = stream;
        result = front.Job(JobWriteConfig, { e });
        ok = result == JobWriteOk;
        front.Job(JobRelease, { e });
    }
    if (!ok) {
        QvReportFailure(*e, "writing the configuration to");
        return 1;
    }
    std::printf("%s: written, back at %s\n", QvDeviceLabel(*e).c_str(), e->AddressText().c_str());
    return 0;
}

int RunWrite(std::vector<std::string>& words)
{
    CliArgs args(words);
    bool noBackup = args.Flag("--no-backup");
    bool noDiff = args.Flag("--no-diff");
    std::vector<std::string> addresses = args.Values("-a", "--address");
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    std::vector<std::string> rest = args.Rest();
    if (rest.size() < 2)
        return CliFail("usage: " WRITE_USAGE, 2);
    std::vector<uint32_t> further;
    for (const std::string& a : addresses) {
        std::optional<uint32_t> ip = NetParseAddress(a);
        if (!ip)
            return CliFail("not an address: " + a, 2);
        further.push_back(*ip);
    }
    std::string path = rest.back();
    rest.pop_back();
    // A configuration file (its first line the file header) or a configuration text as read.
    CfgFileHeader header;
    bool isFile = CfgReadFileHeader(path, &header);
    std::string text;
    if (!isFile && !FileReadAll(path, &text))
        return CliFail("cannot read " + path, 1);
    if (int rc = front.Select(rest))
        return rc;
    if (int rc = front.Start())
        return rc;
    int failed = 0;
    for (DeviceEntry* e : front.Selected())
        failed += WriteOne(front, e, path, text, isFile, !noBackup, !noDiff, further) != 0;
    front.SaveListIfChanged();
    return failed ? 1 : 0;
}

CliRegistrar g_write { { "write",
    WRITE_USAGE "    send FILE (a configuration text or file) to each device: show what changes, keep a backup "
                "of the configuration it replaces, write, and wait for the restart (at the addresses the new "
                "configuration gives, then the further addresses -a)",
    RunWrite } };
} // namespace
