// Embedding the menu script: the resource update functions on a copy of the program.
#include "cdmenu/cd_embed.h"
#include "common/platform/file.h"

#include <windows.h>

namespace {
std::string LastErrorText(const char* what)
{
    DWORD code = GetLastError();
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = std::string(what) + ": " + (text ? text : "error " + std::to_string(code));
    if (text)
        LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}
} // namespace

int CdEmbedScript(const std::string& program, const std::string& script, const std::string& out, std::string* error)
{
    std::string data;
    if (!FileReadAll(script, &data)) {
        *error = "cannot read " + script;
        return 0;
    }
    // An empty resource would delete the resource instead: an empty script is one line end.
    if (data.empty())
        data = "\r\n";
    if (!CopyFileA(program.c_str(), out.c_str(), FALSE)) {
        *error = LastErrorText(("cannot copy " + program).c_str());
        return 0;
    }
    HANDLE update = BeginUpdateResourceA(out.c_str(), FALSE);
    if (!update) {
        *error = LastErrorText("BeginUpdateResourceA");
        DeleteFileA(out.c_str());
        return 0;
    }
    // The language of the resource: neutral, as the program looks it up by type and name only.
    if (!UpdateResourceA(update, MAKEINTRESOURCEA(10) /* RT_RCDATA */, "INIFILE",
            MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), data.data(), static_cast<DWORD>(data.size()))) {
        *error = LastErrorText("UpdateResourceA");
        EndUpdateResourceA(update, TRUE);
        DeleteFileA(out.c_str());
        return 0;
    }
    if (!EndUpdateResourceA(update, FALSE)) {
        *error = LastErrorText("EndUpdateResourceA");
        DeleteFileA(out.c_str());
        return 0;
    }
    return 1;
}

bool CdCanEmbedScript()
{
    return true;
}
