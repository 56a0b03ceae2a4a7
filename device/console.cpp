#include "device/console.h"

#include "common/diag.h"
#include "common/tempstream.h"
#include "common/text.h"
#include "device/devstatus.h"
#include "device/sysinfo.h"
#include "device/tftp.h"
#include "device/xmodem.h"

#include <algorithm>
#include <atomic>
#include <cstring>

const ConsoleProbeRow kConsoleProbeTable[3] = {
    { 115200, 10, 100 },
    { 57600, 10, 250 },
    { 38400, 10, 250 },
};

const char* const kConsoleMakers[3] = { "| Zevra ", "| Norvane ", "| Keltra " };
const char kConsoleBootLoaderWake[8] = { 0x18, 0x18, 0x18, 0x0d, 0x0d, 0x0d, 0x0d, 0x0d };

namespace {
constexpr uint32_t kBreakMs = 500;
constexpr uint32_t kRowPauseMs = 200; // before the second and third row of the probe
constexpr uint32_t kFoundPauseMs = 250; // after "Outband", before the CR
constexpr uint32_t kLineMs = 500; // each console line
constexpr size_t kLoginLineMax = 256;
constexpr int kLoginLines = 20;
constexpr int kSysInfoLines = 50;
constexpr size_t kConfigLineMax = 1024;
constexpr uint32_t kReadConfigPauseMs = 500; // between "readconfig" and its CR
constexpr uint32_t kWriteLinePauseMs = 20; // after each configuration line sent
constexpr uint32_t kFlashPromptMs = 10000; // "FLASHROM-Upload" after "do f/f"
constexpr int kBootLoaderSeconds = 12; // the boot loader's prompt: 12 waits of a second
constexpr uint32_t kUploadPauseMs = 2000; // before the transfer and after its end
constexpr const char* kFlashPrompt = "FLASHROM-Upload";

ConsoleEnvironment g_env;
std::atomic<bool> g_rtsCts { true }; // false: the program's "nortscts" switch

Clock& ConsoleClock()
{
    return TftpClock();
}

// Blanks, line ends, form feeds, vertical tabs and NULs around a console line.
std::string_view TrimConsole(std::string_view text)
{
    const char* blanks = " \t\r\n\f\v";
    auto isBlank = [&](char c) { return c == '\0' || std::char_traits<char>::find(blanks, 6, c) != nullptr; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The n-th (1-based) run without blanks.
std::string_view Token(std::string_view line, int n)
{
    size_t i = 0;
    for (int k = 1;; ++k) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            return {};
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (k == n)
            return line.substr(start, i - start);
    }
}

std::string_view Cut(std::string_view text, size_t max)
{
    return text.substr(0, std::min(text.size(), max));
}

// One console operation on an open port.
class ConsoleSession {
public:
    explicit ConsoleSession(DeviceEntry& entry)
        : entry_(entry)
    {
    }

    // Opens the entry's port. 110 or 112.
    int32_t Open()
    {
        std::string error;
        SerialOptions options = ConsoleSerialOptions();
        options.baud = kConsoleProbeTable[0].baud;
        port_ = g_env.open ? g_env.open(entry_.line_name.str(), options, &error)
                           : SerialOpen(entry_.line_name.str(), options, &error);
        if (!port_) {
            Diag("serial port %s: %s\n", entry_.line_name.c_str(), error.c_str());
            return DevStatusSerialError;
        }
        reader_ = std::make_unique<SerialLineReader>(*port_, ConsoleClock());
        return DevStatusOk;
    }

    bool Cancelled() const
    {
        return entry_.cancel.load() != 0;
    }

    // Finds the console's speed: 0x1A answered by "Outband". 110, 112, 115 or 0.
    int32_t Probe()
    {
        for (size_t row = 0; row < std::size(kConsoleProbeTable); ++row) {
            const ConsoleProbeRow& r = kConsoleProbeTable[row];
            if (Cancelled())
                return DevStatusCancelled;
            if (row > 0)
                ConsoleClock().SleepMs(kRowPauseMs);
            if (!port_->SetBaud(r.baud))
                return DevStatusSerialError;
            port_->SendBreak(kBreakMs);
            for (int i = 0; i < r.tries; ++i) {
                if (Cancelled())
                    return DevStatusCancelled;
                reader_->Discard();
                if (!reader_->Write("\x1a"))
                    return DevStatusSerialError;
                if (reader_->WaitFor({ "Outband" }, r.wait_ms) == 0) {
                    ConsoleClock().SleepMs(kFoundPauseMs);
                    return reader_->Write("\r") ? DevStatusOk : DevStatusSerialError;
                }
            }
        }
        return Cancelled() ? DevStatusCancelled : DevStatusNoResponse;
    }

    // Reads one trimmed line of at most `limit` characters. 110 with a line, 115 on silence (after a
    // BREAK), 112 when the port failed, 0 when cancelled.
    int32_t Line(std::string* line, size_t limit)
    {
        if (Cancelled())
            return DevStatusCancelled;
        int r = reader_->ReadLine(line, limit, kLineMs);
        if (r == SerialLineError)
            return DevStatusSerialError;
        if (r == SerialSilence) {
            if (Cancelled())
                return DevStatusCancelled;
            port_->SendBreak(kBreakMs);
            return DevStatusNoResponse;
        }
        *line = std::string(TrimConsole(*line));
        return Cancelled() ? DevStatusCancelled : DevStatusOk;
    }

    // The banner, the name line and the login prompts, up to the command prompt. `extra`: then read the
    // extra system information too.
    int32_t Login(bool extra)
    {
        enum { Maker, Banner, NameLine, Prompt } state = Maker;
        bool passwordSent = false;
        std::string name;
        for (int n = 0; n < kLoginLines; ++n) {
            std::string line;
            if (int32_t status = Line(&line, kLoginLineMax); status != DevStatusOk)
                return status;
            switch (state) {
            case Maker:
                for (const char* maker : kConsoleMakers) {
                    if (line.starts_with(maker)) {
                        entry_.device_type = TrimConsole(Cut(std::string_view(line).substr(strlen(maker)), 63));
                        state = Banner;
                        break;
                    }
                }
                continue;
            case Banner:
                if (line.starts_with("| Ver. ")) {
                    std::string_view rest = std::string_view(line).substr(7);
                    entry_.fw_version = Cut(Token(rest, 1), kSysFwVersionMax);
                    entry_.fw_date = Cut(Token(rest, 3), kSysFwDateMax);
                } else if (line.starts_with("| SN.  ")) {
                    entry_.serial_no = Cut(Token(std::string_view(line).substr(7), 1), kSysSerialReadMax);
                } else if (line.empty()) {
                    state = NameLine;
                }
                continue;
            case NameLine:
                if (!line.empty()) {
                    name = ConsoleNameFromLine(line);
                    state = Prompt;
                }
                continue;
            case Prompt:
                break;
            }
            if (line.find('>') != std::string::npos) {
                if (!extra)
                    return DevStatusOk; // a write needs neither the name nor the feature data
                entry_.name = name.empty() ? std::string_view(entry_.device_type) : std::string_view(name);
                return ExtraSysInfo();
            }
            if (line.empty())
                continue;
            bool prompt = line.back() == ':';
            if (passwordSent && !prompt && line.find('/') == std::string::npos)
                return DevStatusWrongPassword; // the device answered the password with a complaint
            if (prompt) {
                std::string answer = passwordSent ? std::string() : entry_.password.str();
                if (!reader_->Write(answer + "\r"))
                    return DevStatusSerialError;
                passwordSent = true;
            }
        }
        // Twenty lines without a prompt: not a console this tool understands.
        return DevStatusUnknown;
    }

    // "sysinfo": CONFIG-STATUS, FEATUREWORD, HW-MASK and TIME, read as the system information text reads
    // them, up to the next prompt.
    int32_t ExtraSysInfo()
    {
        if (!reader_->Write("sysinfo\r"))
            return DevStatusSerialError;
        std::string keys;
        for (int n = 0; n < kSysInfoLines; ++n) {
            std::string line;
            if (int32_t status = Line(&line, kLoginLineMax); status != DevStatusOk)
                return status;
            if (line.find('>') != std::string::npos)
                break;
            for (const char* key : { "CONFIG-STATUS:", "FEATUREWORD:", "HW-MASK:", "TIME:" })
                if (line.starts_with(key))
                    keys += line + "\n";
        }
        std::string sysTime;
        SysInfoOut out;
        out.sys_time = &sysTime;
        out.flags = &entry_.flags;
        out.feature_word = &entry_.feature_word;
        out.hw_mask = &entry_.hw_mask;
        SysInfoParse(keys, out); // never valid (no required key); the outputs are what counts
        entry_.cSysTime = sysTime;
        return DevStatusOk;
    }

    // "readconfig": the lines up to the first empty line after text.
    int32_t ReadConfig(CfgTempStream& file)
    {
        if (!reader_->Write("readconfig"))
            return DevStatusSerialError;
        ConsoleClock().SleepMs(kReadConfigPauseMs);
        if (!reader_->Write("\r"))
            return DevStatusSerialError;
        entry_.progress_kind = 200;
        entry_.progress = 0;
        bool textCame = false;
        bool continued = false; // the last piece was cut at the line limit: this one continues it
        for (;;) {
            if (Cancelled())
                return DevStatusCancelled;
            std::string line;
            int r = reader_->ReadLine(&line, kConfigLineMax, kLineMs);
            if (r == SerialLineError)
                return DevStatusSerialError;
            if (r == SerialSilence)
                return Cancelled() ? DevStatusCancelled : DevStatusNoResponse;
            bool cut = reader_->LastLineCut();
            if (!continued && TrimConsole(line).empty() && line.find('\0') == std::string::npos) {
                if (textCame)
                    break;
                continue;
            }
            textCame = true;
            std::string_view text = TrimLineEnd(line);
            // A line longer than the limit arrives in pieces; they go into the file as one line.
            if (file.Write(text) != text.size() || (!cut && file.Write("\r\n") != 2))
                return DevStatusIpError;
            if (!cut)
                ++entry_.progress;
            continued = cut;
        }
        if (!reader_->Write("x\r"))
            return DevStatusSerialError;
        file.Rewind();
        return DevStatusOk;
    }

    int32_t WriteConfig(CfgTempStream& file)
    {
        entry_.cancel = 1; // from here on the write must not be interrupted
        if (!reader_->Write("writeconfig\r\r"))
            return DevStatusSerialError;
        entry_.progress_kind = 200;
        entry_.progress = 0;
        file.Rewind();
        std::string line;
        while (file.ReadLine(&line)) {
            std::string_view text = TrimLineEnd(line);
            // The device takes an empty line as the end of the configuration: blank lines of the text
            // are left out so that what follows them still arrives.
            if (TrimConsole(text).empty())
                continue;
            if (!reader_->Write(std::string(text) + "\r"))
                return DevStatusSerialError;
            ++entry_.progress;
            reader_->PauseAndDiscard(kWriteLinePauseMs);
        }
        if (!reader_->Write("\r"))
            return DevStatusSerialError;
        file.Rewind();
        return DevStatusOk;
    }

    // Up to the upload prompt: "do f/f" on the console, or the boot loader woken at 38400 baud when the
    // console did not answer the probe. 110 once "FLASHROM-Upload" came.
    int32_t FlashPrompt()
    {
        int32_t status = Probe();
        if (status == DevStatusOk) {
            if ((status = Login(false)) != DevStatusOk)
                return status;
            if (!reader_->Write("do f/f\r"))
                return DevStatusSerialError;
            return reader_->WaitFor({ kFlashPrompt }, kFlashPromptMs) == 0 ? DevStatusOk : DevStatusNoResponse;
        }
        if (status != DevStatusNoResponse)
            return status;
        if (!port_->SetBaud(kConsoleBootLoaderBaud))
            return DevStatusSerialError;
        for (int second = 0; second < kBootLoaderSeconds; ++second) {
            if (Cancelled())
                return DevStatusCancelled;
            if (reader_->WaitFor({ kFlashPrompt }, 1000) == 0)
                return DevStatusOk;
            if (second < kBootLoaderSeconds - 1
                && !port_->Write(kConsoleBootLoaderWake, sizeof(kConsoleBootLoaderWake)))
                return DevStatusSerialError;
        }
        return Cancelled() ? DevStatusCancelled : DevStatusNoResponse;
    }

    int32_t Upload(std::FILE* firmware)
    {
        int32_t status = FlashPrompt();
        if (status != DevStatusOk)
            return status;
        entry_.cancel = 1; // from here on the upload must not be interrupted
        ConsoleClock().SleepMs(kUploadPauseMs);
        long start = std::ftell(firmware);
        std::fseek(firmware, 0, SEEK_END);
        long end = std::ftell(firmware);
        if (start < 0 || end < 0 || std::fseek(firmware, start, SEEK_SET) != 0)
            return DevStatusIpError;
        entry_.progress_total = static_cast<int32_t>(end > start ? end - start : 0);
        entry_.progress_kind = 202;
        entry_.progress = 0;
        bool readFailed = false;
        XmodemSender sender([&](void* data, size_t size) {
            size_t n = std::fread(data, 1, size, firmware);
            readFailed = readFailed || std::ferror(firmware);
            return n;
        });
        bool portFailed = false;
        XmodemSender::State state = XmodemSend(sender, *port_, ConsoleClock(), &entry_.progress, &portFailed);
        entry_.progress_kind = 0;
        if (portFailed)
            return DevStatusSerialError;
        if (readFailed)
            return DevStatusIpError;
        switch (state) {
        case XmodemSender::State::Done:
            ConsoleClock().SleepMs(kUploadPauseMs);
            return DevStatusOk;
        case XmodemSender::State::Cancelled:
            return DevStatusUnknown;
        case XmodemSender::State::SourceFailed:
            return DevStatusIpError;
        default:
            return DevStatusNoResponse;
        }
    }

private:
    DeviceEntry& entry_;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<SerialLineReader> reader_;
};

// Opens, probes and logs in. 110 when the console's prompt came.
int32_t Begin(ConsoleSession& session, bool extra)
{
    int32_t status = session.Open();
    if (status == DevStatusOk)
        status = session.Probe();
    if (status == DevStatusOk)
        status = session.Login(extra);
    return status;
}
} // namespace

void ConsoleSetEnvironment(ConsoleEnvironment environment)
{
    g_env = std::move(environment);
}

void ConsoleSetHandshake(bool rtsCts)
{
    g_rtsCts = rtsCts;
}

SerialOptions ConsoleSerialOptions()
{
    SerialOptions options;
    options.rtsCts = g_rtsCts;
    return options;
}

std::string ConsoleNameFromLine(std::string_view line)
{
    size_t open = line.find('"');
    size_t close = open == std::string_view::npos ? open : line.find('"', open + 1);
    std::string_view name;
    if (close != std::string_view::npos) {
        name = line.substr(open + 1, close - open - 1);
    } else {
        size_t comma = line.rfind(',');
        std::string_view before = TrimRight(comma == std::string_view::npos ? line : line.substr(0, comma));
        size_t blank = before.find_last_of(" \t");
        name = blank == std::string_view::npos ? before : before.substr(blank + 1);
    }
    return std::string(Cut(name, kSysNameMax));
}

int32_t ConsoleCheck(DeviceEntry& entry)
{
    entry.cancel = 0;
    ConsoleSession session(entry);
    return Begin(session, true);
}

int32_t ConsoleReadConfig(DeviceEntry& entry, std::shared_ptr<CfgTempStream>* stream)
{
    if (stream)
        stream->reset();
    entry.cancel = 0;
    ConsoleSession session(entry);
    int32_t status = Begin(session, true);
    if (status != DevStatusOk)
        return status;
    auto received = std::make_shared<CfgTempStream>();
    if (!received->Open())
        return DevStatusIpError;
    status = session.ReadConfig(*received);
    entry.progress_kind = 0;
    if (status == DevStatusOk && stream)
        *stream = std::move(received);
    return status;
}

int32_t ConsoleWriteConfig(DeviceEntry& entry, CfgTempStream& stream)
{
    ConsoleSession session(entry);
    int32_t status = Begin(session, false);
    if (status == DevStatusOk)
        status = session.WriteConfig(stream);
    entry.progress_kind = 0;
    return status;
}

int32_t ConsoleUploadFirmware(DeviceEntry& entry, std::FILE* firmware)
{
    entry.cancel = 0;
    ConsoleSession session(entry);
    int32_t status = session.Open();
    if (status == DevStatusOk)
        status = session.Upload(firmware);
    entry.progress_kind = 0;
    return status;
}

int ConsoleSerialSearch::Check(DeviceEntry& entry)
{
    entry.link = LinkSerial;
    entry.status = ConsoleCheck(entry);
    return entry.status.load() == DevStatusOk ? 1 : 0;
}
