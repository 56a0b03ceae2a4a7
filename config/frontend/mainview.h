// What the main window shows of the device list, without the window: the texts of the details
// columns (the status with the progress of a running transfer), their order when sorted, the view
// settings of section "Window", the folder commands (new, rename, delete, move devices), and the
// texts of the status bar. The Win32 window (config/ui/) draws what these compute.
#pragma once

#include "device/devicelist.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class IniFile;
struct SearchRequest;

// The details columns in their order.
enum DeviceColumn : int {
    ColName,
    ColStatus,
    ColAddress,
    ColType,
    ColFirmware,
    ColSerial,
    ColMac,
    ColDescription,
    kDeviceColumnCount,
};
// String ids of the column headers (1100 + column) and of the window's own texts.
constexpr unsigned MainStrColumn0 = 1100;
constexpr unsigned MainStrDevices = 1110; // root of the folder tree
constexpr unsigned MainStrCount = 1111; // "%d devices"
constexpr unsigned MainStrSelected = 1112; // "%d selected"
constexpr unsigned MainStrSearching = 1113; // "%s %d found"
constexpr unsigned MainStrBusy = 1114; // "Busy"
constexpr unsigned MainStrNewFolder = 1115; // "New Folder"
constexpr unsigned MainStrNoHelp = 1116; // "The help file %s could not be found."
constexpr unsigned MainStrAskExit = 1117; // quit confirmation
constexpr unsigned MainStrBadAddress = 1118; // "Please enter a valid IP address."
constexpr unsigned MainStrFolderExists = 1119; // "A folder with this name already exists."
constexpr unsigned MainStrDropUnknown = 1120; // "'%s' is neither a firmware file nor a configuration file."
constexpr unsigned MainStrConfigFilter = 1121; // file dialog filters, "|" between the parts
constexpr unsigned MainStrFirmwareFilter = 1122;
constexpr unsigned MainStrNoName = 1123; // "Please enter a name for the device."
constexpr unsigned MainStrNoImages = 1124; // "The device reports no firmware images."
constexpr unsigned MainStrNotYet = 1126; // a command this version does not offer yet
// String ids of the program's own texts: its name, its files (by language), its about box and the
// messages of start-up and search. The titles of messages are CfgStrWarning and CfgStrError.
constexpr unsigned MainStrLanguage = 1600; // "English": the description language by default
constexpr unsigned MainStrIniName = 1602; // "qorvexal.ini": the settings file
constexpr unsigned MainStrDescriptionFiles = 1603; // "qorv????.dsc": the device descriptions
constexpr unsigned MainStrWizardFiles = 1604; // "qorv????.wiz": the setup wizards
constexpr unsigned MainStrDeviceListName = 1605; // "qorvexal.lst": the device list
constexpr unsigned MainStrHelpName = 1606; // "qorvexl%s.hlp", MainStrHelpLanguage for the "%s"
constexpr unsigned MainStrHelpLanguage = 1607; // "0": the help file's language
constexpr unsigned MainStrGuideName = 1608; // "velquin.html": the user's guide
constexpr unsigned MainStrSaveFailed = 1609; // "The settings file %s could not be saved. ..."
constexpr unsigned MainStrProgramName = 1612; // "Velquin": the window's title, the title of notices
constexpr unsigned MainStrAboutTitle = 1613; // "About Velquin"
constexpr unsigned MainStrProductLine = 1614; // "Configuration of office routers"
constexpr unsigned MainStrWebAddress = 1615; // "http://www.velquin.example/"
constexpr unsigned MainStrForeignNetLibrary = 1805; // "The network library in use (%s) is not the one ..."
constexpr unsigned MainStrNoNewDevices = 2303; // "No new devices found during search."

// The text of one cell. The status column shows the progress of a running transfer (strings 200 to
// 204) instead of the status text while the entry reports one.
std::string DeviceCellText(const DeviceEntry& entry, int column);
// The status text (with what the device said about a failure, or the dial-up error).
std::string DeviceStatusCellText(const DeviceEntry& entry);
// The per cent for the in-cell bar, -1 when the entry shows no bar (no transfer of a known size).
int DeviceProgressPercent(const DeviceEntry& entry);

// The per cent of the bar the status cell shows: the transfer's while the entry is busy, else -1.
int DeviceStatusBarPercent(const DeviceEntry& entry);

// What one row of the details view shows on the screen, cell by cell, as its paints drew it: a status
// update repaints only the cells whose content differs (a check changes the status and the image, a
// first check also the device's type, firmware, serial number and MAC address). A cell's content is
// its text, the status cell's with the per cent of its bar.
class DeviceRowShown {
public:
    static constexpr uint32_t kImage = 1u << kDeviceColumnCount; // the bit of the image in Changed()
    // A cell drawn whole: `text` with the bar at `barPercent` (-1: no bar).
    void Drawn(int column, const std::string& text, int barPercent = -1);
    void DrawnImage(int image);
    // The cells (bit 1 << column, kImage for the image) of `entry` that differ from the screen; a cell
    // never drawn whole counts as different.
    uint32_t Changed(const DeviceEntry& entry, int image) const;

private:
    static std::string Content(const std::string& text, int barPercent);
    std::string cells_[kDeviceColumnCount];
    uint32_t drawn_ = 0;
    int image_ = -1;
};

// The main window's size without a stored placement, from the work area of its screen and the width
// its contents want (the folder tree and every details column): that width, at least 640, and two
// thirds of the screen's height, at least 480; never more than nine tenths of the screen.
void MainWindowFirstSize(int32_t workWidth, int32_t workHeight, int32_t wanted, int32_t* width, int32_t* height);

// How a device is named to the user (captions, titles, messages): its name, its address when it has
// none, and its name with the address beside it when another entry of `list` has the same name
// (ignoring case), as devices in their factory state report one name.
std::string DeviceShownName(DeviceList& list, const DeviceEntry& entry);

// Sort order of the details view: <0, 0, >0. Addresses compare as numbers (then by port), the status
// by its text, the other columns by their text ignoring case; ties by name.
int CompareDeviceEntries(const DeviceEntry& a, const DeviceEntry& b, int column);
// `rows` sorted by `column` (ascending unless `descending`), stable.
void SortDeviceRows(std::vector<DeviceEntry*>& rows, int column, bool descending);

// The view settings of section "Window".
struct MainViewSettings {
    int32_t show_tool_bar = 1; // "ShowToolBar"
    int32_t show_status_bar = 1; // "ShowStatusBar"
    int32_t view_style = 1; // "ViewStyle": 0 icons, 1 details, 2 small icons, 3 list
    int32_t auto_arrange = 0; // "AutoArrange"
    std::vector<int32_t> columns; // "ListColumns": widths in pixels, one per column
    std::vector<std::string> expanded; // "FolderTree": paths of the expanded folders
};
constexpr int32_t kViewIcons = 0, kViewDetails = 1, kViewSmallIcons = 2, kViewList = 3;
// Default widths of the columns.
std::vector<int32_t> DefaultColumnWidths();
MainViewSettings MainViewRead(const IniFile& ini);
void MainViewStore(const MainViewSettings& settings, IniFile& ini);
// "ListColumns": widths separated by ","; a missing, unreadable or unreasonable width (below 0 or
// above 4000) takes its default.
std::vector<int32_t> ListColumnsParse(std::string_view text);
std::string ListColumnsFormat(const std::vector<int32_t>& widths);
// "FolderTree": the expanded folders' paths, each followed by ";".
std::vector<std::string> FolderTreeParse(std::string_view text);
std::string FolderTreeFormat(const std::vector<std::string>& paths);

// Folder commands. A folder name is not empty, holds no "/" and differs (ignoring case) from the
// other sub-folders of its parent.
bool FolderNameValid(const DeviceFolder& parent, std::string_view name, const DeviceFolder* self = nullptr);
// A name for a new sub-folder: `base`, else "base (2)", "base (3)" ...
std::string FolderNewName(const DeviceFolder& parent, std::string_view base);
// Creates the sub-folder; null when the name is not valid.
DeviceFolder* FolderCreate(DeviceFolder& parent, std::string_view name);
// Renames a folder (not the root). Returns 1, or 0 when the name is not valid.
int FolderRename(DeviceFolder& folder, std::string_view name);
// Deletes a folder (not the root): its devices and sub-folders move to its parent, where a sub-folder
// of the same name takes them in, so that no device is lost. The list's current folder follows.
// Returns 1, or 0 for the root.
int FolderDelete(DeviceList& list, DeviceFolder& folder);
// Moves an entry to the end of `to`. Returns 1, or 0 when the list does not hold it.
int DeviceMove(DeviceList& list, DeviceEntry* entry, DeviceFolder& to);
// True when `folder` is `ancestor` or lies inside it.
bool FolderInside(const DeviceFolder* folder, const DeviceFolder* ancestor);

// The status bar: the device count of the folder or the selection, and while a search runs its phase
// and the devices found so far.
std::string MainStatusText(size_t devices, size_t selected, const SearchRequest* search);

// Files dropped onto a device: the command they start (1319 firmware, 1315 configuration), 0 when the
// file is neither. `head`: the file's first bytes.
uint32_t DroppedFileCommand(std::string_view fileName, std::string_view head);
