// The console's login, extra system information and configuration reading fed arbitrary device bytes
// (after the probe's "Outband"): every DeviceEntry field stays within its width and the firmware lists
// within their 128 bytes, and the configuration read holds only what the device sent.
#include "common/platform/serial.h"
#include "common/tempstream.h"
#include "device/console.h"
#include "device/devop.h"
#include "device/tftp.h"
#include "fuzz/fuzz_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
// A port that answers the first 0x1A with the input, a few bytes per read, then stays silent.
class FuzzPort : public SerialPort {
public:
    FuzzPort(ManualClock& clock, std::string data)
        : clock_(clock)
        , data_(std::move(data))
    {
    }
    int SetBaud(uint32_t) override
    {
        return 1;
    }
    int Write(const void* data, size_t size) override
    {
        if (size == 1 && *static_cast<const char*>(data) == 0x1a)
            started_ = true;
        return 1;
    }
    int Read(void* data, size_t size, uint32_t timeoutMs) override
    {
        if (!started_ || pos_ >= data_.size()) {
            clock_.Advance(timeoutMs);
            return 0;
        }
        // Pieces of 1 to 61 bytes, so that lines and texts fall on every side of a read.
        size_t piece = std::min({ size, data_.size() - pos_, size_t(1 + (pos_ * 7) % 61) });
        std::memcpy(data, data_.data() + pos_, piece);
        pos_ += piece;
        clock_.Advance(1);
        return static_cast<int>(piece);
    }
    void SendBreak(uint32_t ms) override
    {
        clock_.Advance(ms);
    }
    void Discard() override { }

private:
    ManualClock& clock_;
    std::string data_;
    size_t pos_ = 0;
    bool started_ = false;
};

size_t ListBytes(const std::vector<std::string>& list)
{
    size_t bytes = 1;
    for (const std::string& s : list)
        bytes += s.size() + 1;
    return bytes;
}

void CheckWidths(const DeviceEntry& e)
{
    Check(e.name.size() <= 63 && e.device_type.size() <= 63 && e.fw_version.size() <= 9 && e.fw_date.size() <= 11);
    Check(e.serial_no.size() <= 15 && e.cSysTime.size() <= 15 && e.mac_address.size() <= 13);
    Check(e.hw_release.size() <= 4 && e.line_name.size() <= 15);
    Check(ListBytes(e.fw_status.versions) <= 128 && ListBytes(e.fw_status.dates) <= 128);
    for (const std::string* text : { &e.name.str(), &e.device_type.str(), &e.fw_version.str(), &e.serial_no.str() })
        Check(text->find('\0') == std::string::npos);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ManualClock clock(1000);
    static bool once = [] {
        TftpSetEnvironment({ &clock, {} });
        return true;
    }();
    (void)once;
    std::string input = "Outband" + std::string(reinterpret_cast<const char*>(data), size);
    ConsoleSetEnvironment({ [&](std::string_view, const SerialOptions&, std::string*) {
        return std::unique_ptr<SerialPort>(std::make_unique<FuzzPort>(clock, input));
    } });

    DeviceEntry entry;
    entry.link = LinkSerial;
    entry.line_name = "COM1";
    entry.password = "pw";
    DevOpCheck(entry);
    CheckWidths(entry);

    std::shared_ptr<CfgTempStream> stream;
    DeviceEntry reader = entry;
    if (DevOpReadConfig(reader, &stream)) {
        Check(stream != nullptr);
        // Every byte of the configuration came from the device (line ends aside).
        Check(stream->Size() <= input.size() * 2);
    }
    CheckWidths(reader);
    Check(reader.progress_kind.load() == 0);
    return 0;
}
