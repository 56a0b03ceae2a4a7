// capisim.exe: installs the substitute driver capisim.sys (beside this program) as the kernel-driver
// service "ZevraCapiDrv" and drives it through its control device. For the Wine tests only.
//   capisim install [--device NAME] | push FILE | log | fail 0|1 | remove
// Exit 0, or 1 with the reason on standard error.
#include "capictl/capi_format.h"
#include "capictl/capi_records.h"
#include "capictl/win32/capisim/capisim_ioctl.h"
#include "common/platform/file.h"
#include "common/platform/registry.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
int Fail(const std::string& reason, DWORD error = 0)
{
    std::string text = reason;
    if (error) {
        char buffer[512];
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, buffer,
            sizeof buffer, nullptr);
        std::string system(buffer, n);
        while (!system.empty() && (system.back() == '\n' || system.back() == '\r'))
            system.pop_back();
        text += ": " + (system.empty() ? "error " + std::to_string(error) : system);
    }
    std::fprintf(stderr, "capisim: %s\n", text.c_str());
    return 1;
}

struct Handle {
    SC_HANDLE h = nullptr;
    ~Handle()
    {
        if (h)
            CloseServiceHandle(h);
    }
};

// Stops the service and waits (bounded) until it says it stopped.
bool StopService(SC_HANDLE service)
{
    SERVICE_STATUS status {};
    if (!QueryServiceStatus(service, &status))
        return false;
    if (status.dwCurrentState == SERVICE_STOPPED)
        return true;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 200; ++i) {
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED)
            return true;
        Sleep(50);
    }
    return false;
}

HANDLE OpenControl(DWORD* error)
{
    HANDLE h = CreateFileA(
        "\\\\.\\" CAPISIM_CONTROL_DEVICE, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    *error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return h;
}

// One request on the control device; the bytes it returned in `out`.
DWORD ControlRequest(DWORD code, const std::string& in, std::string* out = nullptr, DWORD room = 0)
{
    DWORD error = 0;
    HANDLE h = OpenControl(&error);
    if (h == INVALID_HANDLE_VALUE)
        return error;
    std::vector<char> buffer(room ? room : 1);
    DWORD got = 0;
    BOOL ok = DeviceIoControl(
        h, code, const_cast<char*>(in.data()), static_cast<DWORD>(in.size()), buffer.data(), room, &got, nullptr);
    error = ok ? 0 : GetLastError();
    CloseHandle(h);
    if (ok && out)
        out->assign(buffer.data(), got);
    return error;
}

std::string DriverPath()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p(path, n);
    size_t slash = p.find_last_of("\\/");
    return (slash == std::string::npos ? std::string(".") : p.substr(0, slash)) + "\\capisim.sys";
}

int Install(const std::string& device)
{
    std::string driver = DriverPath();
    if (GetFileAttributesA(driver.c_str()) == INVALID_FILE_ATTRIBUTES)
        return Fail("missing " + driver, GetLastError());
    Handle manager, service;
    manager.h = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager.h)
        return Fail("cannot open the service control manager", GetLastError());
    // An installed service is stopped and reconfigured, never deleted: deleting it would take the
    // Parameters key the tests prepared with it.
    service.h = OpenServiceA(manager.h, CAPISIM_SERVICE, SERVICE_ALL_ACCESS);
    if (service.h) {
        if (!StopService(service.h))
            return Fail("the running driver did not stop");
        if (!ChangeServiceConfigA(service.h, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                driver.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
            return Fail("cannot reconfigure " CAPISIM_SERVICE, GetLastError());
    } else {
        service.h = CreateServiceA(manager.h, CAPISIM_SERVICE, CAPISIM_SERVICE, SERVICE_ALL_ACCESS,
            SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, driver.c_str(), nullptr, nullptr,
            nullptr, nullptr, nullptr);
        if (!service.h)
            return Fail("cannot create " CAPISIM_SERVICE, GetLastError());
    }
    RegKey key;
    if (key.Open(RegRoot::LocalMachine, "System\\CurrentControlSet\\Services\\" CAPISIM_SERVICE, RegAccess::ReadWrite)
            != RegStatus::Ok
        || key.WriteString(CAPISIM_DEVICE_VALUE, device) != RegStatus::Ok)
        return Fail("cannot write the device name to the service key");
    if (!StartServiceA(service.h, 0, nullptr))
        return Fail("cannot start " CAPISIM_SERVICE, GetLastError());
    // Ready when its control device opens.
    DWORD error = 0;
    for (int i = 0; i < 200; ++i) {
        HANDLE h = OpenControl(&error);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return 0;
        }
        Sleep(50);
    }
    return Fail("the driver started but its control device does not open", error);
}

int Remove()
{
    Handle manager, service;
    manager.h = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager.h)
        return Fail("cannot open the service control manager", GetLastError());
    service.h = OpenServiceA(manager.h, CAPISIM_SERVICE, SERVICE_ALL_ACCESS);
    if (!service.h)
        return Fail(CAPISIM_SERVICE " is not installed", GetLastError());
    if (!StopService(service.h))
        return Fail("the driver did not stop");
    if (!DeleteService(service.h))
        return Fail("cannot delete " CAPISIM_SERVICE, GetLastError());
    return 0;
}

int Push(const std::string& file)
{
    std::string data;
    if (!FileReadAll(file, &data))
        return Fail("cannot read " + file, GetLastError());
    if (data.size() > CAPISIM_MAX_STATUS)
        return Fail(file + " is larger than 64 KiB (" + std::to_string(data.size()) + " bytes): refused");
    if (DWORD error = ControlRequest(CAPISIM_IOCTL_PUSH, data))
        return Fail("push refused", error);
    return 0;
}

int Log()
{
    std::string log;
    DWORD error = 0;
    for (DWORD room = 65536; room <= CAPISIM_MAX_LOG; room *= 2) {
        error = ControlRequest(CAPISIM_IOCTL_LOG, "", &log, room);
        if (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA)
            break;
    }
    if (error)
        return Fail("cannot read the log", error);
    CapiWalker walk(reinterpret_cast<const uint8_t*>(log.data()), log.size());
    for (CapiRecordView record; walk.Next(&record);)
        std::printf("%s\n", CapiFormatControlRecord(record).c_str());
    return 0;
}

int SetFailing(const std::string& flag)
{
    if (flag != "0" && flag != "1")
        return Fail("fail takes 0 or 1");
    std::string in;
    CapiAppendLe32(&in, flag == "1" ? 1 : 0);
    if (DWORD error = ControlRequest(CAPISIM_IOCTL_FAIL, in))
        return Fail("fail refused", error);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    int rc = 1;
    if (args.size() == 1 && args[0] == "install")
        rc = Install(CAPISIM_DEFAULT_DEVICE);
    else if (args.size() == 3 && args[0] == "install" && args[1] == "--device")
        rc = Install(args[2]);
    else if (args.size() == 2 && args[0] == "push")
        rc = Push(args[1]);
    else if (args.size() == 1 && args[0] == "log")
        rc = Log();
    else if (args.size() == 2 && args[0] == "fail")
        rc = SetFailing(args[1]);
    else if (args.size() == 1 && args[0] == "remove")
        rc = Remove();
    else
        rc = Fail("usage: capisim install [--device NAME] | push FILE | log | fail 0|1 | remove");
    std::fflush(stdout);
    return rc;
}
