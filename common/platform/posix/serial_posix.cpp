// Serial ports on POSIX systems: a device path opened with termios in raw mode.
#include "common/platform/serial.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
speed_t SpeedCode(uint32_t baud)
{
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}

uint32_t NowMs()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

class PosixSerialPort : public SerialPort {
public:
    explicit PosixSerialPort(int fd)
        : fd_(fd)
    {
    }
    ~PosixSerialPort() override
    {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }

    int Configure(const SerialOptions& options, std::string* error)
    {
        termios tio {};
        if (::tcgetattr(fd_, &tio) != 0) {
            *error = std::strerror(errno);
            return 0;
        }
        // 8N1, raw bytes, no XON/XOFF, receiver on, modem control lines honoured.
        ::cfmakeraw(&tio);
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CREAD | CLOCAL;
        if (options.rtsCts)
            tio.c_cflag |= CRTSCTS;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        speed_t speed = SpeedCode(options.baud);
        if (speed == B0 || ::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0
            || ::tcsetattr(fd_, TCSANOW, &tio) != 0) {
            *error = speed == B0 ? "unsupported speed" : std::strerror(errno);
            return 0;
        }
        // DTR on; RTS on (with the handshake the driver moves it itself). A port without modem lines
        // (a pseudo-terminal) refuses this, which is no error.
        int lines = TIOCM_DTR | (options.rtsCts ? 0 : TIOCM_RTS);
        ::ioctl(fd_, TIOCMBIS, &lines);
        return 1;
    }

    int SetBaud(uint32_t baud) override
    {
        termios tio {};
        speed_t speed = SpeedCode(baud);
        if (speed == B0 || ::tcgetattr(fd_, &tio) != 0)
            return 0;
        if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)
            return 0;
        return ::tcsetattr(fd_, TCSANOW, &tio) == 0 ? 1 : 0;
    }

    int Write(const void* data, size_t size) override
    {
        // 10 ms per byte plus 100 ms, as the console's write time-out.
        uint32_t start = NowMs();
        uint32_t limit = static_cast<uint32_t>(size) * 10 + 100;
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t n = ::write(fd_, p, size);
            if (n > 0) {
                p += n;
                size -= static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return 0;
            uint32_t spent = NowMs() - start;
            if (spent >= limit)
                return 0;
            pollfd pfd { fd_, POLLOUT, 0 };
            ::poll(&pfd, 1, static_cast<int>(limit - spent));
        }
        return 1;
    }

    int Read(void* data, size_t size, uint32_t timeoutMs) override
    {
        pollfd pfd { fd_, POLLIN, 0 };
        int ready = ::poll(&pfd, 1, static_cast<int>(timeoutMs));
        if (ready < 0)
            return errno == EINTR ? 0 : -1;
        if (ready == 0)
            return 0;
        ssize_t n = ::read(fd_, data, size);
        if (n < 0)
            return errno == EAGAIN || errno == EINTR ? 0 : -1;
        if (n == 0 && (pfd.revents & (POLLHUP | POLLERR)))
            return -1;
        return static_cast<int>(n);
    }

    void SendBreak(uint32_t ms) override
    {
        if (::ioctl(fd_, TIOCSBRK) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            ::ioctl(fd_, TIOCCBRK);
        } else {
            // No BREAK control (a pseudo-terminal): the line keeps quiet for the same time.
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
    }

    void Discard() override
    {
        ::tcflush(fd_, TCIFLUSH);
    }

private:
    int fd_;
};
} // namespace

std::unique_ptr<SerialPort> SerialOpen(std::string_view name, const SerialOptions& options, std::string* error)
{
    std::string path(name);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return nullptr;
    }
    // Exclusive use: a lock every user of the port takes, and the terminal's own exclusive mode (which
    // does not bind the superuser, hence the lock as well).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *error = "the port is in use";
        ::close(fd);
        return nullptr;
    }
    if (!::isatty(fd)) {
        *error = "not a serial port";
        ::close(fd);
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);
    auto port = std::make_unique<PosixSerialPort>(fd);
    if (!port->Configure(options, error))
        return nullptr;
    return port;
}
