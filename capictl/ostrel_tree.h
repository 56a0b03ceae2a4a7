// The status window's tree of CAPI devices and calls, its tooltips and counters, over a small tree
// interface (the Win32 tree view, or the in-memory tree of the command-line tool and the tests).
#pragma once

#include "capictl/capi_records.h"
#include "capictl/ostrel_task.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// An item's identity: roots by attachment, devices and calls by their ids.
enum class OstrelItemKind : uint8_t { Root = 0, Device = 1, Call = 2 };
inline uint64_t OstrelItemKey(OstrelItemKind kind, uint32_t id)
{
    return (uint64_t(kind) << 32) | id;
}
inline OstrelItemKind OstrelKeyKind(uint64_t key)
{
    return static_cast<OstrelItemKind>(key >> 32);
}
inline uint32_t OstrelKeyId(uint64_t key)
{
    return static_cast<uint32_t>(key);
}

// Tree images (bitmaps 1002 and 1003): roots 0-2 by attachment, devices 4-7, calls 8-11.
enum : int {
    kOstrelImageStateUnknown = 4,
    kOstrelImageUnusable = 5, // access denied, not compatible
    kOstrelImageAvailable = 6,
    kOstrelImageBusy = 7, // every channel in use
    kOstrelImageIncoming = 8,
    kOstrelImageIncomingConnected = 9,
    kOstrelImageOutgoing = 10,
    kOstrelImageOutgoingConnected = 11,
};

// What the updater needs of a tree control. Handles are the control's own (non-zero); an item is
// inserted under `parent` (0: the top level) after the sibling `after`, first when `after` is 0, or
// after the last child with kOstrelLast (devices and calls always go last; roots keep their order).
inline constexpr uintptr_t kOstrelLast = ~uintptr_t(0);
class OstrelTreeControl {
public:
    virtual ~OstrelTreeControl() = default;
    virtual uintptr_t Insert(uintptr_t parent, uintptr_t after, const std::string& label, int image, uint64_t key) = 0;
    virtual void Update(uintptr_t item, const std::string& label, int image) = 0;
    virtual void Delete(uintptr_t item) = 0; // with its children
};

// Keeps the tree control equal to a status buffer: items matched by key are changed only when label
// or image differ, new ones appended, vanished ones deleted.
class OstrelTreeUpdater {
public:
    explicit OstrelTreeUpdater(OstrelTreeControl& control)
        : control_(control)
    {
    }
    void Update(const uint8_t* data, size_t bytes);
    void UpdateFromStatus(); // the task's status copy
    void Clear(); // forgets the items (the control was emptied)

    struct Node {
        uint64_t key = 0;
        uintptr_t handle = 0;
        std::string label;
        int image = 0;
        std::vector<Node> children;
    };
    const std::vector<Node>& Roots() const
    {
        return roots_;
    }

private:
    OstrelTreeControl& control_;
    std::vector<Node> roots_;
};

// The label and image of a device or call record.
std::string OstrelDeviceLabel(const CapiDeviceInfo& device);
int OstrelDeviceImage(const CapiDeviceInfo& device);
std::string OstrelCallLabel(const CapiConnectionInfo& call);
int OstrelCallImage(const CapiConnectionInfo& call);

// Tooltip lines of the item with `key` in the buffer (none when it is gone).
std::vector<std::string> OstrelTooltipLines(uint64_t key, const uint8_t* data, size_t bytes);
std::vector<std::string> OstrelTooltipLines(uint64_t key); // the task's status copy
// The lines joined as the tree view's tooltips show them: "\r\n" from common controls 4.70 on, else " - ".
std::string OstrelTooltipText(const std::vector<std::string>& lines, bool newLines);
bool OstrelTooltipNewLines(uint32_t commonControlsMajor, uint32_t commonControlsMinor);
// The parts of a call's tooltip (exposed for the tests).
std::string OstrelConnectedText(uint32_t connectedMs);
std::string OstrelBytesText(uint32_t bytes, bool sent);
// Calling numbers split on "/" and ";" and joined by ", " (empty parts dropped).
std::string OstrelJoinNumbers(std::string_view numbers);

// The three counters as the status window shows them.
struct OstrelCounters {
    uint32_t devices = 0; // available devices
    uint32_t applications = 0;
    uint32_t connections = 0;
};
OstrelCounters OstrelReadCounters(const uint8_t* data, size_t bytes);
std::vector<std::string> OstrelCounterTexts(const OstrelCounters& counters);

// A tree held in memory (the command-line tool's view, tests). Counts the calls it receives.
class OstrelMemoryTree : public OstrelTreeControl {
public:
    struct Item {
        uintptr_t handle = 0;
        uintptr_t parent = 0;
        std::string label;
        int image = 0;
        uint64_t key = 0;
    };
    uintptr_t Insert(uintptr_t parent, uintptr_t after, const std::string& label, int image, uint64_t key) override;
    void Update(uintptr_t item, const std::string& label, int image) override;
    void Delete(uintptr_t item) override;
    // Items in tree order (depth first), each with its depth.
    std::vector<std::pair<const Item*, int>> Walk() const;
    size_t inserts = 0, updates = 0, deletes = 0;

private:
    std::list<Item> items_; // in sibling order
    std::unordered_map<uintptr_t, std::list<Item>::iterator> byHandle_;
    uintptr_t next_ = 1;
    // Each parent's children in sibling order, from one pass over the items.
    std::unordered_map<uintptr_t, std::vector<const Item*>> Children() const;
};

// The text of `ostrel-cli view`: "icon N", "tip TEXT", the three counter lines, then the tree, one item
// a line ("LABEL [image N]", two blanks a level), each followed by its tooltip lines two blanks deeper,
// starting with "> ".
std::string OstrelViewText(const uint8_t* data, size_t bytes, const std::string& displayName, bool deactivated);
