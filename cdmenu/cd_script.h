// The menu script of the CD start menu (an INI file) and the menu it describes: blocks of static and
// hot-spot lines with their text appearance, sub-menus, the picture and help panel, each line filtered
// at load time by its language, system and condition lists.
#pragma once

#include "cdmenu/cd_env.h"
#include "cdmenu/cd_expr.h"
#include "common/ini.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// String ids of the menu's own messages (res/kardell/strings.*).
enum : unsigned {
    kCdStrNumberedKeys = 1006, // a section uses numbered keys ("1.Line"): the block is skipped
    kCdStrExpressionError = 1007, // "Error in logical expression:\n"
};

enum class CdMessageKind { Warning, Error };
// Where script errors go: a message box in kardell.exe, standard error in kardell-cli.
using CdReport = std::function<void(CdMessageKind kind, const std::string& text)>;

struct CdColor {
    uint8_t r = 0, g = 0, b = 0;
};

enum : unsigned { kCdFontBold = 1, kCdFontItalic = 2, kCdFontUnderlined = 4, kCdFontStrikeout = 8 };

// The appearance of a block's text (its own keys over "Metrics" and "Font"), or of the help panel.
struct CdTextStyle {
    std::string fontName = "UniversCond";
    unsigned fontFlags = 0; // kCdFont*
    int fontHeight = 20;
    std::vector<CdColor> colors { CdColor { 255, 255, 255 },
        CdColor { 255, 255, 0 } }; // normal; hot spot under the mouse; ...
    std::vector<CdColor> colors16 { CdColor { 255, 255, 255 }, CdColor { 255, 255, 0 } };
    CdColor shadowColor {};
    CdColor shadowColor16 {};
    int shadowX = 2, shadowY = 2;
    int correction3d = 0;
    int textX = 40, textY = 40; // the first line
    int distance = 24; // between lines
};

// The help panel of a hot spot: the "Help" section's keys, overridden by the hot spot's own section.
struct CdHelpPanel {
    CdTextStyle style;
    int x = 0, y = 0; // "StartPosXY"
    int width = 0, height = 0; // "StartPosExt"
    int textOffset = 4; // "TextOffset": the margin of the text inside the panel
    bool frame = false; // "Frame"
    std::vector<std::string> text; // "Text", its lines split at "\n"
};

// Where a hot spot's help panel is drawn (rectangles in the picture's pixels): at its place, widened to
// its text (`textWidth`, margins included) within the picture, unless a shown line reaches into it; then
// right of the lines it would cover, else below all lines, else at the picture's right edge. A panel
// drawn over a line would cut the line's text.
struct CdBox {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Overlaps(const CdBox& o) const
    {
        return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
    bool operator==(const CdBox&) const = default;
};
CdBox CdPlaceHelpPanel(
    CdBox panel, const std::vector<CdBox>& lines, int textWidth, int pictureWidth, int pictureHeight);

struct CdLine {
    bool separator = false; // "$Line"
    std::string text;
    std::string command; // hot spots: a file or address, "$Exit" or "$SubMenu"
    std::string parameters;
    std::string helpSection;
    std::optional<CdHelpPanel> help;
    // "$SubMenu": the lines of the sub-menu (filtered like every line); a sub-menu that names itself or
    // an open parent is not read again and stays empty.
    std::vector<CdLine> subMenu;
    bool IsSubMenu() const;
    bool IsExit() const;
};

struct CdBlock {
    int number = 0;
    bool hotspot = false;
    std::string section; // the section it was read from
    CdTextStyle style;
    std::vector<CdLine> lines;
};

struct CdMenu {
    // "COMMON"
    std::string windowTitle, icon, standardCursor, hotspotCursor, welcomeWav, clickWav, menuWav;
    // "Bitmap.<language>"
    std::string backgroundBitmap, helpBitmap;
    CdColor helpColor {};
    std::vector<CdBlock> blocks;
};

// The section used for a base name ("1.Hotspot"): base + "." + the language id in hexadecimal; else
// base + "." + a name that the language name begins with (compared over the length written, ignoring
// case); else base + ".Default"; else, for a script written without variants, the base name itself.
// None when none exists.
std::optional<std::string> CdFindVariant(const IniFile& script, std::string_view base, const CdEnvironment& env);

// True when the section uses numbered keys for `key` ("1.Line", "2.DLL").
bool CdHasNumberedKeys(const IniFile& script, std::string_view section, std::string_view key);

// Evaluates a line's condition list against the script's named expressions and the established set:
// true when the list is empty or any name is true. A malformed expression is reported (with `report`)
// and makes the result false.
bool CdMatchConditions(
    const IniFile& script, std::string_view list, const CdConditionSet& established, const CdReport& report);

// Everything the menu needs from its surroundings while it is read.
struct CdContext {
    CdEnvironment env;
    CdConditionSet established;
    std::string pluginResult; // "$PLUGINRESULT": the examine string of the last plug-in that gave one
    bool display16 = false; // the display has 16 colours or fewer: the ".16" colours are used
    CdReport report;
};

// Reads the menu: title and resources, picture, blocks in order until a number has no section, their
// lines filtered by language, system and conditions, sub-menus recursively.
CdMenu CdReadMenu(const IniFile& script, const CdContext& context);

// The parameters of a hot spot as launched: "$PLUGINRESULT" replaced by the plug-in result.
std::string CdLaunchParameters(const CdLine& line, const CdContext& context);

// File conditions: the file system asked whether a file matches a pattern (wildcards "*" and "?", "\"
// or "/" between folders; relative to the CD root).
class CdFileSystem {
public:
    virtual ~CdFileSystem() = default;
    virtual bool AnyMatch(const std::string& pattern) = 0;
};
// Establishes every condition of "FilePresentConditions" whose pattern matches a file.
void CdEstablishFileConditions(const IniFile& script, CdFileSystem& files, CdConditionSet* established);

// A plug-in library of the menu, loaded; each call is none when the library lacks the function.
class CdPlugin {
public:
    virtual ~CdPlugin() = default;
    virtual std::optional<uint32_t> GetVersionNumber() = 0;
    virtual std::optional<int> OnInit(const std::string& parameters) = 0;
    // The text, or none when the function is missing or answered 0.
    virtual std::optional<std::string> GetLanguage() = 0;
    virtual std::optional<std::string> GetCountry() = 0;
    // The examine string: asked for its length first, then read into a buffer of that size (capped at
    // kCdExamineMax) that the caller terminates. None when the function is missing.
    virtual std::optional<std::string> GetExamineString() = 0;
};
constexpr size_t kCdExamineMax = 64 * 1024;

class CdPluginLoader {
public:
    virtual ~CdPluginLoader() = default;
    // Null when the library cannot be loaded; the library is freed with the object.
    virtual std::unique_ptr<CdPlugin> Load(const std::string& file) = 0;
};

// Asks the plug-ins of "PLUGIN" in order ("DLL=" lines): libraries without GetVersionNumber or with a
// version above 13 are skipped; OnInit gets the "Plugin.Parameter" section (its lines, each ended by a
// NUL, and a final NUL), and a result of 0 skips the library's other calls; GetLanguage and
// GetCountry replace language and country, the examine strings add conditions.
void CdAskPlugins(const IniFile& script, CdPluginLoader& loader, CdContext* context);
