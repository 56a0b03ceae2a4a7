#include "setup/ui/host_win.h"

#include "common/diag.h"
#include "common/text.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <vector>

std::atomic<bool> g_setupShutdownAllowed { false };

namespace {

// The service control manager polls: 250 ms, at most 20 times.
constexpr DWORD kServicePollMs = 250;
constexpr int kServicePolls = 20;

HWND g_progressForSteps = nullptr; // the window of the running plug-in step's progress

UINT CALLBACK QueueCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2)
{
    return static_cast<WinSetupHost*>(context)->OnQueueNotify(notification, param1, param2);
}

std::string Parent(const std::string& path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A folder the removal may take away: any below a drive's root (a drive letter's or a share's).
bool IsRemovableFolder(const std::string& folder)
{
    size_t root = 0;
    if (folder.size() >= 2 && folder[1] == ':') {
        root = 3;
    } else if (folder.starts_with("\\\\")) {
        size_t server = folder.find('\\', 2);
        size_t share = server == std::string::npos ? std::string::npos : folder.find('\\', server + 1);
        if (share == std::string::npos)
            return false;
        root = share + 1;
    } else {
        return false;
    }
    return folder.size() > root;
}

// True when the folder holds exactly one entry besides "." and "..".
bool HoldsOnlyOneEntry(const std::string& folder)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    int entries = 0;
    do {
        if (lstrcmpA(data.cFileName, ".") != 0 && lstrcmpA(data.cFileName, "..") != 0)
            ++entries;
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return entries == 1;
}

std::string FileName(const std::string& path)
{
    size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void MakeFolders(const std::string& folder)
{
    if (folder.empty() || GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    MakeFolders(Parent(folder));
    CreateDirectoryA(folder.c_str(), nullptr);
}

// A cabinet whose source and target names agree is the product's own archive, not a compressed
// form of one file: copied byte for byte instead of being unpacked by the queue.
bool CopyCabinetAsItIs(const FILEPATHS_A& paths)
{
    if (!paths.Source || !paths.Target)
        return false;
    std::string source = paths.Source;
    std::string target = paths.Target;
    if (!StrEndsWithNoCase(target, ".cab") || !StrEqualNoCase(FileName(source), FileName(target)))
        return false;
    MakeFolders(Parent(target));
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        Diag("setup: %s cannot be copied: %s\n", target.c_str(), SetupSystemMessage(GetLastError()).c_str());
        return false; // the queue tries it itself and reports the failure
    }
    return true;
}

class Scm {
public:
    Scm()
        : handle_(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS))
    {
    }
    ~Scm()
    {
        if (handle_)
            CloseServiceHandle(handle_);
    }
    Scm(const Scm&) = delete;
    Scm& operator=(const Scm&) = delete;
    SC_HANDLE Get() const
    {
        return handle_;
    }

private:
    SC_HANDLE handle_;
};

// Polls the service's state until it is `wanted`; true when it got there.
bool WaitForState(SC_HANDLE service, DWORD wanted)
{
    for (int i = 0; i < kServicePolls; ++i) {
        SERVICE_STATUS status;
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCurrentState == wanted)
            return true;
        Sleep(kServicePollMs);
    }
    return false;
}

constexpr char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingRenames[] = "PendingFileRenameOperations";

// The session manager's renames at the next restart: pairs of source ("\??\" and the path) and
// target, a deletion having an empty target. Empty when there are none.
std::vector<std::string> ReadPendingRenames(HKEY key)
{
    std::vector<std::string> items;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, kPendingRenames, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ
        || size == 0)
        return items;
    std::string data(size, '\0');
    if (RegQueryValueExA(key, kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size)
        != ERROR_SUCCESS)
        return items;
    data.resize(size);
    for (size_t pos = 0; pos < data.size();) {
        size_t nul = data.find('\0', pos);
        nul = nul == std::string::npos ? data.size() : nul;
        items.push_back(data.substr(pos, nul - pos));
        pos = nul + 1;
    }
    // The list's closing empty string is no pair's target.
    while (!items.empty() && items.back().empty() && items.size() % 2 == 1)
        items.pop_back();
    return items;
}

std::string WithoutNtPrefix(const std::string& path)
{
    return path.starts_with("\\??\\") ? path.substr(4) : path;
}

// The files the session manager deletes at the next restart (targetless entries of its list).
std::vector<std::string> PendingDeletes()
{
    std::vector<std::string> files;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return files;
    std::vector<std::string> items = ReadPendingRenames(key);
    RegCloseKey(key);
    for (size_t i = 0; i + 1 < items.size(); i += 2)
        if (items[i + 1].empty())
            files.push_back(WithoutNtPrefix(items[i]));
    return files;
}

// A file copied now must not be deleted by a restart that an earlier removal asked for (the removal
// could not delete it then): its pending deletion is taken back (NT: the session manager's list).
void CancelDeleteAtRestart(const std::string& target)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    std::vector<std::string> items = ReadPendingRenames(key);
    std::string kept;
    bool changed = false;
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
        if (items[i + 1].empty() && StrEqualNoCase(WithoutNtPrefix(items[i]), target)) {
            changed = true;
            continue;
        }
        kept += items[i] + '\0' + items[i + 1] + '\0';
    }
    if (changed) {
        if (kept.empty()) {
            RegDeleteValueA(key, kPendingRenames);
        } else {
            kept += '\0';
            RegSetValueExA(key, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                static_cast<DWORD>(kept.size()));
        }
    }
    RegCloseKey(key);
}

} // namespace

std::string SetupSystemMessage(uint32_t error)
{
    if (error == 0)
        return {};
    char* text = nullptr;
    DWORD len
        = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = len != 0 && text ? std::string(text, len) : std::string();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}

WinSetupHost::WinSetupHost(HINF inf, HWND progress, bool quiet, bool remove, bool nt, std::string programDir)
    : inf_(inf)
    , progress_(progress)
    , quiet_(quiet)
    , remove_(remove)
    , nt_(nt)
    , plugins_(std::move(programDir))
{
    CoInitialize(nullptr);
}

WinSetupHost::~WinSetupHost()
{
    if (queue_ != INVALID_HANDLE_VALUE)
        SetupCloseFileQueue(queue_);
    if (defaultContext_)
        SetupTermDefaultQueueCallback(defaultContext_);
    CoUninitialize();
}

void WinSetupHost::Post(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (progress_)
        PostMessageA(progress_, message, wParam, lParam);
}

void WinSetupHost::Stage(unsigned stage)
{
    Post(kMsgStage, stage);
}

bool WinSetupHost::QueueFiles(const std::string& section, uint32_t* error)
{
    if (queue_ == INVALID_HANDLE_VALUE) {
        queue_ = SetupOpenFileQueue();
        if (queue_ == INVALID_HANDLE_VALUE) {
            *error = GetLastError();
            return false;
        }
    }
    if (!SetupInstallFilesFromInfSectionA(inf_, nullptr, queue_, section.c_str(), ".", SP_COPY_NEWER)) {
        *error = GetLastError();
        Diag("setup: cannot queue the files of [%s]: %s\n", section.c_str(), SetupSystemMessage(*error).c_str());
        return false;
    }
    return true;
}

void WinSetupHost::RegisterDeleteAtRestart(const std::string& path)
{
    if (nt_) {
        MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return;
    }
    // The 9x family: a "NUL=" line with the short path in the [Rename] section of wininit.ini.
    char shortPath[MAX_PATH];
    if (GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath) == 0)
        lstrcpynA(shortPath, path.c_str(), sizeof shortPath);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    std::string ini = std::string(windows) + "\\wininit.ini";
    HANDLE file = CreateFileA(
        ini.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    // Appended under a [Rename] header of its own: the section may be spelled more than once.
    std::string text = "[Rename]\r\nNUL=" + std::string(shortPath) + "\r\n";
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

UINT WinSetupHost::OnQueueNotify(UINT notification, UINT_PTR param1, UINT_PTR param2)
{
    // The page's progress bar: the range as each part of the queue starts (copies, or deletions),
    // then one step per file. Posted here rather than by the platform's default callback, which not
    // every SetupAPI posts from.
    switch (notification) {
    case SPFILENOTIFY_STARTSUBQUEUE:
        if (param2 > 0)
            Post(kMsgQueueProgress, 0, static_cast<LPARAM>(param2));
        break;
    case SPFILENOTIFY_ENDCOPY:
    case SPFILENOTIFY_ENDDELETE:
    case SPFILENOTIFY_ENDRENAME:
        Post(kMsgQueueProgress, 1, 0);
        break;
    default:
        break;
    }
    switch (notification) {
    case SPFILENOTIFY_DELETEERROR: {
        // Only a file that cannot be deleted now is deleted at the next restart; its folder after it.
        const FILEPATHS_A* paths = reinterpret_cast<const FILEPATHS_A*>(param1);
        if (paths && (paths->Win32Error == ERROR_FILE_NOT_FOUND || paths->Win32Error == ERROR_PATH_NOT_FOUND))
            return FILEOP_SKIP; // already gone: nothing to delete at a restart
        if (paths && paths->Target) {
            std::string target = paths->Target;
            Diag("setup: %s is in use (error %u); it is deleted at the next restart\n", target.c_str(),
                static_cast<unsigned>(paths->Win32Error));
            RegisterDeleteAtRestart(target);
            delayedDirs_.push_back(Parent(target));
            restart_ = true;
        }
        return FILEOP_SKIP;
    }
    case SPFILENOTIFY_ENDDELETE: {
        const FILEPATHS_A* paths = reinterpret_cast<const FILEPATHS_A*>(param1);
        if (paths && paths->Target && paths->Win32Error == NO_ERROR)
            deletedDirs_.push_back(Parent(paths->Target));
        break;
    }
    case SPFILENOTIFY_STARTCOPY: {
        const FILEPATHS_A* paths = reinterpret_cast<const FILEPATHS_A*>(param1);
        if (nt_ && paths && paths->Target) {
            // The list is read once per queue; the registry only when this file is on it.
            for (const std::string& pending : pendingDeletes_) {
                if (StrEqualNoCase(pending, paths->Target)) {
                    CancelDeleteAtRestart(paths->Target);
                    break;
                }
            }
        }
        if (paths && CopyCabinetAsItIs(*paths))
            return FILEOP_SKIP;
        break;
    }
    case SPFILENOTIFY_FILEOPDELAYED:
        restart_ = true; // a file in use is replaced at the next restart
        break;
    default:
        break;
    }
    if (!defaultContext_)
        return FILEOP_DOIT;
    return SetupDefaultQueueCallbackA(defaultContext_, notification, param1, param2);
}

bool WinSetupHost::CommitQueue(uint32_t* error, bool* restart)
{
    if (queue_ == INVALID_HANDLE_VALUE)
        return true;
    // Quiet: the default callback shows nothing (a window of INVALID_HANDLE_VALUE).
    HWND owner = quiet_ ? static_cast<HWND>(INVALID_HANDLE_VALUE) : GetParent(progress_);
    defaultContext_ = SetupInitDefaultQueueCallbackEx(owner, nullptr, 0, 0, nullptr);
    pendingDeletes_ = nt_ ? PendingDeletes() : std::vector<std::string>();
    BOOL ok = SetupCommitFileQueueA(owner, queue_, QueueCallback, this);
    pendingDeletes_.clear();
    DWORD commitError = ok ? NO_ERROR : GetLastError();
    SetupTermDefaultQueueCallback(defaultContext_);
    defaultContext_ = nullptr;
    SetupCloseFileQueue(queue_);
    queue_ = INVALID_HANDLE_VALUE;
    // Folders whose files are all gone are removed; a folder that still holds files deleted at the
    // next restart is deleted then too (after them: registered later).
    // The folders above them that held nothing else go as well (a product whose files all lie in
    // subfolders leaves no empty shell of folders behind).
    std::vector<std::string> dirs = deletedDirs_;
    dirs.insert(dirs.end(), delayedDirs_.begin(), delayedDirs_.end());
    std::vector<std::string> registered;
    for (const std::string& dir : dirs) {
        bool pending = false;
        for (const std::string& delayed : delayedDirs_)
            pending = pending || StrEqualNoCase(delayed, dir);
        for (std::string folder = dir; IsRemovableFolder(folder); folder = Parent(folder)) {
            if (RemoveDirectoryA(folder.c_str()))
                continue;
            // Still holding files deleted at the restart (or only the folders registered for it):
            // deleted then, after what it holds (registered later).
            bool registeredChild = false;
            for (const std::string& r : registered)
                registeredChild = registeredChild || StrEqualNoCase(Parent(r), folder);
            if (!nt_ || !(pending || (registeredChild && HoldsOnlyOneEntry(folder))))
                break;
            bool already = false;
            for (const std::string& r : registered)
                already = already || StrEqualNoCase(r, folder);
            if (!already) {
                MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
                registered.push_back(folder);
            }
            pending = false;
        }
    }
    deletedDirs_.clear();
    delayedDirs_.clear();
    *restart = restart_;
    if (!ok) {
        *error = commitError;
        Diag("setup: the file queue failed: %s\n", SetupSystemMessage(commitError).c_str());
        return false;
    }
    return true;
}

bool WinSetupHost::InstallRegistry(const std::string& section, uint32_t* error)
{
    if (!SetupInstallFromInfSectionA(nullptr, inf_, section.c_str(), SPINST_REGISTRY | SPINST_INIFILES | SPINST_INI2REG,
            nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr)) {
        *error = GetLastError();
        Diag("setup: the registry entries of [%s] failed: %s\n", section.c_str(), SetupSystemMessage(*error).c_str());
        return false;
    }
    return true;
}

bool WinSetupHost::ServiceStop(const std::string& name)
{
    Scm scm;
    if (!scm.Get())
        return false;
    SC_HANDLE service = OpenServiceA(scm.Get(), name.c_str(), SERVICE_ALL_ACCESS);
    if (!service)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST; // a missing service counts as stopped
    SERVICE_STATUS_PROCESS process {};
    DWORD size = 0;
    bool ok = QueryServiceStatusEx(
                  service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process), sizeof process, &size)
        != 0;
    if (ok && process.dwCurrentState != SERVICE_STOPPED) {
        // A service reports "stopped" before its process has ended, and the process still holds its
        // program file: the files queued next could not be deleted yet. Its end is waited for too.
        HANDLE handle = process.dwProcessId != 0 ? OpenProcess(SYNCHRONIZE, FALSE, process.dwProcessId) : nullptr;
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        ok = WaitForState(service, SERVICE_STOPPED);
        if (handle) {
            if (ok)
                WaitForSingleObject(handle, kServicePollMs * kServicePolls);
            CloseHandle(handle);
        }
    }
    CloseServiceHandle(service);
    if (!ok)
        Diag("setup: the service %s did not stop\n", name.c_str());
    return ok;
}

bool WinSetupHost::ServiceStart(const std::string& name)
{
    Scm scm;
    SC_HANDLE service = scm.Get() ? OpenServiceA(scm.Get(), name.c_str(), SERVICE_ALL_ACCESS) : nullptr;
    if (!service)
        return false;
    bool ok = StartServiceA(service, 0, nullptr) && WaitForState(service, SERVICE_RUNNING);
    CloseServiceHandle(service);
    if (!ok)
        Diag("setup: the service %s did not start\n", name.c_str());
    return ok;
}

bool WinSetupHost::ServiceAdd(const ServiceConfig& config, uint32_t* error)
{
    Scm scm;
    if (!scm.Get()) {
        *error = GetLastError();
        return false;
    }
    std::string dependencies;
    for (const std::string& dependency : config.dependencies) {
        dependencies += dependency;
        dependencies += '\0';
    }
    dependencies += '\0';
    const char* group = config.loadOrderGroup.empty() ? nullptr : config.loadOrderGroup.c_str();
    const char* account = config.startName.empty() ? nullptr : config.startName.c_str();
    const char* display = config.displayName.empty() ? nullptr : config.displayName.c_str();
    SC_HANDLE service = OpenServiceA(scm.Get(), config.name.c_str(), SERVICE_ALL_ACCESS);
    bool ok;
    if (service) {
        ok = ChangeServiceConfigA(service, config.type, config.startType, config.errorControl, config.binary.c_str(),
            group, nullptr, dependencies.data(), account, nullptr, display);
    } else {
        service = CreateServiceA(scm.Get(), config.name.c_str(), display ? display : config.name.c_str(),
            SERVICE_ALL_ACCESS, config.type, config.startType, config.errorControl, config.binary.c_str(), group,
            nullptr, dependencies.data(), account, nullptr);
        ok = service != nullptr;
    }
    if (!ok) {
        *error = GetLastError();
        Diag("setup: the service %s cannot be created: %s\n", config.name.c_str(), SetupSystemMessage(*error).c_str());
    }
    if (service)
        CloseServiceHandle(service);
    return ok;
}

bool WinSetupHost::ServiceDelete(const std::string& name, uint32_t* error)
{
    Scm scm;
    if (!scm.Get()) {
        *error = GetLastError();
        return false;
    }
    SC_HANDLE service = OpenServiceA(scm.Get(), name.c_str(), SERVICE_ALL_ACCESS);
    if (!service) {
        DWORD e = GetLastError();
        if (e == ERROR_SERVICE_DOES_NOT_EXIST)
            return true; // a missing service counts as deleted
        *error = e;
        return false;
    }
    bool ok = ::DeleteService(service) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    if (!ok)
        *error = GetLastError();
    CloseServiceHandle(service);
    return ok;
}

bool WinSetupHost::FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool WinSetupHost::CreateDirectories(const std::string& path)
{
    if (path.empty() || CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    std::string parent = Parent(path);
    if (parent.empty() || parent == path || !CreateDirectories(parent))
        return false;
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool WinSetupHost::CreateLink(const std::string& linkFile, const ShortcutLine& line, const std::string& workDir)
{
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(
            CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, reinterpret_cast<void**>(&link))))
        return false;
    link->SetPath(line.target.c_str());
    link->SetArguments(line.arguments.c_str());
    link->SetWorkingDirectory(workDir.c_str());
    if (!line.iconFile.empty())
        link->SetIconLocation(line.iconFile.c_str(), line.iconIndex);
    IPersistFile* file = nullptr;
    bool ok = false;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        std::wstring wide(MAX_PATH * 2, L'\0');
        int n = MultiByteToWideChar(CP_ACP, 0, linkFile.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
        if (n > 0)
            ok = SUCCEEDED(file->Save(wide.c_str(), TRUE));
        file->Release();
    }
    link->Release();
    if (!ok)
        Diag("setup: the shortcut %s cannot be written\n", linkFile.c_str());
    return ok;
}

void WinSetupHost::OpenFolder(const std::string& path)
{
    if (quiet_) {
        Diag("setup: quiet: the folder %s is not opened\n", path.c_str());
        return;
    }
    // The worker thread ends soon after: the shell finishes the call before it returns.
    SHELLEXECUTEINFOA info {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = "open";
    info.lpFile = path.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info))
        Diag("setup: the folder %s cannot be opened: %s\n", path.c_str(), SetupSystemMessage(GetLastError()).c_str());
}

bool WinSetupHost::RemoveFile(const std::string& path)
{
    return ::DeleteFileA(path.c_str()) != 0;
}

bool WinSetupHost::RemoveEmptyDirectory(const std::string& path)
{
    return RemoveDirectoryA(path.c_str()) != 0;
}

void WinSetupHost::Exec(const ExecLine& line)
{
    char saved[MAX_PATH];
    DWORD savedLen = GetCurrentDirectoryA(sizeof saved, saved);
    std::string parameters = SetupReplaceHwnd(line.parameters, reinterpret_cast<uintptr_t>(progress_));
    SHELLEXECUTEINFOA info {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = GetDesktopWindow();
    info.lpFile = line.program.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.lpDirectory = line.directory.empty() ? nullptr : line.directory.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info)) {
        Diag("setup: %s cannot be started: %s\n", line.program.c_str(), SetupSystemMessage(GetLastError()).c_str());
    } else if (info.hProcess) {
        const bool wait = line.atEntry || (line.flags & kExecNoWait) == 0;
        if (wait)
            WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hProcess);
        if (wait && (line.flags & kExecDeleteProgram) != 0)
            ::DeleteFileA(line.program.c_str());
    }
    if (savedLen != 0 && savedLen < sizeof saved)
        SetCurrentDirectoryA(saved);
}

void WinSetupHost::AllowShutdown(bool allow)
{
    g_setupShutdownAllowed = allow;
}

std::vector<PluginStepInfo> WinSetupHost::CollectPluginSteps(const std::string& library)
{
    return plugins_.CollectSteps(library);
}

void WinSetupHost::RunPluginStep(const PluginStepInfo& step)
{
    char* text = new char[step.text.size() + 1];
    memcpy(text, step.text.c_str(), step.text.size() + 1);
    if (progress_)
        PostMessageA(progress_, kMsgStepText, 0, reinterpret_cast<LPARAM>(text));
    else
        delete[] text;
    Post(kMsgProgressRange, step.maximum);
    g_progressForSteps = progress_;
    if (!plugins_.RunStep(step, [](int position) {
            if (g_progressForSteps)
                PostMessageA(g_progressForSteps, kMsgProgressPos, static_cast<WPARAM>(position), 1);
        }))
        Diag("setup: step %s of %s skipped: no such entry point\n", step.entry.c_str(), step.library.c_str());
    g_progressForSteps = nullptr;
    Post(kMsgProgressRange, 0);
}

bool WinSetupHost::CheckCondition(const std::string& library, const std::string& function, std::string* message)
{
    return plugins_.CheckCondition(library, function, message);
}
