#include "cdmenu/ui/plugin_win.h"

#include <algorithm>
#include <vector>

namespace {
using GetVersionNumberFn = DWORD(WINAPI*)();
using OnInitFn = BOOL(WINAPI*)(HINSTANCE, LPCSTR);
using GetTextFn = BOOL(WINAPI*)(HINSTANCE, LPSTR, int);
using GetExamineStringFn = int(WINAPI*)(HINSTANCE, LPSTR, int);

template<typename Fn> Fn Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class Win32Plugin : public CdPlugin {
public:
    Win32Plugin(HMODULE module, HINSTANCE instance)
        : module_(module)
        , instance_(instance)
    {
    }
    ~Win32Plugin() override
    {
        FreeLibrary(module_);
    }
    std::optional<uint32_t> GetVersionNumber() override
    {
        auto fn = Export<GetVersionNumberFn>(module_, "GetVersionNumber");
        if (!fn)
            return std::nullopt;
        return static_cast<uint32_t>(fn());
    }
    std::optional<int> OnInit(const std::string& parameters) override
    {
        auto fn = Export<OnInitFn>(module_, "OnInit");
        if (!fn)
            return std::nullopt;
        return fn(instance_, parameters.c_str()) ? 1 : 0;
    }
    std::optional<std::string> GetLanguage() override
    {
        return Text("GetLanguage");
    }
    std::optional<std::string> GetCountry() override
    {
        return Text("GetCountry");
    }
    std::optional<std::string> GetExamineString() override
    {
        auto fn = Export<GetExamineStringFn>(module_, "GetExamineString");
        if (!fn)
            return std::nullopt;
        // The length first; the buffer is sized from the answer (capped) and terminated here, whatever
        // the library writes into it.
        int length = fn(instance_, nullptr, 0);
        if (length <= 0)
            return std::string();
        size_t size = std::min(static_cast<size_t>(length) + 1, kCdExamineMax);
        std::vector<char> buffer(size, '\0');
        fn(instance_, buffer.data(), static_cast<int>(size));
        buffer[size - 1] = '\0';
        return std::string(buffer.data());
    }

private:
    std::optional<std::string> Text(const char* name)
    {
        auto fn = Export<GetTextFn>(module_, name);
        if (!fn)
            return std::nullopt;
        char buffer[256] = {};
        if (!fn(instance_, buffer, sizeof buffer))
            return std::nullopt;
        buffer[sizeof buffer - 1] = '\0';
        return std::string(buffer);
    }

    HMODULE module_;
    HINSTANCE instance_;
};
} // namespace

std::unique_ptr<CdPlugin> CdWin32PluginLoader::Load(const std::string& file)
{
    // A relative name is taken from Kardell's own folder, never through the search path.
    bool absolute = (file.size() > 1 && file[1] == ':') || (!file.empty() && (file[0] == '\\' || file[0] == '/'));
    std::string path = absolute ? file : directory_ + file;
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module)
        return nullptr;
    return std::make_unique<Win32Plugin>(module, instance_);
}
