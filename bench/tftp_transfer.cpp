// Benchmark: a 16 MiB get and put over loopback at block size 512 against in.tftpd (tftpd-hpa), our
// client against tftp-hpa's tftp client in the same run. Prints the times and the ratio (peer / ours:
// above 1 means ours is faster). Run by hand: bench/tftp_transfer (needs root for in.tftpd's -u).
#include "common/platform/file.h"
#include "common/text.h"
#include "config/device/tftp.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
double Seconds(const std::function<bool()>& work, bool* ok)
{
    auto start = std::chrono::steady_clock::now();
    *ok = work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
} // namespace

int main()
{
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / StrFormat("tftp-bench-%d", getpid())).string();
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::all);
    std::string data(16 << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 131 + (i >> 9));
    FileWriteAtomic(dir + "/big.bin", data);
    uint16_t port = static_cast<uint16_t>(40000 + getpid() % 10000);
    pid_t server = fork();
    if (server == 0) {
        execl("/usr/sbin/in.tftpd", "in.tftpd", "-L", "-a", StrFormat("127.0.0.1:%u", port).c_str(), "-s", dir.c_str(),
            "-c", "-p", "-u", geteuid() == 0 ? "root" : "nobody", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    bool ok1, ok2, ok3, ok4;
    double ourGet = Seconds(
        [&] {
            TftpMemoryStream s;
            return TftpGet(0x7f000001, port, "big.bin", s, 5000, 512) && s.Data() == data;
        },
        &ok1);
    double ourPut = Seconds(
        [&] {
            TftpMemoryStream s(data);
            return TftpPut(0x7f000001, port, "ours.bin", s, 5000, 512) != 0;
        },
        &ok2);
    std::string cmd = StrFormat("cd %s && tftp -m binary 127.0.0.1 %u -c get big.bin peer-got.bin", dir.c_str(), port);
    double peerGet = Seconds([&] { return std::system(cmd.c_str()) == 0; }, &ok3);
    cmd = StrFormat("cd %s && tftp -m binary 127.0.0.1 %u -c put peer-got.bin peer.bin", dir.c_str(), port);
    double peerPut = Seconds([&] { return std::system(cmd.c_str()) == 0; }, &ok4);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    std::printf("16 MiB at block size 512 over loopback against in.tftpd\n");
    std::printf("get: ours %.3f s%s, tftp-hpa %.3f s%s, ratio %.2f\n", ourGet, ok1 ? "" : " (FAILED)", peerGet,
        ok3 ? "" : " (FAILED)", peerGet / ourGet);
    std::printf("put: ours %.3f s%s, tftp-hpa %.3f s%s, ratio %.2f\n", ourPut, ok2 ? "" : " (FAILED)", peerPut,
        ok4 ? "" : " (FAILED)", peerPut / ourPut);
    fs::remove_all(dir);
    return ok1 && ok2 && ok3 && ok4 ? 0 : 1;
}
