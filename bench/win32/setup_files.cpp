// setup.exe installing and removing 5,000 small files in 100 folders (quiet mode, the SetupAPI file
// queue), against a plain Win32 copy and delete of the same tree in the same run. Windows build, under
// Wine:  wine-run setup_files.exe [SETUP.EXE [FOLDERS]]  (default: the setup.exe beside this program,
// 100 folders).
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int kFolders = 100; // a second argument gives fewer, for a quick look
constexpr int kFilesPerFolder = 50;

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

std::string FileName(int folder, int file)
{
    return "f" + std::to_string(folder) + "_" + std::to_string(file) + ".txt";
}

bool WriteText(const std::string& path, const std::string& text)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == text.size();
}

// Runs the command line and returns its exit code (-1 when it cannot start).
long Run(const std::string& commandLine)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return -1;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<long>(code);
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

int main(int argc, char** argv)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string selfDir(self);
    selfDir.erase(selfDir.find_last_of('\\'));
    std::string setupExe = argc > 1 && argv[1][0] != '\0' ? argv[1] : selfDir + "\\setup.exe";
    if (argc > 2 && std::atoi(argv[2]) > 0 && std::atoi(argv[2]) <= 100) {
        kFolders = std::atoi(argv[2]);
    }

    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string root = std::string(temp) + "setup_files_bench" + std::to_string(GetCurrentProcessId());
    std::string source = root + "\\src";
    std::string setupTarget;
    std::string plainTarget = root + "\\plain_target";
    CreateDirectoryA(root.c_str(), nullptr);
    CreateDirectoryA(source.c_str(), nullptr);
    if (!CopyFileA(setupExe.c_str(), (source + "\\setup.exe").c_str(), FALSE)) {
        std::fprintf(stderr, "setup_files: cannot copy %s\n", setupExe.c_str());
        return 1;
    }
    // The source tree: every file in the source root (SetupAPI's default source layout), 100 sections
    // each copying 50 of them into a folder of their own; the installer itself goes along, so that the
    // product's uninstall entry tells the removal where the files are.
    std::string content(64, 'x');
    std::string dirs = "[DestinationDirs]\r\nDefaultDestDir = 32768\r\n";
    std::string sections;
    std::string list;
    for (int d = 0; d < kFolders; ++d) {
        std::string name = "F" + std::to_string(d);
        dirs += name + " = 32768, d" + std::to_string(d) + "\r\n";
        list += (d ? ", " : "") + name;
        sections += "[" + name + "]\r\n";
        for (int f = 0; f < kFilesPerFolder; ++f) {
            sections += FileName(d, f) + "\r\n";
            if (!WriteText(source + "\\" + FileName(d, f), content)) {
                std::fprintf(stderr, "setup_files: cannot write the source tree in %s\n", source.c_str());
                return 1;
            }
        }
    }
    std::string inf = "[Version]\r\nSignature = \"$Chicago$\"\r\n\r\n" + dirs
        + "Setup.Files = 32768\r\n\r\n[Install]\r\nCopyFiles = Setup.Files\r\n\r\n[Remove]\r\nDelFiles = "
          "Setup.Files\r\n"
        + "\r\n[Setup.Files]\r\nsetup.exe\r\nsetup.inf\r\n"
        + "\r\n[Products]\r\nbench = \"Bench\", B.Install, B.Remove, 1\r\n\r\n[B.Install]\r\nCopyFiles = " + list
        + "\r\n\r\n[B.Remove]\r\nDelFiles = " + list + "\r\n\r\n" + sections;
    // The installer's target: its default under the program files folder.
    std::string folderName = "Zevra Setup Bench " + std::to_string(GetCurrentProcessId());
    inf.replace(inf.find("DefaultDestDir = 32768"), 22, "DefaultDestDir = 24, \"\\" + folderName + "\"");
    char programFiles[MAX_PATH] = {};
    GetEnvironmentVariableA("ProgramFiles", programFiles, sizeof programFiles);
    setupTarget = std::string(programFiles) + "\\" + folderName;
    WriteText(source + "\\setup.inf", inf);

    std::string quoted = "\"" + source + "\\setup.exe\"";
    auto t0 = std::chrono::steady_clock::now();
    long installed = Run(quoted + " /quiet /reboot:0");
    auto t1 = std::chrono::steady_clock::now();
    bool allThere = Exists(
        setupTarget + "\\d" + std::to_string(kFolders - 1) + "\\" + FileName(kFolders - 1, kFilesPerFolder - 1));
    long removed = Run(quoted + " /quiet /remove:bench /reboot:0");
    auto t2 = std::chrono::steady_clock::now();
    bool allGone = !Exists(setupTarget + "\\d0");
    if (installed != 0 || removed != 0 || !allThere || !allGone) {
        std::fprintf(stderr, "setup_files: setup.exe failed: install exit %ld (files %s), remove exit %ld (%s)\n",
            installed, allThere ? "there" : "missing", removed, allGone ? "gone" : "left");
        return 1;
    }

    // The peer: the same tree copied and deleted with plain Win32 calls.
    auto p0 = std::chrono::steady_clock::now();
    CreateDirectoryA(plainTarget.c_str(), nullptr);
    for (int d = 0; d < kFolders; ++d) {
        std::string dir = plainTarget + "\\d" + std::to_string(d);
        CreateDirectoryA(dir.c_str(), nullptr);
        for (int f = 0; f < kFilesPerFolder; ++f) {
            CopyFileA((source + "\\" + FileName(d, f)).c_str(), (dir + "\\" + FileName(d, f)).c_str(), FALSE);
        }
    }
    auto p1 = std::chrono::steady_clock::now();
    for (int d = 0; d < kFolders; ++d) {
        std::string dir = plainTarget + "\\d" + std::to_string(d);
        for (int f = 0; f < kFilesPerFolder; ++f) {
            DeleteFileA((dir + "\\" + FileName(d, f)).c_str());
        }
        RemoveDirectoryA(dir.c_str());
    }
    RemoveDirectoryA(plainTarget.c_str());
    auto p2 = std::chrono::steady_clock::now();

    for (int d = 0; d < kFolders; ++d) {
        for (int f = 0; f < kFilesPerFolder; ++f) {
            DeleteFileA((source + "\\" + FileName(d, f)).c_str());
        }
    }
    DeleteFileA((source + "\\setup.exe").c_str());
    DeleteFileA((source + "\\setup.inf").c_str());
    RemoveDirectoryA(source.c_str());
    RemoveDirectoryA(setupTarget.c_str());
    RemoveDirectoryA(root.c_str());

    double setupInstall = Seconds(t1 - t0);
    double setupRemove = Seconds(t2 - t1);
    double plainCopy = Seconds(p1 - p0);
    double plainDelete = Seconds(p2 - p1);
    std::printf("setup_files: %d files in %d folders\n", kFolders * kFilesPerFolder, kFolders);
    std::printf("  setup.exe install  %8.3f s   plain copy    %8.3f s   ratio %.2f\n", setupInstall, plainCopy,
        setupInstall / plainCopy);
    std::printf("  setup.exe remove   %8.3f s   plain delete  %8.3f s   ratio %.2f\n", setupRemove, plainDelete,
        setupRemove / plainDelete);
    std::printf("  both               %8.3f s                 %8.3f s   ratio %.2f (aim: within 3)\n",
        setupInstall + setupRemove, plainCopy + plainDelete, (setupInstall + setupRemove) / (plainCopy + plainDelete));
    return 0;
}
