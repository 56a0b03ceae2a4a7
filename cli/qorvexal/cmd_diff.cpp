// qorvexal-cli diff and set: what a configuration file or changed values would change against a
// device's current configuration, item by item; set writes such values back through the write job
// and waits for the device's restart, keeping a backup of the configuration it replaces.
#include "cli/qorvexal/history_cli.h"
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
    QvPrintDiff(before, after);
    std::fflush(stdout);
}

// Starts the front on the one device `word` names and reads its configuration for editing (check
// first, then the read job); `*copy` is its description loaded afresh with the values as read.
int ReadDevice(
    QvJobFront& front, const std::string& word, const char* command, DeviceEntry** e, CfgDescriptionPtr* copy)
{
    if (int rc = front.StartOne(word, command, e))
        return rc;
    if (front.Command(CmdConfigure, { *e }) != JobReadOk)
        return 1;
    *copy = front.FreshCopy(**e);
    if (!*copy)
        return CliFail("cannot load the description of the device", 1);
    return 0;
}

int RunDiff(std::vector<std::string>& words)
{
    CliArgs args(words);
    if (std::optional<std::string> from = args.Value("--from"))
        return QvHistoryDiff(args, *from);
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    std::vector<std::string>& rest = args.Rest();
    if (rest.size() < 2 || (!IsAssignment(rest[1]) && rest.size() != 2))
        return CliFail("usage: " DIFF_USAGE, 2);
    DeviceEntry* e = nullptr;
    CfgDescriptionPtr after;
    if (int rc = ReadDevice(front, rest[0], "diff", &e, &after))
        return rc;
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
    std::vector<std::string>& rest = args.Rest();
    if (rest.size() < 2)
        return CliFail("usage: " SET_USAGE, 2);
    for (size_t i = 1; i < rest.size(); ++i)
        if (!IsAssignment(rest[i]))
            return CliFail("not NAME=VALUE: " + rest[i], 2);
    DeviceEntry* e = nullptr;
    CfgDescriptionPtr before;
    if (int rc = ReadDevice(front, rest[0], "set", &e, &before))
        return rc;
    if (int rc = ApplyAssignments(*e->config, rest, 1)) {
        front.Job(JobRelease, { e });
        return rc;
    }
    PrintDiff(*before, *e->config);
    if (!noBackup && front.BackupBeforeWrite(*e))
        return 1;
    int32_t result = front.Job(JobWriteConfig, { e });
    front.Job(JobRelease, { e });
    front.SaveListIfChanged();
    if (result != JobWriteOk)
        return 1;
    std::printf("%s: written, back at %s\n", QvDeviceLabel(*e).c_str(), e->AddressText().c_str());
    return 0;
}

CliRegistrar g_diff { { "diff",
    DIFF_USAGE "    show per item what FILE (a configuration file or text) or the values would change in the "
               "device's current configuration\n  qorvexal-cli " QV_HISTORY_DIFF_USAGE
               "    show per item, by section, what differs between kept versions N and M (or the device now)",
    RunDiff } };
CliRegistrar g_set { { "set",
    SET_USAGE "    change values by name (TABLE[KEY].COLUMN for a table cell), show the changes, keep a "
              "backup, write and wait for the device's restart",
    RunSet } };
} // namespace
