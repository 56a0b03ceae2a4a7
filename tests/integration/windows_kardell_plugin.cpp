// A plug-in library for kardell.exe's tests, loaded as the menu loads any plug-in. Its answers come
// from the "Plugin.Parameter" section handed to OnInit (lines "key=value", each ended by a NUL):
// Version (default 5), Init (0 refuses), Language, Country, Examine (the condition list).
#include <windows.h>

#include <cstring>
#include <string>

namespace {
std::string g_version = "5", g_init = "1", g_language, g_country, g_examine;

void Copy(const std::string& text, LPSTR buffer, int size)
{
    if (!buffer || size <= 0)
        return;
    size_t n = text.size() < static_cast<size_t>(size - 1) ? text.size() : static_cast<size_t>(size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}
} // namespace

extern "C" {
__declspec(dllexport) DWORD WINAPI GetVersionNumber()
{
    return static_cast<DWORD>(std::stoul(g_version));
}

__declspec(dllexport) BOOL WINAPI OnInit(HINSTANCE, LPCSTR parameters)
{
    for (const char* p = parameters; p && *p; p += std::strlen(p) + 1) {
        std::string line = p;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "Version")
            g_version = value;
        else if (key == "Init")
            g_init = value;
        else if (key == "Language")
            g_language = value;
        else if (key == "Country")
            g_country = value;
        else if (key == "Examine")
            g_examine = value;
    }
    return g_init != "0";
}

__declspec(dllexport) BOOL WINAPI GetLanguage(HINSTANCE, LPSTR buffer, int size)
{
    Copy(g_language, buffer, size);
    return !g_language.empty();
}

__declspec(dllexport) BOOL WINAPI GetCountry(HINSTANCE, LPSTR buffer, int size)
{
    Copy(g_country, buffer, size);
    return !g_country.empty();
}

// Asked with size 0 for the length (without the terminating NUL), then for the text.
__declspec(dllexport) int WINAPI GetExamineString(HINSTANCE, LPSTR buffer, int size)
{
    if (size == 0)
        return static_cast<int>(g_examine.size());
    Copy(g_examine, buffer, size);
    return static_cast<int>(g_examine.size());
}
}
