// Fuzz target for wizard scripts: the input is a wizard file; the wizard "W" (or DEFAULT) is loaded and
// its lists run against a small configuration, as a sheet runs them: on_init and every page's show,
// Back and Next lists in page mode, then on_apply in apply mode. Checks beyond crashes: page mode
// leaves the configuration as it was, no value of a wizard item or of the configuration exceeds 1,023
// bytes, and the configuration keeps its sections, items and columns.
#include "config/wizard/wiz_script.h"

#include "common/diag.h"
#include "config/description/cfg_load.h"
#include "config/wizard/wiz_actions.h"
#include "device/deviceentry.h"

#include <cstdlib>

namespace {
const char* kConfig = R"(version "Box 1.0"
section s
entryfield_text /sys/name
  description "Device name"
entryfield_ipaddress /ip/address
table /ip/routes
  num_columns 3
entryfield_ipaddress network
entryfield_ipaddress mask
entryfield_numeric metric
)";

// Everything an action may change, in one text; and the shape, which nothing may change.
std::string Values(const CfgDescription& d)
{
    std::string out;
    for (const auto& s : d.sections)
        for (const auto& item : s->items) {
            out += item->value ? "=" + *item->value : "-";
            out += '\n';
            for (const CfgRow& row : item->rows)
                for (const auto& cell : row.cells)
                    out += cell ? "|" + *cell : "|-";
            out += '\n';
        }
    return out;
}

std::string Shape(const CfgDescription& d)
{
    std::string out;
    for (const auto& s : d.sections) {
        out += s->name + "{";
        for (const auto& item : s->items) {
            out += item->name.value_or("") + std::to_string(item->columns.size()) + ",";
            if (item->section != s.get())
                std::abort();
        }
        out += "}";
    }
    return out;
}

void CheckLengths(const CfgDescription& d)
{
    for (const auto& s : d.sections)
        for (const auto& item : s->items) {
            if (item->value && item->value->size() > 1023)
                std::abort();
            for (const CfgRow& row : item->rows)
                for (const auto& cell : row.cells)
                    if (cell && cell->size() > 1023)
                        std::abort();
        }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = [] {
        DiagSetSink([](const std::string&) {});
        WizSetHostAddressSource([] { return std::vector<uint32_t> { 0xC0A80114, 0x0A000001 }; });
        return true;
    }();
    (void)quiet;
    std::string text(reinterpret_cast<const char*>(data), size);
    for (const char* name : { "W", "DEFAULT" }) {
        auto file = CfgFile::FromText(text);
        WizScriptPtr wiz = WizLoadFrom(*file, name, "Box 1.0", "German", 0x5);
        if (!wiz)
            continue;
        auto cfgFile = CfgFile::FromText(kConfig);
        CfgDescriptionPtr config = CfgLoadDescriptionFrom(*cfgFile, "Box 1.0", nullptr, 0xFFFFFFFFu, 0, false);
        if (!config)
            std::abort();
        CfgRow& row = config->sections[0]->items[2]->rows.emplace_back();
        row.cells[0] = "10.0.0.0";
        row.cells[1] = "255.0.0.0";
        config->sections[0]->items[0]->value = "router";
        DeviceEntry entry;
        entry.device_type = "Box";
        entry.flags = DevFlagFeatureWord | DevFlagUnconfigured;
        entry.feature_word = 0x4;
        const std::string shape = Shape(*config);
        const std::string before = Values(*config);
        WizRunActions(*wiz, config.get(), wiz->onInit, &entry, WizMode::Page);
        for (const auto& page : wiz->pages.sections) {
            WizAnyConditionHolds(*wiz, config.get(), page->conditions, &entry);
            WizRunActions(*wiz, config.get(), page->onShow, &entry, WizMode::Page);
            WizRunActions(*wiz, config.get(), page->onBack, &entry, WizMode::Page);
            WizRunActions(*wiz, config.get(), page->onNext, &entry, WizMode::Page);
        }
        if (Values(*config) != before)
            std::abort(); // page mode never changes the configuration
        CheckLengths(wiz->pages);
        WizRunActions(*wiz, config.get(), wiz->onApply, &entry, WizMode::Apply);
        CheckLengths(wiz->pages);
        CheckLengths(*config);
        if (Shape(*config) != shape)
            std::abort();
    }
    return 0;
}
