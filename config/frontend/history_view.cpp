#include "config/frontend/history_view.h"

#include "common/platform/file.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_load.h"
#include "config/store/cfg_store.h"
#include "config/store/display.h"
#include "device/deviceentry.h"

#include <algorithm>
#include <iterator>

namespace {
std::string Text(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}

HistDiffOptions DiffOptions(bool showSecrets)
{
    HistDiffOptions options;
    options.on = Text(CfgStrOn);
    options.off = Text(CfgStrOff);
    options.maskSecrets = !showSecrets;
    return options;
}

std::string Shown(const std::string& text)
{
    return text.empty() ? Text(HistStrNone) : text;
}
} // namespace

std::string HistFolderOf(const std::string& root, const DeviceEntry& e)
{
    if (root.empty())
        return {};
    std::string folder = HistDeviceFolder(root, e);
    if (!folder.empty())
        return folder;
    return HistFolderByNote(root, e.name.str(), e.AddressText());
}

std::string HistSourceText(const std::string& source)
{
    static const char* const sources[]
        = { "read", "read-wizard", "read-print", "write", "wizard", "backup", "restore" };
    for (unsigned i = 0; i < std::size(sources); ++i)
        if (source == sources[i])
            return Text(HistStrSource0 + i);
    return source;
}

std::vector<std::string> HistVersionCells(const HistVersion& v)
{
    return { std::to_string(v.number), HistTimeText(v.time), HistSourceText(v.source),
        std::to_string(static_cast<unsigned long long>(v.size)), v.comment };
}

std::string HistVersionLabel(const HistVersion& v)
{
    return StrFormat("%u: %s, %s", v.number, HistTimeText(v.time).c_str(), HistSourceText(v.source).c_str());
}

std::string HistLoadConfiguration(const std::string& path, const char* language, CfgDescriptionPtr* out)
{
    CfgFileHeader header;
    if (!CfgReadFileHeader(path, &header))
        return Text(HistStrNotAFile);
    *out = CfgLoadDescription(
        header.deviceType, header.version, language, header.featureMask, header.hardwareMask, false);
    if (!*out)
        return StrFormat(Text(HistStrNoDescription).c_str(), header.deviceType.c_str(), header.version.c_str());
    CfgTempStream text = CfgImportFile(path);
    if (!text.IsOpen()) {
        out->reset();
        return Text(HistStrNotAFile);
    }
    CfgReadFile(text, **out);
    return {};
}

HistComparison HistCompareVersions(
    const HistVersion& from, const HistVersion& to, const char* language, bool showSecrets)
{
    HistComparison result;
    if (from.number == to.number) {
        result.error = Text(HistStrSameVersion);
        return result;
    }
    CfgDescriptionPtr before, after;
    for (auto [v, desc] : { std::pair(&from, &before), std::pair(&to, &after) }) {
        std::string error = HistLoadConfiguration(v->path, language, desc);
        if (!error.empty()) {
            result.error = StrFormat(Text(HistStrUnreadable).c_str(), v->number, error.c_str());
            return result;
        }
    }
    result.changes = HistCompare(*before, *after, DiffOptions(showSecrets));
    return result;
}

std::vector<HistChangeRow> HistChangeRows(const std::vector<HistChange>& changes)
{
    std::vector<HistChangeRow> rows;
    const std::string* section = nullptr;
    for (const HistChange& c : changes) {
        if (!section || *section != c.section) {
            HistChangeRow title;
            title.section = true;
            title.item = c.section;
            rows.push_back(std::move(title));
            section = &c.section;
        }
        HistChangeRow row;
        row.item = c.label;
        switch (c.kind) {
        case HistChangeKind::Added:
            row.before = "(" + Text(HistStrAdded) + ")";
            row.after = Shown(c.after);
            break;
        case HistChangeKind::Removed:
            row.before = Shown(c.before);
            row.after = "(" + Text(HistStrRemoved) + ")";
            break;
        case HistChangeKind::Changed:
            if (c.masked && !c.before.empty() && !c.after.empty()) {
                row.before = c.before;
                row.after = Text(HistStrSecretChanged);
            } else {
                row.before = Shown(c.before);
                row.after = Shown(c.after);
            }
            break;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string HistChangesList(const std::vector<HistChange>& changes, size_t maxLines)
{
    if (changes.empty())
        return Text(HistStrNoChanges) + "\r\n";
    std::string out;
    size_t lines = 0;
    size_t shownChanges = 0;
    std::vector<HistChangeRow> rows = HistChangeRows(changes);
    for (const HistChangeRow& row : rows) {
        // A section's title is not left as the last line without a change below it.
        if (lines + (row.section ? 2 : 1) > maxLines)
            break;
        ++lines;
        if (row.section) {
            out += "[" + row.item + "]\r\n";
            continue;
        }
        out += "  " + row.item + ": " + row.before + " -> " + row.after + "\r\n";
        ++shownChanges;
    }
    if (shownChanges < changes.size())
        out += StrFormat(Text(HistStrMore).c_str(), static_cast<unsigned>(changes.size() - shownChanges)) + "\r\n";
    return out;
}

std::vector<HistChange> HistPendingChanges(const CfgDescription& edited, CfgTempStream& readText,
    const std::string& deviceType, const std::string& version, uint32_t featureMask)
{
    CfgDescriptionPtr before = CfgCloneDescription(edited, deviceType, version, featureMask);
    if (!before)
        return {};
    // The copy takes the edited values along: what the text does not hold is none, not the edit.
    for (const auto& section : before->sections)
        for (const auto& item : section->items)
            item->value = {};
    readText.Rewind();
    CfgReadFile(readText, *before);
    readText.Rewind();
    return HistCompare(*before, edited, DiffOptions(false));
}

std::string HistWriteChangesText(const DeviceEntry* first, size_t maxLines)
{
    bool several = first && first->next;
    std::string out;
    for (const DeviceEntry* e = first; e; e = e->next) {
        if (!e->config || !e->config_stream)
            continue;
        uint32_t features = (e->flags & DevFlagFeatureWord) ? e->feature_word : 0xFFFFFFFFu;
        std::vector<HistChange> changes
            = HistPendingChanges(*e->config, *e->config_stream, e->device_type.str(), e->fw_version.str(), features);
        if (several)
            out += StrFormat(Text(HistStrDeviceHeading).c_str(), e->name.c_str()) + "\r\n";
        out += HistChangesList(changes, several ? std::max<size_t>(maxLines / 4, 8) : maxLines);
    }
    return out;
}

std::string HistRestoreChangesText(
    const std::string& root, const DeviceEntry& e, const std::string& file, const char* language, size_t maxLines)
{
    std::string folder = HistFolderOf(root, e);
    if (folder.empty())
        return {};
    std::vector<HistVersion> versions = HistList(folder, false);
    if (versions.empty())
        return {};
    const HistVersion& newest = versions.back();
    CfgDescriptionPtr before, after;
    if (!HistLoadConfiguration(newest.path, language, &before).empty()
        || !HistLoadConfiguration(file, language, &after).empty())
        return {};
    std::vector<HistChange> changes = HistCompare(*before, *after, DiffOptions(false));
    return StrFormat(Text(HistStrRestoreAgainst).c_str(), newest.number, HistTimeText(newest.time).c_str(),
               HistSourceText(newest.source).c_str())
        + "\r\n" + HistChangesList(changes, maxLines);
}

bool HistSaveVersionAs(const HistVersion& v, const std::string& path)
{
    std::string data;
    if (!FileReadAll(v.path, &data))
        return false;
    return FileWriteAtomic(path, data) != 0;
}
