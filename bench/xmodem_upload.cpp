// Benchmark: a 1 MiB XMODEM upload (8-bit checksum) over a pseudo-terminal pair (socat) into lrzsz's rx,
// our sender against lrzsz's sx in the same run. Each transfer is timed from the start of rx to its end
// (rx's own verdict and file), so the fixed pauses of the firmware upload (the 2-s pauses, the prompt)
// are not in it; both senders are started before rx and begin with rx's first NAK. Prints each round,
// the minimum per side and the ratio sx / ours (above 1: ours is faster).
// Run by hand: bench/xmodem_upload [rounds] (default 3; needs socat, rx and sx).
#include "common/platform/file.h"
#include "common/platform/serial.h"
#include "common/text.h"
#include "device/xmodem.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
namespace fs = std::filesystem;
constexpr size_t kSize = 1 << 20;

pid_t Spawn(const std::string& command)
{
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

void Stop(pid_t pid)
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

struct Pair {
    std::string a, b;
    pid_t socat = -1;
    explicit Pair(const std::string& dir)
    {
        a = dir + "/a";
        b = dir + "/b";
        fs::remove(a);
        fs::remove(b);
        socat = Spawn("exec socat pty,raw,echo=0,link=" + a + " pty,raw,echo=0,link=" + b + " 2>/dev/null");
        for (int i = 0; i < 250 && !(fs::is_symlink(a) && fs::is_symlink(b)); ++i)
            usleep(20000);
    }
    ~Pair()
    {
        Stop(socat);
    }
};

// Starts rx on the pair's b side and waits for it: the seconds from its start to its end. `sender`
// runs meanwhile (started before rx).
double TimeRx(const Pair& pair, const std::string& out, bool* ok)
{
    auto start = std::chrono::steady_clock::now();
    // rx refuses a file name outside its working directory: it runs in the file's directory.
    fs::path target(out);
    pid_t rx = Spawn("cd " + target.parent_path().string() + " && exec rx -q " + target.filename().string() + " < "
        + pair.b + " > " + pair.b + " 2>/dev/null");
    int status = 0;
    waitpid(rx, &status, 0);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    *ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return seconds;
}

bool SameUpToPadding(const std::string& sent, const std::string& path)
{
    std::string got;
    FileReadAll(path, &got);
    return got.size() >= sent.size() && got.compare(0, sent.size(), sent) == 0
        && got.find_first_not_of('\0', sent.size()) == std::string::npos;
}

double Ours(const std::string& dir, const std::string& data, bool* ok)
{
    Pair pair(dir);
    SerialOptions options;
    options.rtsCts = false;
    std::string error;
    std::unique_ptr<SerialPort> port = SerialOpen(pair.a, options, &error);
    if (!port) {
        std::fprintf(stderr, "xmodem_upload: %s\n", error.c_str());
        *ok = false;
        return 0;
    }
    std::thread sender([&] {
        uint8_t nak = 0;
        if (port->Read(&nak, 1, 15000) != 1)
            return;
        size_t offset = 0;
        XmodemSender s([&](void* out, size_t n) {
            n = std::min(n, data.size() - offset);
            std::memcpy(out, data.data() + offset, n);
            offset += n;
            return n;
        });
        bool failed = false;
        XmodemSend(s, *port, SystemClock(), nullptr, &failed);
    });
    std::string out = dir + "/ours.bin";
    fs::remove(out);
    double seconds = TimeRx(pair, out, ok);
    Stop(pair.socat); // the sender's port fails, should it still wait for an answer
    pair.socat = -1;
    sender.join();
    *ok = *ok && SameUpToPadding(data, out);
    return seconds;
}

double Peer(const std::string& dir, const std::string& file, const std::string& data, bool* ok)
{
    Pair pair(dir);
    pid_t sx = Spawn("exec sx -q " + file + " < " + pair.a + " > " + pair.a + " 2>/dev/null");
    usleep(100000); // sx is waiting for the first NAK
    std::string out = dir + "/peer.bin";
    fs::remove(out);
    double seconds = TimeRx(pair, out, ok);
    Stop(sx);
    *ok = *ok && SameUpToPadding(data, out);
    return seconds;
}
} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    if (!fs::exists("/usr/bin/rx") || !fs::exists("/usr/bin/sx") || !fs::exists("/usr/bin/socat")) {
        std::fprintf(stderr, "xmodem_upload: needs lrzsz (rx, sx) and socat\n");
        return 1;
    }
    std::string dir = (fs::temp_directory_path() / StrFormat("xmodem_bench_%d", static_cast<int>(getpid()))).string();
    fs::create_directories(dir);
    std::string data(kSize, '\0');
    for (size_t i = 0; i < kSize; ++i)
        data[i] = static_cast<char>((i * 131 + i / 4093) & 0xff);
    std::string file = dir + "/upload.bin";
    FileWriteAtomic(file, data);
    std::vector<double> ours, peer;
    for (int r = 0; r < rounds; ++r) {
        bool okOurs = false, okPeer = false;
        double o = 0, p = 0;
        if (r % 2 == 0) {
            o = Ours(dir, data, &okOurs);
            p = Peer(dir, file, data, &okPeer);
        } else {
            p = Peer(dir, file, data, &okPeer);
            o = Ours(dir, data, &okOurs);
        }
        std::printf("round %d: ours %.3f s%s, sx %.3f s%s\n", r + 1, o, okOurs ? "" : " (FAILED)", p,
            okPeer ? "" : " (FAILED)");
        std::fflush(stdout);
        if (okOurs)
            ours.push_back(o);
        if (okPeer)
            peer.push_back(p);
    }
    fs::remove_all(dir);
    if (ours.empty() || peer.empty()) {
        std::printf("no comparison: a side failed in every round\n");
        return 1;
    }
    double bestOurs = *std::min_element(ours.begin(), ours.end());
    double bestPeer = *std::min_element(peer.begin(), peer.end());
    std::printf("1 MiB into rx: ours %.3f s (%.0f KiB/s), sx %.3f s (%.0f KiB/s)\nRATIO %.2f (sx / ours; above 1: "
                "ours is faster)\n",
        bestOurs, 1024 / bestOurs, bestPeer, 1024 / bestPeer, bestPeer / bestOurs);
    return 0;
}
