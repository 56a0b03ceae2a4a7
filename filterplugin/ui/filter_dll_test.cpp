// qorvexal.dll loaded as the host loads it (PluginLoadPage, the nine exports bound by name on this
// program's instance), its pages in real property sheets and wizards on the display, driven through
// their controls; modal dialogs and message boxes are handled from a second thread while the page
// waits in them. The configuration's tables are checked in the store. Screenshots of every page and
// dialog in the five languages go to shots/ in the test's build folder.
#include "config/description/cfg_load.h"
#include "config/plugin/plugin.h"
#include "config/store/cfg_store.h"
#include "device/deviceentry.h"
#include "filterplugin/filter_pages.h"
#include "filterplugin/ui/filter_res.h"

#include <windows.h>

#include <atomic>
#include <commctrl.h>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <prsht.h>
#include <thread>

namespace {

// ---- windows of this process ----

struct Search {
    std::string prefix;
    HWND found = nullptr;
};

BOOL CALLBACK FindByTitle(HWND window, LPARAM param)
{
    auto* s = reinterpret_cast<Search*>(param);
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && IsWindowVisible(window) && IsWindowEnabled(window)
        && std::strncmp(title, s->prefix.c_str(), s->prefix.size()) == 0) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK PrintWindowTitle(HWND window, LPARAM)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    if (pid == GetCurrentProcessId())
        std::fprintf(stderr, "  window '%s' visible %d enabled %d\n", title, IsWindowVisible(window) ? 1 : 0,
            IsWindowEnabled(window) ? 1 : 0);
    return TRUE;
}

// The enabled top-level window whose title begins with `prefix`, waited for a bounded number of tries.
HWND WaitWindow(const std::string& prefix)
{
    std::fprintf(stderr, "wait %s\n", prefix.c_str());
    for (int i = 0; i < 1200; ++i) {
        Search s { prefix };
        EnumWindows(FindByTitle, reinterpret_cast<LPARAM>(&s));
        if (s.found)
            return s.found;
        Sleep(25);
    }
    EnumWindows(PrintWindowTitle, 0);
    return nullptr;
}

std::string Text(HWND window)
{
    char text[2048] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ItemText(HWND dialog, int id)
{
    return Text(GetDlgItem(dialog, id));
}

// The text of a message box (its static control with the message).
BOOL CALLBACK CollectStatic(HWND child, LPARAM param)
{
    char cls[32] = "";
    GetClassNameA(child, cls, sizeof cls);
    std::string text = Text(child);
    if (lstrcmpiA(cls, "Static") == 0 && text.size() > 1)
        *reinterpret_cast<std::string*>(param) = text;
    return TRUE;
}
std::string BoxText(HWND box)
{
    std::string text;
    EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&text));
    return text;
}

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Closes the enabled windows of this process but `keep` (a helper whose checks failed leaves its modal
// windows open; the test then fails instead of waiting for ever).
BOOL CALLBACK CancelWindow(HWND window, LPARAM keep)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && window != reinterpret_cast<HWND>(keep) && IsWindowVisible(window)
        && IsWindowEnabled(window)) {
        PostMessageA(window, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    }
    return TRUE;
}

HWND g_mainSheet = nullptr; // the test's own sheet, never cancelled by the rescue

// Runs `act` on this thread (it opens a modal window and returns when that closes) while `handle`
// works on the modal windows from a second thread.
void WithModal(const std::function<void()>& act, const std::function<void()>& handle)
{
    std::atomic<bool> done { false }, acted { false };
    std::thread helper([&] {
        handle();
        for (int i = 0; i < 1200 && !acted; ++i)
            Sleep(25);
        for (int i = 0; i < 20 && !acted; ++i) {
            ADD_FAILURE() << "modal windows left open";
            EnumWindows(CancelWindow, reinterpret_cast<LPARAM>(g_mainSheet));
            Sleep(250);
        }
        done = true;
    });
    act();
    acted = true;
    // Messages the helper sends may still be on their way.
    while (!done) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        Pump();
    }
    helper.join();
    Pump();
}

// Presses a button of a modal window from the helper thread.
void Click(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Clicks a radio button or check box as the user would: the check moves (radio buttons: away from the
// others of its group) and the dialog hears of the click.
void Choose(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    LONG type = GetWindowLongA(button, GWL_STYLE) & 0xF;
    if (type == BS_AUTORADIOBUTTON) {
        for (HWND other = GetNextDlgGroupItem(dialog, button, FALSE); other && other != button;
             other = GetNextDlgGroupItem(dialog, other, FALSE))
            if ((GetWindowLongA(other, GWL_STYLE) & 0xF) == BS_AUTORADIOBUTTON)
                SendMessageA(other, BM_SETCHECK, BST_UNCHECKED, 0);
        SendMessageA(button, BM_SETCHECK, BST_CHECKED, 0);
    } else if (type == BS_AUTOCHECKBOX) {
        bool checked = SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
        SendMessageA(button, BM_SETCHECK, checked ? BST_UNCHECKED : BST_CHECKED, 0);
    }
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

// Presses a sheet's button from the helper thread.
void PressAsync(HWND sheet, int button)
{
    PostMessageA(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
}

// Waits for a message box titled `title`, gives its text and presses `button`.
std::string AnswerBox(const char* title, int button)
{
    HWND box = WaitWindow(title);
    if (!box)
        return "(no box)";
    std::string text = BoxText(box);
    std::fprintf(stderr, "box %s: %s\n", title, text.c_str());
    Click(box, button);
    return text;
}

// ---- screenshots ----

std::string g_language = "en";

void Shot(HWND window, const std::string& name)
{
    CreateDirectoryA("shots", nullptr);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    RECT r;
    GetWindowRect(window, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0)
        return;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    BITMAPFILEHEADER file {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(h);
    std::string path = "shots\\" + name + "-" + g_language + ".bmp";
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(out, &file, sizeof file, &written, nullptr);
    WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr);
    WriteFile(out, bits, stride * static_cast<DWORD>(h), &written, nullptr);
    CloseHandle(out);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

// ---- the host side ----

struct Host {
    DeviceEntry device;
    PluginContext direct;
    FilterHost host;

    explicit Host(const std::string& params = "module_param macfilter, 1\n")
    {
        std::string text = "version \"Test 1.0\", English\n"
                           "section_plugin Filter\n"
                           "module \"*\", \"PluginIpFilterCfg\"\n"
                           "uses_table RuleTable, 6\n"
                           "uses_table ObjectTable, 2\n"
            + params;
        auto file = CfgFile::FromText(text);
        device.config = std::shared_ptr<CfgDescription>(
            CfgLoadDescriptionFrom(*file, "Test 1.0", nullptr, 0xFFFFFFFFu, 0, false).release());
        device.device_type = "Morvak 1100";
        device.feature_word = 4;
        direct.device = &device;
        direct.kind = PluginKindConfig;
        direct.section = device.config->sections[0].get();
        host = FilterHostDirect(&direct);
    }
    void Rule(const std::string& name, uint32_t action, const std::string& protocols, const std::string& dports)
    {
        FilterRule r;
        r.name = name;
        r.action = action;
        r.protocols = protocols;
        r.dest_ports = dports;
        ASSERT_TRUE(FilterAppendRule(host, r, FilterLimits()));
    }
    void BrokenRow(const std::string& name, const std::string& protocol)
    {
        CfgItem& t = *PluginFindItem(&direct, "RuleTable");
        int row = CfgRowInsert(t, -1);
        const char* cells[6] = { name.c_str(), protocol.c_str(), "ANYHOST", "ANYHOST", "256", "0" };
        CfgRowSet(t, row, 5, cells);
    }
    std::vector<std::string> RuleNames()
    {
        std::vector<std::string> names;
        for (const FilterRule& r : FilterRead(host).rules)
            names.push_back(r.name);
        return names;
    }
    // The page the plug-in hands out for `kind`, in a record of `size` bytes.
    HPROPSHEETPAGE Page(int32_t kind, uint32_t size)
    {
        PluginModuleService modules = PluginPlatformModules();
        CfgSection& section = *device.config->sections[0];
        section.module = CfgArgList::FromTexts(
            { "qorvexal.dll", kind == PluginKindConfig ? "PluginIpFilterCfg" : "PluginIpFilterWiz" });
        PROPSHEETPAGEA record {};
        record.dwSize = size;
        if (!PluginLoadPage(modules, section, &device, nullptr, kind, kind == PluginKindConfig ? 1 : 0,
                GetModuleHandleA(nullptr), reinterpret_cast<PluginPageRecord*>(&record), size))
            return nullptr;
        return CreatePropertySheetPageA(&record);
    }
};

HWND Sheet(HPROPSHEETPAGE page, DWORD flags)
{
    PROPSHEETHEADERA header {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS | flags;
    header.pszCaption = "Test";
    header.nPages = 1;
    header.phpage = &page;
    auto sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
    if (sheet) {
        g_mainSheet = sheet;
        ShowWindow(sheet, SW_SHOW);
        SetForegroundWindow(sheet);
        Pump();
    }
    return sheet;
}

HWND Current(HWND sheet)
{
    Pump();
    return PropSheet_GetCurrentPageHwnd(sheet);
}

void Press(HWND sheet, int button)
{
    PropSheet_PressButton(sheet, button);
    Pump();
}

std::vector<std::string> ListNames(HWND list)
{
    std::vector<std::string> names;
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[64] = "";
        LVITEMA item {};
        item.iItem = i;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        names.push_back(text);
    }
    return names;
}

void Select(HWND list, int index)
{
    ListView_SetItemState(list, index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    Pump();
}

class FilterDll : public testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls { sizeof controls, ICC_LISTVIEW_CLASSES | ICC_WIN95_CLASSES };
        InitCommonControlsEx(&controls);
        SetLanguage(1033, "en");
        char display[64] = "";
        if (!GetEnvironmentVariableA("DISPLAY", display, sizeof display))
            GTEST_SKIP() << "no display";
    }
    void TearDown() override
    {
        SetLanguage(1033, "en");
    }
    static void SetLanguage(uint16_t lang, const char* name)
    {
        SetThreadLocale(MAKELCID(lang, SORT_DEFAULT));
        StrSetLanguage(lang);
        g_language = name;
    }
};

TEST_F(FilterDll, ConfigurationPageListsEditsAndWritesTheRules)
{
    Host h;
    h.Rule("telnet", FilterActionTransfer, "6", "23");
    h.BrokenRow("broken", "NOSUCH");
    h.Rule("web", FilterActionDrop, "6,17", "80,443");
    HPROPSHEETPAGE page = h.Page(PluginKindConfig, PROPSHEETPAGEA_V1_SIZE);
    ASSERT_NE(page, nullptr);
    ASSERT_NE(GetModuleHandleA("qorvexal.dll"), nullptr);

    // The unreadable row is offered for correction first; Cancel skips it.
    HWND sheet = nullptr;
    std::string info, corrected;
    WithModal([&] { sheet = Sheet(page, PSH_NOAPPLYNOW); },
        [&] {
            HWND box = WaitWindow("Correct filter rule");
            ASSERT_NE(box, nullptr);
            info = ItemText(box, IDC_CORR_INFO);
            corrected = ItemText(box, IDC_CORR_TEXT);
            DWORD from = 0, to = 0;
            SendMessageA(GetDlgItem(box, IDC_CORR_TEXT), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                reinterpret_cast<LPARAM>(&to));
            EXPECT_EQ(to, 6u);
            Shot(box, "correct");
            Click(box, IDCANCEL);
        });
    EXPECT_NE(info.find("\"broken\""), std::string::npos) << info;
    EXPECT_NE(info.find("protocol"), std::string::npos) << info;
    EXPECT_EQ(corrected, "NOSUCH");

    HWND dialog = Current(sheet);
    HWND list = GetDlgItem(dialog, IDC_RULES);
    EXPECT_EQ(ListNames(list), (std::vector<std::string> { "telnet", "web" }));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_EDIT)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_DELETE)));
    Select(list, 1);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_EDIT)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_DELETE)));
    Shot(sheet, "config-page");

    // New: a name taken by another rule is refused; the caption follows the name field; services.
    std::string duplicate, caption;
    WithModal([&] { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_NEW, BN_CLICKED), 0); },
        [&] {
            HWND editor = WaitWindow("Filter rule");
            ASSERT_NE(editor, nullptr);
            HWND namePage = PropSheet_GetCurrentPageHwnd(editor);
            EXPECT_EQ(IsDlgButtonChecked(namePage, IDC_DROP), BST_CHECKED); // Drop by default
            SetDlgItemTextA(namePage, IDC_NAME, "WEB");
            Shot(editor, "rule-name");
            PressAsync(editor, PSBTN_OK);
            duplicate = AnswerBox("Error", IDOK);
            SetDlgItemTextA(namePage, IDC_NAME, "ssh");
            caption = Text(editor);
            PropSheet_SetCurSel(editor, nullptr, 1);
            Shot(editor, "rule-stations");
            PropSheet_SetCurSel(editor, nullptr, 2);
            HWND services = PropSheet_GetCurrentPageHwnd(editor);
            Choose(services, IDC_TCP);
            SetDlgItemTextA(services, IDC_DPORTS, "22");
            Shot(editor, "rule-services");
            PressAsync(editor, PSBTN_OK);
        });
    EXPECT_EQ(duplicate, "A rule with this name already exists.\r\rPlease enter another name for this rule.");
    EXPECT_EQ(caption, "Filter rule ssh");
    EXPECT_EQ(ListNames(list), (std::vector<std::string> { "telnet", "web", "ssh" }));

    // Delete takes the selected rule.
    Select(list, 1);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DELETE, BN_CLICKED), 0);
    EXPECT_EQ(ListNames(list), (std::vector<std::string> { "telnet", "ssh" }));

    // Applying asks before dropping the skipped row, then writes the filter.
    EXPECT_EQ(h.RuleNames(), (std::vector<std::string> { "telnet", "web" })); // nothing written yet
    std::string question;
    WithModal([&] { Press(sheet, PSBTN_OK); }, [&] { question = AnswerBox("Warning", IDYES); });
    EXPECT_EQ(question.substr(0, 46), "1 filter rules could not be read and were not ");
    EXPECT_EQ(h.RuleNames(), (std::vector<std::string> { "telnet", "ssh" }));
    FilterList written = FilterRead(h.host);
    ASSERT_EQ(written.rules.size(), 2u);
    EXPECT_TRUE(written.unreadable.empty());
    EXPECT_EQ(written.rules[1].protocols, "6");
    EXPECT_EQ(written.rules[1].dest_ports, "22");
    DestroyWindow(sheet);
    Pump();
    EXPECT_EQ(GetModuleHandleA("qorvexal.dll"), nullptr); // released with its page
}

TEST_F(FilterDll, StationDialogProposesTheMaskAndRefusesSeparators)
{
    Host h;
    HWND sheet = Sheet(h.Page(PluginKindConfig, PROPSHEETPAGEA_V1_SIZE), PSH_NOAPPLYNOW);
    ASSERT_NE(sheet, nullptr);
    HWND dialog = Current(sheet);
    std::string mask10, mask200, stationName, stationMessage;
    WithModal([&] { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_NEW, BN_CLICKED), 0); },
        [&] {
            HWND editor = WaitWindow("Filter rule");
            ASSERT_NE(editor, nullptr);
            SetDlgItemTextA(PropSheet_GetCurrentPageHwnd(editor), IDC_NAME, "lan");
            PropSheet_SetCurSel(editor, nullptr, 1);
            HWND stations = PropSheet_GetCurrentPageHwnd(editor);
            Choose(stations, IDC_SRC + STN_SELECTED);
            Click(stations, IDC_SRC + STN_ADD);
            HWND box = WaitWindow("Station");
            ASSERT_NE(box, nullptr);
            EXPECT_NE(GetDlgItem(box, IDC_ST_MAC), nullptr); // "macfilter" is 1
            Choose(box, IDC_ST_NET);
            SetDlgItemTextA(box, IDC_ST_NETADDR, "10.1.2.3");
            mask10 = ItemText(box, IDC_ST_MASK);
            SetDlgItemTextA(box, IDC_ST_NETADDR, "200.1.1.1");
            mask200 = ItemText(box, IDC_ST_MASK);
            Shot(box, "station-mac");
            // Typed characters outside the set are refused.
            Choose(box, IDC_ST_NAME);
            for (char c : std::string("pc,1+a"))
                SendMessageA(GetDlgItem(box, IDC_ST_NAMEEDIT), WM_CHAR, static_cast<WPARAM>(c), 0);
            stationName = ItemText(box, IDC_ST_NAMEEDIT);
            SetDlgItemTextA(box, IDC_ST_NAMEEDIT, "");
            Click(box, IDOK);
            stationMessage = AnswerBox("Error", IDOK);
            SetDlgItemTextA(box, IDC_ST_NAMEEDIT, "pc1a");
            Click(box, IDOK);
            ASSERT_EQ(WaitWindow("Filter rule"), editor); // enabled again: the station dialog closed
            PressAsync(editor, PSBTN_OK);
        });
    EXPECT_EQ(mask10, "255.0.0.0");
    EXPECT_EQ(mask200, "255.255.255.0");
    EXPECT_EQ(stationName, "pc1a");
    EXPECT_EQ(stationMessage, "Please enter a station name for this rule.");
    Press(sheet, PSBTN_OK);
    FilterList written = FilterRead(h.host);
    ASSERT_EQ(written.rules.size(), 1u);
    ASSERT_EQ(written.rules[0].sources.size(), 1u);
    EXPECT_EQ(written.rules[0].sources[0].name, "pc1a");
    DestroyWindow(sheet);
    Pump();

    // Without "macfilter" the dialog has no physical address.
    Host plain("");
    sheet = Sheet(plain.Page(PluginKindConfig, PROPSHEETPAGEA_V1_SIZE), PSH_NOAPPLYNOW);
    dialog = Current(sheet);
    bool hasMac = true;
    WithModal([&] { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_NEW, BN_CLICKED), 0); },
        [&] {
            HWND editor = WaitWindow("Filter rule");
            ASSERT_NE(editor, nullptr);
            PropSheet_SetCurSel(editor, nullptr, 1);
            HWND stations = PropSheet_GetCurrentPageHwnd(editor);
            Choose(stations, IDC_DST + STN_SELECTED);
            Click(stations, IDC_DST + STN_ADD);
            HWND box = WaitWindow("Station");
            ASSERT_NE(box, nullptr);
            hasMac = GetDlgItem(box, IDC_ST_MAC) != nullptr;
            Shot(box, "station");
            Click(box, IDCANCEL);
            WaitWindow("Filter rule");
            PressAsync(editor, PSBTN_CANCEL);
        });
    EXPECT_FALSE(hasMac);
    DestroyWindow(sheet);
    Pump();
}

// Moves the wizard on and gives the page it is on then.
HWND Next(HWND sheet)
{
    Press(sheet, PSBTN_NEXT);
    return Current(sheet);
}

TEST_F(FilterDll, WizardAddsTwoRulesWithTheBoxSetOnce)
{
    Host h;
    h.Rule("old", FilterActionDrop, "", "");
    // The page record of the full size: the sheet draws the header texts.
    HWND sheet = Sheet(h.Page(PluginKindWizard, sizeof(PROPSHEETPAGEA)), PSH_WIZARD97 | PSH_HEADER);
    ASSERT_NE(sheet, nullptr);
    HWND start = Current(sheet);
    EXPECT_EQ(GetDlgItem(start, IDC_HDR_TITLE), nullptr);
    EXPECT_EQ(IsDlgButtonChecked(start, IDC_MODE_ADD), BST_CHECKED);
    // Its further pages are inserted after it.
    int pages = 0;
    while (pages < 64 && PropSheet_IndexToPage(sheet, pages))
        ++pages;
    EXPECT_EQ(pages, 8);
    Shot(sheet, "wizard97-start");

    HWND name = Next(sheet);
    ASSERT_NE(GetDlgItem(name, IDC_NAME), nullptr);
    Shot(sheet, "wizard97-name");
    // A name the device's table has already: the page stays.
    SetDlgItemTextA(name, IDC_NAME, "OLD");
    std::string message;
    WithModal([&] { Press(sheet, PSBTN_NEXT); }, [&] { message = AnswerBox("Error", IDOK); });
    EXPECT_EQ(message, "A rule with this name already exists.\r\rPlease enter another name for this rule.");
    EXPECT_EQ(Current(sheet), name);
    SetDlgItemTextA(name, IDC_NAME, "term");
    Choose(name, IDC_TRANSFER);
    HWND source = Next(sheet);
    ASSERT_NE(GetDlgItem(source, IDC_SRC + STN_LIST), nullptr);
    Shot(sheet, "wizard97-source");
    HWND dest = Next(sheet);
    ASSERT_NE(GetDlgItem(dest, IDC_DST + STN_LIST), nullptr);
    Shot(sheet, "wizard97-dest");
    HWND service = Next(sheet);
    ASSERT_NE(GetDlgItem(service, IDC_PRESET), nullptr);
    EXPECT_EQ(IsDlgButtonChecked(service, IDC_PRESET + FilterPresetAll), BST_CHECKED);
    Choose(service, IDC_PRESET + FilterPresetTerminal);
    Shot(sheet, "wizard97-service");
    HWND summary = Next(sheet);
    ASSERT_NE(GetDlgItem(summary, IDC_SUMMARY), nullptr);
    EXPECT_EQ(ItemText(summary, IDC_SUMMARY),
        "Name:\tterm\r\nAction:\tTransfer\r\nSource:\tAll stations\r\nDestination:\tAll stations\r\n"
        "Protocols:\tTCP\r\nTarget ports:\t23\r\n");
    Shot(sheet, "wizard97-summary");
    // Back to the services page: the terminal preset is selected again.
    Press(sheet, PSBTN_BACK);
    EXPECT_EQ(IsDlgButtonChecked(Current(sheet), IDC_PRESET + FilterPresetTerminal), BST_CHECKED);
    Next(sheet);

    // The box for another rule: the rule goes into the tables now, and the name page comes again.
    Choose(summary, IDC_ANOTHER);
    Press(sheet, PSBTN_NEXT);
    name = Current(sheet);
    ASSERT_NE(GetDlgItem(name, IDC_NAME), nullptr);
    EXPECT_EQ(ItemText(name, IDC_NAME), "");
    EXPECT_EQ(h.RuleNames(), (std::vector<std::string> { "old", "term" }));
    SetDlgItemTextA(name, IDC_NAME, "all");
    for (int i = 0; i < 4; ++i)
        Next(sheet);
    HWND finish = Next(sheet);
    ASSERT_NE(GetDlgItem(finish, IDC_FINISH_TEXT), nullptr);
    EXPECT_EQ(ItemText(finish, IDC_FINISH_TEXT),
        "You have defined 2 new filter rules.\r\rTo save the modified TCP/IP filters in your device, click Finish.");
    Shot(sheet, "wizard97-finish");
    EXPECT_EQ(h.RuleNames(), (std::vector<std::string> { "old", "term" })); // the second at Finish
    Press(sheet, PSBTN_FINISH);
    EXPECT_EQ(h.RuleNames(), (std::vector<std::string> { "old", "term", "all" }));
    FilterList written = FilterRead(h.host);
    EXPECT_EQ(written.rules[1].action, FilterActionTransfer);
    EXPECT_EQ(written.rules[1].dest_ports, "23");
    DestroyWindow(sheet);
    Pump();
}

TEST_F(FilterDll, WizardInTheOldLayoutDeletesRules)
{
    Host h;
    h.Rule("a", FilterActionDrop, "6", "");
    h.Rule("b", FilterActionDrop, "17", "");
    // The old page record: the header texts are put into the page's template.
    HWND sheet = Sheet(h.Page(PluginKindWizard, PROPSHEETPAGEA_V1_SIZE), PSH_WIZARD);
    ASSERT_NE(sheet, nullptr);
    HWND start = Current(sheet);
    EXPECT_EQ(ItemText(start, IDC_HDR_TITLE), "Configure TCP/IP Filter");
    EXPECT_EQ(ItemText(start, IDC_HDR_SUBTITLE), "Do you want to add or remove filter rules?");
    Shot(sheet, "wizard-start");
    Choose(start, IDC_MODE_DELETE);
    HWND del = Next(sheet);
    ASSERT_NE(GetDlgItem(del, IDC_DEL_LIST), nullptr); // the adding pages are skipped
    EXPECT_EQ(ItemText(del, IDC_HDR_TITLE), "Delete Filter Rules");
    EXPECT_EQ(ListNames(GetDlgItem(del, IDC_DEL_LIST)), (std::vector<std::string> { "a", "b" }));
    Shot(sheet, "wizard-delete");
    HWND finish = Next(sheet);
    EXPECT_EQ(ItemText(finish, IDC_FINISH_TEXT),
        "You have not deleted any filter rules.\r\rTo close this wizard, click Finish.");
    Shot(sheet, "wizard-finish");
    // Back skips the adding pages too.
    Press(sheet, PSBTN_BACK);
    del = Current(sheet);
    ASSERT_NE(GetDlgItem(del, IDC_DEL_LIST), nullptr);
    Select(GetDlgItem(del, IDC_DEL_LIST), 0);
    SendMessageA(del, WM_COMMAND, MAKEWPARAM(IDC_DEL_BUTTON, BN_CLICKED), 0);
    finish = Next(sheet);
    EXPECT_EQ(ItemText(finish, IDC_FINISH_TEXT),
        "You have deleted one filter rule.\r\rTo save the modified TCP/IP filters in your device, click Finish.");
    Press(sheet, PSBTN_FINISH);
    EXPECT_EQ(h.RuleNames(), (std::vector<std::string> { "b" }));
    DestroyWindow(sheet);
    Pump();
}

// A corrected row keeps its place among the rules, on the configuration page and on the wizard's delete
// page, and is written back there.
TEST_F(FilterDll, CorrectedRowsKeepTheirPlace)
{
    Host h;
    h.Rule("telnet", FilterActionTransfer, "6", "23");
    h.BrokenRow("broken", "NOSUCH");
    h.Rule("web", FilterActionDrop, "6,17", "80,443");
    auto correct = [] {
        HWND box = WaitWindow("Correct filter rule");
        ASSERT_NE(box, nullptr);
        SetDlgItemTextA(box, IDC_CORR_TEXT, "%P17");
        Click(box, IDOK);
    };
    HWND sheet = nullptr;
    WithModal([&] { sheet = Sheet(h.Page(PluginKindConfig, PROPSHEETPAGEA_V1_SIZE), PSH_NOAPPLYNOW); }, correct);
    ASSERT_NE(sheet, nullptr);
    HWND list = GetDlgItem(Current(sheet), IDC_RULES);
    EXPECT_EQ(ListNames(list), (std::vector<std::string> { "telnet", "broken", "web" }));
    Press(sheet, PSBTN_OK);
    EXPECT_EQ(h.RuleNames(), (std::vector<std::string> { "telnet", "broken", "web" }));
    DestroyWindow(sheet);
    Pump();

    Host w;
    w.Rule("a", FilterActionDrop, "6", "");
    w.BrokenRow("broken", "NOSUCH");
    w.Rule("b", FilterActionDrop, "17", "");
    sheet = Sheet(w.Page(PluginKindWizard, PROPSHEETPAGEA_V1_SIZE), PSH_WIZARD);
    ASSERT_NE(sheet, nullptr);
    Choose(Current(sheet), IDC_MODE_DELETE);
    HWND del = nullptr;
    WithModal([&] { del = Next(sheet); }, correct);
    ASSERT_NE(del, nullptr);
    HWND rules = GetDlgItem(del, IDC_DEL_LIST);
    ASSERT_NE(rules, nullptr);
    EXPECT_EQ(ListNames(rules), (std::vector<std::string> { "a", "broken", "b" }));
    Select(rules, 0);
    SendMessageA(del, WM_COMMAND, MAKEWPARAM(IDC_DEL_BUTTON, BN_CLICKED), 0);
    Next(sheet);
    Press(sheet, PSBTN_FINISH);
    EXPECT_EQ(w.RuleNames(), (std::vector<std::string> { "broken", "b" }));
    EXPECT_TRUE(FilterRead(w.host).unreadable.empty());
    DestroyWindow(sheet);
    Pump();
}

// Every page and dialog in the five languages, for the screenshots, with a text of each checked.
TEST_F(FilterDll, PagesInFiveLanguages)
{
    const std::pair<uint16_t, const char*> languages[]
        = { { 1033, "en" }, { 1031, "de" }, { 1036, "fr" }, { 1040, "it" }, { 1043, "nl" } };
    for (auto [lang, code] : languages) {
        SetLanguage(lang, code);
        std::string expectedFinish = FilterFinishText(0, 0);
        std::string expectedName = FilterStr(204);
        Host h;
        h.Rule("telnet", FilterActionTransfer, "6", "23");
        HWND sheet = Sheet(h.Page(PluginKindConfig, PROPSHEETPAGEA_V1_SIZE), PSH_NOAPPLYNOW);
        ASSERT_NE(sheet, nullptr);
        HWND dialog = Current(sheet);
        EXPECT_EQ(ItemText(dialog, IDC_NEW), FilterStr(201)) << code;
        Shot(sheet, "config-page");
        std::string label;
        WithModal([&] { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_NEW, BN_CLICKED), 0); },
            [&] {
                HWND editor = WaitWindow(FilterRuleCaption("").c_str());
                ASSERT_NE(editor, nullptr);
                label = ItemText(PropSheet_GetCurrentPageHwnd(editor), IDC_NAME_LABEL);
                Shot(editor, "rule-name");
                PropSheet_SetCurSel(editor, nullptr, 1);
                HWND stations = PropSheet_GetCurrentPageHwnd(editor);
                Shot(editor, "rule-stations");
                Choose(stations, IDC_SRC + STN_SELECTED);
                Click(stations, IDC_SRC + STN_ADD);
                HWND box = WaitWindow(FilterStr(FilterStrStationCaption));
                if (box) {
                    Shot(box, "station-mac");
                    Click(box, IDCANCEL);
                }
                WaitWindow(FilterRuleCaption("").c_str());
                PropSheet_SetCurSel(editor, nullptr, 2);
                Shot(editor, "rule-services");
                PressAsync(editor, PSBTN_CANCEL);
            });
        EXPECT_EQ(label, expectedName) << code;
        DestroyWindow(sheet);
        Pump();

        for (bool large : { false, true }) {
            std::string style = large ? "wizard97-" : "wizard-";
            sheet = Sheet(h.Page(PluginKindWizard, large ? sizeof(PROPSHEETPAGEA) : PROPSHEETPAGEA_V1_SIZE),
                large ? PSH_WIZARD97 | PSH_HEADER : PSH_WIZARD);
            ASSERT_NE(sheet, nullptr);
            HWND page = Current(sheet);
            Shot(sheet, style + "start");
            const char* names[] = { "name", "source", "dest", "service", "summary" };
            SetDlgItemTextA(Next(sheet), IDC_NAME, "x");
            Shot(sheet, style + names[0]);
            for (int i = 1; i < 5; ++i) {
                Next(sheet);
                Shot(sheet, style + names[i]);
            }
            HWND finish = Next(sheet);
            Shot(sheet, style + "finish");
            Press(sheet, PSBTN_BACK);
            for (int i = 0; i < 5; ++i)
                Press(sheet, PSBTN_BACK);
            page = Current(sheet);
            Choose(page, IDC_MODE_DELETE);
            Next(sheet);
            Shot(sheet, style + "delete");
            finish = Next(sheet);
            EXPECT_EQ(ItemText(finish, IDC_FINISH_TEXT), expectedFinish) << code;
            PropSheet_PressButton(sheet, PSBTN_CANCEL);
            DestroyWindow(sheet);
            Pump();
        }
    }
}

} // namespace
