// The nine configuration functions as the program exports them: the wrappers of plugin.h in the
// platform's standard calling convention, whose export names the module-definition file
// (exports.def.in) gives without decoration on every target; here the page record's layout is checked
// against the platform's.
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

// The wrappers live in the plug-in library (plugin_exports.cpp); this table makes the program link
// them, so that the module-definition file finds every name it exports.
extern "C" {
extern const void* const kQvExports[9];
const void* const kQvExports[9] = { reinterpret_cast<const void*>(QvExportGetDeviceInfo),
    reinterpret_cast<const void*>(QvExportGetPluginParam), reinterpret_cast<const void*>(QvExportGetValue),
    reinterpret_cast<const void*>(QvExportSetValue), reinterpret_cast<const void*>(QvExportGetTabRow),
    reinterpret_cast<const void*>(QvExportSetTabRow), reinterpret_cast<const void*>(QvExportAddTabRow),
    reinterpret_cast<const void*>(QvExportDelTabRow), reinterpret_cast<const void*>(QvExportFindTabRow) };
}
