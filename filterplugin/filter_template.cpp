// Extended dialog templates (the layout the resource compiler writes for DIALOGEX): a fixed header,
// menu, class and caption, the font when the style asks for one, then the controls, each aligned to
// four bytes from the template's start.
#include "filterplugin/filter_template.h"

#include <cstring>

namespace {

constexpr uint32_t k_setFont = 0x40; // DS_SETFONT
constexpr size_t k_headerSize = 26;

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool ok = true;

    uint16_t U16()
    {
        if (!ok || size - at < 2 || at > size) {
            ok = false;
            return 0;
        }
        uint16_t v;
        std::memcpy(&v, data + at, 2);
        at += 2;
        return v;
    }
    void Skip(size_t n)
    {
        if (!ok || at > size || size - at < n)
            ok = false;
        else
            at += n;
    }
    void Align()
    {
        Skip((4 - at % 4) % 4);
    }
    // A text up to its terminator.
    std::u16string Text()
    {
        std::u16string out;
        for (;;) {
            uint16_t c = U16();
            if (!ok || c == 0)
                return out;
            out += static_cast<char16_t>(c);
        }
    }
    // A name or ordinal: none (0), 0xFFFF and a number, or a text.
    std::u16string NameOrOrdinal()
    {
        if (!ok || size - at < 2)
            return ok = false, std::u16string();
        uint16_t first;
        std::memcpy(&first, data + at, 2);
        if (first == 0)
            return Skip(2), std::u16string();
        if (first == 0xFFFF)
            return Skip(4), std::u16string();
        return Text();
    }
};

struct Item {
    size_t begin, end; // the control's bytes
    int16_t y;
    uint32_t id;
    std::u16string text;
};

struct Parsed {
    size_t headerEnd = 0; // end of the dialog's own part (menu, class, caption, font)
    uint16_t count = 0;
    int16_t height = 0;
    std::vector<Item> items;
};

bool Parse(const uint8_t* data, size_t size, Parsed* out)
{
    if (!data || size < k_headerSize)
        return false;
    Reader r { data, size };
    uint16_t version = r.U16(), signature = r.U16();
    if (version != 1 || signature != 0xFFFF)
        return false;
    r.Skip(8); // help id, extended style
    uint16_t lo = r.U16(), hi = r.U16();
    uint32_t style = static_cast<uint32_t>(hi) << 16 | lo;
    out->count = r.U16();
    r.Skip(6); // x, y, cx
    out->height = static_cast<int16_t>(r.U16());
    r.NameOrOrdinal(); // menu
    r.NameOrOrdinal(); // class
    r.Text(); // caption
    if (style & k_setFont) {
        r.Skip(6); // point size, weight, italic, character set
        r.Text();
    }
    if (!r.ok)
        return false;
    out->headerEnd = r.at;
    for (uint16_t i = 0; i < out->count; ++i) {
        r.Align();
        Item item {};
        item.begin = r.at;
        r.Skip(14); // help id, extended style, style, x
        item.y = static_cast<int16_t>(r.U16());
        r.Skip(4); // cx, cy
        uint16_t idLo = r.U16(), idHi = r.U16();
        item.id = static_cast<uint32_t>(idHi) << 16 | idLo;
        r.NameOrOrdinal(); // class
        item.text = r.NameOrOrdinal();
        uint16_t extra = r.U16();
        r.Skip(extra);
        if (!r.ok)
            return false;
        item.end = r.at;
        out->items.push_back(std::move(item));
    }
    return true;
}

void Put16(std::vector<uint8_t>* out, uint16_t v)
{
    out->push_back(static_cast<uint8_t>(v & 0xFF));
    out->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t v)
{
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
}
void Align(std::vector<uint8_t>* out)
{
    while (out->size() % 4)
        out->push_back(0);
}

void PutStatic(
    std::vector<uint8_t>* out, int16_t x, int16_t y, int16_t cx, int16_t cy, uint16_t id, const std::u16string& text)
{
    Align(out);
    Put32(out, 0); // help id
    Put32(out, 0); // extended style
    Put32(out, 0x50000000u | 0x80u); // WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX
    Put16(out, static_cast<uint16_t>(x));
    Put16(out, static_cast<uint16_t>(y));
    Put16(out, static_cast<uint16_t>(cx));
    Put16(out, static_cast<uint16_t>(cy));
    Put32(out, id);
    Put16(out, 0xFFFF);
    Put16(out, 0x0082); // the static class
    for (char16_t c : text)
        Put16(out, static_cast<uint16_t>(c));
    Put16(out, 0);
    Put16(out, 0); // no creation data
}

} // namespace

std::vector<uint8_t> FilterTemplateWithHeader(const uint8_t* data, size_t size, const FilterHeaderControls& header)
{
    Parsed p;
    if (!Parse(data, size, &p))
        return {};
    std::vector<uint8_t> out(data, data + p.headerEnd);
    uint16_t count = static_cast<uint16_t>(p.count + 2);
    std::memcpy(out.data() + 16, &count, 2);
    int16_t cx;
    std::memcpy(&cx, data + 22, 2);
    int16_t cy = static_cast<int16_t>(p.height + header.height);
    std::memcpy(out.data() + 24, &cy, 2);
    int16_t width = static_cast<int16_t>(cx > 16 ? cx - 14 : cx);
    PutStatic(&out, 7, 3, width, 10, header.titleId, header.title);
    PutStatic(&out, 15, 13, static_cast<int16_t>(width > 8 ? width - 8 : width), header.height - 15, header.subtitleId,
        header.subtitle);
    for (const Item& item : p.items) {
        Align(&out);
        size_t at = out.size();
        out.insert(out.end(), data + item.begin, data + item.end);
        int16_t y = static_cast<int16_t>(item.y + header.height);
        std::memcpy(out.data() + at + 14, &y, 2);
    }
    return out;
}

bool FilterTemplateRead(const uint8_t* data, size_t size, FilterTemplateInfo* info)
{
    Parsed p;
    if (!Parse(data, size, &p))
        return false;
    info->count = p.count;
    info->height = p.height;
    for (const Item& item : p.items) {
        info->ids.push_back(item.id);
        info->ys.push_back(item.y);
        info->texts.push_back(item.text);
    }
    return true;
}
