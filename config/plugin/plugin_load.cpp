// Loading a plug-in page: the module name resolved in the program's own directory, the entry point
// called with a fresh context, and the tool's page callback chained in front of the library's.
#include "common/diag.h"
#include "common/platform/file.h"
#include "common/platform/module.h"
#include "common/text.h"
#include "config/description/cfg_types.h"
#include "config/plugin/plugin.h"

#include <cstring>
#include <memory>
#include <vector>

PluginModuleService PluginPlatformModules()
{
    PluginModuleService modules;
    modules.load = ModuleLoad;
    modules.symbol = ModuleSymbol;
    modules.release = ModuleFree;
    modules.directory = FileProgramDirectory();
    modules.baseName = ModuleProgramBaseName();
    modules.extension = ModuleDefaultExtension();
#ifdef _WIN32
    modules.separator = '\\';
#else
    modules.separator = '/';
#endif
    return modules;
}

std::string PluginModulePath(const PluginModuleService& modules, const std::string& name)
{
    std::string file = name == "*" ? modules.baseName : name;
    // Only a plain file name in the program's own directory: a directory part, a drive or a step up
    // would reach outside it.
    if (file.empty() || file.find_first_of("/\\:") != std::string::npos || file.find("..") != std::string::npos)
        return std::string();
    if (file.find('.') == std::string::npos)
        file += modules.extension;
    std::string path = modules.directory;
    if (!path.empty() && path.back() != '/' && path.back() != '\\')
        path += modules.separator;
    return path + file;
}

int32_t PluginLoadPage(const PluginModuleService& modules, CfgSection& section, DeviceEntry* device,
    CfgDescription* wizardPages, int32_t kind, int32_t mode, void* instance, PluginPageRecord* page, uint32_t pageSize)
{
    if (!page || pageSize < PluginPageRecordV1Size || !section.module || section.module->Count() == 0)
        return 0;
    std::string name(section.module->At(0));
    std::string path = PluginModulePath(modules, name);
    void* module = path.empty() || !modules.load ? nullptr : modules.load(path);
    if (!module) {
        Diag("### can't load plugin %s\n", name.c_str());
        return 0;
    }
    std::string entryName = section.module->Count() > 1 ? std::string(section.module->At(1)) : "PluginConfig";
    auto entry
        = reinterpret_cast<PluginEntryPoint>(modules.symbol ? modules.symbol(module, entryName.c_str()) : nullptr);
    if (!entry) {
        modules.release(module);
        return 0;
    }
    auto context = std::make_unique<PluginContext>();
    context->module = module;
    context->device = device;
    context->kind = kind;
    context->section = &section;
    context->wizardPages = wizardPages;
    context->release = modules.release;

    // The library fills an empty record of the size the dialog uses; 8-byte units keep it aligned.
    std::vector<uint64_t> storage((pageSize + 7) / 8, 0);
    auto* filled = reinterpret_cast<PluginPageRecord*>(storage.data());
    filled->size = pageSize;
    PluginCallRecord record { mode, instance, filled };
    if (!entry(context.get(), kind, &record) || !filled->dialogTemplate) {
        // Failed, or a kind the library does not serve: there is no page to show.
        modules.release(module);
        return 0;
    }
    uint32_t size = page->size;
    std::memcpy(page, filled, pageSize);
    page->size = size;
    if (page->flags & PluginPageUseCallback)
        context->callback = page->callback;
    page->flags |= PluginPageUseCallback;
    page->callback = PluginPageProc;
    page->param = reinterpret_cast<intptr_t>(context.release());
    return 1;
}

uint32_t PLUGIN_CALL PluginPageProc(void* window, uint32_t message, PluginPageRecord* page)
{
    auto* context = page ? reinterpret_cast<PluginContext*>(page->param) : nullptr;
    if (!context)
        return 1;
    if (context->callback)
        context->callback(window, message, page);
    if (message == PluginPageRelease) {
        if (context->release)
            context->release(context->module);
        delete context;
        page->param = 0;
    }
    return 1;
}
