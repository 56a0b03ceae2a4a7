// Device commands over TFTP: a device's TFTP server takes the remote file name as a command, with the
// device password written directly in front of the command word. Each command returns a DeviceStatus
// (110 "Ok" on success) and makes the pause the device needs after it.
#pragma once

#include "device/tftp.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

class CfgTempStream;

// The network stack's state from program start: 0 makes every command fail with "IP error" before
// anything is sent. Unless set, the stack is started on first use.
void DevSetNetworkStack(int started);

// A CfgTempStream as the local side of a transfer.
class TftpTempStream : public TftpStream {
public:
    explicit TftpTempStream(CfgTempStream& stream)
        : stream_(stream)
    {
    }
    int Write(const uint8_t* data, size_t size) override;
    int Read(uint8_t* data, size_t size) override;
    int64_t Position() override;

private:
    CfgTempStream& stream_;
};

// Remote file names of the commands.
std::string DevCommandName(std::string_view password, std::string_view command);
std::string DevWriteFlashName(std::string_view password, uint32_t imageParam);
std::string DevActivateImageName(std::string_view password, int32_t image);
std::string DevSetTimeName(std::string_view password, std::string_view timeText);
// A moment as the devices write it: "hhmmssDDMMYYYY".
std::string DevTimeText(int hour, int minute, int second, int day, int month, int year);

// "sysinfo" (no password): the system information text, at most 1023 bytes, into `text`.
int32_t DevSysInfo(uint32_t address, uint16_t port, std::string* text, uint32_t timeoutMs, int32_t blockSize,
    std::atomic<int32_t>* progress = nullptr, const std::atomic<int32_t>* cancel = nullptr);
// password + "readconfig" into `stream`; the text must hold a section header before the device's echo
// of the request (a refused password) for "Ok". On success the stream is rewound.
int32_t DevReadConfig(uint32_t address, uint16_t port, std::string_view password, CfgTempStream& stream,
    uint32_t timeoutMs, int32_t blockSize, std::atomic<int32_t>* progress = nullptr,
    const std::atomic<int32_t>* cancel = nullptr);
// password + "writeconfig" from `stream` (from its current position).
int32_t DevWriteConfig(uint32_t address, uint16_t port, std::string_view password, CfgTempStream& stream,
    uint32_t timeoutMs, int32_t blockSize, std::atomic<int32_t>* progress = nullptr,
    const std::atomic<int32_t>* cancel = nullptr);
// password + "writeflash_<low>_<high>" (or "writeflash_0") from the firmware `stream`; pauses 2 s.
int32_t DevWriteFlash(uint32_t address, uint16_t port, std::string_view password, uint32_t imageParam,
    TftpStream& stream, uint32_t timeoutMs, int32_t blockSize, std::atomic<int32_t>* progress = nullptr,
    const std::atomic<int32_t>* cancel = nullptr);
// password + "activateimage_<n>"; the answer is discarded; pauses 3 s.
int32_t DevActivateImage(uint32_t address, uint16_t port, std::string_view password, int32_t image, uint32_t timeoutMs,
    int32_t blockSize, std::atomic<int32_t>* progress = nullptr, const std::atomic<int32_t>* cancel = nullptr);
// password + "time_p<hhmmssDDMMYYYY>"; the answer is discarded; pauses 2 s.
int32_t DevSetTime(uint32_t address, uint16_t port, std::string_view password, std::string_view timeText,
    uint32_t timeoutMs, int32_t blockSize, std::atomic<int32_t>* progress = nullptr,
    const std::atomic<int32_t>* cancel = nullptr);
