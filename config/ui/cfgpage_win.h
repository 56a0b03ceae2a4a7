// The controls of one configuration page (or wizard page, or table-entry dialog) made from its items:
// the layout of config/frontend/cfgpage.h created on a dialog window, filled from the store, kept
// consistent while the user edits (enable_item, change_item, character filters, table buttons) and
// taken back through the value rules on OK.
//
// A page owner creates a CfgPageWin in its WM_INITDIALOG, passes every WM_COMMAND, WM_NOTIFY,
// WM_HSCROLL, WM_VSCROLL and WM_MOUSEWHEEL to HandleMessage, and calls Take when the page is left with
// OK (or Next). Fill and UpdateStates redraw the controls after somebody else changed the store.
#pragma once

#include "config/frontend/cfgpage.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct CfgDescription;
struct CfgItem;
struct CfgSection;

// Control ids of a page: CfgLayoutOptions::firstId plus the control's index in the layout (a sheet
// gives each page ids of its own, 200 apart).

// The texts the pages need beyond the description (the sheet passes them in the user's language).
struct CfgPageTexts {
    std::string on = "On", off = "Off"; // switches without texts of their own, in table cells
    std::vector<std::string> buttons; // table buttons by CfgTableButton (index 0 unused)
    std::string everyYear = "'(Every year)'"; // a quoted literal of a date picture
    std::string repeatLabel = "Please repeat your entry:"; // the repetition dialog
    std::string ok = "OK", cancel = "Cancel";
};

// The table-entry dialog a page opens for Add, Edit and Copy (set by the sheet; a page without one
// offers no table editing). `row` is the row to edit or copy from, nullptr for a new row; `editing`
// tells Edit from Copy. Returns true when the table changed.
using CfgTableEntryDialog
    = std::function<bool(HWND owner, CfgDescription& desc, CfgItem& table, struct CfgRow* row, bool editing)>;

class CfgPageWin {
public:
    // Builds the controls of `items` on `page` with its font. `desc` holds the items (tables of a
    // selection, the group of a secret's caption).
    CfgPageWin(HWND page, CfgDescription& desc, const std::vector<CfgItem*>& items, const CfgLayoutOptions& options,
        const CfgPageTexts& texts, CfgTableEntryDialog tableEntry = nullptr);
    // The items of a section.
    CfgPageWin(HWND page, CfgDescription& desc, CfgSection& section, const CfgLayoutOptions& options,
        const CfgPageTexts& texts, CfgTableEntryDialog tableEntry = nullptr);
    ~CfgPageWin();
    CfgPageWin(const CfgPageWin&) = delete;
    CfgPageWin& operator=(const CfgPageWin&) = delete;

    // Sets every control from the store (several devices: the common value, empty where they differ)
    // and forgets earlier changes.
    void Fill();
    // Date-and-time items without a value of their own show the device's clock ("hhmmssDDMMYYYY" as
    // the device reported it; empty or zeros: none), running on once a second until the user sets a
    // moment. A clock left running is not taken into the store.
    void ShowDeviceClock(const std::string& clockText);
    // Greys disabled items (a wizard's disabled state, enable_item of the controls as they are now).
    void UpdateStates();
    // The page's messages; true (with *result) when handled.
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // Takes every changed value through the value rules, asking and showing what they say. False when
    // a check failed: its message was shown and its control has the focus.
    bool Take(HWND owner);
    // True when the user changed a control since the last Fill.
    bool Changed() const;
    // The main control of an item (the first radio button), or nullptr.
    HWND ControlOf(const CfgItem* item) const;
    const CfgPageLayout& Layout() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The repetition dialog of a secret value: `caption` as its title. Returns false when cancelled.
bool CfgRepeatDialog(HWND owner, const std::string& caption, const CfgPageTexts& texts, std::string* text);

// The parts of the small modal dialogs built on in-memory templates (repetition, comment, table
// entry, new configuration): a control at `r` in dialog units with the dialog's font; OK and Cancel
// in a row ending at `right`; and their commands: OK ends the dialog with IDOK once `ok` agrees
// (nullptr: at once; false keeps it open), Cancel (also Esc) with IDCANCEL. CfgDialogOkCancel returns
// TRUE when the command was one of the two.
HWND CfgDialogControl(
    HWND dialog, const char* cls, const std::string& text, DWORD style, int id, RECT r, DWORD exStyle = 0);
void CfgDialogButtons(HWND dialog, const CfgPageTexts& texts, int right, int top);
BOOL CfgDialogOkCancel(HWND dialog, WPARAM wParam, const std::function<bool()>& ok = nullptr);

// An in-memory dialog template: an empty dialog of `width` x `height` dialog units with the caption,
// the style (DS_SETFONT is added) and the font "MS Shell Dlg" 8, to which a page builder adds controls.
std::vector<WORD> CfgDialogTemplate(int width, int height, const std::string& caption, DWORD style);
