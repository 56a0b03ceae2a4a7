// The Win32 side of qorvexal.dll: the configuration page, the rule editor, the station and correction
// dialogs and the filter wizard, over the rule model and the pages' portable half.
#pragma once

#include "filterplugin/filter_pages.h"

#include <windows.h>

#include <commctrl.h>
#include <prsht.h>
#include <string>
#include <vector>

// The library's own module.
extern HINSTANCE g_filterModule;
// The host's nine functions as the last entry-point call bound them (the context is set per page).
extern FilterHost g_filterHostFunctions;

// The host's functions for a page's context.
FilterHost FilterPageHost(PluginContext* context);

// Replaces the texts of a dialog's controls (those it has) from the string table.
void FilterApplyTexts(HWND dialog);
// A message box titled "Error" (or "Warning" with `warning`) with string `id`; returns the button.
int FilterMessage(HWND owner, unsigned id, UINT flags = MB_OK | MB_ICONSTOP);
// The result of a page notification.
INT_PTR FilterResult(HWND dialog, LONG_PTR result);

// An edit control that refuses characters outside its field's set with a beep, and its limit.
void FilterAttachField(HWND dialog, int id, FilterField field);
std::string FilterGetText(HWND dialog, int id);

// Name and action controls (editor page and wizard page).
void FilterShowAction(HWND dialog, uint32_t action);
uint32_t FilterReadAction(HWND dialog);
// Handles a click on one of the action controls: the exclusive boxes, their enabling, the text.
void FilterActionClicked(HWND dialog, int id);

// Services controls (editor page and the wizard's services dialog).
void FilterShowServices(HWND dialog, const FilterRule& rule);
void FilterReadServices(HWND dialog, FilterRule* rule);

// A station list group (`base` IDC_SRC or IDC_DST): all stations, or the listed ones.
struct FilterStationList {
    explicit FilterStationList(int group)
        : base(group)
    {
    }
    int base;
    std::vector<FilterStation> stations; // the listed stations, kept while "all" is chosen
    bool mac = false; // the station dialog offers physical addresses
    void Show(HWND dialog, const std::vector<FilterStation>& value);
    // Handles a command of the group; true when it was one.
    bool Command(HWND dialog, int id, int code);
    // The value: empty for all stations.
    std::vector<FilterStation> Value(HWND dialog) const;
    void Enable(HWND dialog) const;
};

// The station dialog; true on OK with the station changed.
bool FilterEditStation(HWND owner, bool mac, FilterStation* station);

// The image list of the rule lists: 0 transfer, 1 drop.
HIMAGELIST FilterRuleImages();
int FilterRuleImage(const FilterRule& rule);
void FilterRuleColumns(HWND list);
void FilterRuleLine(HWND list, int index, const FilterRule& rule, bool insert);

// Dialog procedures and the wizard's first page.
// The correction dialog for a rule row that could not be read: true with the corrected text, false when
// the user cancels. The rows of a list are offered through FilterOfferCorrections (filter_pages.h).
bool FilterAskCorrection(HWND owner, const FilterUnreadable& row, std::string* text);

INT_PTR CALLBACK FilterConfigPageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FilterWizardStartProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FilterWizardPageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
UINT CALLBACK FilterWizardPageCallback(HWND window, UINT message, LPPROPSHEETPAGEA page);
// A wizard page's template from the resources, in memory (freed by FilterWizardPageCallback): with
// the header texts as controls when `title` is given (old page layout), else a plain copy.
void* FilterLoadTemplate(int id, const std::string& title, const std::string& subtitle);

// Private messages.
constexpr UINT WM_FILTER_STATE = WM_APP + 0x3F1; // wizard pages ask the first page for the state
constexpr UINT WM_FILTER_CORRECT = WM_APP + 0x3F2; // the configuration page offers unreadable rules
constexpr UINT WM_FILTER_GOTO = WM_APP + 0x3F3; // a wizard page moves the sheet to page wParam
