#include "setup/plugin_step.h"

#include "common/platform/module.h"

#include <cstring>

// The exports use the platform's standard calling convention (stdcall on 32-bit Windows).
#if defined(_WIN32) && !defined(_WIN64)
#define SETUP_PLUGIN_CALL __attribute__((stdcall))
#else
#define SETUP_PLUGIN_CALL
#endif

namespace {

using VersionFn = int(SETUP_PLUGIN_CALL*)();
using QueryStepsFn = int(SETUP_PLUGIN_CALL*)();
using GetStepFn = int(SETUP_PLUGIN_CALL*)(uint8_t* record, int index);
using ConditionFn = int(SETUP_PLUGIN_CALL*)();
using FailMessageFn = void(SETUP_PLUGIN_CALL*)(char* buffer);
using ProgressFn = void(SETUP_PLUGIN_CALL*)(int position);
using EntryFn = int(SETUP_PLUGIN_CALL*)(ProgressFn progress);

std::string FieldText(const uint8_t* field, size_t width)
{
    size_t len = 0;
    while (len < width && field[len] != 0)
        ++len;
    return std::string(reinterpret_cast<const char*>(field), len);
}

uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16
        | static_cast<uint32_t>(p[3]) << 24;
}

// A loaded library that is freed when it goes.
class Library {
public:
    explicit Library(const std::string& path)
        : module_(ModuleLoad(path))
    {
    }
    ~Library()
    {
        if (module_)
            ModuleFree(module_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    template<typename Fn> Fn Get(const char* name) const
    {
        return module_ ? reinterpret_cast<Fn>(ModuleSymbol(module_, name)) : nullptr;
    }
    // Loaded and not newer than the interface this installer knows (version below 2).
    bool Usable() const
    {
        auto version = Get<VersionFn>("GetVersionNumber");
        return version && version() < 2;
    }

private:
    void* module_;
};

// The progress function handed to a step: plain C, so the target lives in a per-thread variable.
thread_local void (*g_progress)(int) = nullptr;
void SETUP_PLUGIN_CALL StepProgress(int position)
{
    if (g_progress)
        g_progress(position);
}

} // namespace

PluginStepInfo PluginStepDecode(const uint8_t* record)
{
    PluginStepInfo step;
    step.level = ReadLe32(record + kPluginStepLevel);
    step.entry = FieldText(record + kPluginStepEntry, kPluginStepText - kPluginStepEntry);
    step.text = FieldText(record + kPluginStepText, kPluginStepMaximum - kPluginStepText);
    step.maximum = ReadLe32(record + kPluginStepMaximum);
    step.library = FieldText(record + kPluginStepLibrary, kPluginStepNext - kPluginStepLibrary);
    return step;
}

void PluginStepSetLibrary(uint8_t* record, std::string_view path)
{
    const size_t width = kPluginStepNext - kPluginStepLibrary;
    std::memset(record + kPluginStepLibrary, 0, width + 4);
    std::memcpy(record + kPluginStepLibrary, path.data(), std::min(path.size(), width - 1));
}

std::string PluginFailMessage(const char* buffer, size_t size)
{
    size_t len = 0;
    while (len < size && len < 255 && buffer[len] != 0)
        ++len;
    return std::string(buffer, len);
}

PluginLoader::PluginLoader(std::string directory)
    : directory_(std::move(directory))
{
}

std::string PluginLoader::LibraryPath(const std::string& library) const
{
#ifdef _WIN32
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    // Only the file name counts: a library is always the one in the installer's directory.
    size_t slash = library.find_last_of("\\/");
    std::string name = slash == std::string::npos ? library : library.substr(slash + 1);
    return directory_ + separator + name;
}

bool PluginLoader::CheckCondition(const std::string& library, const std::string& function, std::string* message)
{
    message->clear();
    Library lib(LibraryPath(library));
    if (!lib.Usable())
        return false;
    auto condition = lib.Get<ConditionFn>(function.c_str());
    if (!condition)
        return false; // a missing function is a failed condition; it is not called
    if (condition() != 0)
        return true;
    if (auto fail = lib.Get<FailMessageFn>("GetLastFailMessage")) {
        // Larger than the 255 characters (and NUL) the library may write, and NUL-filled.
        char buffer[1024] = {};
        fail(buffer);
        *message = PluginFailMessage(buffer, sizeof buffer);
    }
    return false;
}

std::vector<PluginStepInfo> PluginLoader::CollectSteps(const std::string& library)
{
    std::vector<PluginStepInfo> steps;
    std::string path = LibraryPath(library);
    Library lib(path);
    if (!lib.Usable())
        return steps;
    auto query = lib.Get<QueryStepsFn>("QuerySteps");
    auto get = lib.Get<GetStepFn>("GetStepNumber");
    if (!query || !get)
        return steps;
    int count = query();
    for (int i = 0; i < count && i < 1024; ++i) {
        uint8_t record[kPluginStepSize] = {};
        get(record, i);
        PluginStepSetLibrary(record, path);
        PluginStepInfo step = PluginStepDecode(record);
        step.library = path; // the whole path, even one longer than the record's field
        steps.push_back(std::move(step));
    }
    return steps;
}

bool PluginLoader::RunStep(const PluginStepInfo& step, void (*progress)(int position))
{
    Library lib(step.library);
    auto entry = lib.Get<EntryFn>(step.entry.c_str());
    if (!entry)
        return false;
    g_progress = progress;
    entry(StepProgress);
    g_progress = nullptr;
    return true;
}
