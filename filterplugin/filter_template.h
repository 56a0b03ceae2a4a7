// Dialog templates in memory: a wizard page shown in the old page layout, which has no header area,
// gets its title and subtitle as two text controls at the top of a rebuilt copy of its template.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct FilterHeaderControls {
    std::u16string title;
    std::u16string subtitle;
    uint16_t titleId = 0;
    uint16_t subtitleId = 0;
    int16_t height = 30; // dialog units added above the page's own controls
};

// A copy of the extended dialog template `data` (`size` bytes, as loaded from the resources) with the
// two header texts as static controls above the other controls, which move down by `height`; the
// dialog grows by as much. Reads only within `size`. Empty when the template is not an extended one or
// is cut short.
std::vector<uint8_t> FilterTemplateWithHeader(const uint8_t* data, size_t size, const FilterHeaderControls& header);

// What a template holds, for checks: the control count, the dialog's height and each control's id, y
// and text (ordinal classes and texts as empty texts).
struct FilterTemplateInfo {
    uint16_t count = 0;
    int16_t height = 0;
    std::vector<uint32_t> ids;
    std::vector<int16_t> ys;
    std::vector<std::u16string> texts;
};
bool FilterTemplateRead(const uint8_t* data, size_t size, FilterTemplateInfo* info);
