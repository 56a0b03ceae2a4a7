// Update packages: an update description (an INI file with one section per device type pattern) names
// the firmware file for each device, possibly as a chain of intermediate files chosen by conditions on
// the device; the package uploads and waits device by device, evaluating the chain again after each
// restart. A second entry takes a list of firmware files and gives each device the first that suits it.
#pragma once

#include "device/firmware.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct DeviceEntry;

// One section: the device type pattern and its keys ("UpxFile", "Upx.<condition>", "Version", "Feature").
struct UpdateSection {
    std::string pattern;
    std::vector<std::pair<std::string, std::string>> keys; // in file order
    std::string version; // "Version": version shown instead of the header's ("" when absent)
    std::string date; // ... and date
    uint32_t feature_mask = 0; // "Feature": read, not acted on
    uint32_t feature_value = 0;

    // The value of a key (names ignoring case), or nullptr.
    const std::string* Find(std::string_view key) const;
};

struct UpdateDescription {
    std::string path;
    std::string dir; // where the firmware files are (the description's directory)
    std::vector<UpdateSection> sections;
};

// Reads a description. 0 when the file cannot be read or has no section (`error` says why).
int UpdateReadDescription(const std::string& path, UpdateDescription* desc, std::string* error);
// The same from text (the directory is given).
void UpdateParseDescription(std::string_view text, const std::string& dir, UpdateDescription* desc);
// The first section whose pattern fits the device ("type#release" or the type), or nullptr.
const UpdateSection* UpdateFindSection(const UpdateDescription& desc, const DeviceEntry& entry);

// Whether a condition holds for a device: "AFS" without flag 0x0020, "SFS" without 0x0010, any other
// text a version the device's firmware is lower than.
bool UpdateConditionHolds(std::string_view condition, const DeviceEntry& entry);

// The evaluated chain: the file to upload now.
struct UpdateChain {
    bool ok = false;
    std::string error; // why not ok: a missing key, a key visited twice, no file named
    std::string file; // the file name as written
    std::string path; // relative to the description's directory
    std::vector<std::string> keys; // the keys visited, from "UpxFile"
    bool more = false; // the chain had more than one file: evaluate again after the restart
};
UpdateChain UpdateEvaluate(const UpdateDescription& desc, const UpdateSection& section, const DeviceEntry& entry);

// What an update package offers a device its search found (a row of the selection dialog).
struct UpdateOffer {
    const UpdateSection* section = nullptr; // none: the package has nothing for the device's type
    UpdateChain chain; // the file to upload first
    // The version the package brings: its "Version" key, else the header of the file "UpxFile" names.
    std::string version;
    std::string date; // as written in "Version", or the header's "DDMMYYYY"
    // Selected at first: a usable chain and a version above the device's (or none known).
    bool suggested = false;
};
UpdateOffer UpdateOfferFor(const UpdateDescription& desc, const DeviceEntry& entry);
// The offer as the selection dialog shows it: "Ver. %s (%s)", or why there is none.
std::string UpdateOfferText(const UpdateOffer& offer);
// String ids of the update package's texts.
constexpr unsigned UpdStrNoSection = 2205;
constexpr unsigned UpdStrNoFile = 2206;

// What an update package asks and tells its user.
struct UpdateUi {
    // The device refused the password: a new one into `password`; false when the user cancelled.
    std::function<bool(DeviceEntry& entry, std::string* password)> askPassword;
    // A step of a device ("file ...", "upload ...", "restart ...", "result ...").
    std::function<void(const DeviceEntry& entry, const std::string& text)> step;
};

// The outcome of one device.
enum UpdateOutcome : int {
    UpdatePassed = 0, // updated as described (or nothing to do for its type)
    UpdateLeftAlone = 1, // no section names its type
    UpdateFailed = 2, // a description fault, an upload or a restart failed (the step says which)
};
// Updates one device as the section describes (the chain, the uploads with image parameter 0, the
// password question on "Wrong password", the restart waits). A chain that comes back to a key it
// visited, or a device whose reported version did not change after an intermediate upload, ends the
// device with a report instead of uploading again.
int UpdateDevice(const UpdateDescription& desc, DeviceEntry& entry, const UpdateUi& ui);

// The list-of-files entry: the firmware files of a list separated by "," (at most 32 valid files are
// kept; unreadable ones are left out).
struct UpdateFile {
    std::string path;
    FirmwareHeader header;
};
std::vector<UpdateFile> UpdateReadFileList(std::string_view list, std::vector<std::string>* skipped = nullptr);
constexpr size_t kUpdateMaxFiles = 32;
// The first file that matches the device and is not older than its firmware, or nullptr.
const UpdateFile* UpdatePickFile(const std::vector<UpdateFile>& files, const DeviceEntry& entry);
// Uploads one file to a device and waits for its restart (the password question as above).
int UpdateUploadFile(const std::string& path, DeviceEntry& entry, const UpdateUi& ui);
