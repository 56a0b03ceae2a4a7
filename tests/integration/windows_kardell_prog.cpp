// A program for kardell.exe's tests to launch: writes its command line and current folder to
// "launched.txt" in its own folder.
#include <windows.h>

#include <cstdio>
#include <string>

int main()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string dir = path;
    dir = dir.substr(0, dir.rfind('\\') + 1);
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof(cwd), cwd);
    FILE* f = std::fopen((dir + "launched.txt").c_str(), "a");
    if (!f)
        return 1;
    std::fprintf(f, "command line: %s\ncurrent folder: %s\n", GetCommandLineA(), cwd);
    std::fclose(f);
    return 0;
}
