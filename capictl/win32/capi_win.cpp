#include "capictl/win32/capi_win.h"

#include "capictl/capi_records.h"

#include <windows.h>

#include <mutex>

namespace {
// CancelIoEx came with Vista: bound by name, so the program still starts where it is missing.
using CancelIoExFn = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);

CancelIoExFn BindCancelIoEx()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? reinterpret_cast<CancelIoExFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "CancelIoEx")))
                  : nullptr;
}

class Win32Device : public CapiDevice {
public:
    Win32Device(HANDLE handle, HANDLE event)
        : handle_(handle)
        , event_(event)
        , cancelIoEx_(BindCancelIoEx())
    {
    }
    ~Win32Device() override
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        CloseHandle(event_);
    }

    uint32_t GetStatus(uint8_t* buffer, uint32_t size, uint32_t* bytes) override
    {
        {
            // Issued under the lock that Cancel takes: a request is either issued before the cancel (and
            // cancelled by it) or sees the flag, never issued after it on a closed handle.
            std::lock_guard<std::mutex> lock(mutex_);
            if (cancelled_)
                return ERROR_OPERATION_ABORTED;
            ZeroMemory(&overlapped_, sizeof overlapped_);
            overlapped_.hEvent = event_;
            // A request that failed at once may have left the event set: the wait below must see this one.
            ResetEvent(event_);
            DWORD got = 0;
            if (!DeviceIoControl(handle_, kCapiIoctlGetStatus, nullptr, 0, buffer, size, &got, &overlapped_)) {
                DWORD error = GetLastError();
                if (error != ERROR_IO_PENDING)
                    return error;
            }
        }
        DWORD got = 0;
        if (!GetOverlappedResult(handle_, &overlapped_, &got, TRUE))
            return GetLastError();
        *bytes = got;
        return 0;
    }

    uint32_t Control(const uint8_t* data, uint32_t size) override
    {
        HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!event)
            return GetLastError();
        OVERLAPPED overlapped {};
        overlapped.hEvent = event;
        DWORD got = 0;
        DWORD error = 0;
        if (!DeviceIoControl(
                handle_, kCapiIoctlControl, const_cast<uint8_t*>(data), size, nullptr, 0, &got, &overlapped)) {
            error = GetLastError();
            if (error == ERROR_IO_PENDING)
                error = GetOverlappedResult(handle_, &overlapped, &got, TRUE) ? 0 : GetLastError();
        }
        CloseHandle(event);
        return error;
    }

    void Cancel() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
        if (cancelIoEx_) {
            cancelIoEx_(handle_, &overlapped_);
        } else {
            // Without CancelIoEx the pending request ends with the handle, as it always did.
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }

private:
    std::mutex mutex_;
    HANDLE handle_;
    HANDLE event_; // auto-reset, for the status requests
    OVERLAPPED overlapped_ {};
    bool cancelled_ = false;
    CancelIoExFn cancelIoEx_;
};
} // namespace

std::unique_ptr<CapiDevice> CapiOpenWin32Device(const std::string& name, uint32_t* error)
{
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_OVERLAPPED | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return nullptr;
    }
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!event) {
        *error = GetLastError();
        CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<Win32Device>(handle, event);
}

CapiPlatform CapiWin32Platform(const std::string& device, const std::string& altDevice, std::function<void()> notify)
{
    CapiPlatform p;
    p.open = CapiOpenWin32Device;
    p.notify = std::move(notify);
    p.windows9x = CapiSystemFamily() == CapiFamily::Windows9x;
    p.device = "\\\\.\\" + device;
    if (!altDevice.empty())
        p.altDevice = "\\\\.\\" + altDevice;
    return p;
}

std::function<void()> CapiNotifyWindow(void* window)
{
    HWND hwnd = static_cast<HWND>(window);
    return [hwnd] { PostMessageA(hwnd, kCapiStatusMessage, 0, 0); };
}

CapiFamily CapiSystemFamily()
{
    return (GetVersion() & 0x80000000u) ? CapiFamily::Windows9x : CapiFamily::WindowsNT;
}

std::string CapiErrorText(uint32_t error)
{
    char text[512];
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    if (s.empty())
        s = "error " + std::to_string(error);
    return s;
}
