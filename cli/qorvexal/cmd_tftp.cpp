// qorvexal-cli tftp get/put: a plain TFTP transfer with the suite's client.
#include "cli/cli.h"
#include "cli/qorvexal/cmd_device.h"
#include "common/platform/net.h"
#include "common/text.h"
#include "device/devstatus.h"
#include "device/tftp.h"

#include <cstdio>

namespace {
struct TftpOptions {
    uint16_t port = 69;
    int32_t blockSize = 512;
    uint32_t timeoutMs = 10000;
    uint32_t host = 0;
};

bool TakeOptions(CliArgs& args, TftpOptions* o, const char* usage)
{
    unsigned long long port = 69, block = 512, seconds = 10;
    if (!CliNumber(args.Value("-p", "--port"), 65535, &port, "port")
        || !CliNumber(args.Value("-b", "--blksize"), 8192, &block, "block size")
        || !CliNumber(args.Value("-t", "--timeout"), 3600, &seconds, "time-out"))
        return false;
    if (std::optional<std::string> unknown = args.UnknownOption()) {
        CliFail(*unknown, 2);
        return false;
    }
    if (args.Rest().size() != 3 || port == 0 || seconds == 0 || (block != 0 && block < 8)) {
        CliFail(args.Rest().size() != 3 ? std::string("usage: ") + usage
                                        : "port, block size (8 to 8192) and time-out must be given as numbers above 0",
            2);
        return false;
    }
    std::optional<uint32_t> host = NetParseAddress(args.Rest()[0]);
    if (!host) {
        CliFail("not an IPv4 address: " + args.Rest()[0], 2);
        return false;
    }
    o->host = *host;
    o->port = static_cast<uint16_t>(port);
    o->blockSize = static_cast<int32_t>(block);
    o->timeoutMs = static_cast<uint32_t>(seconds * 1000);
    return true;
}

// The server's own error ("File not found (1)") or the client's reason when there is one; else the
// status the outcome maps to ("No response (-1)", "IP error (0)").
int Failed(const char* what, const std::string& file)
{
    std::string shown = StrEscapeControls(file);
    std::string failure = TftpLastFailureText();
    if (!failure.empty())
        return CliFail(StrFormat("%s %s: %s", what, shown.c_str(), failure.c_str()), 1);
    int32_t status = DevStatusFromTftp(0, TftpLastError, false, nullptr, TftpLastErrorFromServer != 0);
    return CliFail(StrFormat("%s %s: %s (%d)", what, shown.c_str(), DevStatusText(status).c_str(), TftpLastError), 1);
}

// One transfer (TftpGet or TftpPut) of `remote` from or into `file`, its progress shown as it goes.
int Transfer(decltype(&TftpGet) transfer, const TftpOptions& o, const std::string& remote, std::FILE* file)
{
    DeviceEntry progress;
    progress.progress_kind = 201;
    TftpFileStream stream(file);
    return QvWithProgress(progress, [&] {
        return transfer(o.host, o.port, remote.c_str(), stream, o.timeoutMs, o.blockSize, &progress.progress, nullptr);
    });
}

int RunGet(std::vector<std::string>& words)
{
    CliArgs args(words);
    TftpOptions o;
    if (!TakeOptions(args, &o, "tftp get [-p PORT] [-b BLKSIZE] [-t SECONDS] HOST REMOTE LOCAL"))
        return 2;
    const std::string& remote = args.Rest()[1];
    const std::string& local = args.Rest()[2];
    // Received into a file beside the target, which replaces it only when the transfer succeeded.
    std::string partial = local + ".part";
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (!file)
        return CliFail("cannot create " + partial, 1);
    int ok = Transfer(TftpGet, o, remote, file);
    bool closed = std::fclose(file) == 0;
    if (!ok || !closed) {
        std::remove(partial.c_str());
        return ok ? CliFail("cannot write " + local, 1) : Failed("get", remote);
    }
    if (std::rename(partial.c_str(), local.c_str()) != 0) {
        std::remove(partial.c_str());
        return CliFail("cannot write " + local, 1);
    }
    return 0;
}

int RunPut(std::vector<std::string>& words)
{
    CliArgs args(words);
    TftpOptions o;
    if (!TakeOptions(args, &o, "tftp put [-p PORT] [-b BLKSIZE] [-t SECONDS] HOST LOCAL REMOTE"))
        return 2;
    const std::string& local = args.Rest()[1];
    const std::string& remote = args.Rest()[2];
    std::FILE* file = std::fopen(local.c_str(), "rb");
    if (!file)
        return CliFail("cannot open " + local, 1);
    int ok = Transfer(TftpPut, o, remote, file);
    std::fclose(file);
    return ok ? 0 : Failed("put", remote);
}

CliRegistrar g_get { { "tftp get", "tftp get [-p PORT] [-b BLKSIZE] [-t SECONDS] HOST REMOTE LOCAL    TFTP read",
    RunGet } };
CliRegistrar g_put { { "tftp put", "tftp put [-p PORT] [-b BLKSIZE] [-t SECONDS] HOST LOCAL REMOTE    TFTP write",
    RunPut } };
} // namespace
