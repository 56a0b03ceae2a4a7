// Benchmark: a 10,000-row accounting table (morvaksim --accounting-rows 10000) read by talvine-cli
// accounting (one GetNext request per row for all eight columns) against snmpwalk -v1 of each of the
// eight columns (one request per value), in the same run against the same simulated device. Wall time of
// each side, rounds alternating the order; prints each round, the medians and their ratio (snmpwalk /
// talvine-cli: above 1 means talvine-cli is faster).
//   accounting_read [--rounds N] [--rows N]   (morvaksim and talvine-cli beside it; snmpwalk in PATH)
#include "common/platform/net.h"
#include "common/text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

uint16_t FreePort(uint32_t ip)
{
    UdpSocket s;
    s.Open();
    s.Bind(ip, 0);
    return s.LocalAddress()->port;
}

double Seconds(const std::string& command)
{
    auto start = std::chrono::steady_clock::now();
    int rc = std::system(command.c_str());
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (rc != 0) {
        std::fprintf(stderr, "accounting_read: failed (%d): %s\n", rc, command.c_str());
        std::exit(1);
    }
    return s;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 3, rows = 10000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::string(argv[i]) == "--rows")
            rows = std::max(1, std::atoi(argv[i + 1]));
    }
    std::error_code ec;
    std::filesystem::path bin = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    std::string sim = (bin / "morvaksim").string(), cli = (bin / "talvine-cli").string();
    std::string data = (bin / "..").string();
    if (const char* s = std::getenv("SUITE_SOURCE_DIR"))
        data = std::string(s) + "/data";
    else
        data = (bin.parent_path().parent_path().parent_path() / "data").string();
    if (std::system("snmpwalk -V >/dev/null 2>&1") != 0) {
        std::fprintf(stderr, "accounting_read: snmpwalk (net-snmp) is not installed\n");
        return 1;
    }

    uint32_t host = 0x7F006301; // 127.0.99.1
    std::string address = NetAddressText(host);
    uint16_t port = FreePort(host);
    int fds[2];
    if (pipe(fds) != 0)
        return 1;
    std::vector<std::string> a { sim, "--port", std::to_string(FreePort(host)), "--type", "Morvak 2400", "--snmp-port",
        std::to_string(port), "--accounting-rows", std::to_string(rows), address };
    std::vector<char*> args;
    for (auto& s : a)
        args.push_back(s.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    pid_t pid = 0;
    if (posix_spawn(&pid, sim.c_str(), &actions, nullptr, args.data(), environ) != 0) {
        std::fprintf(stderr, "accounting_read: cannot start %s\n", sim.c_str());
        return 1;
    }
    close(fds[1]);
    std::string out;
    while (out.find("SNMP agents") == std::string::npos) {
        pollfd p { fds[0], POLLIN, 0 };
        char buffer[512];
        ssize_t n = poll(&p, 1, 10000) > 0 ? read(fds[0], buffer, sizeof buffer) : 0;
        if (n <= 0) {
            std::fprintf(stderr, "accounting_read: morvaksim did not start\n");
            kill(pid, SIGTERM);
            return 1;
        }
        out.append(buffer, static_cast<size_t>(n));
    }

    std::string ours = StrFormat("%s accounting --dir %s -p %u -c public --type \"Morvak 2400\" %s >/dev/null",
        cli.c_str(), data.c_str(), port, address.c_str());
    std::string peer;
    for (int column : { 2, 1, 3, 4, 5, 6, 8, 9 })
        peer += StrFormat("snmpwalk -v1 -c public -Oqv -t 5 -r 3 %s:%u 1.3.6.1.4.1.58127.3.1.1.%d >/dev/null && ",
            address.c_str(), port, column);
    peer += "true";
    // Both read the whole table: same row count.
    std::string check
        = StrFormat("test $(%s | wc -l) = %d", ours.substr(0, ours.find(" >/dev/null")).c_str(), rows + 1);
    Seconds(check);

    std::vector<double> o, p;
    for (int r = 0; r < rounds; ++r) {
        double so, sp;
        if (r % 2 == 0) {
            so = Seconds(ours);
            sp = Seconds(peer);
        } else {
            sp = Seconds(peer);
            so = Seconds(ours);
        }
        o.push_back(so);
        p.push_back(sp);
        std::printf(
            "round %d: talvine-cli accounting %.3f s, snmpwalk x 8 %.3f s, ratio %.2f\n", r + 1, so, sp, sp / so);
        std::fflush(stdout);
    }
    std::printf("RATIO %.2f (snmpwalk x 8 median %.3f s / talvine-cli accounting median %.3f s, %d rows, %d rounds)\n",
        Median(p) / Median(o), Median(p), Median(o), rows, rounds);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return 0;
}
