// The remote-access service on Windows: "rasapi32.dll" loaded at start-up and its twelve functions
// bound by name, so that the program runs (without dial-up) where the library or a function is missing.
#include "common/platform/dialup.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <ras.h>
#include <raserror.h>
#include <vector>

namespace {
using CreatePhonebookEntryFn = DWORD(WINAPI*)(HWND, LPCSTR);
using DeleteEntryFn = DWORD(WINAPI*)(LPCSTR, LPCSTR);
using DialFn = DWORD(WINAPI*)(LPRASDIALEXTENSIONS, LPCSTR, LPRASDIALPARAMSA, DWORD, LPVOID, LPHRASCONN);
using EditPhonebookEntryFn = DWORD(WINAPI*)(HWND, LPCSTR, LPCSTR);
using EnumDevicesFn = DWORD(WINAPI*)(LPRASDEVINFOA, LPDWORD, LPDWORD);
using GetEntryPropertiesFn = DWORD(WINAPI*)(LPCSTR, LPCSTR, LPRASENTRYA, LPDWORD, LPBYTE, LPDWORD);
using GetErrorStringFn = DWORD(WINAPI*)(UINT, LPSTR, DWORD);
using GetConnectStatusFn = DWORD(WINAPI*)(HRASCONN, LPRASCONNSTATUSA);
using GetProjectionInfoFn = DWORD(WINAPI*)(HRASCONN, RASPROJECTION, LPVOID, LPDWORD);
using HangUpFn = DWORD(WINAPI*)(HRASCONN);
using SetEntryPropertiesFn = DWORD(WINAPI*)(LPCSTR, LPCSTR, LPRASENTRYA, DWORD, LPBYTE, DWORD);
using ValidateEntryNameFn = DWORD(WINAPI*)(LPCSTR, LPCSTR);

struct RasFunctions {
    CreatePhonebookEntryFn createPhonebookEntry = nullptr;
    DeleteEntryFn deleteEntry = nullptr;
    DialFn dial = nullptr;
    EditPhonebookEntryFn editPhonebookEntry = nullptr;
    EnumDevicesFn enumDevices = nullptr;
    GetEntryPropertiesFn getEntryProperties = nullptr;
    GetErrorStringFn getErrorString = nullptr;
    GetConnectStatusFn getConnectStatus = nullptr;
    GetProjectionInfoFn getProjectionInfo = nullptr;
    HangUpFn hangUp = nullptr;
    SetEntryPropertiesFn setEntryProperties = nullptr;
    ValidateEntryNameFn validateEntryName = nullptr;
};

HMODULE g_library = nullptr;
RasFunctions g_ras;
bool g_bound = false;
bool g_tried = false;

// The outcome of the one dial running (the platform reports it on a thread of its own).
std::atomic<int> g_outcome { static_cast<int>(DialupOutcome::Pending) };
std::atomic<int> g_error { 0 };

VOID WINAPI OnDialEvent(UINT, RASCONNSTATE state, DWORD error)
{
    if (error != 0) {
        g_error = static_cast<int>(error);
        g_outcome = static_cast<int>(DialupOutcome::Failed);
    } else if (state == RASCS_Connected) {
        g_outcome = static_cast<int>(DialupOutcome::Connected);
    } else if (state == RASCS_Disconnected) {
        g_error = ERROR_DISCONNECTION;
        g_outcome = static_cast<int>(DialupOutcome::Failed);
    }
}

void Copy(char* to, size_t room, const std::string& from)
{
    size_t n = std::min(room - 1, from.size());
    std::memcpy(to, from.data(), n);
    to[n] = 0;
}

class WinDialup : public Dialup {
public:
    bool Available() override
    {
        return g_bound;
    }

    int ValidateEntryName(const std::string& name) override
    {
        return g_bound ? static_cast<int>(g_ras.validateEntryName(nullptr, name.c_str())) : -1;
    }

    int GetEntryProperties(const std::string& name, DialupEntryProperties* p) override
    {
        if (!g_bound)
            return -1;
        std::vector<BYTE> buffer;
        DWORD code = Read(name.c_str(), buffer);
        // A new entry starts from the platform's defaults.
        if (code == ERROR_CANNOT_FIND_PHONEBOOK_ENTRY)
            code = Read("", buffer);
        if (code != 0)
            return static_cast<int>(code);
        const RASENTRYA& e = *reinterpret_cast<const RASENTRYA*>(buffer.data());
        p->options = e.dwfOptions;
        p->local_phone = e.szLocalPhoneNumber;
        p->protocols = e.dwfNetProtocols;
        p->framing = e.dwFramingProtocol;
        p->device_type = e.szDeviceType;
        p->device_name = e.szDeviceName;
        p->ip_address
            = (uint32_t(e.ipaddr.a) << 24) | (uint32_t(e.ipaddr.b) << 16) | (uint32_t(e.ipaddr.c) << 8) | e.ipaddr.d;
        return 0;
    }

    int SetEntryProperties(const std::string& name, const DialupEntryProperties& p) override
    {
        if (!g_bound)
            return -1;
        std::vector<BYTE> buffer;
        DWORD code = Read(name.c_str(), buffer);
        if (code == ERROR_CANNOT_FIND_PHONEBOOK_ENTRY)
            code = Read("", buffer);
        if (code != 0)
            return static_cast<int>(code);
        RASENTRYA& e = *reinterpret_cast<RASENTRYA*>(buffer.data());
        e.dwfOptions = p.options;
        Copy(e.szLocalPhoneNumber, sizeof e.szLocalPhoneNumber, p.local_phone);
        e.dwfNetProtocols = p.protocols;
        e.dwFramingProtocol = p.framing;
        Copy(e.szDeviceType, sizeof e.szDeviceType, p.device_type);
        Copy(e.szDeviceName, sizeof e.szDeviceName, p.device_name);
        e.ipaddr.a = static_cast<BYTE>(p.ip_address >> 24);
        e.ipaddr.b = static_cast<BYTE>(p.ip_address >> 16);
        e.ipaddr.c = static_cast<BYTE>(p.ip_address >> 8);
        e.ipaddr.d = static_cast<BYTE>(p.ip_address);
        return static_cast<int>(
            g_ras.setEntryProperties(nullptr, name.c_str(), &e, static_cast<DWORD>(buffer.size()), nullptr, 0));
    }

    int DeleteEntry(const std::string& name) override
    {
        return g_bound ? static_cast<int>(g_ras.deleteEntry(nullptr, name.c_str())) : -1;
    }

    std::vector<DialupDeviceInfo> Devices() override
    {
        std::vector<DialupDeviceInfo> devices;
        if (!g_bound)
            return devices;
        // Asked with room for one device first, then with the room the platform names.
        size_t room = 1;
        DWORD count = 0, code = 0;
        std::unique_ptr<RASDEVINFOA[]> infos;
        for (int attempt = 0; attempt < 2; ++attempt) {
            infos.reset(new RASDEVINFOA[room]());
            for (size_t i = 0; i < room; ++i)
                infos[i].dwSize = sizeof(RASDEVINFOA);
            DWORD bytes = static_cast<DWORD>(room * sizeof(RASDEVINFOA));
            code = g_ras.enumDevices(infos.get(), &bytes, &count);
            if (code != ERROR_BUFFER_TOO_SMALL)
                break;
            room = bytes / sizeof(RASDEVINFOA) + 1;
        }
        if (code != 0)
            return devices;
        for (DWORD i = 0; i < count && i < room; ++i)
            devices.push_back({ infos[i].szDeviceType, infos[i].szDeviceName });
        return devices;
    }

    int Dial(const std::string& entry, const std::string& phone, const std::string& user, const std::string& password,
        uintptr_t* connection) override
    {
        *connection = 0;
        if (!g_bound)
            return -1;
        RASDIALPARAMSA params {};
        params.dwSize = sizeof params;
        Copy(params.szEntryName, sizeof params.szEntryName, entry);
        Copy(params.szPhoneNumber, sizeof params.szPhoneNumber, phone);
        Copy(params.szUserName, sizeof params.szUserName, user);
        Copy(params.szPassword, sizeof params.szPassword, password);
        g_outcome = static_cast<int>(DialupOutcome::Pending);
        g_error = 0;
        HRASCONN handle = nullptr;
        DWORD code = g_ras.dial(nullptr, nullptr, &params, 0, reinterpret_cast<LPVOID>(&OnDialEvent), &handle);
        SecureZeroMemory(params.szPassword, sizeof params.szPassword);
        *connection = reinterpret_cast<uintptr_t>(handle);
        return static_cast<int>(code);
    }

    DialupOutcome Outcome(uintptr_t, int* error) override
    {
        *error = g_error.load();
        return static_cast<DialupOutcome>(g_outcome.load());
    }

    bool IsConnected(uintptr_t connection) override
    {
        if (!g_bound || !connection)
            return false;
        RASCONNSTATUSA status {};
        status.dwSize = sizeof status;
        return g_ras.getConnectStatus(reinterpret_cast<HRASCONN>(connection), &status) == 0
            && status.rasconnstate == RASCS_Connected;
    }

    bool HasIp(uintptr_t connection) override
    {
        if (!g_bound || !connection)
            return false;
        RASPPPIPA ip {};
        ip.dwSize = sizeof ip;
        DWORD size = sizeof ip;
        return g_ras.getProjectionInfo(reinterpret_cast<HRASCONN>(connection), RASP_PppIp, &ip, &size) == 0
            && ip.dwError == 0;
    }

    void HangUp(uintptr_t connection) override
    {
        if (!g_bound || !connection)
            return;
        HRASCONN handle = reinterpret_cast<HRASCONN>(connection);
        g_ras.hangUp(handle);
        // The line is free once the connection's state can no longer be read (at most 3 s).
        RASCONNSTATUSA status {};
        status.dwSize = sizeof status;
        for (int i = 0; i < 300 && g_ras.getConnectStatus(handle, &status) != ERROR_INVALID_HANDLE; ++i)
            Sleep(10);
    }

    std::string ErrorText(int code) override
    {
        char text[512] = {};
        if (g_bound && code > 0 && g_ras.getErrorString(static_cast<UINT>(code), text, sizeof text) == 0 && text[0])
            return text;
        // Not one of the remote-access codes: the system's message table.
        DWORD n = code > 0 ? FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                      static_cast<DWORD>(code), 0, text, sizeof text, nullptr)
                           : 0;
        while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n'))
            text[--n] = 0;
        return std::string(text, n);
    }

private:
    // The entry's properties into `buffer` (as large as the platform asks). 0 or the error code.
    static DWORD Read(const char* name, std::vector<BYTE>& buffer)
    {
        DWORD size = sizeof(RASENTRYA);
        for (int attempt = 0; attempt < 2; ++attempt) {
            buffer.assign(std::max<DWORD>(size, sizeof(RASENTRYA)), 0);
            reinterpret_cast<RASENTRYA*>(buffer.data())->dwSize = sizeof(RASENTRYA);
            size = static_cast<DWORD>(buffer.size());
            DWORD code = g_ras.getEntryProperties(
                nullptr, name, reinterpret_cast<RASENTRYA*>(buffer.data()), &size, nullptr, nullptr);
            if (code != ERROR_BUFFER_TOO_SMALL)
                return code;
        }
        return ERROR_BUFFER_TOO_SMALL;
    }
};

template<typename T> bool Bind(T* target, const char* name)
{
    *target = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(g_library, name)));
    return *target != nullptr;
}
} // namespace

int DialupLoad()
{
    if (g_tried)
        return g_bound ? 1 : 0;
    g_tried = true;
    g_library = LoadLibraryA("rasapi32.dll");
    if (!g_library)
        return 0;
    // In this order; any one missing means no dial-up support.
    g_bound = Bind(&g_ras.createPhonebookEntry, "RasCreatePhonebookEntryA")
        && Bind(&g_ras.deleteEntry, "RasDeleteEntryA") && Bind(&g_ras.dial, "RasDialA")
        && Bind(&g_ras.editPhonebookEntry, "RasEditPhonebookEntryA") && Bind(&g_ras.enumDevices, "RasEnumDevicesA")
        && Bind(&g_ras.getEntryProperties, "RasGetEntryPropertiesA")
        && Bind(&g_ras.getErrorString, "RasGetErrorStringA") && Bind(&g_ras.getConnectStatus, "RasGetConnectStatusA")
        && Bind(&g_ras.getProjectionInfo, "RasGetProjectionInfoA") && Bind(&g_ras.hangUp, "RasHangUpA")
        && Bind(&g_ras.setEntryProperties, "RasSetEntryPropertiesA")
        && Bind(&g_ras.validateEntryName, "RasValidateEntryNameA");
    return g_bound ? 1 : 0;
}

void DialupUnload()
{
    g_bound = false;
    g_ras = RasFunctions {};
    if (g_library)
        FreeLibrary(g_library);
    g_library = nullptr;
    g_tried = false;
}

Dialup& DialupSystem()
{
    // Bound on first use when start-up did not (the command-line tool has no start-up hook).
    if (!g_tried)
        DialupLoad();
    static WinDialup dialup;
    return dialup;
}
