// The Win32 desktop routines on real windows (under Wine on an X display).
#include "common/ini.h"
#include "common/ui/desktop.h"

#include <windows.h>

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace {
class DesktopWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        char display[64];
        if (!GetEnvironmentVariableA("DISPLAY", display, sizeof display))
            GTEST_SKIP() << "no display";
        WNDCLASSA wc {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "DesktopTestWindowClass";
        RegisterClassA(&wc);
        window_ = CreateWindowA("DesktopTestWindowClass", "Desktop test", WS_OVERLAPPEDWINDOW, 50, 60, 320, 240,
            nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(window_, nullptr);
        char tmp[MAX_PATH];
        GetTempPathA(sizeof tmp, tmp);
        ini_ = std::string(tmp) + "desktop_win_test.ini";
        DeleteFileA(ini_.c_str());
    }
    void TearDown() override
    {
        if (window_)
            DestroyWindow(window_);
        DeleteFileA(ini_.c_str());
    }
    RECT Rect() const
    {
        RECT r;
        GetWindowRect(window_, &r);
        return r;
    }
    HWND window_ = nullptr;
    std::string ini_;
};
} // namespace

TEST_F(DesktopWindows, FourNumbersWithMinMaxFlagsRestoreANormalWindow)
{
    IniWriteString(ini_, "Window", "Main", "10,20,300,200");
    ASSERT_EQ(RestoreWindowPlacement(window_, ini_.c_str(), "Window", "Main", 1 | 2 | 16), 1);
    RECT r = Rect();
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right - r.left, 300);
    EXPECT_EQ(r.bottom - r.top, 200);
    EXPECT_FALSE(IsZoomed(window_));
    EXPECT_FALSE(IsIconic(window_));
    EXPECT_TRUE(IsWindowVisible(window_));
}

TEST_F(DesktopWindows, ZeroWidthLeavesTheWindowAlone)
{
    RECT before = Rect();
    IniWriteString(ini_, "Frame", "XPos", "10");
    IniWriteString(ini_, "Frame", "YPos", "20");
    IniWriteString(ini_, "Frame", "XSize", "0");
    IniWriteString(ini_, "Frame", "YSize", "200");
    EXPECT_EQ(RestoreWindowPlacement(window_, ini_.c_str(), "Frame", nullptr, 0), 0);
    RECT after = Rect();
    EXPECT_TRUE(EqualRect(&before, &after));
    EXPECT_FALSE(IsWindowVisible(window_));
}

TEST_F(DesktopWindows, SaveAndRestoreRoundTripWithStates)
{
    MoveWindow(window_, 30, 40, 250, 150, FALSE);
    ShowWindow(window_, SW_SHOWMAXIMIZED);
    ASSERT_EQ(SaveWindowPlacement(window_, ini_.c_str(), "Window", "Main", 1 | 2 | 8), 1);
    EXPECT_EQ(IniGetString(ini_, "Window", "Main", ""), "30,40,250,150,0,1,0,0");
    ShowWindow(window_, SW_RESTORE);
    MoveWindow(window_, 0, 0, 100, 100, FALSE);
    ASSERT_EQ(RestoreWindowPlacement(window_, ini_.c_str(), "Window", "Main", 1 | 2 | 8), 1);
    EXPECT_TRUE(IsZoomed(window_));
}

TEST_F(DesktopWindows, CentringNearTheRightEdgeStopsAtTheWorkArea)
{
    RECT work = GetMonitorWorkArea(window_);
    HWND owner = CreateWindowA("DesktopTestWindowClass", "Owner", WS_OVERLAPPEDWINDOW, work.right - 150, 100, 300, 300,
        nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(owner, nullptr);
    CenterWindow(window_, owner);
    RECT r = Rect();
    EXPECT_EQ(r.right, work.right);
    EXPECT_EQ(r.right - r.left, 320);
    DestroyWindow(owner);
}

TEST(Desktop, CommonControlsAndLanguage)
{
    DWORD major = 0, minor = 0;
    GetCommonControlsVersion(&major, &minor);
    EXPECT_GE(major, 4u);
    char name[64];
    EXPECT_NE(GetUserInterfaceLanguage(name, sizeof name), 0);
    EXPECT_NE(GetProgramDirectory(), "");
    EXPECT_EQ(GetProgramDirectory().back(), '\\');
}

TEST(Desktop, RunOnceEntryHoldsTheProgramPath)
{
    ASSERT_EQ(RegisterRunOnce(nullptr), 1);
    std::string path = GetProgramPath();
    std::string name = path.substr(path.find_last_of('\\') + 1);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0,
                  KEY_READ | KEY_SET_VALUE, &key),
        ERROR_SUCCESS);
    char data[MAX_PATH] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(
        RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
    EXPECT_EQ(path, data);
    RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
}
