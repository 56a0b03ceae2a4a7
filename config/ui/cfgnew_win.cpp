#include "config/ui/cfgnew_win.h"

#include "common/diag.h"
#include "common/ini.h"
#include "common/strings.h"
#include "common/tempstream.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_index.h"
#include "config/description/cfg_load.h"
#include "config/description/cfg_types.h"
#include "config/frontend/commands.h"
#include "config/frontend/mainview.h"
#include "config/frontend/valuerules.h"
#include "config/startup/startup.h"
#include "config/ui/cfgsheet_win.h"
#include "config/ui/dialogs_win.h"

#include <commctrl.h>
#include <vector>

namespace {
// Feature check boxes: up to kRows in a column, two columns at most.
constexpr int kRows = 8;
constexpr int kMaxFeatures = 2 * kRows;
constexpr int kWidth = 260;
constexpr int kFeatureTop = 52;

std::string Text(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}

HINSTANCE Instance()
{
    return GetModuleHandleA(nullptr);
}

const char* Language()
{
    return Globals().dscLanguage.empty() ? nullptr : Globals().dscLanguage.c_str();
}

std::string ComboText(HWND combo)
{
    int k = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
    if (k < 0)
        return std::string();
    int n = static_cast<int>(SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(k), 0));
    std::string text(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(k), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(n > 0 ? n : 0));
    return text;
}

struct NewChoice {
    std::string deviceType;
    std::string version;
    std::vector<CfgFeatureChoice> features; // as offered, `checked` as the user left them
};

struct NewDialog {
    NewChoice* choice;
};

// The features of the chosen type and version as check boxes, all ticked.
void FillFeatures(HWND d, NewDialog& data)
{
    for (int k = 0; k < kMaxFeatures; ++k)
        if (HWND w = GetDlgItem(d, NewIdFirstFeature + k))
            DestroyWindow(w);
    NewChoice& c = *data.choice;
    c.features = CfgNewConfigFeatures(c.deviceType, c.version, Language());
    if (c.features.size() > static_cast<size_t>(kMaxFeatures))
        c.features.resize(kMaxFeatures);
    int half = (kWidth - 28) / 2;
    for (size_t k = 0; k < c.features.size(); ++k) {
        int column = static_cast<int>(k) / kRows, row = static_cast<int>(k) % kRows;
        int x = 14 + column * half, y = kFeatureTop + 12 + row * 12;
        HWND box = CfgDialogControl(d, "BUTTON", c.features[k].text, WS_TABSTOP | BS_AUTOCHECKBOX,
            NewIdFirstFeature + static_cast<int>(k), { x, y, x + half - 4, y + 10 });
        SendMessageA(box, BM_SETCHECK, BST_CHECKED, 0);
    }
    // Tab order: the boxes after the version list, before OK.
    HWND after = GetDlgItem(d, NewIdVersion);
    for (size_t k = 0; k < c.features.size(); ++k) {
        HWND box = GetDlgItem(d, NewIdFirstFeature + static_cast<int>(k));
        SetWindowPos(box, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = box;
    }
}

// The versions of the chosen type, the last one preselected.
void FillVersions(HWND d, NewDialog& data)
{
    HWND combo = GetDlgItem(d, NewIdVersion);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    std::vector<std::string> versions = CfgListVersions(data.choice->deviceType);
    for (const std::string& v : versions)
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(v.c_str()));
    SendMessageA(combo, CB_SETCURSEL, versions.empty() ? static_cast<WPARAM>(-1) : versions.size() - 1, 0);
    data.choice->version = versions.empty() ? std::string() : versions.back();
    FillFeatures(d, data);
}

INT_PTR CALLBACK NewProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* data = reinterpret_cast<NewDialog*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        data = reinterpret_cast<NewDialog*>(lParam);
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        CfgDialogControl(d, "STATIC", Text(NewStrDeviceType), SS_LEFT, -1, { 7, 9, 80, 19 });
        HWND types = CfgDialogControl(
            d, "COMBOBOX", "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, NewIdDeviceType, { 84, 7, kWidth - 7, 107 });
        CfgDialogControl(d, "STATIC", Text(NewStrVersion), SS_LEFT, -1, { 7, 27, 80, 37 });
        CfgDialogControl(
            d, "COMBOBOX", "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, NewIdVersion, { 84, 25, kWidth - 7, 125 });
        CfgDialogControl(d, "BUTTON", Text(NewStrFeatures), BS_GROUPBOX, -1,
            { 7, kFeatureTop, kWidth - 7, kFeatureTop + 16 + kRows * 12 });
        int bottom = kFeatureTop + 22 + kRows * 12;
        CfgDialogButtons(d, CfgSheetTexts(), kWidth - 7, bottom);
        for (const std::string& type : CfgListDeviceTypes())
            SendMessageA(types, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(type.c_str()));
        SendMessageA(types, CB_SETCURSEL, 0, 0);
        data->choice->deviceType = ComboText(types);
        FillVersions(d, *data);
        SetFocus(types);
        return FALSE;
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == CBN_SELCHANGE && LOWORD(wParam) == NewIdDeviceType) {
            data->choice->deviceType = ComboText(reinterpret_cast<HWND>(lParam));
            FillVersions(d, *data);
            return TRUE;
        }
        if (HIWORD(wParam) == CBN_SELCHANGE && LOWORD(wParam) == NewIdVersion) {
            data->choice->version = ComboText(reinterpret_cast<HWND>(lParam));
            FillFeatures(d, *data);
            return TRUE;
        }
        return CfgDialogOkCancel(d, wParam, [&] {
            NewChoice& c = *data->choice;
            if (c.deviceType.empty() || c.version.empty())
                return false; // nothing to make a configuration of
            for (size_t k = 0; k < c.features.size(); ++k)
                c.features[k].checked = IsDlgButtonChecked(d, NewIdFirstFeature + static_cast<int>(k)) == BST_CHECKED;
            return true;
        });
    default:
        return FALSE;
    }
}

bool NewConfigurationDialog(HWND owner, NewChoice* choice)
{
    NewDialog data { choice };
    std::vector<WORD> t = CfgDialogTemplate(kWidth, kFeatureTop + 43 + kRows * 12, Text(NewStrTitle),
        WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER);
    return DialogBoxIndirectParamA(
               Instance(), reinterpret_cast<LPCDLGTEMPLATEA>(t.data()), owner, NewProc, reinterpret_cast<LPARAM>(&data))
        == IDOK;
}

std::string FileName(const std::string& path)
{
    return path.substr(path.find_last_of("\\/") + 1);
}
} // namespace

bool CfgNewConfigurationFile(HWND owner, const std::string& path)
{
    CfgEnsureDescriptionIndex();
    NewChoice choice;
    if (!NewConfigurationDialog(owner, &choice))
        return false;
    uint32_t featureMask = CfgNewConfigFeatureMask(choice.features);
    bool easy = IniGetInt(Globals().paths.settingsFile, "Options", "EasyConfig", 1) != 0;
    uint32_t hardwareMask = 0;
    CfgTempStream initial;
    CfgDescriptionPtr desc = CfgNewConfiguration(
        choice.deviceType, choice.version, "", Language(), easy, featureMask, &hardwareMask, &initial);
    if (!desc) {
        MessageBoxA(owner,
            StrFormat(Text(CmdStrNoDescription).c_str(), choice.deviceType.c_str(), choice.version.c_str()).c_str(),
            Text(CfgStrError).c_str(), MB_OK | MB_ICONSTOP);
        return false;
    }
    CfgReadFile(initial, *desc);
    if (!CfgRunSheet(owner, *desc, path.empty() ? choice.deviceType : FileName(path), nullptr, easy))
        return false;
    std::string file = path;
    if (file.empty()) {
        std::string name = choice.deviceType;
        for (char& ch : name)
            if (ch == ' ')
                ch = '_';
        file = FileDialog(owner, true, Text(SheetStrSaveAsTitle), Text(MainStrConfigFilter), "CFGPath", name + ".lcf");
    }
    if (file.empty())
        return false;
    std::string comment = CfgCommentDefault(choice.deviceType);
    if (!CfgCommentDialog(owner, &comment))
        return false;
    // The file holds the store's values only: the initial text's own header lines stay behind.
    CfgTempStream empty;
    empty.Open();
    CfgTempStream out = CfgWriteFile(std::move(empty), *desc);
    if (!CfgExportFileWith(out, desc.get(), choice.deviceType, choice.version, featureMask, hardwareMask, file, comment,
            Globals().noCrypt)) {
        MessageBoxA(owner, Text(CmdStrCantCreateFile).c_str(), Text(CfgStrError).c_str(), MB_OK | MB_ICONSTOP);
        return false;
    }
    Diag("new configuration: %s %s written to %s\n", choice.deviceType.c_str(), choice.version.c_str(), file.c_str());
    return true;
}
