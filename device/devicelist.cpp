#include "device/devicelist.h"

#include "common/diag.h"
#include "common/ini.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/scramble.h"
#include "common/text.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_map>

namespace {

constexpr std::string_view kListSection = "DeviceList";
constexpr std::string_view kOptions = "Options";
constexpr size_t kNameMax = 63;
constexpr size_t kDescriptionMax = 255;
constexpr size_t kParametersMax = 255;
constexpr size_t kLegacyLineMax = 511;

// Splits "a/b/c" into its non-empty names.
std::vector<std::string_view> SplitPath(std::string_view path)
{
    std::vector<std::string_view> names;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > pos)
            names.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return names;
}

// Fields of a list each followed by ";"; the last field may lack its ";".
std::vector<std::string_view> SplitFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(';', pos);
        if (end == std::string_view::npos)
            end = text.size();
        fields.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return fields;
}

// A text as it may stand in a settings value: one line without NULs (a NUL read from a damaged file
// becomes a blank, so that the text after it is kept).
std::string OneLine(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return out;
}

// "a.b.c.d" or "a.b.c.d:port" into the entry; an address that does not convert leaves it unchanged.
void ParseAddressPort(std::string_view text, DeviceEntry& entry)
{
    std::string_view address = text;
    size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        address = text.substr(0, colon);
        entry.port = static_cast<uint16_t>(ParseDecimal(text.substr(colon + 1)));
    }
    if (std::optional<uint32_t> ip = NetParseAddress(Trim(address))) {
        entry.address = *ip;
        entry.address_list[0] = *ip;
    }
}

void CollectEntries(DeviceFolder& folder, const std::function<void(DeviceFolder&, DeviceEntry&)>& visit)
{
    for (auto& e : folder.entries)
        visit(folder, *e);
    for (auto& f : folder.folders)
        CollectEntries(*f, visit);
}

void StoreFolder(const DeviceFolder& folder, IniFile& ini)
{
    // A folder without entries and sub-folders gets a section of its own ("Count=0"), so that an empty
    // folder the user made is still there at the next start; the other folders follow from the
    // sections of their entries or sub-folders.
    bool emptyLeaf = folder.parent && folder.entries.empty() && folder.folders.empty();
    if (!folder.entries.empty() || emptyLeaf) {
        std::string path = DeviceList::FolderPath(folder);
        std::string section = path.empty() ? std::string(kListSection) : std::string(kListSection) + "/" + path;
        std::vector<std::pair<std::string, std::string>> values;
        values.reserve(1 + 3 * folder.entries.size());
        values.emplace_back("Count", std::to_string(folder.entries.size()));
        int i = 1;
        for (const auto& e : folder.entries) {
            std::string parameters = DeviceParameters(*e);
            const DeviceStoredFields* kept = e->stored_fields.get();
            if (kept && kept->loadedName == e->name.str() && kept->loadedDescription == e->description.str()
                && kept->loadedParameters == parameters) {
                // Unchanged since the load: the fields as the file held them.
                values.emplace_back(StrFormat("%d_Name", i), kept->name);
                values.emplace_back(StrFormat("%d_Description", i), kept->description);
                values.emplace_back(StrFormat("%d_Parameters", i), kept->parameters);
            } else {
                values.emplace_back(StrFormat("%d_Name", i), OneLine(e->name));
                values.emplace_back(StrFormat("%d_Description", i), OneLine(e->description));
                values.emplace_back(StrFormat("%d_Parameters", i), OneLine(parameters));
            }
            ++i;
        }
        ini.AppendSection(section, values);
    }
    for (const auto& f : folder.folders)
        StoreFolder(*f, ini);
}

// Which field of which entry a key of a folder section names: "<n>_Name", "<n>_Description" or
// "<n>_Parameters" with n a positive decimal number as the list writes it (no sign, no leading zero).
enum class EntryField { None, Name, Description, Parameters };
EntryField EntryKey(std::string_view key, uint32_t* number)
{
    size_t digits = 0;
    while (digits < key.size() && key[digits] >= '0' && key[digits] <= '9')
        ++digits;
    if (digits == 0 || digits > 9 || key[0] == '0' || digits >= key.size() || key[digits] != '_')
        return EntryField::None;
    *number = static_cast<uint32_t>(ParseDecimal(key.substr(0, digits)));
    std::string_view field = key.substr(digits + 1);
    if (StrEqualNoCase(field, "Name"))
        return EntryField::Name;
    if (StrEqualNoCase(field, "Description"))
        return EntryField::Description;
    if (StrEqualNoCase(field, "Parameters"))
        return EntryField::Parameters;
    return EntryField::None;
}

// The entries of one part of a folder section as found by their keys (the first of repeated keys).
struct FoundEntry {
    uint32_t number = 0;
    std::optional<std::string> name, description, parameters;
};
struct FoundPart {
    std::string path;
    std::vector<FoundEntry> entries;
};

} // namespace

DeviceList::DeviceList()
    : root_(std::make_unique<DeviceFolder>())
{
}

DeviceFolder* DeviceList::FindFolder(std::string_view path)
{
    DeviceFolder* folder = root_.get();
    for (std::string_view name : SplitPath(path)) {
        DeviceFolder* next = nullptr;
        for (auto& f : folder->folders)
            if (StrEqualNoCase(f->name, name)) {
                next = f.get();
                break;
            }
        if (!next)
            return nullptr;
        folder = next;
    }
    return folder;
}

DeviceFolder& DeviceList::MakeFolder(std::string_view path)
{
    DeviceFolder* folder = root_.get();
    for (std::string_view name : SplitPath(path)) {
        DeviceFolder* next = nullptr;
        for (auto& f : folder->folders)
            if (StrEqualNoCase(f->name, name)) {
                next = f.get();
                break;
            }
        if (!next) {
            auto created = std::make_unique<DeviceFolder>();
            created->name = std::string(name);
            created->parent = folder;
            next = created.get();
            folder->folders.push_back(std::move(created));
        }
        folder = next;
    }
    return *folder;
}

std::string DeviceList::FolderPath(const DeviceFolder& folder)
{
    std::string path;
    for (const DeviceFolder* f = &folder; f && f->parent; f = f->parent)
        path = path.empty() ? f->name : f->name + "/" + path;
    return path;
}

DeviceEntry* DeviceList::Add(std::unique_ptr<DeviceEntry> entry, DeviceFolder* folder)
{
    if (!folder)
        folder = root_.get();
    DeviceEntry* added = entry.get();
    folder->entries.push_back(std::move(entry));
    return added;
}

DeviceFolder* DeviceList::FolderOf(const DeviceEntry* entry)
{
    DeviceFolder* found = nullptr;
    std::function<void(DeviceFolder&)> look = [&](DeviceFolder& folder) {
        for (auto& e : folder.entries)
            if (e.get() == entry)
                found = &folder;
        for (auto& f : folder.folders)
            if (!found)
                look(*f);
    };
    look(*root_);
    return found;
}

int DeviceList::Remove(const DeviceEntry* entry)
{
    DeviceFolder* folder = FolderOf(entry);
    if (!folder)
        return 0;
    auto& entries = folder->entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(), [entry](const auto& e) { return e.get() == entry; }),
        entries.end());
    return 1;
}

std::vector<DeviceEntry*> DeviceList::All()
{
    std::vector<DeviceEntry*> all;
    CollectEntries(*root_, [&all](DeviceFolder&, DeviceEntry& e) { all.push_back(&e); });
    return all;
}

void DeviceList::ForEach(const std::function<void(DeviceFolder&, DeviceEntry&)>& visit)
{
    CollectEntries(*root_, visit);
}

size_t DeviceList::Count() const
{
    size_t n = 0;
    CollectEntries(*root_, [&n](DeviceFolder&, DeviceEntry&) { ++n; });
    return n;
}

void DeviceList::Clear()
{
    root_ = std::make_unique<DeviceFolder>();
    current_folder.clear();
}

std::string DeviceParameters(const DeviceEntry& entry)
{
    std::string password;
    if (!entry.password_unsaved && !entry.password.empty())
        password = CfgScramble(entry.password);
    std::string text = StrFormat("%d;%s;", entry.local, password.c_str());
    switch (entry.link) {
    case LinkDialUp:
        text += StrFormat("RAS;%s;%s;%d;", entry.ras_entry.c_str(), entry.phone_number.c_str(), entry.ras_idle_s);
        break;
    case LinkSerial:
        text += StrFormat("COM;%s;", entry.line_name.c_str());
        break;
    default:
        if (entry.port != 0)
            text += StrFormat("IP;%s:%d;%d;", NetAddressText(entry.address).c_str(), entry.port, entry.timeout_s);
        else
            text += StrFormat("IP;%s;%d;", NetAddressText(entry.address).c_str(), entry.timeout_s);
        break;
    }
    return text;
}

void DeviceParseParameters(std::string_view parameters, DeviceEntry& entry)
{
    std::vector<std::string_view> f = SplitFields(parameters);
    auto field = [&f](size_t i) { return i < f.size() ? f[i] : std::string_view(); };
    if (!field(0).empty())
        entry.local = ParseDecimal(field(0));
    if (!field(1).empty()) {
        entry.password = CfgUnscramble(field(1), FixedText<64>::kMax);
        entry.password_unsaved = 0;
    }
    std::string_view kind = field(2);
    if (kind == "IP") {
        entry.link = LinkIp;
        if (!field(3).empty())
            ParseAddressPort(field(3), entry);
        if (!field(4).empty())
            entry.timeout_s = ParseDecimal(field(4));
    } else if (kind == "RAS") {
        entry.link = LinkDialUp;
        if (!field(3).empty())
            entry.ras_entry = field(3);
        if (!field(4).empty())
            entry.phone_number = field(4);
        if (!field(5).empty())
            entry.ras_idle_s = ParseDecimal(field(5));
    } else if (kind == "COM") {
        entry.link = LinkSerial;
        if (!field(3).empty())
            entry.line_name = field(3);
    }
}

int DeviceListLoad(DeviceList& list, const IniFile& ini)
{
    list.Clear();
    // One pass over the file gathers every entry by its keys, whatever "Count" says (missing, too small,
    // negative), in every part of a folder section (a folder's section may stand twice), so that a save
    // keeps every entry the file holds.
    std::vector<FoundPart> parts;
    std::unordered_map<uint32_t, size_t> byNumber; // entries of the current part
    size_t lastPart = 0;
    bool listPart = false;
    ini.ForEachKey([&](size_t part, std::string_view section, std::string_view key, std::string_view value) {
        if (part != lastPart) {
            lastPart = part;
            byNumber.clear();
            listPart = StrEqualNoCase(section, kListSection) || StrStartsWithNoCase(section, "DeviceList/");
            if (listPart)
                parts.push_back({ std::string(section.substr(std::min(section.size(), kListSection.size() + 1))), {} });
        }
        uint32_t number = 0;
        EntryField field = listPart ? EntryKey(key, &number) : EntryField::None;
        if (field == EntryField::None)
            return;
        std::vector<FoundEntry>& entries = parts.back().entries;
        auto [at, added] = byNumber.try_emplace(number, entries.size());
        if (added) {
            entries.emplace_back();
            entries.back().number = number;
        }
        FoundEntry& e = entries[at->second];
        std::optional<std::string>& slot = field == EntryField::Name ? e.name
            : field == EntryField::Description                       ? e.description
                                                                     : e.parameters;
        if (!slot)
            slot = std::string(value);
    });

    // Folders by their path ignoring case, so that many folders cost no search through their siblings.
    std::unordered_map<std::string, DeviceFolder*> folders;
    auto folderAt = [&](std::string_view path) {
        DeviceFolder* folder = &list.Root();
        std::string key;
        for (std::string_view name : SplitPath(path)) {
            key += StrLower(name);
            key += '/';
            DeviceFolder*& known = folders[key];
            if (!known) {
                auto created = std::make_unique<DeviceFolder>();
                created->name = std::string(name);
                created->parent = folder;
                known = created.get();
                folder->folders.push_back(std::move(created));
            }
            folder = known;
        }
        return folder;
    };

    int loaded = 0;
    for (FoundPart& part : parts) {
        DeviceFolder* folder = folderAt(part.path); // also a folder without entries
        std::sort(part.entries.begin(), part.entries.end(),
            [](const FoundEntry& a, const FoundEntry& b) { return a.number < b.number; });
        for (const FoundEntry& found : part.entries) {
            // Names and descriptions are single lines without surrounding blanks, as they are saved; an
            // entry without a name cannot be shown or kept.
            std::string name(Trim(OneLine(CutTo(found.name.value_or(std::string()), kNameMax))));
            if (name.empty())
                continue;
            auto entry = std::make_unique<DeviceEntry>();
            entry->name = name;
            entry->description = Trim(OneLine(CutTo(found.description.value_or(std::string()), kDescriptionMax)));
            DeviceParseParameters(OneLine(CutTo(found.parameters.value_or(std::string()), kParametersMax)), *entry);
            if (found.name.value_or(std::string()).size() > kNameMax
                || found.description.value_or(std::string()).size() > kDescriptionMax
                || found.parameters.value_or(std::string()).size() > kParametersMax) {
                auto kept = std::make_shared<DeviceStoredFields>();
                kept->name = found.name.value_or(std::string());
                kept->description = found.description.value_or(std::string());
                kept->parameters = found.parameters.value_or(std::string());
                kept->loadedName = entry->name.str();
                kept->loadedDescription = entry->description.str();
                kept->loadedParameters = DeviceParameters(*entry);
                entry->stored_fields = std::move(kept);
            }
            list.Add(std::move(entry), folder);
            ++loaded;
        }
    }
    std::string current = ini.GetString(kOptions, "CurrentFolder", "");
    list.current_folder = list.FindFolder(current) ? DeviceList::FolderPath(*list.FindFolder(current)) : "";
    return loaded;
}

void DeviceListStore(const DeviceList& list, IniFile& ini)
{
    ini.DeleteSectionsStartingWith(kListSection);
    ini.SetString(kOptions, "CurrentFolder", list.current_folder);
    StoreFolder(list.Root(), ini);
}

int DeviceListSave(const DeviceList& list, const std::string& path)
{
    IniTransaction t(path);
    DeviceListStore(list, t.File());
    return t.Commit();
}

int DeviceListImportLegacy(DeviceList& list, std::string_view text)
{
    int added = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, std::min(end - pos, kLegacyLineMax));
        line = TrimLineEnd(line.substr(0, line.find('\0'))); // a line is a C text
        pos = end + 1;
        if (Trim(line).empty() || line[0] == '#')
            continue;
        std::string single = OneLine(line); // a carriage return inside a line is no line break of ours
        std::vector<std::string_view> f = SplitFields(single);
        auto field = [&f](size_t i) { return i < f.size() ? Trim(f[i]) : std::string_view(); };
        auto entry = std::make_unique<DeviceEntry>();
        entry->name = CutTo(field(0), kNameMax);
        entry->description = CutTo(field(1), kDescriptionMax);
        if (entry->name.empty())
            continue; // the settings file keeps no entry without a name
        std::string_view kind = field(2);
        size_t next = 4;
        if (kind == "IP") {
            entry->link = LinkIp;
            ParseAddressPort(field(3), *entry);
        } else if (kind == "RAS") {
            entry->link = LinkDialUp;
            entry->ras_entry = CutTo(field(3), 63);
            entry->phone_number = CutTo(field(4), 63);
            next = 5;
        } else if (kind == "COM") {
            entry->link = LinkSerial;
            std::optional<uint32_t> n = ParseUnsignedStrict(field(3));
            entry->line_name = n ? StrFormat("COM%u", *n) : CutTo(field(3), 15);
        } else {
            Diag("legacy device list: unknown kind \"%s\"\n", std::string(kind).c_str());
            next = 3;
        }
        entry->password = CfgUnscramble(field(next), FixedText<64>::kMax);
        entry->local = ParseDecimal(field(next + 1));
        std::string_view last = field(next + 2);
        if (entry->link == LinkDialUp)
            entry->ras_idle_s = last.empty() ? 20 : ParseDecimal(last);
        else if (entry->link == LinkIp)
            entry->timeout_s = last.empty() ? 10 : ParseDecimal(last);
        if (entry->name.empty())
            continue;
        list.Add(std::move(entry));
        ++added;
    }
    return added;
}

int DeviceListLoadFile(DeviceList& list, const std::string& iniPath, const std::string& legacyPath)
{
    IniFile ini;
    if (!ini.Load(iniPath))
        Diag("device list: cannot read %s\n", iniPath.c_str());
    DeviceListLoad(list, ini);
    if (legacyPath.empty() || !FileExists(legacyPath))
        return 1;
    std::string text;
    if (!FileReadAll(legacyPath, &text))
        return 0;
    DeviceListImportLegacy(list, text);
    // The legacy file goes only once its entries are safely in the settings file.
    if (!DeviceListSave(list, iniPath))
        return 0;
    std::error_code ec;
    std::filesystem::remove(legacyPath, ec);
    return 1;
}

DeviceJob DeviceJobBuild(const std::vector<DeviceEntry*>& entries)
{
    DeviceJob job;
    DeviceEntry* last = nullptr;
    for (DeviceEntry* e : entries) {
        e->next = nullptr;
        if (last)
            last->next = e;
        else
            job.first = e;
        last = e;
        ++job.count;
    }
    return job;
}
