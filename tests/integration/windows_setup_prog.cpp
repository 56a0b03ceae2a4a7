// The installer test's program, in the roles the sample product needs:
//   (as testsvc.exe, no arguments)  the test service SetupTestSvc: runs until it is told to stop
//   readlink LINK           prints a shortcut read back through the shell link object
//   hold FILE READY         holds FILE open without delete sharing, creates READY, waits to be killed
//   anything else           appends "args: ..." to the file named by SETUP_TEST_LOG (the Exec lines)
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <string>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;

void Report(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(g_status, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stop);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*)
{
    g_status = RegisterServiceCtrlHandlerExA("SetupTestSvc", Handler, nullptr);
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stop, INFINITE);
    Report(SERVICE_STOPPED);
}

int ReadLink(const char* path)
{
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(
            CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, reinterpret_cast<void**>(&link)))) {
        return 1;
    }
    IPersistFile* file = nullptr;
    link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    if (file == nullptr || FAILED(file->Load(wide, STGM_READ))) {
        return 1;
    }
    char target[MAX_PATH] = {};
    char args[MAX_PATH] = {};
    char dir[MAX_PATH] = {};
    char icon[MAX_PATH] = {};
    int index = 0;
    link->GetPath(target, MAX_PATH, nullptr, 0);
    link->GetArguments(args, MAX_PATH);
    link->GetWorkingDirectory(dir, MAX_PATH);
    link->GetIconLocation(icon, MAX_PATH, &index);
    std::printf("target=%s\nargs=%s\ndir=%s\nicon=%s,%d\n", target, args, dir, icon, index);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string self = argv[0];
    for (char& c : self) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (argc == 1 && self.find("testsvc") != std::string::npos) {
        SERVICE_TABLE_ENTRYA table[] = { { const_cast<char*>("SetupTestSvc"), ServiceMain }, { nullptr, nullptr } };
        return StartServiceCtrlDispatcherA(table) ? 0 : 1;
    }
    if (std::strcmp(argv[1], "readlink") == 0 && argc == 3) {
        return ReadLink(argv[2]);
    }
    if (std::strcmp(argv[1], "hold") == 0 && argc == 4) {
        HANDLE held = CreateFileA(
            argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            return 1;
        }
        FILE* ready = std::fopen(argv[3], "w");
        if (ready != nullptr) {
            std::fclose(ready);
        }
        Sleep(INFINITE);
        return 0;
    }
    const char* log = std::getenv("SETUP_TEST_LOG");
    FILE* out = log != nullptr ? std::fopen(log, "a") : nullptr;
    if (out == nullptr) {
        return 1;
    }
    std::fprintf(out, "args:");
    for (int i = 1; i < argc; ++i) {
        std::fprintf(out, " %s", argv[i]);
    }
    std::fprintf(out, "\n");
    std::fclose(out);
    return 0;
}
