// The programs the integration tests start: a child process whose output a thread of its own reads line
// by line as it comes (copied into a log file when one is named, so a chatty child never blocks on a
// full pipe), waited for by its lines, and stopped when the test ends; and morvaksim, ready once it says
// so. Tests decide by these events (a line the child writes, its end), never by a count of tries. Beside
// them what those tests share: the directories CTest names, a scratch folder, shell commands.
#pragma once

#include "common/platform/net.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testing_child {

// A directory CTest names (SUITE_BIN_DIR, SUITE_SOURCE_DIR), else the current one.
inline std::string Env(const char* name)
{
    const char* s = std::getenv(name);
    return s ? s : ".";
}

// A scratch folder, removed with everything in it when the test ends (also after a failed assertion).
struct TempDir {
    std::filesystem::path path;
    explicit TempDir(const std::string& name)
        : path(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(std::random_device {}())))
    {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// A program built with the tests (the directory CTest names, else the current one).
inline std::string Bin(const std::string& name)
{
    const char* dir = std::getenv("SUITE_BIN_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

// A UDP port free on `ip` at this moment.
inline uint16_t FreePort(uint32_t ip = 0x7f000001)
{
    UdpSocket s;
    if (!s.Open() || !s.Bind(ip, 0))
        return 0;
    std::optional<NetAddress> at = s.LocalAddress();
    return at ? at->port : 0;
}

// Runs a shell command line as it stands; its standard output and exit code.
inline int ShellLine(const std::string& line, std::string* out)
{
    out->clear();
    FILE* p = popen(line.c_str(), "r");
    if (!p)
        return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        out->append(buffer, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a shell command; its standard output (and standard error when `withErrors`) and exit code.
inline int Shell(const std::string& command, std::string* out, bool withErrors = false)
{
    return ShellLine(command + (withErrors ? " 2>&1" : " 2>/dev/null"), out);
}

// Runs a shell command; its standard output in `out`, its standard error in `err` (dropped when null) and
// its exit code.
inline int Shell(const std::string& command, std::string* out, std::string* err)
{
    if (!err)
        return Shell(command, out);
    static int n = 0;
    std::string errFile = "/tmp/child-shell-" + std::to_string(getpid()) + "-" + std::to_string(++n) + ".err";
    int rc = ShellLine(command + " 2>" + errFile, out);
    err->clear();
    if (FILE* f = std::fopen(errFile.c_str(), "rb")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            err->append(buffer, got);
        std::fclose(f);
    }
    std::remove(errFile.c_str());
    return rc;
}

class Child {
public:
    // Starts argv[0] (a path, or a name looked up in PATH) with its standard output and error on a pipe; `log`: also
    // written there; `env`: the whole environment (empty: this process's).
    explicit Child(
        const std::vector<std::string>& argv, const std::string& log = {}, const std::vector<std::string>& env = {})
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> a = argv, e = env;
        std::vector<char*> args, envp;
        for (auto& s : a)
            args.push_back(s.data());
        args.push_back(nullptr);
        for (auto& s : e)
            envp.push_back(s.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        if (posix_spawnp(&pid_, a[0].c_str(), &actions, nullptr, args.data(), env.empty() ? environ : envp.data()) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (!log.empty())
            log_ = std::fopen(log.c_str(), "w");
        reader_ = std::thread([this, fd = fds[0]] { Read(fd); });
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child()
    {
        Stop();
        if (reader_.joinable())
            reader_.join();
        if (log_)
            std::fclose(log_);
    }

    pid_t Pid() const
    {
        return pid_;
    }
    // Waits up to `ms` for a line that contains `text` after the last line a wait took; false when the
    // output ends or the time runs out first. `found`: the line.
    bool WaitFor(const std::string& text, int ms, std::string* found = nullptr)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        bool matched = false;
        auto match = [&] {
            for (size_t at = cursor_, nl; (nl = all_.find('\n', at)) != std::string::npos; at = nl + 1)
                if (all_.substr(at, nl - at).find(text) != std::string::npos) {
                    if (found)
                        *found = all_.substr(at, nl - at);
                    cursor_ = nl + 1;
                    return true;
                }
            return false;
        };
        changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return (matched = match()) || ended_; });
        return matched;
    }
    // The whole output so far.
    std::string All() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return all_;
    }
    // Whether the child has closed its output (it ended, or is about to).
    bool Ended() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return ended_;
    }
    // Sends `signal` and waits for the end; the exit code (-1: killed by a signal or not started).
    int Stop(int signal = SIGTERM)
    {
        if (pid_ <= 0)
            return status_;
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
    }

private:
    void Read(int fd)
    {
        char chunk[4096];
        ssize_t n;
        while ((n = read(fd, chunk, sizeof chunk)) > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            all_.append(chunk, static_cast<size_t>(n));
            if (log_) {
                std::fwrite(chunk, 1, static_cast<size_t>(n), log_);
                std::fflush(log_);
            }
            changed_.notify_all();
        }
        close(fd);
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    pid_t pid_ = 0;
    int status_ = -1;
    std::FILE* log_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string all_;
    size_t cursor_ = 0;
    bool ended_ = false;
    std::thread reader_;
};

// morvaksim with `args` (options and the first device's address). It prints its "device(s) from" line
// once every device, its console and its agents listen, or ends with an error.
class Morvaksim : public Child {
public:
    explicit Morvaksim(const std::vector<std::string>& args, const std::string& log = {})
        : Child(Argv(args), log)
    {
    }
    // Waits for that line; the bound is for a simulator that hangs, not a guess at how long it takes.
    bool Ready(int ms = 120000)
    {
        return WaitFor(" device(s) from ", ms);
    }

private:
    static std::vector<std::string> Argv(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv = { Bin("morvaksim") };
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
};

} // namespace testing_child
