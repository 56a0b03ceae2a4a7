// The installer test's program, in the roles the sample product needs:
//   (as testsvc.exe, no arguments)  the test service SetupTestSvc: runs until it is told to stop
//   readlink LINK           prints a shortcut read back through the shell link object
//   hold FILE READY         holds FILE open without delete sharing, creates READY, waits to be killed
//                           or for the session's end (a restart), when it closes FILE
//   page TITLE BUTTON OUT   waits (bounded) until a window TITLE shows BUTTON enabled, has it drawn,
//                           writes the texts of its visible controls to OUT, one a line, and prints
//                           the window's rectangle on the screen ("WxH+X+Y")
//   click TITLE BUTTON      waits the same way, then clicks BUTTON (returns once the click is handled)
//   next TITLE CLICK BUTTON OUT   click TITLE CLICK, then page TITLE BUTTON OUT
//   window TITLE            waits (bounded) for a top-level window TITLE, closes it (waiting, bounded,
//                           until it is gone) and prints its class
//   walk TITLE DIR STEP...  a whole wizard in one run: pages kept (texts and pictures), clicks, windows
//                           closed (see Walk)
//                           the second instance ("second"), the grey list row ("grey"), message
//                           boxes ("box") and the refused Cancel ("refuse"): see Walk
//                           A BUTTON written "#N" is the button with control id N (the wizard's own
//                           buttons are labelled in the language of the system's resources).
//   anything else           appends "args: ..." to the file named by SETUP_TEST_LOG (the Exec lines)
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <objbase.h>
#include <prsht.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <string>
#include <vector>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;

void Report(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(g_status, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stop);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*)
{
    g_status = RegisterServiceCtrlHandlerExA("SetupTestSvc", Handler, nullptr);
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stop, INFINITE);
    Report(SERVICE_STOPPED);
}

HANDLE g_held = INVALID_HANDLE_VALUE;

LRESULT CALLBACK HolderProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_QUERYENDSESSION) {
        return TRUE;
    }
    if (msg == WM_ENDSESSION && wParam) {
        CloseHandle(g_held);
        g_held = INVALID_HANDLE_VALUE;
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

int ReadLink(const char* path)
{
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(
            CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, reinterpret_cast<void**>(&link)))) {
        return 1;
    }
    IPersistFile* file = nullptr;
    link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    if (file == nullptr || FAILED(file->Load(wide, STGM_READ))) {
        return 1;
    }
    char target[MAX_PATH] = {};
    char args[MAX_PATH] = {};
    char dir[MAX_PATH] = {};
    char icon[MAX_PATH] = {};
    int index = 0;
    link->GetPath(target, MAX_PATH, nullptr, 0);
    link->GetArguments(args, MAX_PATH);
    link->GetWorkingDirectory(dir, MAX_PATH);
    link->GetIconLocation(icon, MAX_PATH, &index);
    std::printf("target=%s\nargs=%s\ndir=%s\nicon=%s,%d\n", target, args, dir, icon, index);
    std::fflush(stdout);
    return 0;
}

// The texts of the wizard's controls, read through WM_GETTEXT (an edit field's text lives in the
// control, not in the window manager).
std::string ControlText(HWND control)
{
    char text[1024] = {};
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(
            control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &len)) {
        return {};
    }
    return std::string(text, std::min<size_t>(len, sizeof text - 1));
}

// A button's text without its mnemonic marks.
std::string Plain(std::string text)
{
    std::string plain;
    for (char c : text) {
        if (c != '&') {
            plain += c;
        }
    }
    return plain;
}

struct Search {
    const char* title;
    const char* button;
    HWND window;
    HWND found;
    HWND pinned = nullptr; // when set: only this window is searched
};

// Shown as far as the window `top`: the control and each parent below `top` have the visible style.
bool ShownWithin(HWND control, HWND top)
{
    for (HWND w = control; w != nullptr && w != top; w = GetParent(w)) {
        if ((GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) == 0) {
            return false;
        }
    }
    return true;
}

BOOL CALLBACK FindButton(HWND child, LPARAM param)
{
    Search* search = reinterpret_cast<Search*>(param);
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    bool named = search->button[0] == '#' ? GetDlgCtrlID(child) == std::atoi(search->button + 1)
                                          : Plain(ControlText(child)) == search->button;
    HWND top = search->pinned != nullptr ? search->pinned : GetAncestor(child, GA_ROOT);
    if (lstrcmpiA(cls, "Button") == 0 && ShownWithin(child, top) && IsWindowEnabled(child) && named) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindWindowWithButton(HWND window, LPARAM param)
{
    Search* search = reinterpret_cast<Search*>(param);
    char title[256] = {};
    GetWindowTextA(window, title, sizeof title);
    if (!IsWindowVisible(window) || std::strcmp(title, search->title) != 0) {
        return TRUE;
    }
    EnumChildWindows(window, FindButton, param);
    if (search->found != nullptr) {
        search->window = window;
        return FALSE;
    }
    return TRUE;
}

// Waits at most 120 s (polls of 100 ms) for the button; its window is then idle and drawn.
bool WaitForButton(Search* search)
{
    for (int i = 0; i < 1200; ++i) {
        if (search->pinned != nullptr && !IsWindow(search->pinned)) {
            std::fprintf(stderr, "the window \"%s\" is gone\n", search->title);
            return false;
        }
        search->window = search->pinned;
        search->found = nullptr;
        if (search->pinned != nullptr) {
            EnumChildWindows(search->pinned, FindButton, reinterpret_cast<LPARAM>(search));
        } else {
            EnumWindows(FindWindowWithButton, reinterpret_cast<LPARAM>(search));
        }
        if (search->found != nullptr) {
            RedrawWindow(search->window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(search->window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
            return true;
        }
        Sleep(100);
    }
    std::fprintf(stderr, "no window \"%s\" with an enabled button \"%s\"\n", search->title, search->button);
    return false;
}

struct TextSink {
    FILE* file;
    HWND top;
};

BOOL CALLBACK WriteControlText(HWND child, LPARAM param)
{
    TextSink* out = reinterpret_cast<TextSink*>(param);
    if (ShownWithin(child, out->top)) {
        std::string text = ControlText(child);
        if (!text.empty()) {
            std::fprintf(out->file, "%s\n", text.c_str());
        }
    }
    return TRUE;
}

bool WriteTexts(HWND window, const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    TextSink out = { file, window };
    EnumChildWindows(window, WriteControlText, reinterpret_cast<LPARAM>(&out));
    std::fclose(file);
    return true;
}

// The window's client area (the pages and the buttons) as a 24-bit bitmap file.
bool SaveClientBitmap(HWND window, const std::string& path)
{
    RECT r = {};
    GetClientRect(window, &r);
    const int width = r.right;
    const int height = r.bottom;
    if (width <= 0 || height <= 0) {
        return false;
    }
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as bitmap files keep their rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
    }
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    const DWORD size = stride * static_cast<DWORD>(height);
    FILE* file = ok ? std::fopen(path.c_str(), "wb") : nullptr;
    if (file != nullptr) {
        BITMAPFILEHEADER header = {};
        header.bfType = 0x4D42;
        header.bfOffBits = sizeof header + sizeof info.bmiHeader;
        header.bfSize = header.bfOffBits + size;
        info.bmiHeader.biSizeImage = size;
        ok = std::fwrite(&header, sizeof header, 1, file) == 1
            && std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, file) == 1
            && std::fwrite(bits, size, 1, file) == 1;
        std::fclose(file);
    }
    if (bitmap != nullptr) {
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return ok && file != nullptr;
}

int Page(const char* title, const char* button, const char* outPath)
{
    Search search = { title, button, nullptr, nullptr };
    if (!WaitForButton(&search) || !WriteTexts(search.window, outPath)) {
        return 1;
    }
    RECT r = {};
    GetWindowRect(search.window, &r);
    std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    std::fflush(stdout);
    return 0;
}

struct TopLevel {
    const char* title;
    HWND found;
};

BOOL CALLBACK FindTitled(HWND window, LPARAM param)
{
    TopLevel* search = reinterpret_cast<TopLevel*>(param);
    char title[256] = {};
    GetWindowTextA(window, title, sizeof title);
    if (IsWindowVisible(window) && std::strcmp(title, search->title) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Waits at most 60 s (polls of 100 ms) for the window, then closes it and waits as long for its end.
int CloseWindowTitled(const char* title)
{
    TopLevel search = { title, nullptr };
    for (int i = 0; i < 600 && search.found == nullptr; ++i) {
        EnumWindows(FindTitled, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) {
            Sleep(100);
        }
    }
    if (search.found == nullptr) {
        std::fprintf(stderr, "no window \"%s\"\n", title);
        return 1;
    }
    char cls[64] = {};
    GetClassNameA(search.found, cls, sizeof cls);
    PostMessageA(search.found, WM_CLOSE, 0, 0);
    for (int i = 0; i < 600 && IsWindow(search.found); ++i) {
        Sleep(100);
    }
    std::printf("%s\n", cls);
    std::fflush(stdout);
    return 0;
}

int Click(const char* title, const char* button)
{
    Search search = { title, button, nullptr, nullptr };
    if (!WaitForButton(&search)) {
        return 1;
    }
    // Sent, not posted: the page has changed (or the sheet has ended) when this returns.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(search.found, BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &ignored);
    return 0;
}

// Waits at most 120 s (polls of 100 ms) for a file.
bool WaitForFile(const std::string& path)
{
    for (int i = 0; i < 1200; ++i) {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        Sleep(100);
    }
    std::fprintf(stderr, "no file %s\n", path.c_str());
    return false;
}

// The pixels of a window's client area, 32 bits each, top row first.
std::vector<DWORD> ClientPixels(HWND window, int* width, int* height)
{
    RECT r = {};
    GetClientRect(window, &r);
    *width = r.right;
    *height = r.bottom;
    std::vector<DWORD> pixels;
    if (*width <= 0 || *height <= 0) {
        return pixels;
    }
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = *width;
    info.bmiHeader.biHeight = -*height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, *width, *height, screen, 0, 0, SRCCOPY)) {
            GdiFlush();
            const DWORD* p = static_cast<const DWORD*>(bits);
            pixels.assign(p, p + static_cast<size_t>(*width) * static_cast<size_t>(*height));
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return pixels;
}

int Luminance(DWORD rgb)
{
    return static_cast<int>((rgb >> 16 & 0xFF) * 30 + (rgb >> 8 & 0xFF) * 59 + (rgb & 0xFF) * 11) / 100;
}

// Row ROW of the list box: its text (right of the check box and the icon) is drawn, and in grey:
// no pixel darker than the system's grey text (black text would have them).
bool RowIsGrey(HWND list, int row)
{
    const int height = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
    const int top = (row - static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0))) * height;
    // Read through the top-level window (its device context is the one that reaches the screen).
    HWND root = GetAncestor(list, GA_ROOT);
    POINT origin = { 0, 0 };
    ClientToScreen(list, &origin);
    ScreenToClient(root, &origin);
    RECT client = {};
    GetClientRect(list, &client);
    int w = 0;
    int h = 0;
    std::vector<DWORD> pixels = ClientPixels(root, &w, &h);
    if (pixels.empty() || height <= 0 || top < 0 || top + height > client.bottom || origin.x < 0 || origin.y < 0
        || origin.x + client.right > w || origin.y + client.bottom > h) {
        std::fprintf(stderr, "row %d is not shown\n", row);
        return false;
    }
    const DWORD grey = GetSysColor(COLOR_GRAYTEXT);
    const int greyLevel = Luminance((grey & 0xFF) << 16 | (grey & 0xFF00) | (grey >> 16 & 0xFF));
    auto at = [&](int x, int y) { return pixels[static_cast<size_t>(origin.y + y) * w + origin.x + x] & 0xFFFFFF; };
    const DWORD background = at(client.right - 1, top);
    int drawn = 0;
    int darkest = 255;
    for (int y = top; y < top + height; ++y) {
        for (int x = 38; x < client.right; ++x) {
            DWORD p = at(x, y);
            if (p != background) {
                ++drawn;
                darkest = std::min(darkest, Luminance(p));
            }
        }
    }
    if (drawn < 10 || darkest < greyLevel - 8) {
        std::fprintf(
            stderr, "row %d: %d pixels drawn, the darkest %d, grey text is %d\n", row, drawn, darkest, greyLevel);
        return false;
    }
    return true;
}

// A message box (a top-level window TITLE with an enabled BUTTON, not the wizard): its texts to OUT,
// then a line "default:ID" with its default button, then BUTTON clicked.
bool AnswerBox(const char* title, const std::string& button, const std::string& outPath)
{
    Search search = { title, button.c_str(), nullptr, nullptr };
    if (!WaitForButton(&search) || !WriteTexts(search.window, outPath)) {
        return false;
    }
    // The default button: the one drawn as such, which also holds the focus (Enter presses it).
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(search.window, nullptr), &thread);
    int def = 0;
    for (HWND child = GetWindow(search.window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON && thread.hwndFocus == child) {
            def = GetDlgCtrlID(child);
        }
    }
    FILE* file = std::fopen(outPath.c_str(), "ab");
    if (file != nullptr) {
        std::fprintf(file, "default:%d\n", def);
        std::fclose(file);
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(search.found, BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &ignored);
    return true;
}

// While the installation runs: the wizard's Cancel is disabled, and a cancel request (the command Esc
// and the Cancel button give) leaves the wizard standing.
bool CancelRefused(HWND sheet)
{
    if (IsWindowEnabled(GetDlgItem(sheet, IDCANCEL))) {
        std::fprintf(stderr, "Cancel is enabled while the installation runs\n");
        return false;
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(sheet, WM_COMMAND, IDCANCEL, 0, SMTO_NORMAL, 10000, &ignored);
    if (!IsWindow(sheet) || !IsWindowVisible(sheet)) {
        std::fprintf(stderr, "the wizard was cancelled while the installation runs\n");
        return false;
    }
    return true;
}

// A second start of the installer while the wizard stands minimised: the second one ends (bounded:
// 120 s) and the wizard is restored and in front.
bool SecondStart(HWND sheet, const std::string& commandLine)
{
    ShowWindow(sheet, SW_MINIMIZE);
    if (!IsIconic(sheet)) {
        std::fprintf(stderr, "the wizard could not be minimised\n");
        return false;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "%s cannot be started: %lu\n", commandLine.c_str(), GetLastError());
        return false;
    }
    bool ended = WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!ended) {
        std::fprintf(stderr, "the second installer did not end\n");
        return false;
    }
    if (IsIconic(sheet) || !IsWindowVisible(sheet) || GetForegroundWindow() != sheet) {
        std::fprintf(stderr, "the wizard was not brought forward: minimised %d, visible %d, in front %d\n",
            IsIconic(sheet) ? 1 : 0, IsWindowVisible(sheet) ? 1 : 0, GetForegroundWindow() == sheet ? 1 : 0);
        return false;
    }
    return true;
}

// While the wizard's current page works: the position and upper limit of its progress bar (control ID)
// and whether it is shown, read through PBM_GETPOS and PBM_GETRANGE, to OUT: a line "POS MAX SHOWN" each
// time one of them changes, until the wizard turns to another page (bounded: 300 s).
bool SampleProgress(HWND sheet, int id, const std::string& outPath)
{
    auto currentPage = [&]() -> HWND {
        DWORD_PTR page = 0;
        SendMessageTimeoutA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, 5000, &page);
        return reinterpret_cast<HWND>(page);
    };
    HWND page = currentPage();
    HWND bar = page != nullptr ? GetDlgItem(page, id) : nullptr;
    if (bar == nullptr) {
        std::fprintf(stderr, "no progress bar %d on the current page\n", id);
        return false;
    }
    FILE* out = std::fopen(outPath.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    DWORD_PTR lastPos = ~DWORD_PTR(0);
    DWORD_PTR lastMax = ~DWORD_PTR(0);
    int lastShown = -1;
    const DWORD start = GetTickCount();
    bool movedOn = false;
    while (GetTickCount() - start < 300000) {
        DWORD_PTR pos = 0;
        DWORD_PTR max = 0;
        if (!SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &pos)
            || !SendMessageTimeoutA(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 5000, &max)) {
            movedOn = !IsWindow(bar);
            break;
        }
        int shown = IsWindowVisible(bar) ? 1 : 0;
        if (pos != lastPos || max != lastMax || shown != lastShown) {
            std::fprintf(out, "%lu %lu %d\n", static_cast<unsigned long>(pos), static_cast<unsigned long>(max), shown);
            lastPos = pos;
            lastMax = max;
            lastShown = shown;
        }
        if (!IsWindow(sheet) || currentPage() != page) {
            movedOn = true;
            break;
        }
        Sleep(1);
    }
    std::fclose(out);
    if (!movedOn) {
        std::fprintf(stderr, "the page with the progress bar did not end\n");
    }
    return movedOn;
}

// A whole wizard in one run, the window found by its title once and kept. Steps:
//   page:NAME:BUTTON  wait for the page showing BUTTON, its texts to DIR\NAME.txt, its picture to
//                     DIR\NAME.bmp
//   click:BUTTON      wait for BUTTON and click it
//   close:TITLE       wait for the top-level window TITLE and close it (the test program window role)
//   wait:FILE         wait for FILE to exist;  touch:FILE  create FILE
//   refuse            the installation runs: Cancel is disabled and a cancel request is refused
//   grey:ID:ROW       row ROW of list box ID is drawn in grey text
//   toggle:ID:ROW     row ROW of list box ID selected and the space key sent to it (not waited for)
//   box:NAME:BUTTON:TITLE  a message box TITLE: texts to DIR\NAME.txt and "default:ID" (the default
//                     button with the focus; 0: none), BUTTON clicked
//   second:COMMAND    the wizard minimised, COMMAND run to its end: the wizard is restored and in front
//   progress:ID:NAME  the progress bar ID of the current page sampled until the page ends (SampleProgress),
//                     to DIR\NAME.txt
int Walk(const char* title, const std::string& dir, int count, char** steps)
{
    Search search = { title, nullptr, nullptr, nullptr };
    for (int i = 0; i < count; ++i) {
        std::string step = steps[i];
        size_t colon = step.find(':');
        std::string verb = step.substr(0, colon);
        std::string rest = colon == std::string::npos ? std::string() : step.substr(colon + 1);
        bool ok = false;
        size_t split = rest.find(':');
        std::string first = rest.substr(0, split);
        std::string after = split == std::string::npos ? std::string() : rest.substr(split + 1);
        // A control of the wizard's current page by its id.
        auto control = [&]() -> HWND {
            HWND page = search.pinned != nullptr ? PropSheet_GetCurrentPageHwnd(search.pinned) : nullptr;
            return page != nullptr ? GetDlgItem(page, std::atoi(first.c_str())) : nullptr;
        };
        if (verb == "close") {
            ok = CloseWindowTitled(rest.c_str()) == 0;
        } else if (verb == "wait") {
            ok = WaitForFile(rest);
        } else if (verb == "touch") {
            FILE* file = std::fopen(rest.c_str(), "wb");
            ok = file != nullptr && std::fclose(file) == 0;
        } else if (verb == "refuse") {
            ok = search.pinned != nullptr && CancelRefused(search.pinned);
        } else if (verb == "grey") {
            HWND list = control();
            ok = list != nullptr && RowIsGrey(list, std::atoi(after.c_str()));
        } else if (verb == "toggle") {
            HWND list = control();
            ok = list != nullptr;
            if (ok) {
                DWORD_PTR ignored = 0;
                SendMessageTimeoutA(list, LB_SETCURSEL, std::atoi(after.c_str()), 0, SMTO_ABORTIFHUNG, 5000, &ignored);
                PostMessageA(list, WM_KEYDOWN, VK_SPACE, 1);
            }
        } else if (verb == "box") {
            size_t third = after.find(':');
            ok = third != std::string::npos
                && AnswerBox(after.substr(third + 1).c_str(), after.substr(0, third), dir + "\\" + first + ".txt");
        } else if (verb == "progress") {
            ok = search.pinned != nullptr
                && SampleProgress(search.pinned, std::atoi(first.c_str()), dir + "\\" + after + ".txt");
        } else if (verb == "second") {
            ok = search.pinned != nullptr && SecondStart(search.pinned, rest);
        } else if (verb == "click" || verb == "page") {
            size_t second = verb == "page" ? rest.find(':') : std::string::npos;
            std::string name = second == std::string::npos ? std::string() : rest.substr(0, second);
            std::string button = second == std::string::npos ? rest : rest.substr(second + 1);
            search.button = button.c_str();
            ok = WaitForButton(&search);
            search.pinned = search.window;
            if (ok && verb == "click") {
                DWORD_PTR ignored = 0;
                SendMessageTimeoutA(search.found, BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &ignored);
            } else if (ok) {
                ok = WriteTexts(search.window, dir + "\\" + name + ".txt")
                    && SaveClientBitmap(search.window, dir + "\\" + name + ".bmp");
            }
            search.button = nullptr;
        }
        if (!ok) {
            std::fprintf(stderr, "step %s failed\n", step.c_str());
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string self = argv[0];
    for (char& c : self) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (argc == 1 && self.find("testsvc") != std::string::npos) {
        SERVICE_TABLE_ENTRYA table[] = { { const_cast<char*>("SetupTestSvc"), ServiceMain }, { nullptr, nullptr } };
        return StartServiceCtrlDispatcherA(table) ? 0 : 1;
    }
    const char* role = argc > 1 ? argv[1] : "";
    if (std::strcmp(role, "readlink") == 0 && argc == 3) {
        return ReadLink(argv[2]);
    }
    if (std::strcmp(role, "hold") == 0 && argc == 4) {
        HANDLE held = CreateFileA(
            argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            return 1;
        }
        // A hidden window of its own: a restart of the system ends the session, and the file is
        // released then, as an application closes its files when the session ends.
        g_held = held;
        WNDCLASSA wc = {};
        wc.lpfnWndProc = HolderProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "SetupTestHolder";
        RegisterClassA(&wc);
        CreateWindowA("SetupTestHolder", "holder", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
        FILE* ready = std::fopen(argv[3], "w");
        if (ready != nullptr) {
            std::fclose(ready);
        }
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageA(&msg);
        }
        return 0;
    }
    if (std::strcmp(role, "page") == 0 && argc == 5) {
        return Page(argv[2], argv[3], argv[4]);
    }
    if (std::strcmp(role, "click") == 0 && argc == 4) {
        return Click(argv[2], argv[3]);
    }
    if (std::strcmp(role, "next") == 0 && argc == 6) {
        return Click(argv[2], argv[3]) != 0 ? 1 : Page(argv[2], argv[4], argv[5]);
    }
    if (std::strcmp(role, "window") == 0 && argc == 3) {
        return CloseWindowTitled(argv[2]);
    }
    if (std::strcmp(role, "walk") == 0 && argc >= 4) {
        return Walk(argv[2], argv[3], argc - 4, argv + 4);
    }
    const char* log = std::getenv("SETUP_TEST_LOG");
    FILE* out = log != nullptr ? std::fopen(log, "a") : nullptr;
    if (out == nullptr) {
        return 1;
    }
    std::fprintf(out, "args:");
    for (int i = 1; i < argc; ++i) {
        std::fprintf(out, " %s", argv[i]);
    }
    std::fprintf(out, "\n");
    std::fclose(out);
    return 0;
}
