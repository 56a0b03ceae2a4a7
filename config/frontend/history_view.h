// The configuration history as the window shows it, without the window: the rows of a device's
// versions, two versions compared as rows by section (secrets masked unless asked), a version saved
// as a file of the user's, and what a write will change (the configuration sheet's or the wizard's
// edits against what the device had when read, a restored file against the device's newest version),
// bounded for the upload question. The Win32 dialog (config/ui/history_win.cpp) draws what these give.
#pragma once

#include "config/frontend/history.h"
#include "config/frontend/history_diff.h"

#include <cstddef>
#include <string>
#include <vector>

struct DeviceEntry;

// String ids of the history's texts (qorvexal's string table).
enum HistStr : unsigned {
    HistStrTitle = 2340, // "Configuration History of %s"
    HistStrNoHistory = 2341, // no version kept of the device yet
    HistStrColumn0 = 2342, // the version list's headers: Version, Time (UTC), Source, Size, Comment
    HistStrChangeColumn0 = 2347, // the comparison's headers: Item, Old value, New value
    HistStrNone = 2350, // "(none)"
    HistStrAdded = 2351, // "added"
    HistStrRemoved = 2352, // "removed"
    HistStrSecretChanged = 2353, // "(secret value changed)"
    HistStrNoChanges = 2354, // "No changes."
    HistStrMore = 2355, // "... further changes: %u"
    HistStrCount = 2356, // "Changed items from version %u to version %u: %u"
    HistStrSource0 = 2357, // the sources by name: read, read-wizard, read-print, write, wizard, backup, restore
    HistStrSaveTitle = 2364, // "Save Version %u of %s As"
    HistStrUnreadable = 2365, // "Version %u cannot be read: %s"
    HistStrWriteChanges = 2366, // the upload question's heading of the change list
    HistStrRestoreAgainst = 2367, // "Compared with version %u of %s (%s), the device's newest:"
    HistStrExportTitle = 2368, // "Export Device List"
    HistStrCsvFilter = 2369, // the export's file dialog filter
    HistStrCantWrite = 2370, // "%s could not be written."
    HistStrSameVersion = 2371, // the same version chosen twice
    HistStrNoDescription = 2372, // a version whose device description is missing
    HistStrNotAFile = 2373, // a version that is no configuration file
    HistStrDeviceHeading = 2374, // "%s:" before a device's changes when several are written
};

// The history folder of a device under `root`: by its serial number or MAC address, else the folder
// of the device that last had its name or address; "" when none is kept.
std::string HistFolderOf(const std::string& root, const DeviceEntry& e);

// The cells of a version's row: number, time (UTC), source as the window names it, size, comment.
std::vector<std::string> HistVersionCells(const HistVersion& v);
// A version in the choice of the versions to compare: "3: 2026-12-09 03:00:00, Read".
std::string HistVersionLabel(const HistVersion& v);
// The window's name of a source ("read" -> "Read"); an unknown source as it stands.
std::string HistSourceText(const std::string& source);

// A kept version's (or any configuration file's) configuration in the full description its header
// names. Returns "" with `*out` filled, else the message why not.
std::string HistLoadConfiguration(const std::string& path, const char* language, CfgDescriptionPtr* out);

// What differs between two kept versions, or the message why they cannot be compared.
struct HistComparison {
    std::string error;
    std::vector<HistChange> changes;
};
HistComparison HistCompareVersions(
    const HistVersion& from, const HistVersion& to, const char* language, bool showSecrets);

// One row of a comparison's list: a section's title alone, or an item with its old and new value.
struct HistChangeRow {
    bool section = false;
    std::string item, before, after;
};
// The changes as rows, a section row before each section's changes; a table row added or removed
// shows its cells under the new or the old value ("added", "removed" on the other side).
std::vector<HistChangeRow> HistChangeRows(const std::vector<HistChange>& changes);
// The changes as text for a question: "[SECTION]" lines, then "  LABEL: OLD -> NEW", CR LF line ends,
// at most `maxLines` lines (then "... further changes: N"); "No changes." when there are none.
std::string HistChangesList(const std::vector<HistChange>& changes, size_t maxLines);

// What writing the edited description `edited` changes on a device that sent `readText` (read into a
// copy of `edited`'s structure, so a simplified or group sheet compares only what it has). Secrets
// masked. The text's position is rewound.
std::vector<HistChange> HistPendingChanges(const CfgDescription& edited, CfgTempStream& readText,
    const std::string& deviceType, const std::string& version, uint32_t featureMask);
// The upload question's change list for a write job's entries (configuration and text as read): one
// list, or per device under its name when several are written; "" when none can be told.
std::string HistWriteChangesText(const DeviceEntry* first, size_t maxLines);
// The change list of restoring `file` on a device: against the device's newest kept version under
// `root`, headed by that version; "" without a kept version or when either cannot be read.
std::string HistRestoreChangesText(
    const std::string& root, const DeviceEntry& e, const std::string& file, const char* language, size_t maxLines);

// Copies a kept version to the user's file `path` (written whole). False when it could not be.
bool HistSaveVersionAs(const HistVersion& v, const std::string& path);
