// The serial console of a simulated device, on a pseudo-terminal: the terminal side is linked at a path
// the client opens as its serial port. The console answers the probe byte 0x1A with "Outband" only when
// the client's line runs at the console's speed (read from the terminal's attributes, as a real line
// would garble everything else), then shows the banner, the name line and the password prompt, and
// takes the commands "sysinfo", "readconfig", "writeconfig" and "x". A written configuration makes the
// device restart as a TFTP "writeconfig" does (one device state for both).
#pragma once

#include "sim/simfleet.h"
#include "sim/xmodem_rx.h"

#include <cstdint>
#include <memory>
#include <string>

struct SimConsoleOptions {
    std::string path; // where the terminal side is linked
    uint32_t baud = 115200; // the console's speed
    bool silent = false; // never answers (a device whose console is dead)
    enum class Banner { Quoted, Unquoted, Partner } banner = Banner::Quoted;
    bool verbose = false; // prints each change of the client's line settings and each upload's outcome
    // The device sits in its boot loader: the console stays silent, and at 38400 baud CAN or CR bring
    // the upload prompt. A successful upload starts the firmware, and the console answers again.
    bool bootLoader = false;
    SimXmodemFaults xmodem; // faults of the XMODEM receiver
};

// The console's protocol without the terminal: bytes in, bytes out, for one device of a fleet.
class SimConsoleProtocol {
public:
    SimConsoleProtocol(SimFleet& fleet, size_t index, const SimConsoleOptions& options)
        : fleet_(fleet)
        , index_(index)
        , options_(options)
    {
    }
    // Input the client sent while its line ran at `baud`; returns what the console answers.
    std::string Input(std::string_view bytes, uint32_t baud, uint32_t now);
    // The passing of time (the XMODEM receiver's NAKs and time-outs); returns what the console sends.
    std::string Tick(uint32_t now);

private:
    std::string Banner() const;
    std::string Prompt() const;
    std::string Line(const std::string& line, uint32_t now);
    // Enters the upload: the prompt, then the XMODEM receiver.
    std::string BeginUpload(const char* prompt, uint32_t now);
    // After the receiver ended: stores the firmware (and restarts) or gives up.
    void EndUpload(uint32_t now);

    SimFleet& fleet_;
    size_t index_;
    SimConsoleOptions options_;
    enum class State { Idle, Probed, Password, Shell, Writing, Upload } state_ = State::Idle;
    std::unique_ptr<SimXmodemReceiver> receiver_;
    std::string line_;
    std::string written_; // configuration lines received after "writeconfig"
};

class SimConsole {
public:
    SimConsole() = default;
    ~SimConsole();
    SimConsole(const SimConsole&) = delete;
    SimConsole& operator=(const SimConsole&) = delete;

    // Opens the pseudo-terminal, links its terminal side at options.path and joins the fleet's loop.
    // Returns 1 on success.
    int Start(SimFleet& fleet, size_t index, const SimConsoleOptions& options, std::string* error);

private:
    void OnReadable(uint32_t now);
    void OnTick(uint32_t now);
    void Flush();
    // The client's line settings as "38400 8N1 rtscts=on"; `baud` receives the speed.
    std::string LineSettings(uint32_t* baud) const;

    SimConsoleOptions options_;
    std::unique_ptr<SimConsoleProtocol> protocol_;
    int master_ = -1;
    int slave_ = -1; // held open so that the line stays up between the client's opens
    bool linked_ = false;
    std::string lastSettings_;
    std::string pending_; // output the terminal could not take yet
};
