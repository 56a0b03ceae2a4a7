// The monitor's device list lines with their tree-state text, and the `add:` records of another
// instance. The first byte chooses: even, list text; odd, records. A list line that reads must write
// back as it read, and its tree state, read onto an item tree shaped by the input, must encode to a text
// that reads back to the same expansion and encodes unchanged.
#include "fuzz/fuzz_check.h"
#include "monitor/engine/engine.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
struct Tree {
    std::vector<std::unique_ptr<ItemObject>> objects;
    std::vector<std::unique_ptr<EngineItem>> top;
    std::vector<EngineItem*> all;

    // Each shape byte: bits 0-1 how many levels to climb before adding, bit 2 a child of the last item,
    // bit 3 a clone (row offset 1).
    explicit Tree(std::string_view shape)
    {
        EngineItem* last = nullptr;
        for (unsigned char b : shape) {
            EngineItem* parent = last ? last->parent : nullptr;
            if (last && (b & 4))
                parent = last;
            else
                for (int up = b & 3; up > 0 && parent; --up)
                    parent = parent->parent;
            auto object = std::make_unique<ItemObject>();
            auto item = std::make_unique<EngineItem>();
            item->object = object.get();
            item->parent = parent;
            item->rowOffset = (b & 8) ? 1 : 0;
            objects.push_back(std::move(object));
            auto& list = parent ? parent->children : top;
            list.push_back(std::move(item));
            last = list.back().get();
            all.push_back(last);
        }
    }
};

void CheckTreeState(std::string_view shape, std::string_view text)
{
    Tree first(shape), second(shape);
    EngineTreeStateDecode(text, first.top);
    std::string encoded = EngineTreeStateEncode(first.top);
    EngineTreeStateDecode(encoded, second.top);
    Check(EngineTreeStateEncode(second.top) == encoded);
    for (size_t i = 0; i < first.all.size(); ++i) {
        const EngineItem* a = first.all[i];
        const EngineItem* b = second.all[i];
        bool walked = true; // clones and their subtrees are not part of the text
        for (const EngineItem* at = a; at; at = at->parent)
            walked = walked && at->rowOffset == 0;
        bool hasChild = false;
        for (const auto& c : a->children)
            hasChild = hasChild || c->rowOffset == 0;
        if (walked && hasChild)
            Check(a->expanded == b->expanded);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    if (data[0] & 1) {
        auto records = EngineParseAddRecords(data + 1, size - 1);
        Check(records.size() <= (size - 1) / 12);
        for (const auto& r : records)
            Check(r.second.size() <= 255 && r.second.find('\0') == std::string::npos);
        return 0;
    }
    size_t shapeLength = std::min<size_t>(data[1], size - 2);
    std::string_view shape(reinterpret_cast<const char*>(data + 2), shapeLength);
    std::string_view text(reinterpret_cast<const char*>(data + 2 + shapeLength), size - 2 - shapeLength);
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        EngineListLine l;
        if (!EngineParseListLine(line, &l))
            continue;
        Check(l.community.size() <= 255);
        std::string written = EngineFormatListLine(l);
        EngineListLine again;
        Check(EngineParseListLine(written, &again));
        // Fields hold no ";" once read, except the tree state, which takes the rest of the line.
        Check(again.type == l.type && again.community == l.community && again.mode == l.mode);
        Check(EngineFormatListLine(again) == written);
        CheckTreeState(shape, l.treeState);
    }
    return 0;
}
