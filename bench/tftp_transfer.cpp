// Benchmark: a 16 MiB get and put over loopback at block size 512 against in.tftpd (tftpd-hpa), our
// client against tftp-hpa's tftp client in the same run. Both clients move the same file through the
// same server, from and to files in the same (warm) directory, and are timed the same way: from the
// start of the transfer to its file being closed (the peer's time also holds its process start, about
// a millisecond). The order alternates per round so that neither side always runs on a warmer cache.
// Prints each round, then the minimum and median per side and their ratios (peer / ours: above 1 means
// ours is faster). Run by hand: bench/tftp_transfer [rounds] (default 7; needs root for in.tftpd's -u). As root it runs
// at the highest priority (nice -20, which the server and the peer inherit) so that other work on the machine disturbs
// the lock-step exchange less.
#include "common/platform/file.h"
#include "common/text.h"
#include "device/tftp.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
constexpr uint32_t kLoopback = 0x7f000001;
constexpr int32_t kBlockSize = 512;

double CpuSeconds(const rusage& r)
{
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec)
        + static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// The client's processor time (user and system) of the last PeerTransfer.
double g_peerCpu = 0;

// Wall time of `work`; `cpu` receives the client's processor time: this thread's for our client, the
// child's for the peer (`peer` true).
double Seconds(const std::function<bool()>& work, bool* ok, bool peer, double* cpu)
{
    rusage before {}, after {};
    getrusage(RUSAGE_THREAD, &before);
    auto start = std::chrono::steady_clock::now();
    *ok = work();
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    getrusage(RUSAGE_THREAD, &after);
    *cpu = peer ? g_peerCpu : CpuSeconds(after) - CpuSeconds(before);
    return wall;
}

// Runs tftp-hpa's client in `dir`: "get" or "put" of `from` to `to`. True when it exited with 0.
bool PeerTransfer(const std::string& dir, uint16_t port, const char* verb, const char* from, const char* to)
{
    std::string portText = StrFormat("%u", port);
    pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        // tftp-hpa prints its failures on stderr and still exits 0 for some of them; the caller
        // compares the files as well.
        execlp("tftp", "tftp", "-m", "binary", "127.0.0.1", portText.c_str(), "-c", verb, from, to,
            static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    bool exited = child > 0 && wait4(child, &status, 0, &usage) == child;
    g_peerCpu = CpuSeconds(usage);
    return exited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool OurGet(const std::string& dir, uint16_t port, const char* to)
{
    std::FILE* file = std::fopen((dir + "/" + to).c_str(), "wb");
    if (!file)
        return false;
    TftpFileStream stream(file);
    int ok = TftpGet(kLoopback, port, "big.bin", stream, 5000, kBlockSize);
    return std::fclose(file) == 0 && ok;
}

bool OurPut(const std::string& dir, uint16_t port, const char* to)
{
    std::FILE* file = std::fopen((dir + "/big.bin").c_str(), "rb");
    if (!file)
        return false;
    TftpFileStream stream(file);
    int ok = TftpPut(kLoopback, port, to, stream, 5000, kBlockSize);
    std::fclose(file);
    return ok != 0;
}

// True when the file holds exactly `data`; removes it either way so that the next round creates it anew.
bool Check(const std::string& path, const std::string& data)
{
    std::string got;
    bool same = FileReadAll(path, &got) && got == data;
    std::filesystem::remove(path);
    return same;
}

double Min(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Series {
    std::vector<double> times;
    std::vector<double> cpu;
    bool ok = true;
    double Min() const
    {
        return ::Min(times);
    }
    double Median() const
    {
        return ::Median(times);
    }
};

void Report(const char* what, const Series& ours, const Series& peer)
{
    // The two sides of a round run back to back, so their ratio suffers least from other load.
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.times.size(); ++i)
        ratios.push_back(peer.times[i] / ours.times[i]);
    std::printf("%s: ours min %.3f s, median %.3f s%s; tftp-hpa min %.3f s, median %.3f s%s; ratio median %.2f, "
                "min %.2f\n",
        what, ours.Min(), ours.Median(), ours.ok ? "" : " (FAILED)", peer.Min(), peer.Median(),
        peer.ok ? "" : " (FAILED)", peer.Median() / ours.Median(), peer.Min() / ours.Min());
    std::printf("%s: median of the rounds' ratios %.2f\n", what, ::Median(ratios));
    std::printf("%s client cpu: ours median %.3f s, tftp-hpa median %.3f s, ratio %.2f\n", what, ::Median(ours.cpu),
        ::Median(peer.cpu), ::Median(peer.cpu) / ::Median(ours.cpu));
}
} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
    if (rounds < 1) {
        std::fprintf(stderr, "usage: tftp_transfer [rounds]\n");
        return 2;
    }
    if (geteuid() == 0)
        setpriority(PRIO_PROCESS, 0, -20);
    std::string dir = (fs::temp_directory_path() / StrFormat("tftp-bench-%d", getpid())).string();
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::all);
    std::string data(16 << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 131 + (i >> 9));
    FileWriteAtomic(dir + "/big.bin", data);
    fs::permissions(dir + "/big.bin", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    uint16_t port = static_cast<uint16_t>(40000 + getpid() % 10000);
    pid_t server = fork();
    if (server == 0) {
        execl("/usr/sbin/in.tftpd", "in.tftpd", "-L", "-a", StrFormat("127.0.0.1:%u", port).c_str(), "-s", dir.c_str(),
            "-c", "-p", "-u", geteuid() == 0 ? "root" : "nobody", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    Series ourGet, peerGet, ourPut, peerPut;
    std::printf("16 MiB at block size %d over loopback against in.tftpd, %d rounds\n", kBlockSize, rounds);
    for (int round = 0; round < rounds; ++round) {
        bool ok = false;
        double t[4] = { 0, 0, 0, 0 };
        double c[4] = { 0, 0, 0, 0 };
        // Odd rounds run the peer first.
        bool peerFirst = round % 2 != 0;
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) != peerFirst) {
                t[0] = Seconds([&] { return OurGet(dir, port, "ours-got.bin"); }, &ok, false, &c[0]);
                ourGet.ok = ourGet.ok && ok && Check(dir + "/ours-got.bin", data);
            } else {
                t[1] = Seconds(
                    [&] { return PeerTransfer(dir, port, "get", "big.bin", "peer-got.bin"); }, &ok, true, &c[1]);
                peerGet.ok = peerGet.ok && ok && Check(dir + "/peer-got.bin", data);
            }
        }
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) != peerFirst) {
                t[2] = Seconds([&] { return OurPut(dir, port, "ours-put.bin"); }, &ok, false, &c[2]);
                ourPut.ok = ourPut.ok && ok && Check(dir + "/ours-put.bin", data);
            } else {
                t[3] = Seconds(
                    [&] { return PeerTransfer(dir, port, "put", "big.bin", "peer-put.bin"); }, &ok, true, &c[3]);
                peerPut.ok = peerPut.ok && ok && Check(dir + "/peer-put.bin", data);
            }
        }
        Series* series[4] = { &ourGet, &peerGet, &ourPut, &peerPut };
        for (int i = 0; i < 4; ++i) {
            series[i]->times.push_back(t[i]);
            series[i]->cpu.push_back(c[i]);
        }
        std::printf("round %d: get ours %.3f s, tftp-hpa %.3f s; put ours %.3f s, tftp-hpa %.3f s\n", round + 1, t[0],
            t[1], t[2], t[3]);
        std::fflush(stdout);
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    Report("get", ourGet, peerGet);
    Report("put", ourPut, peerPut);
    fs::remove_all(dir);
    return ourGet.ok && peerGet.ok && ourPut.ok && peerPut.ok ? 0 : 1;
}
