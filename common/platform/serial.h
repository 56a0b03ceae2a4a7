// Serial ports: the device console over a serial cable. `SerialOpen` opens a port for exclusive use
// (a device path such as /dev/ttyS0 with termios; "COMn" on Windows, opened as "\\.\COMn" so that COM10
// and above open too) with 8 data bits, no parity, one stop bit, raw bytes, DTR on, and either RTS/CTS
// handshake or, with `rtsCts` off ("nortscts"), RTS simply on. Writes give up after 10 ms per byte plus
// 100 ms. A port without modem lines or BREAK (a pseudo-terminal) is no error.
//
// The line functions below work on any SerialPort and an injected clock, so the console is tested over
// a recording substitute in simulated time.
#pragma once

#include "common/clock.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class SerialPort {
public:
    virtual ~SerialPort() = default;
    // Sets the line speed (baud). Returns 1 on success.
    virtual int SetBaud(uint32_t baud) = 0;
    // Writes all bytes within the write time-out. Returns 1 on success, 0 when the port refused them or
    // the time-out passed.
    virtual int Write(const void* data, size_t size) = 0;
    // Waits at most `timeoutMs` for input and reads what is there (up to `size` bytes). Returns the
    // bytes read, 0 when nothing came, -1 when the port failed.
    virtual int Read(void* data, size_t size, uint32_t timeoutMs) = 0;
    // Holds the line in BREAK for `ms`, then releases it.
    virtual void SendBreak(uint32_t ms) = 0;
    // Drops input received and not yet read.
    virtual void Discard() = 0;
};

struct SerialOptions {
    uint32_t baud = 115200;
    bool rtsCts = true; // false: "nortscts", no CTS flow control and RTS on
};

// Opens and configures the port. Null on failure, with `error` telling why.
std::unique_ptr<SerialPort> SerialOpen(std::string_view name, const SerialOptions& options, std::string* error);

// What SerialReadLine found.
enum SerialLineResult : int {
    SerialLineError = -1, // the port failed
    SerialSilence = 0, // the time-out passed with nothing received
    SerialLine = 1, // a line (ended by LF, by the limit, or by the time-out after characters came)
};

// Reads one line: up to and without the LF (a CR stays in the line; callers trim), at most `limit`
// characters. Prompts carry no line end, so once characters came, the passing of `timeoutMs` (counted
// from the call) also ends the line. Characters after the line's end stay for the next call.
class SerialLineReader {
public:
    SerialLineReader(SerialPort& port, Clock& clock)
        : port_(port)
        , clock_(clock)
    {
    }
    int ReadLine(std::string* line, size_t limit, uint32_t timeoutMs);
    // True when the last line was cut at its limit (the rest follows as the next line).
    bool LastLineCut() const
    {
        return lastCut_;
    }
    // Waits until one of `texts` has come; input up to the end of the text found is used up. Returns the
    // index of the text, -1 on time-out or port failure.
    int WaitFor(const std::vector<std::string_view>& texts, uint32_t timeoutMs);
    // Sleeps `ms`, then drops all pending input (what the port holds and what was read ahead).
    void PauseAndDiscard(uint32_t ms);
    // Drops pending input at once.
    void Discard();
    // Writes a text; 1 on success.
    int Write(std::string_view text)
    {
        return port_.Write(text.data(), text.size());
    }
    SerialPort& Port()
    {
        return port_;
    }
    Clock& GetClock()
    {
        return clock_;
    }

private:
    // Reads more input into `pending_`, waiting at most `ms`. 1 when something came, 0 none, -1 failure.
    int Fill(uint32_t ms);

    SerialPort& port_;
    Clock& clock_;
    std::string pending_; // input read from the port and not yet handed out
    bool lastCut_ = false;
};
