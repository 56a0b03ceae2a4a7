// What the CAPI task reads from outside besides the driver's records: its command line and the
// "StatusWindow" value, and the status tree built from a status buffer. The input is split at the first
// two NULs: command line, "StatusWindow" value, status buffer.
//  - options: a command line rebuilt from the parsed options parses to the same options; list names are
//    never empty and hold no comma or blank;
//  - "StatusWindow": a value rebuilt from five numbers reads back the same; a restored window that fits
//    the work area lies inside it;
//  - the tree: a second update with the same buffer changes nothing; every item has its tooltip.
#include "capictl/ostrel_task.h"
#include "capictl/ostrel_tree.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {
std::string_view TakePart(std::string_view* rest)
{
    size_t nul = rest->find('\0');
    std::string_view part = rest->substr(0, nul);
    *rest = nul == std::string_view::npos ? std::string_view() : rest->substr(nul + 1);
    return part;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::string commandLine(TakePart(&rest));
    std::string value(TakePart(&rest));
    std::vector<uint8_t> status(rest.begin(), rest.end());

    OstrelOptions o = OstrelParseCommandLine(commandLine);
    Check(!o.device.empty());
    std::string rebuilt = o.noService ? "/nosvc" : "";
    rebuilt += " /device:" + o.device;
    if (!o.altDevice.empty())
        rebuilt += " /devvxd:" + o.altDevice;
    for (const auto& name : o.load) {
        Check(!name.empty() && name.find_first_of(", \t") == std::string::npos);
        rebuilt += " /load:" + name;
    }
    OstrelOptions again = OstrelParseCommandLine(rebuilt);
    Check(again.noService == o.noService && again.device == o.device && again.altDevice == o.altDevice
        && again.load == o.load);

    OstrelStatusWindowValue v = OstrelParseStatusWindow(value);
    Check(v.count >= 0 && v.count <= 5);
    if (v.count == 5) {
        OstrelStatusWindowValue w = OstrelParseStatusWindow(
            OstrelFormatStatusWindow(v.left, v.top, v.details, v.openAtExit, v.width, v.height));
        Check(w.count == 5 && w.left == v.left && w.top == v.top && w.details == v.details
            && w.openAtExit == v.openAtExit && w.width == v.width && w.height == v.height);
    }
    PlaceRect work { 0, 0, 1024, 768 };
    OstrelStatusPlacement p
        = OstrelPlaceStatusWindow(v, PlaceRect { 0, 0, 280, 120 }, PlaceRect { 0, 0, 280, 300 }, 512, 384, work);
    if (p.rect.Width() <= work.Width() && p.rect.Height() <= work.Height())
        Check(p.rect.left >= work.left && p.rect.right <= work.right && p.rect.top >= work.top
            && p.rect.bottom <= work.bottom);

    OstrelMemoryTree tree;
    OstrelTreeUpdater updater(tree);
    updater.Update(status.data(), status.size());
    size_t inserts = tree.inserts;
    updater.Update(status.data(), status.size());
    Check(tree.inserts == inserts && tree.updates == 0 && tree.deletes == 0);
    for (const auto& [item, depth] : tree.Walk()) {
        Check(depth <= 2);
        Check(!OstrelTooltipLines(item->key, status.data(), status.size()).empty());
    }
    OstrelViewText(status.data(), status.size(), "CAPI", false);
    return 0;
}
