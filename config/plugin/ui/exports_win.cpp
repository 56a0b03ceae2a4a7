// The nine configuration functions as the program exports them: WINAPI wrappers whose export names
// the module-definition file (exports.def.in) gives without decoration on every target.
#include "config/plugin/plugin.h"

#include <windows.h>

#include <commctrl.h>
#include <cstddef>
#include <prsht.h>

// The portable page record is the platform's, in its old layout (40 bytes on i686, 72 on x86-64).
// (PROPSHEETPAGEA_V1_SIZE itself is no constant expression: the end of its pcRefParent field.)
static_assert(sizeof(PluginPageRecord) == offsetof(PROPSHEETPAGEA, pcRefParent) + sizeof(UINT*));
static_assert(sizeof(PluginPageRecord) == (sizeof(void*) == 4 ? 40 : 72));
static_assert(offsetof(PluginPageRecord, flags) == offsetof(PROPSHEETPAGEA, dwFlags));
static_assert(offsetof(PluginPageRecord, instance) == offsetof(PROPSHEETPAGEA, hInstance));
static_assert(offsetof(PluginPageRecord, dialogTemplate) == offsetof(PROPSHEETPAGEA, pszTemplate));
static_assert(offsetof(PluginPageRecord, title) == offsetof(PROPSHEETPAGEA, pszTitle));
static_assert(offsetof(PluginPageRecord, dialogProc) == offsetof(PROPSHEETPAGEA, pfnDlgProc));
static_assert(offsetof(PluginPageRecord, param) == offsetof(PROPSHEETPAGEA, lParam));
static_assert(offsetof(PluginPageRecord, callback) == offsetof(PROPSHEETPAGEA, pfnCallback));
static_assert(offsetof(PluginPageRecord, refParent) == offsetof(PROPSHEETPAGEA, pcRefParent));
static_assert(PluginPageUseCallback == PSP_USECALLBACK && PluginPageRelease == PSPCB_RELEASE);

extern "C" {

int32_t WINAPI QvExportGetDeviceInfo(PluginContext* c, int32_t what, char* buffer, int32_t size)
{
    return VelquinCfgGetDeviceInfo(c, what, buffer, size);
}
int32_t WINAPI QvExportGetPluginParam(PluginContext* c, const char* key, char* buffer, int32_t size)
{
    return VelquinCfgGetPluginParam(c, key, buffer, size);
}
int32_t WINAPI QvExportGetValue(PluginContext* c, const char* name, char* buffer, int32_t size)
{
    return VelquinCfgGetValue(c, name, buffer, size);
}
int32_t WINAPI QvExportSetValue(PluginContext* c, const char* name, const char* value)
{
    return VelquinCfgSetValue(c, name, value);
}
int32_t WINAPI QvExportGetTabRow(
    PluginContext* c, const char* table, int32_t row, int32_t last, char* const* buffers, const int32_t* sizes)
{
    return VelquinCfgGetTabRow(c, table, row, last, buffers, sizes);
}
int32_t WINAPI QvExportSetTabRow(
    PluginContext* c, const char* table, int32_t row, int32_t last, const char* const* values)
{
    return VelquinCfgSetTabRow(c, table, row, last, values);
}
int32_t WINAPI QvExportAddTabRow(PluginContext* c, const char* table, int32_t position)
{
    return VelquinCfgAddTabRow(c, table, position);
}
int32_t WINAPI QvExportDelTabRow(PluginContext* c, const char* table, int32_t row)
{
    return VelquinCfgDelTabRow(c, table, row);
}
int32_t WINAPI QvExportFindTabRow(PluginContext* c, const char* table, int32_t column, const char* text)
{
    return VelquinCfgFindTabRow(c, table, column, text);
}

} // extern "C"
