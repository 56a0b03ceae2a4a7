#include "monitor/ui/find_win.h"

#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui/desktop.h"
#include "device/search.h"
#include "monitor/engine/engine.h"
#include "monitor/snmp/snmp_types.h"
#include "monitor/ui/resource.h"
#include "monitor/ui/texts.h"

#include <algorithm>
#include <atomic>
#include <commctrl.h>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {
constexpr UINT kSearchDoneMessage = WM_APP + 20;
constexpr UINT_PTR kTimerAnimation = 1;
constexpr UINT kAnimationMs = 120;
constexpr uint32_t kSearchMs = 3000;
constexpr int kAnimationCells = 12;

std::string Text(unsigned id)
{
    return StrLoad(talvine_Strings(), id);
}

// The animation of a running search or detection: a lit cell runs along a row of LCD-like cells,
// dimming behind it.
void DrawAnimation(const DRAWITEMSTRUCT& d, unsigned frame)
{
    RECT r = d.rcItem;
    HBRUSH face = GetSysColorBrush(COLOR_BTNFACE);
    FillRect(d.hDC, &r, face);
    int width = r.right - r.left, height = r.bottom - r.top;
    int cell = std::max(2, width / kAnimationCells);
    int lit = static_cast<int>(frame % (2 * kAnimationCells - 2));
    if (lit >= kAnimationCells)
        lit = 2 * kAnimationCells - 2 - lit; // back and forth
    COLORREF on = RGB(0, 160, 0), off = RGB(200, 220, 200);
    for (int i = 0; i < kAnimationCells; ++i) {
        int distance = std::abs(i - lit);
        int f = distance >= 3 ? 0 : 255 - distance * 85;
        COLORREF c = RGB((GetRValue(on) * f + GetRValue(off) * (255 - f)) / 255,
            (GetGValue(on) * f + GetGValue(off) * (255 - f)) / 255,
            (GetBValue(on) * f + GetBValue(off) * (255 - f)) / 255);
        RECT cr { r.left + i * cell + 1, r.top + 1, r.left + (i + 1) * cell - 1, r.top + height - 1 };
        HBRUSH b = CreateSolidBrush(c);
        FillRect(d.hDC, &cr, b);
        DeleteObject(b);
    }
}

// ---------------------------------------------------------------------------------------------
// Detection

struct Detect {
    Engine* engine = nullptr;
    uint32_t address = 0;
    unsigned frame = 0;
    bool cancelled = false;
};
bool g_detectOpen = false;

INT_PTR CALLBACK DetectProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* d = reinterpret_cast<Detect*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        d = reinterpret_cast<Detect*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetDlgItemTextA(dialog, IDC_DETECT_TEXT,
            StrFormat(Text(FindStrDetecting).c_str(), SnmpAddressText(d->address).c_str()).c_str());
        SetTimer(dialog, kTimerAnimation, kAnimationMs, nullptr);
        CenterWindow(dialog, GetParent(dialog));
        return TRUE;
    case WM_TIMER:
        if (wParam == kTimerAnimation) {
            ++d->frame;
            InvalidateRect(GetDlgItem(dialog, IDC_DETECT_ANIMATION), nullptr, FALSE);
            // The detection ended (added, or failed: asked about once the dialog is gone).
            if (!d->engine->Detecting(d->address)) {
                KillTimer(dialog, kTimerAnimation);
                EndDialog(dialog, IDOK);
            }
        }
        return TRUE;
    case WM_DRAWITEM:
        if (wParam == IDC_DETECT_ANIMATION) {
            DrawAnimation(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), d->frame);
            return TRUE;
        }
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            KillTimer(dialog, kTimerAnimation);
            d->engine->CancelDetection(d->address);
            d->cancelled = true;
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---------------------------------------------------------------------------------------------
// Find

struct Find {
    Engine* engine = nullptr;
    std::vector<DeviceEntry> results;
    std::atomic<int32_t> found { 0 };
    std::atomic<int32_t> cancel { 0 };
    std::thread thread;
    bool searching = false;
    unsigned frame = 0;
};

void StartSearch(HWND dialog, Find& f)
{
    f.results.clear();
    f.found = 0;
    f.cancel = 0;
    f.searching = true;
    SendDlgItemMessageA(dialog, IDC_FIND_LIST, LVM_DELETEALLITEMS, 0, 0);
    EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
    SetDlgItemTextA(dialog, IDC_FIND_STATUS, Text(FindStrSearching).c_str());
    ShowWindow(GetDlgItem(dialog, IDC_FIND_ANIMATION), SW_SHOW);
    SetTimer(dialog, kTimerAnimation, kAnimationMs, nullptr);
    // The search runs on a thread of its own, so that the dialog stays alive and can be cancelled.
    f.thread = std::thread([dialog, &f] {
        DeviceSearchNet(f.results, SIZE_MAX, 0xFFFFFFFFu, kSearchMs, &f.found, &f.cancel);
        PostMessageA(dialog, kSearchDoneMessage, 0, 0);
    });
}

void StopSearch(Find& f)
{
    f.cancel = 1;
    if (f.thread.joinable())
        f.thread.join();
    f.searching = false;
}

void AddColumn(HWND list, int index, unsigned textId, int width)
{
    std::string text = Text(textId);
    LVCOLUMNA c {};
    c.mask = LVCF_TEXT | LVCF_WIDTH;
    c.pszText = text.data();
    c.cx = width;
    SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&c));
}

// The devices found, one row each; those not yet monitored are chosen at first.
void ShowResults(HWND dialog, Find& f)
{
    HWND list = GetDlgItem(dialog, IDC_FIND_LIST);
    std::vector<uint32_t> shown;
    for (const DeviceEntry& e : f.results) {
        if (std::find(shown.begin(), shown.end(), e.address) != shown.end())
            continue;
        shown.push_back(e.address);
        std::string address = NetAddressText(e.address);
        LVITEMA item {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = static_cast<int>(shown.size() - 1);
        item.pszText = address.data();
        item.lParam = static_cast<LPARAM>(e.address);
        int row = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        std::string type = e.device_type.str(), name = e.name.str();
        LVITEMA sub {};
        sub.iSubItem = 1;
        sub.pszText = type.data();
        SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&sub));
        sub.iSubItem = 2;
        sub.pszText = name.data();
        SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&sub));
        uint32_t network = SnmpAddressFromHost(e.address);
        if (!f.engine->FindDevice(network) && !f.engine->Detecting(network)) {
            LVITEMA state {};
            state.stateMask = LVIS_SELECTED;
            state.state = LVIS_SELECTED;
            SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        }
    }
    SetDlgItemTextA(
        dialog, IDC_FIND_STATUS, StrFormat(Text(FindStrFound).c_str(), static_cast<int>(shown.size())).c_str());
    ShowWindow(GetDlgItem(dialog, IDC_FIND_ANIMATION), SW_HIDE);
    EnableWindow(GetDlgItem(dialog, IDOK), !shown.empty());
}

// The chosen devices, added as "add:" adds them: detected without password, failures not asked about.
int AddChosen(HWND dialog, Find& f)
{
    HWND list = GetDlgItem(dialog, IDC_FIND_LIST);
    int added = 0;
    int row = -1;
    while ((row = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0) {
        LVITEMA item {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        if (f.engine->AddDevice(SnmpAddressFromHost(static_cast<uint32_t>(item.lParam)), "", false, false))
            ++added;
    }
    return added;
}

INT_PTR CALLBACK FindProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* f = reinterpret_cast<Find*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        f = reinterpret_cast<Find*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        HWND list = GetDlgItem(dialog, IDC_FIND_LIST);
        SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
        AddColumn(list, 0, FindStrColAddress, 100);
        AddColumn(list, 1, FindStrColType, 110);
        AddColumn(list, 2, FindStrColName, 150);
        CenterWindow(dialog, GetParent(dialog));
        StartSearch(dialog, *f);
        return TRUE;
    }
    case kSearchDoneMessage:
        KillTimer(dialog, kTimerAnimation);
        StopSearch(*f);
        ShowResults(dialog, *f);
        return TRUE;
    case WM_TIMER:
        if (wParam == kTimerAnimation) {
            ++f->frame;
            InvalidateRect(GetDlgItem(dialog, IDC_FIND_ANIMATION), nullptr, FALSE);
            SetDlgItemTextA(dialog, IDC_FIND_STATUS,
                (Text(FindStrSearching) + "  "
                    + StrFormat(Text(FindStrFound).c_str(), static_cast<int>(f->found.load())))
                    .c_str());
        }
        return TRUE;
    case WM_DRAWITEM:
        if (wParam == IDC_FIND_ANIMATION) {
            DrawAnimation(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), f->frame);
            return TRUE;
        }
        break;
    case WM_NOTIFY: {
        const auto* h = reinterpret_cast<const NMHDR*>(lParam);
        if (h->idFrom == IDC_FIND_LIST && h->code == LVN_ITEMCHANGED && !f->searching)
            EnableWindow(GetDlgItem(dialog, IDOK), SendMessageA(h->hwndFrom, LVM_GETSELECTEDCOUNT, 0, 0) > 0);
        break;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (f->searching)
                return TRUE;
            AddChosen(dialog, *f);
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDC_FIND_AGAIN:
            if (!f->searching)
                StartSearch(dialog, *f);
            return TRUE;
        case IDCANCEL:
            KillTimer(dialog, kTimerAnimation);
            StopSearch(*f);
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
} // namespace

void FindDevicesDialog(HINSTANCE instance, HWND owner, Engine& engine)
{
    Find f;
    f.engine = &engine;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_FIND), owner, FindProc, reinterpret_cast<LPARAM>(&f));
    StopSearch(f); // (ended otherwise than by its buttons)
}

bool DetectDialog(HINSTANCE instance, HWND owner, Engine& engine, uint32_t address)
{
    if (!engine.Detecting(address))
        return true;
    Detect d;
    d.engine = &engine;
    d.address = address;
    g_detectOpen = true;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_DETECT), owner, DetectProc, reinterpret_cast<LPARAM>(&d));
    g_detectOpen = false;
    return !d.cancelled;
}

bool DetectDialogOpen()
{
    return g_detectOpen;
}
