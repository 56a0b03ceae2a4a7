// talvine.exe: the question a script action asks before it runs (its "query"), a dialog laid out to the
// icon, buttons and check box the script chose.
#include "common/ui/desktop.h"
#include "monitor/startup/texts.h"
#include "monitor/ui/resource.h"
#include "monitor/ui/talvine_app_win.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace tvwin {
namespace {
// The question before a script action: the icon and buttons its flags chose, the message, and the
// check box when the script names one.
struct QueryDialog {
    QueryStyle style;
    std::string message;
    std::string checkText;
    bool ticked = false;
};

RECT ControlRect(HWND dialog, HWND control)
{
    RECT r {};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void PlaceControl(HWND control, const RECT& r)
{
    SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Keeps the controls the query needs, grows the text to the message and moves what is below it.
void QueryLayout(HWND dialog, const QueryDialog& q)
{
    HWND icon = GetDlgItem(dialog, IDC_QUERY_ICON);
    HWND text = GetDlgItem(dialog, IDC_QUERY_TEXT);
    HWND check = GetDlgItem(dialog, IDC_QUERY_CHECK);
    RECT client {};
    GetClientRect(dialog, &client);
    RECT iconRect = ControlRect(dialog, icon);
    RECT textRect = ControlRect(dialog, text);
    RECT checkRect = ControlRect(dialog, check);
    RECT buttonRect = ControlRect(dialog, GetDlgItem(dialog, IDOK));
    RECT rightRect = ControlRect(dialog, GetDlgItem(dialog, IDCANCEL));
    int checkGap = checkRect.top - textRect.bottom;
    int buttonGap = buttonRect.top - checkRect.bottom;
    int bottomMargin = client.bottom - buttonRect.bottom;

    LPCSTR iconId = q.style.icon == QueryIcon::Information ? IDI_INFORMATION
        : q.style.icon == QueryIcon::Warning               ? IDI_WARNING
        : q.style.icon == QueryIcon::Error                 ? IDI_ERROR
                                                           : nullptr;
    if (iconId) {
        SendMessageA(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, iconId)), 0);
    } else {
        DestroyWindow(icon);
        textRect.left = iconRect.left;
        checkRect.left = iconRect.left;
    }

    // The message as it stands: an ampersand is no mnemonic; the text grows to its lines.
    SetWindowLongA(text, GWL_STYLE, GetWindowLongA(text, GWL_STYLE) | SS_NOPREFIX);
    SetWindowTextA(text, q.message.c_str());
    RECT need { 0, 0, textRect.right - textRect.left, 0 };
    HDC dc = GetDC(text);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(text, WM_GETFONT, 0, 0)));
    DrawTextA(dc, q.message.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(text, dc);
    textRect.bottom = textRect.top + std::max<LONG>(need.bottom, textRect.bottom - textRect.top);
    PlaceControl(text, textRect);

    LONG below = textRect.bottom;
    if (q.checkText.empty()) {
        DestroyWindow(check);
    } else {
        SetWindowTextA(check, q.checkText.c_str());
        LONG height = checkRect.bottom - checkRect.top;
        checkRect.top = textRect.bottom + checkGap;
        checkRect.bottom = checkRect.top + height;
        PlaceControl(check, checkRect);
        below = checkRect.bottom;
    }
    if (iconId)
        below = std::max(below, iconRect.bottom);

    // Two buttons at the right (OK alone takes the place of the right one).
    int first = q.style.buttons == QueryButtons::YesNo ? IDYES : IDOK;
    int second = q.style.buttons == QueryButtons::YesNo ? IDNO
        : q.style.buttons == QueryButtons::OkCancel     ? IDCANCEL
                                                        : 0;
    for (int id : { IDOK, IDCANCEL, IDYES, IDNO })
        if (id != first && id != second)
            DestroyWindow(GetDlgItem(dialog, id));
    LONG height = buttonRect.bottom - buttonRect.top;
    LONG top = below + buttonGap;
    if (!second)
        buttonRect = rightRect;
    buttonRect.top = rightRect.top = top;
    buttonRect.bottom = rightRect.bottom = top + height;
    PlaceControl(GetDlgItem(dialog, first), buttonRect);
    if (second)
        PlaceControl(GetDlgItem(dialog, second), rightRect);
    SendMessageA(dialog, DM_SETDEFID, static_cast<WPARAM>(first), 0);
    SetFocus(GetDlgItem(dialog, first));

    RECT window {};
    GetWindowRect(dialog, &window);
    LONG grow = top + height + bottomMargin - client.bottom;
    SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left, window.bottom - window.top + grow,
        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Yes and No need an answer: no close box, as a message box has none.
    if (q.style.buttons == QueryButtons::YesNo)
        EnableMenuItem(GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
}

INT_PTR CALLBACK QueryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* q = reinterpret_cast<QueryDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetWindowTextA(dialog, Text(TvStrProgramName).c_str());
        QueryLayout(dialog, *reinterpret_cast<QueryDialog*>(lParam));
        CenterWindow(dialog, GetParent(dialog));
        return FALSE; // the focus is on the first button
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        // Escape and the close box: Cancel, or OK where OK stands alone; Yes and No need an answer.
        if (id == IDCANCEL && q->style.buttons == QueryButtons::YesNo)
            return TRUE;
        if (id == IDCANCEL && q->style.buttons == QueryButtons::Ok)
            id = IDOK;
        if (id == IDOK || id == IDCANCEL || id == IDYES || id == IDNO) {
            q->ticked = IsDlgButtonChecked(dialog, IDC_QUERY_CHECK) == BST_CHECKED;
            EndDialog(dialog, id);
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}
} // namespace

bool AskQuery(QueryStyle style, const std::string& message, const std::string& checkText, bool* checked)
{
    QueryDialog q { style, message, checkText };
    INT_PTR answer
        = DialogBoxParamA(A().instance, MAKEINTRESOURCEA(IDD_QUERY), A().main, QueryProc, reinterpret_cast<LPARAM>(&q));
    *checked = q.ticked;
    return answer == IDOK || answer == IDYES;
}
} // namespace tvwin
