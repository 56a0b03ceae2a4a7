// qorvexal-cli diff and set: what a configuration file or changed values would change against a
// device's current configuration, item by item; set writes such values back through the write job
// and waits for the device's restart, keeping a backup of the configuration it replaces.
#include "cli/qorvexal/jobfront.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/frontend/jobs_diff.h"
#include "config/store/cfg_store.h"

#include <cstdio>

namespace {
#define DIFF_USAGE "diff " QV_JOB_USAGE " DEVICE (FILE | NAME=VALUE...)"
#define SET_USAGE "set [--no-backup] " QV_JOB_USAGE " DEVICE NAME=VALUE..."

bool IsAssignment(const std::string& word)
{
    return word.find('=') != std::string::npos;
}

// The configuration a text or configuration file would give: `desc` holds the device's values.
int ApplyFile(CfgDescription& desc, const std::string& path)
{
    CfgFileHeader header;
    CfgTempStream text;
    if (CfgReadFileHeader(path, &header)) {
        text = CfgImportFile(path);
    } else if (text.Open()) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f)
            return 0;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0)
            text.Write(buffer, n);
        std::fclose(f);
        text.Rewind();
    }
    if (!text.IsOpen())
        return 0;
    CfgReadFile(text, desc);
    return 1;
}

int ApplyAssignments(CfgDescription& desc, const std::vector<std::string>& words, size_t from)
{
    for (size_t i = from; i < words.size(); ++i) {
        std::string error;
        if (!CfgAssign(desc, words[i], &error))
            return CliFail(error, 2);
    }
    return 0;
}

void PrintDiff(const CfgDescription& before, const CfgDescription& after)
{
    std::vector<CfgDiffLine> lines = CfgDiff(before, after);
    if (lines.empty())
        std::printf("no changes\n");
    else
        std::printf("%s", CfgDiffText(lines).c_str());
    std::fflush(stdout);
}

// Reads the device's configuration for editing (check first, then the read job).
int ReadDevice(QvJobFront& front, DeviceEntry* e)
{
    return front.Command(CmdConfigure, { e }) == JobReadOk ? 0 : 1;
}

int RunDiff(std::vector<std::string>& words)
{
    CliArgs args(words);
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    if (std::optional<std::string> unknown = args.UnknownOption())
        return CliFail(*unknown, 2);
    std::vector<std::string>& rest = args.Rest();
    if (rest.size() < 2 || (!IsAssignment(rest[1]) && rest.size() != 2))
        return CliFail("usage: " DIFF_USAGE, 2);
    if (int rc = front.Select({ rest[0] }))
        return rc;
    if (front.Selected().size() != 1)
        return CliFail("diff works on one device", 2);
    if (int rc = front.Start())
        return rc;
    DeviceEntry* e = front.Selected()[0];
    if (int rc = ReadDevice(front, e))
        return rc;
    CfgDescriptionPtr after = front.FreshCopy(*e);
    if (!after)
        return CliFail("cannot load the description of the device", 1);
    if (IsAssignment(rest[1])) {
        if (int rc = ApplyAssignments(*after, rest, 1))
            return rc;
    } else if (!ApplyFile(*after, rest[1])) {
        return CliFail(StrFormat("cannot read %s", rest[1].c_str()), 1);
    }
    PrintDiff(*e->config, *after);
    front.Job(JobRelease, { e });
    return 0;
}

int RunSet(std::vector<std::string>& words)
{
    CliArgs args(words);
    bool noBackup = args.Flag("--no-backup");
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    if (std::optional<std::string> unknown = args.UnknownOption())
        return CliFail(*unknown, 2);
    std::vector<std::string>& rest = args.Rest();
    if (rest.size() < 2)
        return CliFail("usage: " SET_USAGE, 2);
    for (size_t i = 1; i < rest.size(); ++i)
        if (!IsAssignment(rest[i]))
            return CliFail("not NAME=VALUE: " + rest[i], 2);
    if (int rc = front.Select({ rest[0] }))
        return rc;
    if (front.Selected().size() != 1)
        return CliFail("set works on one device", 2);
    if (int rc = front.Start())
        return rc;
    DeviceEntry* e = front.Selected()[0];
    if (int rc = ReadDevice(front, e))
        return rc;
    CfgDescriptionPtr before = front.FreshCopy(*e);
    if (!before)
        return CliFail("cannot load the description of the device", 1);
    if (int rc = ApplyAssignments(*e->config, rest, 1)) {
        front.Job(JobRelease, { e });
        return rc;
    }
    PrintDiff(*before, *e->config);
    if (!noBackup) {
        std::string path = front.Backup(*e, QvJobFront::BackupDirectory());
        if (path.empty()) {
            front.Job(JobRelease, { e });
            return CliFail("cannot write the backup; nothing was written (--no-backup to write without one)", 1);
        }
        std::printf("backup: %s\n", path.c_str());
    }
    int32_t result = front.Job(JobWriteConfig, { e });
    front.Job(JobRelease, { e });
    front.SaveListIfChanged();
    if (result != JobWriteOk)
        return 1;
    std::printf("%s: written, back at %s\n", e->name.c_str(), e->AddressText().c_str());
    return 0;
}

CliRegistrar g_diff { { "diff",
    DIFF_USAGE "    show per item what FILE (a configuration file or text) or the values would change in the "
               "device's current configuration",
    RunDiff } };
CliRegistrar g_set { { "set",
    SET_USAGE "    change values by name (TABLE[KEY].COLUMN for a table cell), show the changes, keep a "
              "backup, write and wait for the device's restart",
    RunSet } };
} // namespace
