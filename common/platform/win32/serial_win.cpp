// Serial ports on Windows: COM ports through the communications functions.
#include "common/platform/serial.h"

#include <windows.h>

namespace {
std::string ErrorText(DWORD code)
{
    char buffer[256] = {};
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer, sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == '.'))
        buffer[--n] = 0;
    return n ? std::string(buffer) : "error " + std::to_string(code);
}

class WinSerialPort : public SerialPort {
public:
    explicit WinSerialPort(HANDLE handle)
        : handle_(handle)
    {
    }
    ~WinSerialPort() override
    {
        CloseHandle(handle_);
    }

    int Configure(const SerialOptions& options, std::string* error)
    {
        DCB dcb {};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb)) {
            *error = ErrorText(GetLastError());
            return 0;
        }
        dcb.BaudRate = options.baud;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        if (options.rtsCts) {
            dcb.fOutxCtsFlow = TRUE;
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        } else {
            dcb.fOutxCtsFlow = FALSE;
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
        }
        if (!SetCommState(handle_, &dcb)) {
            *error = ErrorText(GetLastError());
            return 0;
        }
        COMMTIMEOUTS timeouts {};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = 100;
        timeouts.WriteTotalTimeoutMultiplier = 10; // 10 ms per byte
        timeouts.WriteTotalTimeoutConstant = 100; // plus 100 ms
        if (!SetCommTimeouts(handle_, &timeouts)) {
            *error = ErrorText(GetLastError());
            return 0;
        }
        readTimeout_ = 100;
        return 1;
    }

    int SetBaud(uint32_t baud) override
    {
        DCB dcb {};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb))
            return 0;
        dcb.BaudRate = baud;
        return SetCommState(handle_, &dcb) ? 1 : 0;
    }

    int Write(const void* data, size_t size) override
    {
        DWORD written = 0;
        if (!WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr))
            return 0;
        return written == size ? 1 : 0;
    }

    int Read(void* data, size_t size, uint32_t timeoutMs) override
    {
        // With interval and multiplier at MAXDWORD, a read returns as soon as a byte is there, and
        // waits at most the constant for the first one.
        if (timeoutMs != readTimeout_) {
            COMMTIMEOUTS timeouts {};
            if (!GetCommTimeouts(handle_, &timeouts))
                return -1;
            timeouts.ReadIntervalTimeout = MAXDWORD;
            timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
            timeouts.ReadTotalTimeoutConstant = timeoutMs ? timeoutMs : 1;
            if (!SetCommTimeouts(handle_, &timeouts))
                return -1;
            readTimeout_ = timeoutMs;
        }
        DWORD got = 0;
        if (!ReadFile(handle_, data, static_cast<DWORD>(size), &got, nullptr))
            return -1;
        return static_cast<int>(got);
    }

    void SendBreak(uint32_t ms) override
    {
        // A port without BREAK refuses it; the line then keeps quiet for the same time.
        BOOL set = SetCommBreak(handle_);
        Sleep(ms);
        if (set)
            ClearCommBreak(handle_);
    }

    void Discard() override
    {
        PurgeComm(handle_, PURGE_RXCLEAR);
    }

private:
    HANDLE handle_;
    uint32_t readTimeout_ = 0;
};
} // namespace

std::unique_ptr<SerialPort> SerialOpen(std::string_view name, const SerialOptions& options, std::string* error)
{
    // "\\.\COMn": the device namespace, without which COM10 and above do not open.
    std::string path(name);
    if (path.rfind("\\\\.\\", 0) != 0)
        path = "\\\\.\\" + path;
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = ErrorText(GetLastError());
        return nullptr;
    }
    auto port = std::make_unique<WinSerialPort>(handle);
    if (!port->Configure(options, error))
        return nullptr;
    return port;
}
