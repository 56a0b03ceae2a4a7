#include "capictl/capi_keys.h"

#include "capictl/capi_records.h"
#include "common/diag.h"
#include "common/text.h"

namespace {
CapiKeys g_keys;

const char kNtSettings[] = "System\\CurrentControlSet\\Services\\ZevraCapiCtl\\Settings";
const char kNtDriver[] = "System\\CurrentControlSet\\Services\\ZevraCapiDrv";
const char k9xSettings[] = "Software\\ZEVRA\\Rcapi\\Settings";
const char k9xClass[] = "System\\CurrentControlSet\\Services\\Class\\";
const char kHardwareId[] = "ZEVRARCAPI";

bool ListHolds(std::string_view list, std::string_view id)
{
    while (true) {
        size_t comma = list.find(',');
        if (StrEqualNoCase(Trim(list.substr(0, comma)), id))
            return true;
        if (comma == std::string_view::npos)
            return false;
        list.remove_prefix(comma + 1);
    }
}

// The class key of the last device instance under "Enum" (enumerator, device, instance) that names the
// driver's hardware id.
std::string FindInEnum()
{
    std::string found;
    RegKey root;
    if (root.Open(RegRoot::LocalMachine, "Enum") != RegStatus::Ok)
        return found;
    std::string enumerator, device, instance;
    for (uint32_t i = 0; root.EnumKey(i, &enumerator) == RegStatus::Ok; ++i) {
        RegKey e;
        if (e.Open(root, enumerator) != RegStatus::Ok)
            continue;
        for (uint32_t j = 0; e.EnumKey(j, &device) == RegStatus::Ok; ++j) {
            RegKey d;
            if (d.Open(e, device) != RegStatus::Ok)
                continue;
            for (uint32_t k = 0; d.EnumKey(k, &instance) == RegStatus::Ok; ++k) {
                RegKey in;
                if (in.Open(d, instance) != RegStatus::Ok)
                    continue;
                auto hardware = in.ReadString("HardwareID");
                auto compatible = in.ReadString("CompatibleIDs");
                bool match = (hardware && StrEqualNoCase(*hardware, kHardwareId))
                    || (compatible && ListHolds(*compatible, kHardwareId));
                auto driver = in.ReadString("Driver");
                if (match && driver)
                    found = k9xClass + *driver;
            }
        }
    }
    return found;
}

void Walk(const RegKey& key, const std::string& path, std::string* out)
{
    std::string name, data;
    uint32_t type = 0;
    for (uint32_t i = 0; key.EnumValue(i, &name, &type, &data) == RegStatus::Ok; ++i) {
        std::string relative = path + name;
        if (data.size() > kCapiMaxValueData) {
            Diag("capi settings: value \"%s\" left out: %u bytes of data, at most %u\n", relative.c_str(),
                static_cast<unsigned>(data.size()), static_cast<unsigned>(kCapiMaxValueData));
            continue;
        }
        if (relative.size() > kCapiMaxRelativeName) {
            Diag("capi settings: value \"%s\" left out: name longer than %u characters\n", relative.c_str(),
                static_cast<unsigned>(kCapiMaxRelativeName));
            continue;
        }
        CapiAppendSetting(out, relative, type, data);
    }
    CapiAppendKeyEnd(out, path, static_cast<uint32_t>(24 + path.size() + 1));
    for (uint32_t i = 0; key.EnumKey(i, &name) == RegStatus::Ok; ++i) {
        std::string sub = path + name + "\\";
        if (sub.size() > kCapiMaxRelativeName) {
            Diag("capi settings: key \"%s\" left out with its subkeys: path longer than %u characters\n", sub.c_str(),
                static_cast<unsigned>(kCapiMaxRelativeName));
            continue;
        }
        RegKey child;
        if (child.Open(key, name) == RegStatus::Ok)
            Walk(child, sub, out);
    }
}
} // namespace

int CapiFindDriverKey(CapiFamily family)
{
    CapiKeys keys;
    if (family == CapiFamily::WindowsNT) {
        keys.settings = kNtSettings;
        keys.driver = kNtDriver;
    } else {
        keys.settings = k9xSettings;
        RegKey settings;
        std::optional<std::string> base;
        if (settings.Open(RegRoot::LocalMachine, keys.settings) == RegStatus::Ok)
            base = settings.ReadString("DrvBaseKey");
        // An empty "DrvBaseKey" names no key: the enumeration decides then.
        keys.driver = (base && !base->empty()) ? *base : FindInEnum();
        if (keys.driver.empty())
            return 0;
    }
    keys.parameters = keys.driver + "\\Parameters";
    keys.rcapi = keys.driver + "\\Parameters\\RCapi";
    g_keys = keys;
    return 1;
}

const CapiKeys& CapiGetKeys()
{
    return g_keys;
}

int CapiBuildSettings(RegRoot root, const std::string& path, std::string* records)
{
    records->clear();
    RegKey key;
    if (key.Open(root, path) != RegStatus::Ok)
        return 0;
    Walk(key, "", records);
    return records->empty() ? 0 : 1;
}

std::string CapiSuspendRecords(uint32_t flag)
{
    std::string records, data;
    CapiAppendLe32(&data, flag);
    CapiAppendSetting(&records, "RCapi\\RCapiSuspended", 4, data);
    CapiAppendKeyEnd(&records, "RCapi\\", 0);
    return records;
}
