#include "common/placement.h"

#include "common/ini.h"
#include "common/text.h"

#include <cstdio>
#include <vector>

namespace {
// The numbers of a "%d,%d,..." value as sscanf reads them: blanks before each number, a comma after
// each but the last; reading stops at the first thing that does not fit.
std::vector<int32_t> ReadNumbers(std::string_view text)
{
    std::vector<int32_t> numbers;
    size_t i = 0;
    for (;;) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        size_t start = i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+'))
            ++i;
        size_t digits = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        if (i == digits)
            break;
        numbers.push_back(ParseDecimal(text.substr(start, i - start)));
        if (i >= text.size() || text[i] != ',')
            break;
        ++i;
    }
    return numbers;
}
} // namespace

PlacementRecord PlacementFromWindow(const PlaceRect& normal, bool minimized, bool maximized, bool topMost, bool hidden)
{
    PlacementRecord r;
    r.x = normal.left;
    r.y = normal.top;
    r.width = normal.Width();
    r.height = normal.Height();
    r.minimized = minimized;
    r.maximized = maximized;
    r.topMost = topMost;
    r.hidden = hidden;
    return r;
}

int PlacementSave(
    const std::string& iniFile, const std::string& section, const char* key, unsigned flags, const PlacementRecord& r)
{
    IniTransaction t(iniFile);
    if (key && *key) {
        const unsigned states = kPlaceMinimized | kPlaceMaximized | kPlaceHidden | kPlaceTopMost;
        std::string value;
        if ((flags & states) == 0)
            value = StrFormat("%d,%d,%d,%d", r.x, r.y, r.width, r.height);
        else
            value = StrFormat("%d,%d,%d,%d,%d,%d,%d,%d", r.x, r.y, r.width, r.height,
                (flags & kPlaceMinimized) && r.minimized ? 1 : 0, (flags & kPlaceMaximized) && r.maximized ? 1 : 0,
                (flags & kPlaceTopMost) && r.topMost ? 1 : 0, (flags & kPlaceHidden) && r.hidden ? 1 : 0);
        t->SetString(section, key, value);
        return t.Commit();
    }
    t->SetInt(section, "XPos", r.x);
    t->SetInt(section, "YPos", r.y);
    t->SetInt(section, "XSize", r.width);
    t->SetInt(section, "YSize", r.height);
    struct {
        unsigned flag;
        const char* name;
        bool value;
    } states[] = {
        { kPlaceMinimized, "IsMinimized", r.minimized },
        { kPlaceMaximized, "IsMaximized", r.maximized },
        { kPlaceHidden, "IsHidden", r.hidden },
        { kPlaceTopMost, "IsTopMost", r.topMost },
    };
    for (const auto& s : states) {
        if (flags & s.flag)
            t->SetInt(section, s.name, s.value ? 1 : 0);
        else
            t->DeleteKey(section, s.name);
    }
    return t.Commit();
}

int PlacementLoad(
    const std::string& iniFile, const std::string& section, const char* key, unsigned flags, PlacementRecord* record)
{
    IniFile ini;
    ini.Load(iniFile);
    PlacementRecord r;
    if (key && *key) {
        std::vector<int32_t> n = ReadNumbers(ini.GetString(section, key, "", 63));
        if (n.size() < 4)
            return 0;
        r.x = n[0];
        r.y = n[1];
        r.width = n[2];
        r.height = n[3];
        r.minimized = (flags & kPlaceMinimized) && n.size() > 4 && n[4] != 0;
        r.maximized = (flags & kPlaceMaximized) && n.size() > 5 && n[5] != 0;
        r.topMost = (flags & kPlaceTopMost) && n.size() > 6 && n[6] != 0;
        r.hidden = (flags & kPlaceHidden) && n.size() > 7 && n[7] != 0;
    } else {
        r.x = ini.GetInt(section, "XPos", 0);
        r.y = ini.GetInt(section, "YPos", 0);
        r.width = ini.GetInt(section, "XSize", 0);
        r.height = ini.GetInt(section, "YSize", 0);
        r.minimized = (flags & kPlaceMinimized) && ini.GetInt(section, "IsMinimized", 0) != 0;
        r.maximized = (flags & kPlaceMaximized) && ini.GetInt(section, "IsMaximized", 0) != 0;
        r.hidden = (flags & kPlaceHidden) && ini.GetInt(section, "IsHidden", 0) != 0;
        r.topMost = (flags & kPlaceTopMost) && ini.GetInt(section, "IsTopMost", 0) != 0;
    }
    // A window of no (or negative) size would be invisible and unreachable: refuse it in both forms.
    if (r.width <= 0 || r.height <= 0)
        return 0;
    *record = r;
    return 1;
}

PlacementShow PlacementShowFor(const PlacementRecord& r, unsigned flags)
{
    if (r.hidden)
        return PlacementShow::None;
    if (r.maximized)
        return PlacementShow::Maximized;
    if (r.minimized)
        return PlacementShow::Minimized;
    return (flags & kPlaceActivate) ? PlacementShow::Activated : PlacementShow::NoActivate;
}

PlaceRect CenterRect(const PlaceRect& window, const PlaceRect* owner, const PlaceRect& workArea, int32_t smallIconWidth,
    int32_t smallIconHeight)
{
    const PlaceRect& base = owner ? *owner : workArea;
    int32_t w = window.Width();
    int32_t h = window.Height();
    int32_t x = base.left + (base.Width() - w) / 2;
    int32_t y = base.top + (base.Height() - h) / 2;
    if (owner) {
        if (x < owner->left + smallIconWidth)
            x = owner->left + smallIconWidth;
        if (y < owner->top + smallIconHeight)
            y = owner->top + smallIconHeight;
    }
    if (x < workArea.left)
        x = workArea.left;
    else if (x + w > workArea.right)
        x = workArea.right - w;
    if (y < workArea.top)
        y = workArea.top;
    else if (y + h > workArea.bottom)
        y = workArea.bottom - h;
    return PlaceRect { x, y, x + w, y + h };
}
