// The nine exported configuration functions over the configuration store.
#include "common/text.h"
#include "config/plugin/plugin.h"
#include "config/store/cfg_store.h"
#include "device/deviceentry.h"

#include <algorithm>
#include <cstring>

namespace {

const std::string_view kWizardPrefix = "wizard.";

// True when the item's name or its alias (first alias text) is the whole given name.
bool ItemMatches(const CfgItem& item, std::string_view name)
{
    if (item.name && StrEqualNoCase(*item.name, name))
        return true;
    return item.alias && item.alias->Count() > 0 && StrEqualNoCase(item.alias->At(0), name);
}

CfgItem* FindInSection(const CfgSection& section, std::string_view name)
{
    for (const CfgItemPtr& item : section.items)
        if (ItemMatches(*item, name))
            return item.get();
    return nullptr;
}

CfgItem* FindInDescription(const CfgDescription* desc, std::string_view name)
{
    if (!desc)
        return nullptr;
    for (const auto& section : desc->sections)
        if (CfgItem* item = FindInSection(*section, name))
            return item;
    return nullptr;
}

CfgItem* FindTable(const PluginContext* context, const char* name)
{
    CfgItem* item = PluginFindItem(context, name);
    return item && item->IsTable() ? item : nullptr;
}

// The columns a row operation may touch: the table's, but never past the row's slots.
int32_t ColumnCount(const CfgItem& table)
{
    return static_cast<int32_t>(std::min(table.columns.size(), CfgMaxColumns));
}

} // namespace

void PluginCopyBounded(const char* text, size_t length, char* buffer, int32_t size)
{
    if (!buffer || size <= 0)
        return;
    size_t n = std::min(length, static_cast<size_t>(size) - 1);
    if (n)
        std::memcpy(buffer, text, n);
    buffer[n] = '\0';
}

CfgItem* PluginFindItem(const PluginContext* context, const char* name)
{
    if (!context || !name)
        return nullptr;
    std::string_view wanted(name);
    if (context->kind == PluginKindConfig)
        return context->section ? FindInSection(*context->section, wanted) : nullptr;
    if (context->kind != PluginKindWizard)
        return nullptr;
    // A wizard page reaches the wizard's own items by their "wizard." names, everything else in the
    // device's configuration; the prefix stays part of the name that is compared.
    if (wanted.size() >= kWizardPrefix.size() && StrStartsWithNoCase(wanted, kWizardPrefix))
        return FindInDescription(context->wizardPages, wanted);
    return FindInDescription(context->device ? context->device->config.get() : nullptr, wanted);
}

int32_t VelquinCfgGetDeviceInfo(PluginContext* context, int32_t what, char* buffer, int32_t size)
{
    if (!context || !context->device)
        return 0;
    const DeviceEntry& device = *context->device;
    std::string_view text;
    switch (what) {
    case 1:
        text = device.device_type;
        break;
    case 2:
        text = device.name;
        break;
    case 3:
        text = device.fw_version;
        break;
    case 4:
        text = device.fw_date;
        break;
    case 5: {
        if (!buffer || size < 4)
            return 0;
        uint32_t word = device.feature_word;
        std::memcpy(buffer, &word, sizeof word);
        return 1;
    }
    default:
        return 0;
    }
    PluginCopyBounded(text.data(), text.size(), buffer, size);
    return 1;
}

int32_t VelquinCfgGetPluginParam(PluginContext* context, const char* key, char* buffer, int32_t size)
{
    if (!context || !context->section || !key || !context->section->params)
        return 0;
    // Keys and values alternate; only keys are compared, so a value that reads like a key is never
    // taken for one.
    const CfgArgList& params = *context->section->params;
    for (size_t i = 0; i + 1 < params.Count(); i += 2) {
        if (!StrEqualNoCase(params.At(i), key))
            continue;
        std::string_view value = params.At(i + 1);
        PluginCopyBounded(value.data(), value.size(), buffer, size);
        return static_cast<int32_t>(value.size());
    }
    return 0;
}

int32_t VelquinCfgGetValue(PluginContext* context, const char* name, char* buffer, int32_t size)
{
    CfgItem* item = PluginFindItem(context, name);
    if (!item)
        return 0;
    const std::string empty;
    const std::string& value = item->value ? *item->value : empty;
    PluginCopyBounded(value.data(), value.size(), buffer, size);
    return 1;
}

int32_t VelquinCfgSetValue(PluginContext* context, const char* name, const char* value)
{
    CfgItem* item = PluginFindItem(context, name);
    if (!item)
        return 0;
    CfgSetItemValue(*item, value ? std::optional<std::string>(value) : std::nullopt);
    return 1;
}

int32_t VelquinCfgGetTabRow(PluginContext* context, const char* table, int32_t row, int32_t lastColumn,
    char* const* buffers, const int32_t* sizes)
{
    CfgItem* item = FindTable(context, table);
    if (!item || row < 0)
        return 0;
    CfgRow* at = CfgRowAt(*item, static_cast<size_t>(row));
    if (!at)
        return 0;
    int32_t count = ColumnCount(*item);
    int32_t last = std::min(lastColumn, count - 1);
    for (int32_t c = 0; c <= last && buffers && sizes; ++c) {
        const std::optional<std::string>& cell = at->cells[static_cast<size_t>(c)];
        PluginCopyBounded(cell ? cell->data() : "", cell ? cell->size() : 0, buffers[c], sizes[c]);
    }
    return count;
}

int32_t VelquinCfgSetTabRow(
    PluginContext* context, const char* table, int32_t row, int32_t lastColumn, const char* const* values)
{
    CfgItem* item = FindTable(context, table);
    if (!item || row < 0)
        return 0;
    if (CfgRowSet(*item, row, lastColumn, values) == 0)
        return 0;
    return ColumnCount(*item);
}

int32_t VelquinCfgAddTabRow(PluginContext* context, const char* table, int32_t position)
{
    CfgItem* item = FindTable(context, table);
    if (!item)
        return -1;
    return CfgRowInsert(*item, position);
}

int32_t VelquinCfgDelTabRow(PluginContext* context, const char* table, int32_t row)
{
    CfgItem* item = FindTable(context, table);
    if (!item)
        return 0;
    return CfgRowDelete(*item, row);
}

int32_t VelquinCfgFindTabRow(PluginContext* context, const char* table, int32_t column, const char* text)
{
    CfgItem* item = FindTable(context, table);
    if (!item || !text || column < 0 || column >= ColumnCount(*item))
        return -1;
    int32_t index = 0;
    for (const CfgRow& row : item->rows) {
        // A cell without value reads as the empty text, as VelquinCfgGetTabRow hands it out.
        const std::optional<std::string>& cell = row.cells[static_cast<size_t>(column)];
        if (StrEqualNoCase(cell ? std::string_view(*cell) : std::string_view(), text))
            return index;
        ++index;
    }
    return -1;
}

// The exported wrappers: the same calls in the platform's standard calling convention.
extern "C" {
int32_t PLUGIN_CALL QvExportGetDeviceInfo(PluginContext* c, int32_t what, char* buffer, int32_t size)
{
    return VelquinCfgGetDeviceInfo(c, what, buffer, size);
}
int32_t PLUGIN_CALL QvExportGetPluginParam(PluginContext* c, const char* key, char* buffer, int32_t size)
{
    return VelquinCfgGetPluginParam(c, key, buffer, size);
}
int32_t PLUGIN_CALL QvExportGetValue(PluginContext* c, const char* name, char* buffer, int32_t size)
{
    return VelquinCfgGetValue(c, name, buffer, size);
}
int32_t PLUGIN_CALL QvExportSetValue(PluginContext* c, const char* name, const char* value)
{
    return VelquinCfgSetValue(c, name, value);
}
int32_t PLUGIN_CALL QvExportGetTabRow(
    PluginContext* c, const char* table, int32_t row, int32_t last, char* const* buffers, const int32_t* sizes)
{
    return VelquinCfgGetTabRow(c, table, row, last, buffers, sizes);
}
int32_t PLUGIN_CALL QvExportSetTabRow(
    PluginContext* c, const char* table, int32_t row, int32_t last, const char* const* values)
{
    return VelquinCfgSetTabRow(c, table, row, last, values);
}
int32_t PLUGIN_CALL QvExportAddTabRow(PluginContext* c, const char* table, int32_t position)
{
    return VelquinCfgAddTabRow(c, table, position);
}
int32_t PLUGIN_CALL QvExportDelTabRow(PluginContext* c, const char* table, int32_t row)
{
    return VelquinCfgDelTabRow(c, table, row);
}
int32_t PLUGIN_CALL QvExportFindTabRow(PluginContext* c, const char* table, int32_t column, const char* text)
{
    return VelquinCfgFindTabRow(c, table, column, text);
}
} // extern "C"
