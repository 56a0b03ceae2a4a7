// qorvexal-cli history, diff --from and restore --version: the kept versions of a device's
// configuration (config/frontend/history.h), listed, compared item by item in the description's labels
// and display texts, and written back through the restore job.
#include "cli/qorvexal/devices.h"
#include "cli/qorvexal/history_cli.h"
#include "cli/qorvexal/jobfront.h"
#include "cli/qorvexal/qvjson.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_load.h"
#include "config/frontend/history.h"
#include "config/frontend/history_diff.h"
#include "config/store/display.h"
#include "device/sysinfo.h"

#include <cstdio>

namespace {
#define HISTORY_USAGE "history [--json] " QV_JOB_USAGE " DEVICE"

std::optional<uint32_t> VersionNumber(const std::string& text)
{
    std::optional<uint32_t> n = ParseUnsignedStrict(text);
    if (!n || *n == 0)
        return std::nullopt;
    return n;
}

std::string DeviceJson(const DeviceEntry& e, const std::string& folder)
{
    return StrFormat("{\"name\": %s, \"address\": %s, \"key\": %s, \"folder\": %s}", QvJson(QvDeviceLabel(e)).c_str(),
        QvJson(e.AddressText()).c_str(), QvJson(HistDeviceKey(e)).c_str(), QvJson(folder).c_str());
}

// A kept version's configuration in the full description its header names.
int LoadVersion(QvJobFront& front, const HistVersion& v, CfgDescriptionPtr* out)
{
    CfgFileHeader header;
    if (!CfgReadFileHeader(v.path, &header))
        return CliFail(StrFormat("version %u: not a configuration file (%s)", v.number, v.path.c_str()), 1);
    *out = CfgLoadDescription(header.deviceType, header.version, front.Dsc().language.c_str(), header.featureMask,
        header.hardwareMask, false);
    if (!*out)
        return QvNoDescription(header.deviceType, header.version);
    CfgTempStream text = CfgImportFile(v.path);
    if (!text.IsOpen())
        return CliFail(StrFormat("version %u: cannot read %s", v.number, v.path.c_str()), 1);
    CfgReadFile(text, **out);
    return 0;
}

int FindVersion(const std::string& folder, const std::string& word, const DeviceEntry& e, HistVersion* v)
{
    std::optional<uint32_t> n = VersionNumber(word);
    if (!n)
        return CliFail("not a version number: " + word, 2);
    std::optional<HistVersion> found = HistFind(folder, *n);
    if (!found)
        return CliFail(StrFormat("no version %u of %s (see history)", *n, QvDeviceLabel(e).c_str()), 1);
    *v = *found;
    return 0;
}

void PrintChangesJson(const DeviceEntry& e, const std::string& folder, uint32_t from, std::optional<uint32_t> to,
    const std::vector<HistChange>& changes)
{
    static const char* const kinds[] = { "changed", "added", "removed" };
    std::string out = "{\"device\": " + DeviceJson(e, folder) + StrFormat(", \"from\": %u, \"to\": ", from)
        + (to ? std::to_string(*to) : std::string("\"device\"")) + ", \"changes\": [";
    for (size_t i = 0; i < changes.size(); ++i) {
        const HistChange& c = changes[i];
        out += std::string(i ? ",\n  " : "\n  ") + "{\"section\": " + QvJson(c.section)
            + ", \"label\": " + QvJson(c.label) + ", \"name\": " + QvJson(c.name)
            + ", \"kind\": " + QvJson(kinds[static_cast<int>(c.kind)]) + ", \"before\": " + QvJson(c.before)
            + ", \"after\": " + QvJson(c.after) + ", \"secret\": " + (c.secret ? "true" : "false") + "}";
    }
    out += changes.empty() ? "]}\n" : "\n]}\n";
    std::fputs(out.c_str(), stdout);
}

int RunHistory(std::vector<std::string>& words)
{
    CliArgs args(words);
    bool json = args.Flag("--json");
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    if (args.Rest().size() != 1)
        return CliFail("usage: " HISTORY_USAGE, 2);
    DeviceEntry* e = nullptr;
    if (int rc = front.StartOne(args.Rest()[0], "history", &e))
        return rc;
    std::string folder;
    if (int rc = QvHistoryFolder(front, *e, &folder))
        return rc;
    std::vector<HistVersion> versions = HistList(folder);
    if (json) {
        std::string out = "{\"device\": " + DeviceJson(*e, folder) + ", \"versions\": [";
        for (size_t i = 0; i < versions.size(); ++i) {
            const HistVersion& v = versions[i];
            out += std::string(i ? ",\n  " : "\n  ")
                + StrFormat("{\"number\": %u, \"time\": %s, \"source\": %s, \"comment\": %s, \"size\": %llu}", v.number,
                    QvJson(HistTimeIso(v.time)).c_str(), QvJson(v.source).c_str(), QvJson(v.comment).c_str(),
                    static_cast<unsigned long long>(v.size));
        }
        out += versions.empty() ? "]}\n" : "\n]}\n";
        std::fputs(out.c_str(), stdout);
        return 0;
    }
    std::string out = "VERSION  TIME (UTC)           SOURCE           SIZE  COMMENT\n";
    for (const HistVersion& v : versions)
        out += StrFormat("%7u  %s  %-11s %9llu  ", v.number, HistTimeText(v.time).c_str(), v.source.c_str(),
                   static_cast<unsigned long long>(v.size))
            + CliText(v.comment) + "\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

CliRegistrar g_history { { "history",
    HISTORY_USAGE "    list the kept versions of the device's configuration: number, time, source, size, comment",
    RunHistory } };
} // namespace

int QvHistoryFolder(QvJobFront& front, DeviceEntry& e, std::string* folder)
{
    const std::string root = HistSettingsFrom(QvIniPath()).root;
    // The serial number tells the folder; a device named from the list or by address is asked for it.
    if (HistDeviceKey(e).empty())
        front.Job(JobCheck, { &e });
    *folder = HistDeviceFolder(root, e);
    if (folder->empty()) {
        // A device that does not answer: the folder of the device that last had this name or address.
        std::string label = QvDeviceLabel(e);
        *folder = HistFolderByNote(root, label, e.AddressText());
    }
    if (folder->empty())
        return CliFail("no configuration history of " + QvDeviceLabel(e) + " in " + root, 1);
    return 0;
}

int QvHistoryVersionFile(QvJobFront& front, DeviceEntry& e, const std::string& number, std::string* path)
{
    std::string folder;
    if (int rc = QvHistoryFolder(front, e, &folder))
        return rc;
    HistVersion v;
    if (int rc = FindVersion(folder, number, e, &v))
        return rc;
    *path = v.path;
    return 0;
}

int QvHistoryDiff(CliArgs& args, const std::string& from)
{
    std::optional<std::string> to = args.Value("--to");
    bool json = args.Flag("--json");
    bool unmasked = args.Flag("--unmasked");
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    if (args.Rest().size() != 1)
        return CliFail("usage: " QV_HISTORY_DIFF_USAGE, 2);
    DeviceEntry* e = nullptr;
    if (int rc = front.StartOne(args.Rest()[0], "diff", &e))
        return rc;
    std::string folder;
    if (int rc = QvHistoryFolder(front, *e, &folder))
        return rc;
    HistVersion first, second;
    if (int rc = FindVersion(folder, from, *e, &first))
        return rc;
    if (to)
        if (int rc = FindVersion(folder, *to, *e, &second))
            return rc;
    CfgDescriptionPtr before, after;
    if (int rc = LoadVersion(front, first, &before))
        return rc;
    if (to) {
        if (int rc = LoadVersion(front, second, &after))
            return rc;
    } else {
        // The device now, in the full description as the versions are.
        if (front.Command(CmdConfigure, { e }) != JobReadOk || !e->config_stream)
            return 1;
        uint32_t features = (e->flags & DevFlagFeatureWord) ? e->feature_word : 0xFFFFFFFFu;
        uint32_t hardware = (e->flags & DevFlagHwMask) ? e->hw_mask : 0;
        after = CfgLoadDescription(
            e->device_type.str(), e->fw_version.str(), front.Dsc().language.c_str(), features, hardware, false);
        if (!after)
            return QvNoDescription(e->device_type.str(), e->fw_version.str());
        CfgReadFile(*e->config_stream, *after);
        front.Job(JobRelease, { e });
    }
    HistDiffOptions options;
    options.on = StrLoad(qorvexal_Strings(), CfgStrOn);
    options.off = StrLoad(qorvexal_Strings(), CfgStrOff);
    options.maskSecrets = !unmasked;
    std::vector<HistChange> changes = HistCompare(*before, *after, options);
    if (json) {
        PrintChangesJson(*e, folder, first.number, to ? std::optional<uint32_t>(second.number) : std::nullopt, changes);
        return 0;
    }
    std::printf("version %u -> %s\n", first.number, to ? StrFormat("version %u", second.number).c_str() : "device");
    CliPrint(stdout, HistChangesText(changes));
    return 0;
}
