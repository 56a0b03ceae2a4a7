// A configuration with the filter's plug-in section and the host bound directly, for the model's tests.
#pragma once

#include "config/description/cfg_load.h"
#include "config/store/cfg_store.h"
#include "device/deviceentry.h"
#include "filterplugin/filter.h"

#include <string>
#include <vector>

struct FilterTables {
    DeviceEntry device;
    PluginContext context;
    FilterHost host;

    explicit FilterTables(const std::string& params = "module_param macfilter, 1\n")
    {
        std::string text = "version \"Test 1.0\", English\n"
                           "section_plugin Filter\n"
                           "module \"qorvexal.dll\", \"PluginIpFilterCfg\"\n"
                           "uses_table RuleTable, 6\n"
                           "uses_table ObjectTable, 2\n"
            + params;
        auto file = CfgFile::FromText(text);
        device.config = std::shared_ptr<CfgDescription>(
            CfgLoadDescriptionFrom(*file, "Test 1.0", nullptr, 0xFFFFFFFFu, 0, false).release());
        context.device = &device;
        context.kind = PluginKindConfig;
        context.section = device.config->sections[0].get();
        host = FilterHostDirect(&context);
    }
    CfgItem& Table(const char* name)
    {
        return *PluginFindItem(&context, name);
    }
    void Add(const char* table, const std::vector<std::string>& cells)
    {
        CfgItem& t = Table(table);
        int row = CfgRowInsert(t, -1);
        std::vector<const char*> values;
        for (const std::string& c : cells)
            values.push_back(c.c_str());
        CfgRowSet(t, row, static_cast<int>(values.size()) - 1, values.data());
    }
    void Rule(const std::string& name, const std::string& protocol, const std::string& source, const std::string& dest,
        const std::string& action = "256", const std::string& option = "0")
    {
        Add("RuleTable", { name, protocol, source, dest, action, option });
    }
    void Object(const std::string& name, const std::string& definition)
    {
        Add("ObjectTable", { name, definition });
    }
    std::vector<std::vector<std::string>> Rows(const char* table)
    {
        std::vector<std::vector<std::string>> out;
        CfgItem& t = Table(table);
        for (const CfgRow& row : t.rows) {
            std::vector<std::string> cells;
            for (size_t c = 0; c < t.columns.size(); ++c)
                cells.push_back(row.cells[c].value_or(""));
            out.push_back(cells);
        }
        return out;
    }
};
