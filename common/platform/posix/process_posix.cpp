#include "common/platform/process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

int ProcessStart(const std::string& program, const std::string& parameters, bool)
{
    if (program.empty())
        return 0;
    std::vector<std::string> words = ProcessSplitParameters(parameters);
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return 0;
    // Reaped when it ends, so that no zombie stays behind; the caller does not wait.
    std::thread([pid] {
        int status;
        waitpid(pid, &status, 0);
    }).detach();
    return 1;
}
