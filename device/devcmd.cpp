#include "device/devcmd.h"

#include "common/tempstream.h"
#include "common/text.h"
#include "device/devstatus.h"

#include <algorithm>

namespace {
constexpr size_t kSysInfoMax = 1023; // room of the caller's 1024-byte buffer
constexpr uint32_t kFlashPauseMs = 2000;
constexpr uint32_t kActivatePauseMs = 3000;
constexpr uint32_t kTimePauseMs = 2000;

int g_netStack = -1; // -1: not decided yet

bool NetworkStack()
{
    if (g_netStack < 0)
        g_netStack = NetStartup();
    return g_netStack != 0;
}

// Keeps the first `limit` bytes of an answer and counts the rest: a device cannot fill the memory.
class CappedStream : public TftpStream {
public:
    explicit CappedStream(size_t limit)
        : limit_(limit)
    {
    }
    int Write(const uint8_t* data, size_t size) override
    {
        size_t keep = std::min(size, limit_ - std::min(limit_, kept_.size()));
        kept_.append(reinterpret_cast<const char*>(data), keep);
        total_ += static_cast<int64_t>(size);
        return 1;
    }
    int Read(uint8_t*, size_t) override
    {
        return 0;
    }
    int64_t Position() override
    {
        return total_;
    }
    const std::string& Kept() const
    {
        return kept_;
    }

private:
    size_t limit_;
    std::string kept_;
    int64_t total_ = 0;
};

int32_t Finish(int ok, bool withPassword, const std::atomic<int32_t>* cancel, uint32_t pauseMs)
{
    int32_t status = DevStatusFromTftp(ok, TftpLastError, withPassword, cancel, TftpLastErrorFromServer != 0);
    if (status == DevStatusOk && pauseMs)
        TftpClock().SleepMs(pauseMs);
    return status;
}
} // namespace

void DevSetNetworkStack(int started)
{
    g_netStack = started ? 1 : 0;
}

int TftpTempStream::Write(const uint8_t* data, size_t size)
{
    return stream_.Write(data, size) == size ? 1 : 0;
}

int TftpTempStream::Read(uint8_t* data, size_t size)
{
    size_t n = stream_.Read(data, size);
    if (n == 0 && stream_.Failed())
        return -1;
    return static_cast<int>(n);
}

int64_t TftpTempStream::Position()
{
    return static_cast<int64_t>(stream_.Tell());
}

std::string DevCommandName(std::string_view password, std::string_view command)
{
    std::string name(password);
    name += command;
    return name;
}

std::string DevWriteFlashName(std::string_view password, uint32_t imageParam)
{
    unsigned low = imageParam & 0xffff;
    unsigned high = imageParam >> 16;
    if (low == 0)
        return DevCommandName(password, "writeflash_0");
    return DevCommandName(password, StrFormat("writeflash_%u_%u", low, high));
}

std::string DevActivateImageName(std::string_view password, int32_t image)
{
    return DevCommandName(password, StrFormat("activateimage_%d", image));
}

std::string DevSetTimeName(std::string_view password, std::string_view timeText)
{
    return DevCommandName(password, "time_p" + std::string(timeText));
}

std::string DevTimeText(int hour, int minute, int second, int day, int month, int year)
{
    return StrFormat("%02d%02d%02d%02d%02d%04d", hour, minute, second, day, month, year);
}

int32_t DevSysInfo(uint32_t address, uint16_t port, std::string* text, uint32_t timeoutMs, int32_t blockSize,
    std::atomic<int32_t>* progress, const std::atomic<int32_t>* cancel)
{
    if (text)
        text->clear();
    if (!NetworkStack())
        return DevStatusIpError;
    CappedStream answer(kSysInfoMax);
    int ok = TftpGet(address, port, "sysinfo", answer, timeoutMs, blockSize, progress, cancel);
    if (ok && text)
        *text = answer.Kept();
    return Finish(ok, false, cancel, 0);
}

int32_t DevReadConfig(uint32_t address, uint16_t port, std::string_view password, CfgTempStream& stream,
    uint32_t timeoutMs, int32_t blockSize, std::atomic<int32_t>* progress, const std::atomic<int32_t>* cancel)
{
    if (!NetworkStack())
        return DevStatusIpError;
    TftpTempStream local(stream);
    int ok = TftpGet(
        address, port, DevCommandName(password, "readconfig").c_str(), local, timeoutMs, blockSize, progress, cancel);
    int32_t status = Finish(ok, true, cancel, 0);
    if (status != DevStatusOk)
        return status;
    // A device that refuses the password echoes the request instead of sending its configuration; a
    // configuration begins with a section header.
    stream.Rewind();
    std::string line;
    while (stream.ReadLine(&line)) {
        if (line.find("readconfig") != std::string::npos)
            return DevStatusWrongPassword;
        std::string_view trimmed = line;
        while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\r' || trimmed.front() == '\n'))
            trimmed.remove_prefix(1);
        while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\r' || trimmed.back() == '\n'))
            trimmed.remove_suffix(1);
        if (!trimmed.empty() && trimmed.front() == '[' && trimmed.find(']') != std::string_view::npos) {
            stream.Rewind();
            return DevStatusOk;
        }
    }
    return DevStatusUnknown;
}

int32_t DevWriteConfig(uint32_t address, uint16_t port, std::string_view password, CfgTempStream& stream,
    uint32_t timeoutMs, int32_t blockSize, std::atomic<int32_t>* progress, const std::atomic<int32_t>* cancel)
{
    if (!NetworkStack())
        return DevStatusIpError;
    TftpTempStream local(stream);
    int ok = TftpPut(
        address, port, DevCommandName(password, "writeconfig").c_str(), local, timeoutMs, blockSize, progress, cancel);
    return Finish(ok, true, cancel, 0);
}

int32_t DevWriteFlash(uint32_t address, uint16_t port, std::string_view password, uint32_t imageParam,
    TftpStream& stream, uint32_t timeoutMs, int32_t blockSize, std::atomic<int32_t>* progress,
    const std::atomic<int32_t>* cancel)
{
    if (!NetworkStack())
        return DevStatusIpError;
    int ok = TftpPut(
        address, port, DevWriteFlashName(password, imageParam).c_str(), stream, timeoutMs, blockSize, progress, cancel);
    return Finish(ok, true, cancel, kFlashPauseMs);
}

int32_t DevActivateImage(uint32_t address, uint16_t port, std::string_view password, int32_t image, uint32_t timeoutMs,
    int32_t blockSize, std::atomic<int32_t>* progress, const std::atomic<int32_t>* cancel)
{
    if (!NetworkStack())
        return DevStatusIpError;
    CappedStream discard(0);
    int ok = TftpGet(
        address, port, DevActivateImageName(password, image).c_str(), discard, timeoutMs, blockSize, progress, cancel);
    return Finish(ok, true, cancel, kActivatePauseMs);
}

int32_t DevSetTime(uint32_t address, uint16_t port, std::string_view password, std::string_view timeText,
    uint32_t timeoutMs, int32_t blockSize, std::atomic<int32_t>* progress, const std::atomic<int32_t>* cancel)
{
    if (!NetworkStack())
        return DevStatusIpError;
    CappedStream discard(0);
    int ok = TftpGet(
        address, port, DevSetTimeName(password, timeText).c_str(), discard, timeoutMs, blockSize, progress, cancel);
    return Finish(ok, true, cancel, kTimePauseMs);
}
