// The device list: the devices the user manages, arranged in a tree of folders, and its persistence in
// the settings file. One section per folder with entries ("DeviceList" for the root, "DeviceList/" and
// the folder path for the others) with "Count" and "%d_Name", "%d_Description", "%d_Parameters" per
// entry; "CurrentFolder" in "Options" names the current folder.
#pragma once

#include "device/deviceentry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class IniFile;

struct DeviceFolder {
    std::string name; // empty for the root
    DeviceFolder* parent = nullptr; // null for the root
    std::vector<std::unique_ptr<DeviceFolder>> folders; // sub-folders in display order
    std::vector<std::unique_ptr<DeviceEntry>> entries; // entries in display order; their addresses stay stable
};

class DeviceList {
public:
    DeviceList();

    DeviceFolder& Root()
    {
        return *root_;
    }
    const DeviceFolder& Root() const
    {
        return *root_;
    }

    // The folder at "A/B" (names compared ignoring case; "" is the root), or null.
    DeviceFolder* FindFolder(std::string_view path);
    // The folder at the path, created along the way where missing.
    DeviceFolder& MakeFolder(std::string_view path);
    // "Customers/Branch" for a folder; "" for the root.
    static std::string FolderPath(const DeviceFolder& folder);

    // Adds an entry at the end of the folder (the root when null); returns the entry.
    DeviceEntry* Add(std::unique_ptr<DeviceEntry> entry, DeviceFolder* folder = nullptr);
    // Removes the entry from whichever folder holds it. Returns 1 when it was in the list.
    int Remove(const DeviceEntry* entry);
    // The folder holding the entry, or null.
    DeviceFolder* FolderOf(const DeviceEntry* entry);

    // Every entry, folder by folder (a folder's entries before its sub-folders), in display order.
    std::vector<DeviceEntry*> All();
    void ForEach(const std::function<void(DeviceFolder&, DeviceEntry&)>& visit);
    size_t Count() const;
    void Clear();

    std::string current_folder; // path of the current folder ("" = root)

private:
    std::unique_ptr<DeviceFolder> root_;
};

// The parameter string of an entry: "local;password;IP;address[:port];timeout;", "...;RAS;entry;phone;
// idle;" or "...;COM;port;". The password field is empty when the password is empty or unsaved.
std::string DeviceParameters(const DeviceEntry& entry);
// Reads a parameter string into the entry; empty fields leave the entry's values, an unknown kind
// leaves the link type IP.
void DeviceParseParameters(std::string_view parameters, DeviceEntry& entry);

// Reads the folder sections of the settings file into the list (which is cleared first) and selects
// "CurrentFolder". Returns the number of entries loaded.
int DeviceListLoad(DeviceList& list, const IniFile& ini);
// Replaces every "DeviceList..." section and "CurrentFolder" in the settings text (not written yet).
void DeviceListStore(const DeviceList& list, IniFile& ini);
// Saves the list into the settings file at `path` in one replacement of the whole file, keeping the
// file's other settings. Returns 1 on success; on failure the old file stays as it was.
int DeviceListSave(const DeviceList& list, const std::string& path);

// Reads the list file of an earlier version (lines "name;description;kind;..."), adding its entries to
// the root folder. Returns the number of entries added.
int DeviceListImportLegacy(DeviceList& list, std::string_view text);

// Start-up: loads the list from the settings file; when the legacy list file exists, its entries are
// imported, the list is saved and only then the legacy file is deleted. Returns 1 unless a legacy
// import could not be saved (the legacy file is kept then).
int DeviceListLoadFile(DeviceList& list, const std::string& iniPath, const std::string& legacyPath);

// Chains the entries for the device worker through `next`.
DeviceJob DeviceJobBuild(const std::vector<DeviceEntry*>& entries);
