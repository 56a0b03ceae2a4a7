#include "setup/setup_engine.h"

#include "common/platform/registry.h"
#include "common/text.h"

#include <cstdlib>

namespace {

const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kGroupOrderKey[] = "System\\CurrentControlSet\\Control\\ServiceGroupOrder";

// The role's section names for the system, most specific first.
std::vector<std::string> Candidates(std::string_view role, const SetupOs& os)
{
    std::string base(role);
    std::vector<std::string> names;
    if (os.nt) {
        if (os.major >= 5)
            names.push_back(base + ".NT5");
        names.push_back(base + ".NTx86");
        names.push_back(base + ".NT");
    } else {
        if (os.major > 4 || (os.major == 4 && os.minor >= 90))
            names.push_back(base + ".WinMe");
        if (os.major > 4 || (os.major == 4 && os.minor > 0))
            names.push_back(base + ".Win98");
        names.push_back(base + ".Win");
    }
    names.push_back(base);
    return names;
}

std::string Choose(const InfSource& inf, std::string_view role, const SetupOs& os)
{
    for (const std::string& name : Candidates(role, os))
        if (inf.HasSection(name))
            return name;
    return {};
}

uint32_t Number(const std::string& text)
{
    return ParseUnsigned(text);
}

} // namespace

bool SetupParseOs(std::string_view text, SetupOs* os)
{
    SetupOs out;
    if (StrStartsWithNoCase(text, "nt:"))
        out.nt = true;
    else if (StrStartsWithNoCase(text, "9x:"))
        out.nt = false;
    else
        return false;
    text.remove_prefix(3);
    size_t dot = text.find('.');
    std::optional<uint32_t> major = ParseUnsignedStrict(text.substr(0, dot));
    std::optional<uint32_t> minor = dot == std::string_view::npos ? 0u : ParseUnsignedStrict(text.substr(dot + 1));
    if (!major || !minor || text.empty() || !(text[0] >= '0' && text[0] <= '9'))
        return false;
    out.major = *major;
    out.minor = *minor;
    *os = out;
    return true;
}

std::string SetupOsText(const SetupOs& os)
{
    return StrFormat("%s:%u.%u", os.nt ? "nt" : "9x", os.major, os.minor);
}

SetupSections SetupChooseSections(const InfSource& inf, const SetupOs& os)
{
    return { Choose(inf, "Install", os), Choose(inf, "Remove", os), Choose(inf, "Products", os) };
}

std::vector<ProductLine> SetupReadProducts(const InfSource& inf, std::string_view section)
{
    std::vector<ProductLine> products;
    if (section.empty())
        return products;
    for (const InfLine& line : inf.Lines(section)) {
        // A line without "=" has no key; its first field is not a product key.
        if (!line.hasKey || line.key.empty())
            continue;
        ProductLine product;
        product.key = line.key;
        product.name = line.Field(1);
        product.installSection = line.Field(2);
        product.removeSection = line.Field(3);
        product.flags = Number(line.Field(4));
        product.icon = Number(line.Field(5));
        product.description = line.Field(6);
        product.version = line.Field(7);
        products.push_back(std::move(product));
    }
    return products;
}

int SetupCompareVersions(std::string_view a, std::string_view b)
{
    while (!a.empty() || !b.empty()) {
        size_t ea = 0;
        size_t eb = 0;
        uint32_t na = ParseDecimal(a) < 0 ? 0 : static_cast<uint32_t>(ParseDecimal(a));
        uint32_t nb = ParseDecimal(b) < 0 ? 0 : static_cast<uint32_t>(ParseDecimal(b));
        ea = a.find('.');
        eb = b.find('.');
        if (na != nb)
            return na < nb ? -1 : 1;
        a = ea == std::string_view::npos ? std::string_view() : a.substr(ea + 1);
        b = eb == std::string_view::npos ? std::string_view() : b.substr(eb + 1);
    }
    return 0;
}

SetupCommandLine SetupParseCommandLine(std::string_view text)
{
    SetupCommandLine cmd;
    auto splitKeys = [&](std::string_view list) {
        cmd.keysGiven = true;
        while (!list.empty()) {
            size_t comma = list.find(',');
            std::string_view key = Trim(list.substr(0, comma));
            if (!key.empty())
                cmd.keys.emplace_back(key);
            list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        }
    };
    static const struct {
        const char* name;
        uint16_t id;
    } kLanguages[]
        = { { "eng", 1033 }, { "ger", 1031 }, { "fre", 1036 }, { "ita", 1040 }, { "spa", 10 }, { "dut", 1043 } };

    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        size_t end = pos;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t')
            ++end;
        std::string_view token = text.substr(pos, end - pos);
        pos = end;
        if (token.empty())
            continue;
        // Each option is compared over its own length; the forms with ":" come before the bare ones.
        auto is = [&](std::string_view option) { return StrStartsWithNoCase(token, option); };
        auto value = [&](std::string_view option) { return token.substr(option.size()); };
        if (is("/quiet:") || is("/silent:")) {
            cmd.quiet = true;
            splitKeys(value(is("/quiet:") ? "/quiet:" : "/silent:"));
        } else if (is("/quiet") || is("/silent")) {
            cmd.quiet = true;
        } else if (is("/reboot:")) {
            cmd.reboot = ParseUnsigned(value("/reboot:"));
        } else if (is("/style:")) {
            cmd.style = static_cast<int>(ParseUnsigned(value("/style:")) & 0xFFFF);
        } else if (is("/install:")) {
            cmd.remove = false;
            splitKeys(value("/install:"));
        } else if (is("/install")) {
            cmd.remove = false;
        } else if (is("/remove:")) {
            cmd.remove = true;
            splitKeys(value("/remove:"));
        } else if (is("/remove")) {
            cmd.remove = true;
        } else if (is("/lang:")) {
            bool known = false;
            for (const auto& language : kLanguages) {
                if (StrStartsWithNoCase(value("/lang:"), language.name)) {
                    cmd.language = language.id;
                    known = true;
                }
            }
            if (!known)
                cmd.unknown.emplace_back(token);
        } else {
            cmd.unknown.emplace_back(token);
        }
    }
    return cmd;
}

int SetupDefaultStyle(const SetupOs& os, unsigned comctlMajor, unsigned comctlMinor)
{
    bool modern = comctlMajor > 4 || (comctlMajor == 4 && comctlMinor >= 71);
    return modern && os.nt ? 1 : 0;
}

namespace {

void ExpandInto(
    unsigned id, const std::function<std::string(unsigned)>& lookup, std::vector<unsigned>& active, std::string& out)
{
    for (unsigned open : active)
        if (open == id)
            return; // a cycle: this string is already being expanded
    // References that fan out (each string naming the next twice) would grow the text exponentially:
    // the depth and the length are bounded.
    if (active.size() >= 32 || out.size() > kSetupMaxExpanded)
        return;
    active.push_back(id);
    std::string text = lookup(id);
    for (size_t i = 0; i < text.size() && out.size() <= kSetupMaxExpanded; ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        size_t p = i + 1;
        int sign = 0;
        if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
            sign = text[p] == '+' ? 1 : -1;
            ++p;
        }
        size_t digits = p;
        uint64_t n = 0;
        while (p < text.size() && text[p] >= '0' && text[p] <= '9' && n <= 0xFFFF) {
            n = n * 10 + static_cast<unsigned>(text[p] - '0');
            ++p;
        }
        if (p == digits || n > 0xFFFF) {
            out += '%'; // not a reference: the sign stays as text
            continue;
        }
        int64_t target
            = sign == 0 ? static_cast<int64_t>(n) : static_cast<int64_t>(id) + sign * static_cast<int64_t>(n);
        if (target >= 0 && target <= 0xFFFF)
            ExpandInto(static_cast<unsigned>(target), lookup, active, out);
        i = p - 1;
    }
    active.pop_back();
}

} // namespace

std::string SetupExpandString(unsigned id, const std::function<std::string(unsigned)>& lookup)
{
    std::vector<unsigned> active;
    std::string out;
    ExpandInto(id, lookup, active, out);
    if (out.size() > kSetupMaxExpanded)
        out.resize(kSetupMaxExpanded);
    return out;
}

std::optional<ExecLine> SetupReadExecLine(const InfLine& line)
{
    // The level is the key or the first field: "1, prog.exe, ..." is read by SetupAPI as fields.
    std::vector<std::string> fields;
    if (line.hasKey)
        fields.push_back(line.key);
    fields.insert(fields.end(), line.fields.begin(), line.fields.end());
    if (fields.size() < 2)
        return std::nullopt;
    ExecLine exec;
    exec.level = ParseUnsigned(fields[0]);
    exec.program = fields[1];
    exec.parameters = fields.size() > 2 ? fields[2] : "";
    exec.directory = fields.size() > 3 ? fields[3] : "";
    exec.flags = fields.size() > 4 ? ParseUnsigned(fields[4]) : 0;
    return exec;
}

std::string SetupReplaceHwnd(std::string_view parameters, uint64_t window)
{
    std::string out;
    size_t pos = 0;
    while (true) {
        size_t percent = parameters.find('%', pos);
        if (percent == std::string_view::npos || !StrStartsWithNoCase(parameters.substr(percent), "%hwnd%"))
            break;
        out.append(parameters.substr(pos, percent - pos));
        out += StrFormat("0x%08llx", static_cast<unsigned long long>(window));
        pos = percent + 6;
    }
    out.append(parameters.substr(pos));
    return out;
}

ShortcutLine SetupReadShortcutLine(const InfLine& line)
{
    std::vector<std::string> fields;
    if (line.hasKey)
        fields.push_back(line.key);
    fields.insert(fields.end(), line.fields.begin(), line.fields.end());
    fields.resize(std::max<size_t>(fields.size(), 7));
    ShortcutLine s;
    s.folder = CutTo(fields[0], 15);
    s.link = fields[1];
    s.target = fields[2];
    s.arguments = fields[3];
    s.iconFile = fields[4];
    s.iconIndex = ParseDecimal(fields[5]);
    s.openFolder = ParseDecimal(fields[6]) != 0;
    return s;
}

std::string SetupExpandEnvironment(std::string_view text)
{
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t open = text.find('%', pos);
        size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
        if (close == std::string_view::npos)
            break;
        out.append(text.substr(pos, open - pos));
        std::string name(text.substr(open + 1, close - open - 1));
        const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
        if (value) {
            out += value;
            pos = close + 1;
        } else {
            out.append(text.substr(open, close - open));
            pos = close; // the closing "%" may open the next reference
        }
    }
    out.append(text.substr(pos));
    return out;
}

std::string SetupParentPath(std::string_view path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

std::optional<std::string> SetupResolveFolder(std::string_view code)
{
    static const struct {
        const char* code;
        const char* common; // nullptr: the user's folder only
        const char* user;
    } kFolders[] = {
        { "CDSK", "Common Desktop", "Desktop" },
        { "CPRG", "Common Programs", "Programs" },
        { "CSTM", "Common Start Menu", "Start Menu" },
        { "CSTU", "Common Startup", "Startup" },
        { "UDSK", nullptr, "Desktop" },
        { "UPRG", nullptr, "Programs" },
        { "USTM", nullptr, "Start Menu" },
        { "USTU", nullptr, "Startup" },
    };
    auto read = [](RegRoot root, const char* name) -> std::optional<std::string> {
        RegKey key;
        if (key.Open(root, kShellFolders) != RegStatus::Ok) {
            return std::nullopt;
        }
        std::optional<std::string> value = key.ReadString(name);
        if (!value || value->empty()) {
            return std::nullopt;
        }
        return SetupExpandEnvironment(*value);
    };
    for (const auto& folder : kFolders) {
        if (!StrEqualNoCase(code, folder.code))
            continue;
        if (folder.common) {
            if (std::optional<std::string> common = read(RegRoot::LocalMachine, folder.common))
                return common;
        }
        return read(RegRoot::CurrentUser, folder.user);
    }
    return std::nullopt;
}

std::vector<ServiceOp> SetupReadServiceOps(const InfSource& inf, std::string_view section)
{
    static const struct {
        const char* key;
        ServiceAction action;
    } kKeys[] = { { "StopService", ServiceAction::Stop }, { "StartService", ServiceAction::Start },
        { "AddService", ServiceAction::Add }, { "DelService", ServiceAction::Delete } };
    std::vector<ServiceOp> ops;
    for (const InfLine& line : inf.Lines(std::string(section) + ".Services")) {
        if (!line.hasKey || line.Field(1).empty())
            continue;
        for (const auto& k : kKeys)
            if (StrEqualNoCase(line.key, k.key))
                ops.push_back({ k.action, line.Field(1), k.action == ServiceAction::Add ? line.Field(3) : "" });
    }
    return ops;
}

ServiceConfig SetupReadServiceConfig(const InfSource& inf, std::string_view section, std::string_view name)
{
    ServiceConfig config;
    config.name = name;
    for (const InfLine& line : inf.Lines(section)) {
        if (!line.hasKey)
            continue;
        const std::string& key = line.key;
        if (StrEqualNoCase(key, "DisplayName")) {
            config.displayName = line.Field(1);
        } else if (StrEqualNoCase(key, "ServiceType")) {
            config.type = Number(line.Field(1));
        } else if (StrEqualNoCase(key, "StartType")) {
            config.startType = Number(line.Field(1));
        } else if (StrEqualNoCase(key, "ErrorControl")) {
            config.errorControl = Number(line.Field(1));
        } else if (StrEqualNoCase(key, "ServiceBinary")) {
            config.binary = line.Field(1);
        } else if (StrEqualNoCase(key, "LoadOrderGroup")) {
            config.loadOrderGroup = line.Field(1);
        } else if (StrEqualNoCase(key, "Dependencies")) {
            config.dependencies = line.fields;
        } else if (StrEqualNoCase(key, "StartName")) {
            config.startName = line.Field(1);
        } else if (StrEqualNoCase(key, "ServiceGroupOrder")) {
            config.hasGroupOrder = !line.Field(1).empty();
            config.group = line.Field(1);
            config.anchor = line.Field(2);
        }
    }
    return config;
}

std::string SetupQuoteServiceBinary(std::string_view binary, const std::function<bool(const std::string&)>& fileExists)
{
    std::string path(binary);
    if (path.find(' ') == std::string::npos || path.starts_with('"') || !fileExists(path))
        return path;
    return "\"" + path + "\"";
}

std::vector<std::string> SetupMoveGroup(std::vector<std::string> list, std::string_view group, std::string_view anchor)
{
    std::erase(list, std::string(group));
    bool after = anchor.starts_with('-');
    if (anchor.starts_with('-') || anchor.starts_with('+'))
        anchor.remove_prefix(1);
    auto at = std::find(list.begin(), list.end(), std::string(anchor));
    if (at == list.end())
        list.insert(after ? list.end() : list.begin(), std::string(group));
    else
        list.insert(after ? at + 1 : at, std::string(group));
    return list;
}

std::vector<std::string> SetupSplitMultiSz(std::string_view data)
{
    std::vector<std::string> list;
    while (!data.empty()) {
        size_t nul = data.find('\0');
        std::string_view item = data.substr(0, nul);
        if (item.empty())
            break; // the empty string that ends the list
        list.emplace_back(item);
        data = nul == std::string_view::npos ? std::string_view() : data.substr(nul + 1);
    }
    return list;
}

std::string SetupJoinMultiSz(const std::vector<std::string>& list)
{
    std::string data;
    for (const std::string& item : list) {
        data += item;
        data += '\0';
    }
    data += '\0';
    return data;
}

bool SetupApplyGroupOrder(std::string_view group, std::string_view anchor)
{
    RegKey key;
    if (key.Create(RegRoot::LocalMachine, kGroupOrderKey) != RegStatus::Ok)
        return false;
    uint32_t type = kRegMultiSz;
    std::string data;
    if (key.QueryValue("List", &type, &data) != RegStatus::Ok)
        data.clear();
    std::vector<std::string> list = SetupMoveGroup(SetupSplitMultiSz(data), group, anchor);
    return key.SetValue("List", kRegMultiSz, SetupJoinMultiSz(list)) == RegStatus::Ok;
}

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::string SetupUninstallString(std::string_view setupPath, std::string_view key)
{
    std::string path(setupPath);
    if (path.find(' ') != std::string::npos)
        path = "\"" + path + "\"";
    return path + " /remove:" + std::string(key);
}

bool SetupWriteUninstallEntry(const UninstallEntry& entry, const UninstallDisplay& display)
{
    if (entry.key.empty())
        return false;
    RegKey key;
    if (key.Create(RegRoot::LocalMachine, std::string(kUninstallKey) + "\\" + entry.key) != RegStatus::Ok)
        return false;
    bool ok = key.WriteString("DisplayName", entry.displayName) == RegStatus::Ok
        && key.WriteString("UninstallString", entry.uninstallString) == RegStatus::Ok;
    if (!entry.version.empty()) {
        ok = ok && key.WriteString("ProductVersion", entry.version) == RegStatus::Ok
            && key.WriteString("DisplayVersion", entry.version) == RegStatus::Ok;
    }
    if (!entry.targetDir.empty()) {
        ok = ok && key.WriteString("UserTargetDir", entry.targetDir) == RegStatus::Ok
            && key.WriteString("InstallLocation", entry.targetDir) == RegStatus::Ok;
    }
    if (!display.publisher.empty())
        ok = ok && key.WriteString("Publisher", display.publisher) == RegStatus::Ok;
    if (!display.displayIcon.empty())
        ok = ok && key.WriteString("DisplayIcon", display.displayIcon) == RegStatus::Ok;
    if (display.estimatedSizeKb != 0)
        ok = ok && key.WriteDword("EstimatedSize", display.estimatedSizeKb) == RegStatus::Ok;
    // The installer neither modifies nor repairs an installation: the list offers removal only.
    ok = ok && key.WriteDword("NoModify", 1) == RegStatus::Ok && key.WriteDword("NoRepair", 1) == RegStatus::Ok;
    return ok;
}

bool SetupDeleteUninstallEntry(std::string_view key)
{
    if (key.empty())
        return false;
    RegStatus status = RegKeyDeleteTree(RegRoot::LocalMachine, std::string(kUninstallKey) + "\\" + std::string(key));
    return status == RegStatus::Ok || status == RegStatus::NotFound;
}

bool SetupHasUninstallEntry(std::string_view key)
{
    RegKey reg;
    return !key.empty()
        && reg.Open(RegRoot::LocalMachine, std::string(kUninstallKey) + "\\" + std::string(key)) == RegStatus::Ok;
}

std::optional<std::string> SetupInstalledValue(std::string_view key, std::string_view value)
{
    RegKey reg;
    if (key.empty()
        || reg.Open(RegRoot::LocalMachine, std::string(kUninstallKey) + "\\" + std::string(key)) != RegStatus::Ok)
        return std::nullopt;
    return reg.ReadString(value);
}

std::vector<std::string> SetupCopiedFiles(const InfSource& inf, const std::vector<std::string>& sections)
{
    std::vector<std::string> files;
    auto add = [&](std::string name) {
        name = std::string(Trim(name));
        if (name.empty())
            return;
        for (const std::string& known : files)
            if (StrEqualNoCase(known, name))
                return;
        files.push_back(std::move(name));
    };
    for (const std::string& section : sections) {
        for (const std::string& list : InfKeyFields(inf, section, "CopyFiles")) {
            if (list.starts_with('@')) {
                add(list.substr(1));
                continue;
            }
            for (const InfLine& line : inf.Lines(list)) {
                // Destination, source: a line "a.exe, b.exe" copies b.exe from the source root.
                std::string destination = line.hasKey ? line.key : line.Field(1);
                std::string source = line.hasKey ? line.Field(1) : line.Field(2);
                add(source.empty() ? destination : source);
            }
        }
    }
    return files;
}

std::optional<std::string> SetupFindSetupCopy(const InfSource& inf, std::string_view installSection,
    std::string_view fallbackSection, const std::function<std::string(const std::string&)>& targetPath)
{
    for (std::string_view section : { installSection, fallbackSection }) {
        if (section.empty())
            continue;
        for (const std::string& list : InfKeyFields(inf, section, "CopyFiles")) {
            if (list.empty() || list[0] == '@')
                continue; // a single file copied to the default directory
            for (const InfLine& line : inf.Lines(list)) {
                std::string name = line.hasKey ? line.key : line.Field(1);
                if (StrEqualNoCase(name, "setup.exe")) {
                    std::string dir = targetPath(list);
                    if (dir.empty())
                        return std::nullopt;
                    return dir + (dir.ends_with('\\') ? "" : "\\") + "setup.exe";
                }
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> SetupDefaultTargetDir(const InfSource& inf)
{
    std::optional<InfLine> line = InfFindLine(inf, "DestinationDirs", "DefaultDestDir");
    if (!line || ParseUnsigned(line->Field(1)) != 24 || Trim(line->Field(1)) != "24")
        return std::nullopt;
    RegKey key;
    std::optional<std::string> base;
    if (key.Open(RegRoot::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion") == RegStatus::Ok)
        base = key.ReadString("ProgramFilesDir");
    if (!base)
        return std::nullopt;
    std::string dir = *base;
    std::string_view sub = line->Field(2);
    if (sub.starts_with('\\'))
        sub.remove_prefix(1);
    if (!sub.empty()) {
        if (!dir.ends_with('\\'))
            dir += '\\';
        dir += sub;
    }
    while (dir.size() > 3 && dir.ends_with('\\'))
        dir.pop_back();
    return dir;
}

std::vector<ConditionCheck> SetupReadConditions(const InfSource& inf, std::string_view section)
{
    std::vector<ConditionCheck> checks;
    for (const std::string& conditions : InfKeyFields(inf, section, "Conditions")) {
        for (const InfLine& line : inf.Lines(conditions)) {
            std::vector<std::string> fields;
            if (line.hasKey)
                fields.push_back(line.key);
            fields.insert(fields.end(), line.fields.begin(), line.fields.end());
            if (!fields.empty())
                checks.push_back({ fields[0], fields.size() > 1 ? fields[1] : "" });
        }
    }
    return checks;
}
