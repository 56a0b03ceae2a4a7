#include "cdmenu/cd_script.h"

#include "common/strings.h"
#include "common/text.h"

#include <algorithm>
#include <cstdlib>

namespace {
// A "key=value" line of a whole-section read, split; false for a line without "=".
bool SplitEntry(std::string_view line, std::string_view* key, std::string_view* value)
{
    size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    *key = Trim(line.substr(0, eq));
    *value = Trim(line.substr(eq + 1));
    return true;
}

// The "Line" values of a section in file order, equal keys included.
std::vector<std::string> LineEntries(const IniFile& script, std::string_view section)
{
    std::vector<std::string> out;
    for (const std::string& line : script.SectionLines(section)) {
        std::string_view key, value;
        if (SplitEntry(line, &key, &value) && StrEqualNoCase(key, "Line"))
            out.emplace_back(value);
    }
    return out;
}

// Splits at `separator` keeping empty fields ("Install;setup.exe;;;!WinNT" has five), each trimmed;
// at least `count` fields.
std::vector<std::string> Fields(std::string_view text, size_t count, char separator = ';')
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        out.emplace_back(Trim(text.substr(start, end == std::string_view::npos ? end : end - start)));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    if (out.size() < count)
        out.resize(count);
    return out;
}

int Number(std::string_view text)
{
    return ParseDecimal(Trim(text));
}

// "x,y" or "x;y".
bool Pair(std::string_view text, char separator, int* x, int* y)
{
    size_t sep = text.find(separator);
    if (Trim(text).empty())
        return false;
    *x = Number(text.substr(0, sep));
    *y = sep == std::string_view::npos ? 0 : Number(text.substr(sep + 1));
    return true;
}

uint8_t Channel(std::string_view text)
{
    int v = Number(text);
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// "r,g,b"; none when the text is empty.
std::optional<CdColor> Color(std::string_view text)
{
    if (Trim(text).empty())
        return std::nullopt;
    std::vector<std::string> parts = Fields(text, 3, ',');
    return CdColor { Channel(parts[0]), Channel(parts[1]), Channel(parts[2]) };
}

std::vector<CdColor> ColorList(std::string_view text)
{
    std::vector<CdColor> out;
    for (const std::string& c : CdSplitList(text, ';'))
        if (std::optional<CdColor> color = Color(c))
            out.push_back(*color);
    return out;
}

unsigned FontFlags(std::string_view text)
{
    unsigned flags = 0;
    for (const std::string& f : CdSplitList(text)) {
        if (StrEqualNoCase(f, "Bold"))
            flags |= kCdFontBold;
        else if (StrEqualNoCase(f, "Italic"))
            flags |= kCdFontItalic;
        else if (StrEqualNoCase(f, "Underlined"))
            flags |= kCdFontUnderlined;
        else if (StrEqualNoCase(f, "Strikeout"))
            flags |= kCdFontStrikeout;
    }
    return flags;
}

// A key from the first of the sections that has it.
std::optional<std::string> Lookup(const IniFile& script, const std::vector<std::string>& sections, std::string_view key)
{
    for (const std::string& s : sections)
        if (std::optional<std::string> v = script.Find(s, key))
            return v;
    return std::nullopt;
}

void ReadStyle(const IniFile& script, const std::vector<std::string>& sections, CdTextStyle* style)
{
    if (auto v = Lookup(script, sections, "FontName"); v && !v->empty())
        style->fontName = *v;
    if (auto v = Lookup(script, sections, "FontFlags"))
        style->fontFlags = FontFlags(*v);
    if (auto v = Lookup(script, sections, "FontHeight"); v && !v->empty())
        style->fontHeight = Number(*v);
    if (auto v = Lookup(script, sections, "FontColor"); v && !ColorList(*v).empty())
        style->colors = ColorList(*v);
    style->colors16 = style->colors;
    if (auto v = Lookup(script, sections, "FontColor.16"); v && !ColorList(*v).empty())
        style->colors16 = ColorList(*v);
    if (auto v = Lookup(script, sections, "ShadowColor"))
        if (auto c = Color(*v))
            style->shadowColor = *c;
    style->shadowColor16 = style->shadowColor;
    if (auto v = Lookup(script, sections, "ShadowColor.16"))
        if (auto c = Color(*v))
            style->shadowColor16 = *c;
    if (auto v = Lookup(script, sections, "Shadow"))
        Pair(*v, ';', &style->shadowX, &style->shadowY);
    if (auto v = Lookup(script, sections, "3DCorrection"); v && !v->empty())
        style->correction3d = Number(*v);
    if (auto v = Lookup(script, sections, "TextKoor"))
        Pair(*v, ',', &style->textX, &style->textY);
    if (auto v = Lookup(script, sections, "TextDistance"); v && !v->empty())
        style->distance = Number(*v);
}

// With a 16-colour display the ".16" colours are the colours.
void UseDisplayColors(bool display16, CdTextStyle* style)
{
    if (!display16)
        return;
    style->colors = style->colors16;
    style->shadowColor = style->shadowColor16;
}

class MenuReader {
public:
    MenuReader(const IniFile& script, const CdContext& context)
        : script_(script)
        , ctx_(context)
    {
    }

    CdMenu Read()
    {
        CdMenu menu;
        menu.windowTitle = script_.GetString("COMMON", "WindowTitle", "");
        menu.icon = script_.GetString("COMMON", "Icon", "");
        menu.standardCursor = script_.GetString("COMMON", "StandardCursor", "");
        menu.hotspotCursor = script_.GetString("COMMON", "HotspotCursor", "");
        menu.welcomeWav = script_.GetString("COMMON", "WelcomeWav", "");
        menu.clickWav = script_.GetString("COMMON", "ClickWav", "");
        menu.menuWav = script_.GetString("COMMON", "MenuWav", "");
        if (std::optional<std::string> bitmap = CdFindVariant(script_, "Bitmap", ctx_.env)) {
            menu.backgroundBitmap = script_.GetString(*bitmap, "BackgroundBitmap", "");
            menu.helpBitmap = script_.GetString(*bitmap, "HelpBitmap", "");
            if (auto c = Color(script_.GetString(*bitmap, "HelpColor", "")))
                menu.helpColor = *c;
        }
        for (int n = 1;; ++n) {
            std::optional<std::string> stat = CdFindVariant(script_, StrFormat("%d.Static", n), ctx_.env);
            std::optional<std::string> hot = CdFindVariant(script_, StrFormat("%d.Hotspot", n), ctx_.env);
            if (!stat && !hot)
                break;
            if (stat)
                ReadBlock(n, false, *stat, &menu);
            if (hot)
                ReadBlock(n, true, *hot, &menu);
        }
        return menu;
    }

private:
    void ReadBlock(int number, bool hotspot, const std::string& section, CdMenu* menu)
    {
        if (NumberedKeys(section))
            return;
        CdBlock block;
        block.number = number;
        block.hotspot = hotspot;
        block.section = section;
        ReadStyle(script_, { section, "Metrics", "Font" }, &block.style);
        UseDisplayColors(ctx_.display16, &block.style);
        std::vector<std::string> open { section };
        ReadLines(section, hotspot, &open, &block.lines);
        menu->blocks.push_back(std::move(block));
    }

    bool NumberedKeys(const std::string& section)
    {
        if (!CdHasNumberedKeys(script_, section, "Line"))
            return false;
        if (ctx_.report)
            ctx_.report(
                CdMessageKind::Warning, StrLoad(kardell_Strings(), kCdStrNumberedKeys) + "\n\n[" + section + "]");
        return true;
    }

    // `open`: the sections being read, outermost first; a sub-menu naming one of them is not read again.
    void ReadLines(const std::string& section, bool hotspot, std::vector<std::string>* open, std::vector<CdLine>* out)
    {
        for (const std::string& entry : LineEntries(script_, section)) {
            std::vector<std::string> f = Fields(entry, hotspot ? 7 : 4);
            CdLine line;
            line.text = f[0];
            size_t lists = 1;
            if (hotspot) {
                line.command = f[1];
                line.parameters = f[2];
                line.helpSection = f[6];
                lists = 3;
            }
            if (!CdMatchLanguageList(f[lists], ctx_.env.language) || !CdMatchSystemList(f[lists + 1], ctx_.env.system)
                || !CdMatchConditions(script_, f[lists + 2], ctx_.established, ctx_.report))
                continue;
            line.separator = StrEqualNoCase(line.text, "$Line");
            if (line.separator)
                line.text.clear();
            if (hotspot && !line.helpSection.empty())
                line.help = ReadHelp(line.helpSection);
            if (hotspot && line.IsSubMenu())
                ReadSubMenu(&line, open);
            out->push_back(std::move(line));
        }
    }

    void ReadSubMenu(CdLine* line, std::vector<std::string>* open)
    {
        std::optional<std::string> section = CdFindVariant(script_, line->parameters + ".Hotspot", ctx_.env);
        if (!section)
            return;
        for (const std::string& s : *open)
            if (StrEqualNoCase(s, *section))
                return;
        if (NumberedKeys(*section))
            return;
        open->push_back(*section);
        ReadLines(*section, true, open, &line->subMenu);
        open->pop_back();
    }

    CdHelpPanel ReadHelp(const std::string& name)
    {
        std::vector<std::string> sections;
        if (std::optional<std::string> own = CdFindVariant(script_, name, ctx_.env))
            sections.push_back(*own);
        sections.push_back("Help");
        CdHelpPanel help;
        ReadStyle(script_, sections, &help.style);
        UseDisplayColors(ctx_.display16, &help.style);
        if (auto v = Lookup(script_, sections, "StartPosXY"))
            Pair(*v, ',', &help.x, &help.y);
        if (auto v = Lookup(script_, sections, "StartPosExt"))
            Pair(*v, ',', &help.width, &help.height);
        if (auto v = Lookup(script_, sections, "TextOffset"); v && !v->empty())
            help.textOffset = Number(*v);
        if (auto v = Lookup(script_, sections, "Frame"))
            help.frame = Number(*v) != 0;
        if (auto v = Lookup(script_, sections, "Text")) {
            // "\n" written in the script breaks the text into lines.
            std::string_view text = *v;
            for (size_t start = 0;;) {
                size_t nl = text.find("\\n", start);
                help.text.emplace_back(text.substr(start, nl == std::string_view::npos ? nl : nl - start));
                if (nl == std::string_view::npos)
                    break;
                start = nl + 2;
            }
        }
        return help;
    }

    const IniFile& script_;
    const CdContext& ctx_;
};
} // namespace

bool CdLine::IsSubMenu() const
{
    return StrEqualNoCase(command, "$SubMenu");
}

bool CdLine::IsExit() const
{
    return StrEqualNoCase(command, "$Exit");
}

std::optional<std::string> CdFindVariant(const IniFile& script, std::string_view base, const CdEnvironment& env)
{
    std::string b(Trim(base));
    std::string hex = b + StrFormat(".%x", env.languageId);
    if (script.HasSection(hex))
        return hex;
    std::string prefix = b + ".";
    for (const std::string& name : script.SectionNames()) {
        if (name.size() <= prefix.size() || !StrStartsWithNoCase(name, prefix))
            continue;
        std::string_view written = std::string_view(name).substr(prefix.size());
        if (StrStartsWithNoCase(env.language, written))
            return name;
    }
    std::string def = b + ".Default";
    if (script.HasSection(def))
        return def;
    if (script.HasSection(b))
        return b;
    return std::nullopt;
}

bool CdHasNumberedKeys(const IniFile& script, std::string_view section, std::string_view key)
{
    for (const std::string& line : script.SectionLines(section)) {
        std::string_view k, value;
        if (!SplitEntry(line, &k, &value))
            continue;
        size_t digits = 0;
        while (digits < k.size() && k[digits] >= '0' && k[digits] <= '9')
            ++digits;
        if (digits > 0 && digits < k.size() && k[digits] == '.' && StrEqualNoCase(k.substr(digits + 1), key))
            return true;
    }
    return false;
}

bool CdMatchConditions(
    const IniFile& script, std::string_view list, const CdConditionSet& established, const CdReport& report)
{
    std::vector<std::string> names = CdSplitList(list);
    if (names.empty())
        return true;
    for (const std::string& name : names) {
        std::optional<std::string> expression = script.Find("LogicalConditions", name);
        if (!expression)
            expression = script.Find("Plugin.Conditions", name);
        if (!expression) {
            if (established.Has(name))
                return true;
            continue;
        }
        int value = CdEvalExpression(*expression, established);
        if (value < 0) {
            if (report)
                report(CdMessageKind::Error, StrLoad(kardell_Strings(), kCdStrExpressionError) + *expression);
            return false;
        }
        if (value)
            return true;
    }
    return false;
}

CdMenu CdReadMenu(const IniFile& script, const CdContext& context)
{
    return MenuReader(script, context).Read();
}

std::string CdLaunchParameters(const CdLine& line, const CdContext& context)
{
    std::string out = line.parameters;
    static constexpr std::string_view kToken = "$PLUGINRESULT";
    for (size_t at = out.find(kToken); at != std::string::npos; at = out.find(kToken, at + context.pluginResult.size()))
        out.replace(at, kToken.size(), context.pluginResult);
    return out;
}

void CdEstablishFileConditions(const IniFile& script, CdFileSystem& files, CdConditionSet* established)
{
    for (const std::string& line : script.SectionLines("FilePresentConditions")) {
        std::string_view name, pattern;
        if (!SplitEntry(line, &name, &pattern) || name.empty() || pattern.empty())
            continue;
        std::string p(pattern);
        if (p.size() >= 2 && p.front() == '"' && p.back() == '"')
            p = p.substr(1, p.size() - 2);
        if (files.AnyMatch(p))
            established->Add(name);
    }
}

void CdAskPlugins(const IniFile& script, CdPluginLoader& loader, CdContext* context)
{
    if (!script.HasSection("PLUGIN"))
        return;
    if (CdHasNumberedKeys(script, "PLUGIN", "DLL")) {
        if (context->report)
            context->report(CdMessageKind::Warning, StrLoad(kardell_Strings(), kCdStrNumberedKeys) + "\n\n[PLUGIN]");
        return;
    }
    std::string parameters;
    for (const std::string& line : script.SectionLines("Plugin.Parameter")) {
        parameters += line;
        parameters += '\0';
    }
    parameters += '\0';
    for (const std::string& line : script.SectionLines("PLUGIN")) {
        std::string_view key, file;
        if (!SplitEntry(line, &key, &file) || !StrEqualNoCase(key, "DLL") || file.empty())
            continue;
        std::unique_ptr<CdPlugin> plugin = loader.Load(std::string(file));
        if (!plugin)
            continue;
        std::optional<uint32_t> version = plugin->GetVersionNumber();
        if (!version || *version > 13)
            continue;
        std::optional<int> init = plugin->OnInit(parameters);
        if (init && *init == 0)
            continue;
        if (std::optional<std::string> language = plugin->GetLanguage(); language && !language->empty()) {
            context->env.language = *language;
            if (std::optional<uint16_t> id = CdLanguageId(*language))
                context->env.languageId = *id;
        }
        if (std::optional<std::string> country = plugin->GetCountry(); country && !country->empty())
            context->env.country = *country;
        if (std::optional<std::string> examine = plugin->GetExamineString()) {
            context->established.AddList(*examine);
            if (!examine->empty())
                context->pluginResult = *examine;
        }
    }
}

CdBox CdPlaceHelpPanel(CdBox panel, const std::vector<CdBox>& lines, int textWidth, int pictureWidth, int pictureHeight)
{
    constexpr int kGap = 12;
    int width = panel.right - panel.left, height = panel.bottom - panel.top;
    if (textWidth > width)
        width = std::min(textWidth, std::max(pictureWidth, width));
    auto at = [&](int x, int y) { return CdBox { x, y, x + width, y + height }; };
    CdBox placed = at(std::max(0, std::min(panel.left, pictureWidth - width)), panel.top);
    auto covers = [&](const CdBox& box) {
        for (const CdBox& line : lines)
            if (box.Overlaps(line))
                return true;
        return false;
    };
    if (!covers(placed))
        return placed;
    // The nearest free place: at its own left edge or right of the lines beside it, at its own top or
    // just below or above a line.
    std::vector<int> xs { placed.left };
    int right = 0;
    for (const CdBox& line : lines)
        if (line.top < placed.bottom && placed.top < line.bottom)
            right = std::max(right, line.right);
    if (right + kGap + width <= pictureWidth)
        xs.push_back(right + kGap);
    std::vector<int> ys { placed.top };
    for (const CdBox& line : lines) {
        ys.push_back(line.bottom + kGap);
        ys.push_back(line.top - kGap - height);
    }
    bool found = false;
    CdBox best;
    long bestDistance = 0;
    for (int x : xs) {
        for (int y : ys) {
            CdBox box = at(x, y);
            if (y < 0 || box.bottom > pictureHeight || covers(box))
                continue;
            long distance = std::labs(long(x) - placed.left) + std::labs(long(y) - placed.top);
            if (!found || distance < bestDistance) {
                found = true;
                best = box;
                bestDistance = distance;
            }
        }
    }
    return found ? best : at(std::max(0, pictureWidth - width), placed.top);
}
