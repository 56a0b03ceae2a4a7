// The host's functions bound directly, for the command-line tool and the tests, which link the host's
// code; the calls keep the platform's calling convention of the exports.
#include "filterplugin/filter.h"

namespace {

int32_t PLUGIN_CALL GetDeviceInfo(PluginContext* c, int32_t what, char* buffer, int32_t size)
{
    return VelquinCfgGetDeviceInfo(c, what, buffer, size);
}
int32_t PLUGIN_CALL GetPluginParam(PluginContext* c, const char* key, char* buffer, int32_t size)
{
    return VelquinCfgGetPluginParam(c, key, buffer, size);
}
int32_t PLUGIN_CALL GetValue(PluginContext* c, const char* name, char* buffer, int32_t size)
{
    return VelquinCfgGetValue(c, name, buffer, size);
}
int32_t PLUGIN_CALL SetValue(PluginContext* c, const char* name, const char* value)
{
    return VelquinCfgSetValue(c, name, value);
}
int32_t PLUGIN_CALL GetTabRow(
    PluginContext* c, const char* table, int32_t row, int32_t last, char* const* buffers, const int32_t* sizes)
{
    return VelquinCfgGetTabRow(c, table, row, last, buffers, sizes);
}
int32_t PLUGIN_CALL SetTabRow(PluginContext* c, const char* table, int32_t row, int32_t last, const char* const* values)
{
    return VelquinCfgSetTabRow(c, table, row, last, values);
}
int32_t PLUGIN_CALL AddTabRow(PluginContext* c, const char* table, int32_t position)
{
    return VelquinCfgAddTabRow(c, table, position);
}
int32_t PLUGIN_CALL DelTabRow(PluginContext* c, const char* table, int32_t row)
{
    return VelquinCfgDelTabRow(c, table, row);
}
int32_t PLUGIN_CALL FindTabRow(PluginContext* c, const char* table, int32_t column, const char* text)
{
    return VelquinCfgFindTabRow(c, table, column, text);
}

} // namespace

FilterHost FilterHostDirect(PluginContext* context)
{
    FilterHost host;
    host.context = context;
    host.getDeviceInfo = GetDeviceInfo;
    host.getPluginParam = GetPluginParam;
    host.getValue = GetValue;
    host.setValue = SetValue;
    host.getTabRow = GetTabRow;
    host.setTabRow = SetTabRow;
    host.addTabRow = AddTabRow;
    host.delTabRow = DelTabRow;
    host.findTabRow = FindTabRow;
    return host;
}
