// The plug-in interface: a section of a description may name a library that serves its page. The tool
// loads the library (from its own directory only), asks its entry point for a property-sheet page and
// hands the page a context; the page reads and changes the configuration through the nine exported
// VelquinCfg* functions, each taking that context first.
//
// Everything here is portable: the platform's page record is mirrored by PluginPageRecord (the Win32
// layer checks that the layouts agree), the library calls go through PluginModuleService.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct CfgDescription;
struct CfgSection;
struct CfgItem;
struct DeviceEntry;

// The platform's standard calling convention, used by every call between the tool and a plug-in.
#if defined(_WIN32) && defined(__i386__)
#define PLUGIN_CALL __attribute__((stdcall))
#else
#define PLUGIN_CALL
#endif

struct PluginPageRecord;
// A page callback: (window, message, page) -> 1. Message 1 is "release".
typedef uint32_t(PLUGIN_CALL* PluginPageCallback)(void* window, uint32_t message, PluginPageRecord* page);

// Page kinds.
constexpr int32_t PluginKindConfig = 1; // configuration dialog
constexpr int32_t PluginKindWizard = 2; // set-up wizard

// Page flags the loader reads and sets (the platform's values).
constexpr uint32_t PluginPageUseCallback = 0x80;
constexpr uint32_t PluginPageRelease = 1; // the callback message when the page goes

// The leading part of the platform's property-sheet page record, the layout every version of it
// shares (40 bytes on 32-bit Windows, 72 on 64-bit). A plug-in may be handed a larger record: `size`
// says how large.
struct PluginPageRecord {
    uint32_t size;
    uint32_t flags;
    void* instance; // the library's own instance
    const void* dialogTemplate; // resource name (or number) or in-memory template
    const void* icon;
    const char* title;
    void* dialogProc;
    intptr_t param; // the page's application value: the PluginContext
    PluginPageCallback callback;
    uint32_t* refParent;
};
// The size of the old page layout, which the configuration dialog uses.
constexpr uint32_t PluginPageRecordV1Size = static_cast<uint32_t>(sizeof(PluginPageRecord));

// What the entry point is called with besides the context and the kind.
struct PluginCallRecord {
    int32_t mode; // configuration pages: 1 simplified view, 2 full view; wizard pages: 0
    void* instance; // the tool's instance, from which the library binds the nine exports
    PluginPageRecord* page; // the page description to fill; its size field is set
};

// Entry point of a plug-in library: (context, kind, call record) -> nonzero.
struct PluginContext;
typedef int32_t(PLUGIN_CALL* PluginEntryPoint)(PluginContext* context, int32_t kind, PluginCallRecord* record);

// The libraries the loader works with: the platform's (PluginPlatformModules) or a scripted table in
// tests. Names are resolved against `directory` only.
struct PluginModuleService {
    void* (*load)(const std::string& fullPath) = nullptr; // nullptr on failure
    void* (*symbol)(void* module, const char* name) = nullptr;
    void (*release)(void* module) = nullptr;
    std::string directory; // the program's own directory
    std::string baseName; // the program's base name, which "*" stands for
    std::string extension; // added to a library name without one (".dll")
    char separator = '/';
};
PluginModuleService PluginPlatformModules();

// What a plug-in page receives and hands back to every exported function. Allocated per page by
// PluginLoadPage, freed when the page is released.
struct PluginContext {
    void* module = nullptr; // the library
    DeviceEntry* device = nullptr; // whose configuration is edited (device->config)
    int32_t kind = 0; // PluginKindConfig or PluginKindWizard
    CfgSection* section = nullptr; // the section that named the module
    PluginPageCallback callback = nullptr; // the library's own page callback, or none
    CfgDescription* wizardPages = nullptr; // kind 2: the wizard's pages ("wizard." names)
    void (*release)(void* module) = nullptr; // gives the library back on release
};

// ---- the nine exported functions (the Win32 exports are thin wrappers around these) ----

int32_t VelquinCfgGetDeviceInfo(PluginContext* context, int32_t what, char* buffer, int32_t size);
int32_t VelquinCfgGetPluginParam(PluginContext* context, const char* key, char* buffer, int32_t size);
int32_t VelquinCfgGetValue(PluginContext* context, const char* name, char* buffer, int32_t size);
int32_t VelquinCfgSetValue(PluginContext* context, const char* name, const char* value);
int32_t VelquinCfgGetTabRow(PluginContext* context, const char* table, int32_t row, int32_t lastColumn,
    char* const* buffers, const int32_t* sizes);
int32_t VelquinCfgSetTabRow(
    PluginContext* context, const char* table, int32_t row, int32_t lastColumn, const char* const* values);
int32_t VelquinCfgAddTabRow(PluginContext* context, const char* table, int32_t position);
int32_t VelquinCfgDelTabRow(PluginContext* context, const char* table, int32_t row);
int32_t VelquinCfgFindTabRow(PluginContext* context, const char* table, int32_t column, const char* text);

// The same nine in the platform's standard calling convention, as a plug-in calls them: the program
// exports these under the names above (config/plugin/ui/exports.def.in), and the command-line tool
// and the tests bind them directly (filterplugin/filter_direct.cpp).
extern "C" {
int32_t PLUGIN_CALL QvExportGetDeviceInfo(PluginContext* context, int32_t what, char* buffer, int32_t size);
int32_t PLUGIN_CALL QvExportGetPluginParam(PluginContext* context, const char* key, char* buffer, int32_t size);
int32_t PLUGIN_CALL QvExportGetValue(PluginContext* context, const char* name, char* buffer, int32_t size);
int32_t PLUGIN_CALL QvExportSetValue(PluginContext* context, const char* name, const char* value);
int32_t PLUGIN_CALL QvExportGetTabRow(PluginContext* context, const char* table, int32_t row, int32_t lastColumn,
    char* const* buffers, const int32_t* sizes);
int32_t PLUGIN_CALL QvExportSetTabRow(
    PluginContext* context, const char* table, int32_t row, int32_t lastColumn, const char* const* values);
int32_t PLUGIN_CALL QvExportAddTabRow(PluginContext* context, const char* table, int32_t position);
int32_t PLUGIN_CALL QvExportDelTabRow(PluginContext* context, const char* table, int32_t row);
int32_t PLUGIN_CALL QvExportFindTabRow(PluginContext* context, const char* table, int32_t column, const char* text);
}

// The item a plug-in means by `name` (the look-up rules of the interface), or nullptr.
CfgItem* PluginFindItem(const PluginContext* context, const char* name);
// Copies `text` into buffer[size]: at most size - 1 bytes and a terminator; nothing when size <= 0.
void PluginCopyBounded(const char* text, size_t length, char* buffer, int32_t size);

// ---- page loading ----

// The entry-point mode of a configuration page.
inline int32_t PluginConfigMode(bool easy)
{
    return easy ? 1 : 2;
}

// Loads the page that a plug-in section names. `page` points at `pageSize` bytes (at least
// PluginPageRecordV1Size) that receive the filled page description, all but the size field, which the
// caller has set. On success the page has the page-callback flag and PluginPageProc as its callback,
// its application value is the new context, and 1 is returned. 0 leaves the page out: the library
// cannot be loaded (the diagnostic "### can't load plugin %s\n"), has no such entry point, or the
// entry point failed; the library is then given back.
int32_t PluginLoadPage(const PluginModuleService& modules, CfgSection& section, DeviceEntry* device,
    CfgDescription* wizardPages, int32_t kind, int32_t mode, void* instance, PluginPageRecord* page, uint32_t pageSize);

// The tool's page callback: calls the library's own callback, and on release gives the library back and
// frees the context. Returns 1.
uint32_t PLUGIN_CALL PluginPageProc(void* window, uint32_t message, PluginPageRecord* page);

// The full path a module name stands for ("*": the program's base name; no extension: the platform's),
// or the empty text for a name that is refused (a directory part, a drive or "..").
std::string PluginModulePath(const PluginModuleService& modules, const std::string& name);
