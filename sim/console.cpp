#include "sim/console.h"

#include "common/text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {
std::string Dotted(const std::string& ddmmyyyy)
{
    if (ddmmyyyy.size() != 8)
        return ddmmyyyy;
    return ddmmyyyy.substr(0, 2) + "." + ddmmyyyy.substr(2, 2) + "." + ddmmyyyy.substr(4);
}

uint32_t BaudOf(speed_t speed)
{
    switch (speed) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return 0;
    }
}
} // namespace

std::string SimConsoleProtocol::Banner() const
{
    const SimDevice& d = fleet_.Device(index_);
    const SimImage& image = d.images[static_cast<size_t>(d.runningImage)];
    const char* maker = options_.banner == SimConsoleOptions::Banner::Partner ? "Norvane" : "Zevra";
    std::string name = d.name.empty() ? d.type : d.name;
    std::string nameLine = options_.banner == SimConsoleOptions::Banner::Unquoted
        ? "Connected to " + name + ", console 1"
        : "Connected to \"" + name + "\", console 1";
    return StrFormat("\r\n| %s %s\r\n| Ver. %s / %s\r\n| SN.  %s\r\n| (c) Zevra\r\n\r\n%s\r\n\r\npassword:", maker,
        d.type.c_str(), image.version.c_str(), Dotted(image.date).c_str(), d.serial.c_str(), nameLine.c_str());
}

std::string SimConsoleProtocol::Prompt() const
{
    const SimDevice& d = fleet_.Device(index_);
    return "\r\n" + (d.name.empty() ? d.type : d.name) + ":/\r\n> ";
}

std::string SimConsoleProtocol::BeginUpload(const char* prompt, uint32_t now)
{
    state_ = State::Upload;
    receiver_ = std::make_unique<SimXmodemReceiver>(options_.xmodem, now);
    SimDevice& d = fleet_.Device(index_);
    receiver_->accept = [&d](const std::string& header) {
        std::string why;
        return d.Acceptable(header, &why);
    };
    return prompt;
}

void SimConsoleProtocol::EndUpload(uint32_t now)
{
    SimXmodemReceiver& r = *receiver_;
    if (options_.verbose) {
        std::printf("%s: xmodem %u blocks stored, %u checksum errors, %u duplicates\n", options_.path.c_str(), r.stored,
            r.checksumErrors, r.duplicates);
        std::fflush(stdout);
    }
    state_ = State::Idle;
    if (r.GetState() == SimXmodemReceiver::State::Done && r.stored > 0) {
        SimDevice& d = fleet_.Device(index_);
        options_.bootLoader = false; // the new firmware starts
        fleet_.Take(index_, d.Flash(r.Data(), 0), now);
    }
    receiver_.reset();
}

std::string SimConsoleProtocol::Tick(uint32_t now)
{
    if (state_ != State::Upload || !receiver_)
        return {};
    std::string out = receiver_->Tick(now);
    SimXmodemReceiver::State st = receiver_->GetState();
    if (st != SimXmodemReceiver::State::Waiting && st != SimXmodemReceiver::State::Receiving)
        EndUpload(now);
    return out;
}

std::string SimConsoleProtocol::Input(std::string_view bytes, uint32_t baud, uint32_t now)
{
    // A restarting device hears nothing.
    if (fleet_.Restarting(index_)) {
        line_.clear();
        return {};
    }
    if (state_ == State::Upload && receiver_) {
        std::string out = receiver_->Input(bytes, now);
        SimXmodemReceiver::State st = receiver_->GetState();
        if (st != SimXmodemReceiver::State::Waiting && st != SimXmodemReceiver::State::Receiving)
            EndUpload(now);
        return out;
    }
    // The boot loader: silent, except for its upload prompt at 38400 baud when CAN or CR come.
    if (options_.bootLoader) {
        if (baud == 38400 && bytes.find_first_of("\x18\r") != std::string_view::npos)
            return BeginUpload("\r\nFLASHROM-Upload (boot loader)\r\n", now);
        return {};
    }
    // A line at the wrong speed carries only garbage.
    if (options_.silent || baud != options_.baud) {
        line_.clear();
        return {};
    }
    std::string out;
    for (char c : bytes) {
        if (c == 0x1a) {
            state_ = State::Probed;
            line_.clear();
            out += "\r\nOutband\r\n";
        } else if (c == '\r' || c == '\n') {
            if (c == '\n' && line_.empty() && !out.empty())
                continue;
            std::string line;
            line.swap(line_);
            out += Line(line, now);
        } else if (line_.size() < 65536) {
            line_ += c;
        }
    }
    return out;
}

std::string SimConsoleProtocol::Line(const std::string& line, uint32_t now)
{
    SimDevice& d = fleet_.Device(index_);
    switch (state_) {
    case State::Idle:
        return {};
    case State::Probed:
        state_ = State::Password;
        return Banner();
    case State::Password:
        if (line == d.password) {
            state_ = State::Shell;
            return Prompt();
        }
        return "\r\nLogin incorrect\r\n\r\npassword:";
    case State::Shell: {
        std::string_view command = Trim(line);
        if (command == "sysinfo")
            return "\r\n" + d.SysInfoText() + Prompt();
        if (command == "readconfig") {
            std::string text = d.config;
            if (!text.empty() && text.back() != '\n')
                text += "\r\n";
            return "\r\n" + text + "\r\n" + Prompt();
        }
        if (command == "writeconfig") {
            state_ = State::Writing;
            written_.clear();
            return {};
        }
        if (command == "do f/f")
            return BeginUpload("\r\nFLASHROM-Upload: start the XMODEM transfer\r\n", now);
        if (command == "x") {
            state_ = State::Idle;
            return "\r\nGoodbye\r\n";
        }
        if (command.empty())
            return Prompt();
        return "\r\nUnknown command: " + std::string(command) + Prompt();
    }
    case State::Upload:
        return {};
    case State::Writing:
        // Empty lines before the text are skipped; the first one after it ends the configuration.
        if (Trim(line).empty()) {
            if (written_.empty())
                return {};
            state_ = State::Idle;
            fleet_.Take(index_, d.Written(d.password + "writeconfig", written_), now);
            return {};
        }
        written_ += line + "\r\n";
        return {};
    }
    return {};
}

SimConsole::~SimConsole()
{
    if (linked_)
        ::unlink(options_.path.c_str());
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

int SimConsole::Start(SimFleet& fleet, size_t index, const SimConsoleOptions& options, std::string* error)
{
    options_ = options;
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return 0;
    }
    char name[128] = {};
    if (::ptsname_r(master_, name, sizeof name) != 0) {
        *error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        return 0;
    }
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        *error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        return 0;
    }
    // Raw, so that nothing the console sends is echoed back to it before a client sets the line up.
    termios tio {};
    ::tcgetattr(slave_, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    ::tcsetattr(slave_, TCSANOW, &tio);
    struct stat st { };
    if (::lstat(options_.path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = options_.path + " exists and is no link";
            return 0;
        }
        ::unlink(options_.path.c_str());
    }
    if (::symlink(name, options_.path.c_str()) != 0) {
        *error = "cannot link " + options_.path + ": " + std::strerror(errno);
        return 0;
    }
    linked_ = true;
    protocol_ = std::make_unique<SimConsoleProtocol>(fleet, index, options_);
    uint32_t baud = 0;
    lastSettings_ = LineSettings(&baud);
    fleet.AddDescriptor(master_, [this](uint32_t now) { OnReadable(now); });
    fleet.AddTicker([this](uint32_t now) { OnTick(now); });
    return 1;
}

std::string SimConsole::LineSettings(uint32_t* baud) const
{
    termios tio {};
    if (::tcgetattr(master_, &tio) != 0)
        return {};
    *baud = BaudOf(::cfgetospeed(&tio));
    int bits = 8;
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        bits = 5;
        break;
    case CS6:
        bits = 6;
        break;
    case CS7:
        bits = 7;
        break;
    default:
        bits = 8;
        break;
    }
    char parity = !(tio.c_cflag & PARENB) ? 'N' : (tio.c_cflag & PARODD) ? 'O' : 'E';
    return StrFormat("%u %d%c%d rtscts=%s", *baud, bits, parity, (tio.c_cflag & CSTOPB) ? 2 : 1,
        (tio.c_cflag & CRTSCTS) ? "on" : "off");
}

void SimConsole::OnTick(uint32_t now)
{
    std::string out = protocol_->Tick(now);
    if (!out.empty() && pending_.size() + out.size() <= (1u << 20))
        pending_ += out;
    Flush();
    uint32_t baud = 0;
    std::string settings = LineSettings(&baud);
    if (settings != lastSettings_) {
        lastSettings_ = settings;
        if (options_.verbose) {
            std::printf("%s: line %s\n", options_.path.c_str(), settings.c_str());
            std::fflush(stdout);
        }
    }
}

void SimConsole::OnReadable(uint32_t now)
{
    char buffer[4096];
    ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0)
        return;
    // The settings the bytes came with: a change is noted before they are taken.
    OnTick(now);
    uint32_t baud = 0;
    LineSettings(&baud);
    std::string out = protocol_->Input(std::string_view(buffer, static_cast<size_t>(n)), baud, now);
    // What the terminal cannot take yet waits for the next tick; a line nobody reads for long loses
    // what goes beyond a megabyte, as a real line loses what nobody listens to.
    if (pending_.size() + out.size() <= (1u << 20))
        pending_ += out;
    Flush();
}

void SimConsole::Flush()
{
    while (!pending_.empty()) {
        ssize_t w = ::write(master_, pending_.data(), pending_.size());
        if (w <= 0)
            return;
        pending_.erase(0, static_cast<size_t>(w));
    }
}
