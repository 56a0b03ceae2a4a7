// Window placement kept in a settings file, and centring a window inside the work area. The logic works
// on plain rectangles; common/ui/desktop.h applies it to real windows.
#pragma once

#include <cstdint>
#include <string>

// Placement flags: which attributes are remembered, and how a restored window is shown.
enum : unsigned {
    kPlaceMinimized = 1,
    kPlaceMaximized = 2,
    kPlaceHidden = 4,
    kPlaceTopMost = 8,
    kPlaceActivate = 16, // show the restored window activated (otherwise without activation)
};

struct PlaceRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t Width() const
    {
        return right - left;
    }
    int32_t Height() const
    {
        return bottom - top;
    }
    bool operator==(const PlaceRect&) const = default;
};

// A window's placement as saved: the normal (restored) rectangle and its states.
struct PlacementRecord {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool minimized = false;
    bool maximized = false;
    bool topMost = false;
    bool hidden = false;
    bool operator==(const PlacementRecord&) const = default;
};

// The record of a window with this normal rectangle and these states.
PlacementRecord PlacementFromWindow(const PlaceRect& normal, bool minimized, bool maximized, bool topMost, bool hidden);

// Writes the record in one settings-file write. With a key: key = "x,y,w,h" when none of the flags 1, 2,
// 4, 8 is set, else "x,y,w,h,min,max,topmost,hidden" (an attribute whose flag is not set written as 0).
// Without a key (null or empty): XPos, YPos, XSize, YSize and, for the flags set, IsMinimized,
// IsMaximized, IsHidden, IsTopMost; the keys of flags not set are deleted. Returns 1 on success.
int PlacementSave(const std::string& iniFile, const std::string& section, const char* key, unsigned flags,
    const PlacementRecord& record);

// Reads a record saved by PlacementSave. Returns 0 (and leaves `record` alone) when the value has
// fewer than four numbers or the width or height is not positive; attributes whose flags are not set
// read as false.
int PlacementLoad(
    const std::string& iniFile, const std::string& section, const char* key, unsigned flags, PlacementRecord* record);

// How a restored window is shown.
enum class PlacementShow { None, Maximized, Minimized, Activated, NoActivate };
PlacementShow PlacementShowFor(const PlacementRecord& record, unsigned flags);

// Centres `window` on the owner's rectangle, or on the work area without an owner. With an owner, the
// window goes no further up and left than the owner's top-left corner plus the small-icon size. Then it
// is pushed inside the work area: left edge not left of it, else right edge not right of it; the same
// for top and bottom. The size is kept.
PlaceRect CenterRect(const PlaceRect& window, const PlaceRect* owner, const PlaceRect& workArea, int32_t smallIconWidth,
    int32_t smallIconHeight);
