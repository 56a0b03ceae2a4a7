#include "device/update.h"

#include "common/ini.h"
#include "common/platform/file.h"
#include "common/text.h"
#include "device/deviceentry.h"
#include "device/devop.h"
#include "device/devstatus.h"
#include "device/sysinfo.h"
#include "device/texts.h"

#include <cstdio>
#include <memory>

namespace {
constexpr int32_t kUpdateRestartSeconds = 30; // more for an update firmware (kind 4)
constexpr int kMaxRounds = 16; // uploads of one device's chain, whatever the description says

std::vector<std::string> SplitComma(std::string_view text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        parts.emplace_back(Trim(text.substr(start, comma == std::string_view::npos ? comma : comma - start)));
        if (comma == std::string_view::npos)
            return parts;
        start = comma + 1;
    }
}

std::string DirOf(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void Step(const UpdateUi& ui, const DeviceEntry& entry, const std::string& text)
{
    if (ui.step)
        ui.step(entry, text);
}

std::string StatusWithText(const DeviceEntry& entry)
{
    std::string text = DevStatusText(entry.status.load());
    if (!entry.status_text.empty())
        text += ": " + entry.status_text;
    return text;
}
} // namespace

const std::string* UpdateSection::Find(std::string_view key) const
{
    for (const auto& [name, value] : keys)
        if (StrEqualNoCase(name, key))
            return &value;
    return nullptr;
}

void UpdateParseDescription(std::string_view text, const std::string& dir, UpdateDescription* desc)
{
    IniFile ini;
    ini.Parse(text);
    desc->dir = dir;
    desc->sections.clear();
    for (const std::string& name : ini.SectionNames()) {
        UpdateSection section;
        section.pattern = name;
        for (const std::string& key : ini.Keys(name))
            if (std::optional<std::string> value = ini.Find(name, key))
                section.keys.emplace_back(key, *value);
        if (const std::string* version = section.Find("Version")) {
            std::vector<std::string> parts = SplitComma(*version);
            section.version = parts[0];
            section.date = parts.size() > 1 ? parts[1] : std::string();
        }
        if (const std::string* feature = section.Find("Feature")) {
            std::vector<std::string> parts = SplitComma(*feature);
            section.feature_mask = ParseUnsigned(parts[0]);
            section.feature_value = parts.size() > 1 ? ParseUnsigned(parts[1]) : 0;
        }
        desc->sections.push_back(std::move(section));
    }
}

int UpdateReadDescription(const std::string& path, UpdateDescription* desc, std::string* error)
{
    std::string text;
    if (!FileReadAll(path, &text)) {
        *error = path + ": cannot be read";
        return 0;
    }
    desc->path = path;
    UpdateParseDescription(text, DirOf(path), desc);
    if (desc->sections.empty()) {
        *error = path + ": not an update description (no section)";
        return 0;
    }
    return 1;
}

const UpdateSection* UpdateFindSection(const UpdateDescription& desc, const DeviceEntry& entry)
{
    for (const UpdateSection& s : desc.sections)
        if (FirmwarePatternFits(s.pattern, entry.device_type.str(), entry.hw_release.str()))
            return &s;
    return nullptr;
}

bool UpdateConditionHolds(std::string_view condition, const DeviceEntry& entry)
{
    if (StrEqualNoCase(condition, "AFS"))
        return !(entry.flags & DevFlagAsymmetric);
    if (StrEqualNoCase(condition, "SFS"))
        return !(entry.flags & DevFlagFirmwareImages);
    return FirmwareVersionCompare(entry.fw_version.str(), condition) < 0;
}

UpdateChain UpdateEvaluate(const UpdateDescription& desc, const UpdateSection& section, const DeviceEntry& entry)
{
    UpdateChain chain;
    std::string key = "UpxFile";
    for (;;) {
        for (const std::string& visited : chain.keys) {
            if (StrEqualNoCase(visited, key)) {
                chain.error = "the chain comes back to the key " + key;
                return chain;
            }
        }
        const std::string* value = section.Find(key);
        if (!value) {
            chain.error = "no key " + key + " in section [" + section.pattern + "]";
            return chain;
        }
        chain.keys.push_back(key);
        std::vector<std::string> parts = SplitComma(*value);
        if (parts[0].empty()) {
            chain.error = "the key " + key + " names no file";
            return chain;
        }
        chain.file = parts[0];
        std::string next;
        for (size_t i = 1; i < parts.size() && next.empty(); ++i)
            if (!parts[i].empty() && UpdateConditionHolds(parts[i], entry))
                next = "Upx." + parts[i];
        if (next.empty())
            break;
        key = next;
    }
    chain.ok = true;
    chain.more = chain.keys.size() > 1;
    chain.path = desc.dir + "/" + chain.file;
    return chain;
}

UpdateOffer UpdateOfferFor(const UpdateDescription& desc, const DeviceEntry& entry)
{
    UpdateOffer offer;
    offer.section = UpdateFindSection(desc, entry);
    if (!offer.section)
        return offer;
    offer.chain = UpdateEvaluate(desc, *offer.section, entry);
    offer.version = offer.section->version;
    offer.date = offer.section->date;
    if (offer.version.empty()) {
        // The chain ends with the file of "UpxFile": its header tells what the device ends up with.
        const std::string* last = offer.section->Find("UpxFile");
        FirmwareHeader header;
        if (last && FirmwareReadFile(desc.dir + "/" + SplitComma(*last)[0], &header)) {
            offer.version = header.version;
            offer.date = header.date;
        }
    }
    offer.suggested = offer.chain.ok
        && (offer.version.empty() || FirmwareVersionCompare(entry.fw_version.str(), offer.version) < 0);
    return offer;
}

std::string UpdateOfferText(const UpdateOffer& offer)
{
    if (!offer.section)
        return DeviceText(UpdStrNoSection);
    if (!offer.chain.ok)
        return DeviceText(UpdStrNoFile);
    if (offer.version.empty())
        return offer.chain.file;
    if (offer.date.empty())
        return offer.version;
    return StrFormat(DeviceText(FwStrVersion).c_str(), offer.version.c_str(), FirmwareDateText(offer.date).c_str());
}

int UpdateUploadFile(const std::string& path, DeviceEntry& entry, const UpdateUi& ui)
{
    FirmwareHeader header;
    if (!FirmwareReadFile(path, &header)) {
        Step(ui, entry, "upload: " + path + ": not a firmware file");
        return 0;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        Step(ui, entry, "upload: " + path + ": cannot be opened");
        return 0;
    }
    for (;;) {
        entry.status = DevStatusUploading;
        std::fseek(file.get(), 0, SEEK_SET);
        if (DevOpUploadFirmware(entry, file.get(), 0))
            break;
        if (entry.status.load() != DevStatusWrongPassword) {
            Step(ui, entry, "upload: " + StatusWithText(entry));
            return 0;
        }
        std::string password;
        if (!ui.askPassword || !ui.askPassword(entry, &password)) {
            Step(ui, entry, "upload: " + StatusWithText(entry));
            return 0;
        }
        entry.password = password;
        Step(ui, entry, "upload: Wrong password, trying again");
    }
    Step(ui, entry, "upload: Ok");
    bool update = header.kind == FirmwareUpdate;
    entry.cancel = 0;
    entry.status = update ? DevStatusUpdateRunning : DevStatusRestarting;
    if (!DevOpWaitRestart(entry, DevWaitRestarts, update ? kUpdateRestartSeconds : 0)) {
        Step(ui, entry, "restart: " + StatusWithText(entry));
        return 0;
    }
    Step(ui, entry, "restart: Ok, firmware " + entry.fw_version.str());
    return 1;
}

int UpdateDevice(const UpdateDescription& desc, DeviceEntry& entry, const UpdateUi& ui)
{
    const UpdateSection* section = UpdateFindSection(desc, entry);
    if (!section) {
        Step(ui, entry, "result: no section for " + entry.device_type.str() + ", left alone");
        return UpdateLeftAlone;
    }
    for (int round = 0; round < kMaxRounds; ++round) {
        UpdateChain chain = UpdateEvaluate(desc, *section, entry);
        if (!chain.ok) {
            Step(ui, entry, "result: " + desc.path + ": " + chain.error);
            return UpdateFailed;
        }
        Step(ui, entry, "file: " + chain.file + (chain.more ? " (first of a chain)" : ""));
        std::string before = entry.fw_version.str();
        if (!UpdateUploadFile(chain.path, entry, ui)) {
            Step(ui, entry, "result: failed");
            return UpdateFailed;
        }
        if (!chain.more) {
            Step(ui, entry, "result: Ok, firmware " + entry.fw_version.str());
            return UpdatePassed;
        }
        // The chain is evaluated again on what the device now reports; a version that did not change
        // would choose the same file for ever.
        if (entry.fw_version.str() == before) {
            Step(ui, entry,
                "result: the device still reports firmware " + before + " after " + chain.file + ", stopped");
            return UpdateFailed;
        }
    }
    Step(ui, entry, "result: the chain did not end after " + std::to_string(kMaxRounds) + " uploads, stopped");
    return UpdateFailed;
}

std::vector<UpdateFile> UpdateReadFileList(std::string_view list, std::vector<std::string>* skipped)
{
    std::vector<UpdateFile> files;
    for (const std::string& path : SplitComma(list)) {
        if (path.empty())
            continue;
        UpdateFile f { path, {} };
        if (!FirmwareReadFile(path, &f.header)) {
            if (skipped)
                skipped->push_back(path);
            continue;
        }
        if (files.size() < kUpdateMaxFiles)
            files.push_back(std::move(f));
        else if (skipped)
            skipped->push_back(path);
    }
    return files;
}

const UpdateFile* UpdatePickFile(const std::vector<UpdateFile>& files, const DeviceEntry& entry)
{
    for (const UpdateFile& f : files)
        if (FirmwareMatch(f.header, entry) == FirmwareSuitable)
            return &f;
    return nullptr;
}
