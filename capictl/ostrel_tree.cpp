#include "capictl/ostrel_tree.h"

#include "capictl/capi_status.h"
#include "common/strings.h"
#include "common/text.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace {
std::string Str(unsigned id)
{
    return StrLoad(ostrel_Strings(), id);
}

struct Snapshot {
    std::vector<CapiDeviceInfo> devices[3]; // by attachment 1, 2, 3, in buffer order
    std::unordered_map<uint32_t, std::vector<CapiConnectionInfo>> calls; // by device id
};

// One walk over the buffer; a repeated id (a broken buffer) is taken once.
Snapshot TakeSnapshot(const uint8_t* data, size_t bytes)
{
    Snapshot s;
    std::unordered_set<uint32_t> deviceIds, callIds;
    CapiWalker walk(data, bytes);
    CapiRecordView r;
    while (walk.Next(&r)) {
        if (r.Kind() == kCapiDeviceKind) {
            CapiDeviceInfo d = CapiReadDevice(r);
            if (d.attachment >= 1 && d.attachment <= 3 && deviceIds.insert(d.id).second)
                s.devices[d.attachment - 1].push_back(std::move(d));
        } else if (r.Kind() == kCapiConnectionKind) {
            CapiConnectionInfo c = CapiReadConnection(r);
            if (callIds.insert(c.id).second)
                s.calls[c.device].push_back(std::move(c));
        }
    }
    return s;
}

struct Wanted {
    uint64_t key;
    std::string label;
    int image;
};

// Makes `nodes` (the children of `parent`) hold exactly `wanted`: matched by key, changed only when
// label or image differ, new ones appended (or placed by `ordered`: after the previous wanted one).
void Sync(OstrelTreeControl& control, uintptr_t parent, std::vector<OstrelTreeUpdater::Node>& nodes,
    const std::vector<Wanted>& wanted, bool ordered, std::vector<OstrelTreeUpdater::Node*>* matched)
{
    std::unordered_map<uint64_t, size_t> want;
    for (size_t i = 0; i < wanted.size(); ++i)
        want.emplace(wanted[i].key, i);
    // Vanished items go first, so that the survivors' order is what the control shows.
    std::vector<OstrelTreeUpdater::Node> kept;
    kept.reserve(nodes.size());
    for (auto& n : nodes) {
        if (want.count(n.key))
            kept.push_back(std::move(n));
        else
            control.Delete(n.handle);
    }
    nodes = std::move(kept);
    std::unordered_map<uint64_t, size_t> have;
    for (size_t i = 0; i < nodes.size(); ++i)
        have.emplace(nodes[i].key, i);
    uintptr_t previous = 0;
    for (const Wanted& w : wanted) {
        auto it = have.find(w.key);
        if (it != have.end()) {
            auto& n = nodes[it->second];
            if (n.label != w.label || n.image != w.image) {
                control.Update(n.handle, w.label, w.image);
                n.label = w.label;
                n.image = w.image;
            }
            previous = n.handle;
            continue;
        }
        OstrelTreeUpdater::Node n;
        n.key = w.key;
        n.label = w.label;
        n.image = w.image;
        n.handle = control.Insert(parent, ordered ? previous : kOstrelLast, w.label, w.image, w.key);
        previous = n.handle;
        if (ordered) {
            // Placed after the previous wanted item: keep the list in the control's order.
            auto at = std::find_if(nodes.begin(), nodes.end(), [&](const auto& x) { return x.key > w.key; });
            have.clear();
            nodes.insert(at, std::move(n));
            for (size_t i = 0; i < nodes.size(); ++i)
                have.emplace(nodes[i].key, i);
        } else {
            have.emplace(n.key, nodes.size());
            nodes.push_back(std::move(n));
        }
    }
    if (matched) {
        matched->clear();
        for (const Wanted& w : wanted)
            matched->push_back(&nodes[have.at(w.key)]);
    }
}

std::string TakeFormat(unsigned id, const std::string& a)
{
    return StrFormat(Str(id).c_str(), a.c_str());
}
} // namespace

std::string OstrelDeviceLabel(const CapiDeviceInfo& device)
{
    return device.name;
}

int OstrelDeviceImage(const CapiDeviceInfo& device)
{
    switch (device.state) {
    case 1:
        return device.freeChannels == 0 ? kOstrelImageBusy : kOstrelImageAvailable;
    case 2:
    case 3:
        return kOstrelImageUnusable;
    default:
        return kOstrelImageStateUnknown;
    }
}

std::string OstrelCallLabel(const CapiConnectionInfo& call)
{
    std::string number = call.number.empty() ? Str(kOstrelStrUnknown) : call.number;
    if (call.connectedMs != 0)
        return TakeFormat(kOstrelStrConnectedTo, number);
    return TakeFormat(call.incoming ? kOstrelStrIncomingFrom : kOstrelStrOutgoingTo, number);
}

int OstrelCallImage(const CapiConnectionInfo& call)
{
    int base = call.incoming ? kOstrelImageIncoming : kOstrelImageOutgoing;
    return call.connectedMs != 0 ? base + 1 : base;
}

void OstrelTreeUpdater::Update(const uint8_t* data, size_t bytes)
{
    Snapshot s = TakeSnapshot(data, bytes);
    std::vector<Wanted> roots;
    for (uint32_t a = 1; a <= 3; ++a)
        if (!s.devices[a - 1].empty())
            roots.push_back({ OstrelItemKey(OstrelItemKind::Root, a), Str(kOstrelStrRootLan + a - 1), int(a - 1) });
    std::vector<Node*> rootNodes;
    Sync(control_, 0, roots_, roots, true, &rootNodes);
    for (Node* root : rootNodes) {
        const auto& devices = s.devices[OstrelKeyId(root->key) - 1];
        std::vector<Wanted> wanted;
        wanted.reserve(devices.size());
        for (const auto& d : devices)
            wanted.push_back(
                { OstrelItemKey(OstrelItemKind::Device, d.id), OstrelDeviceLabel(d), OstrelDeviceImage(d) });
        std::vector<Node*> deviceNodes;
        Sync(control_, root->handle, root->children, wanted, false, &deviceNodes);
        for (Node* device : deviceNodes) {
            std::vector<Wanted> calls;
            auto it = s.calls.find(OstrelKeyId(device->key));
            if (it != s.calls.end())
                for (const auto& c : it->second)
                    calls.push_back(
                        { OstrelItemKey(OstrelItemKind::Call, c.id), OstrelCallLabel(c), OstrelCallImage(c) });
            Sync(control_, device->handle, device->children, calls, false, nullptr);
        }
    }
}

void OstrelTreeUpdater::UpdateFromStatus()
{
    // The walk copies what it needs under the lock; the control is changed outside it.
    std::vector<uint8_t> copy
        = CapiStatus().With([](const uint8_t* d, size_t n) { return std::vector<uint8_t>(d, d + n); });
    Update(copy.data(), copy.size());
}

void OstrelTreeUpdater::Clear()
{
    roots_.clear();
}

std::string OstrelJoinNumbers(std::string_view numbers)
{
    std::string out;
    size_t start = 0;
    while (start <= numbers.size()) {
        size_t end = numbers.find_first_of("/;", start);
        std::string_view part
            = numbers.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        part = Trim(part);
        if (!part.empty()) {
            if (!out.empty())
                out += ", ";
            out += part;
        }
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return out;
}

std::string OstrelConnectedText(uint32_t connectedMs)
{
    if (connectedMs == 0)
        return Str(kOstrelStrNotEstablished);
    uint32_t s = connectedMs / 1000;
    if (s < 60)
        return StrFormat(Str(kOstrelStrSeconds).c_str(), int(s));
    if (s < 120)
        return StrFormat(Str(kOstrelStrOneMinute).c_str(), int(s - 60));
    if (s < 3600)
        return StrFormat(Str(kOstrelStrMinutes).c_str(), int(s / 60), int(s % 60));
    if (s < 7200)
        return StrFormat(Str(kOstrelStrOneHour).c_str(), int((s % 3600) / 60));
    return StrFormat(Str(kOstrelStrHours).c_str(), int(s / 3600), int((s % 3600) / 60));
}

std::string OstrelBytesText(uint32_t bytes, bool sent)
{
    unsigned base = sent ? kOstrelStrBytesSent : kOstrelStrBytesSent + 3;
    if (bytes <= 2048)
        return StrFormat(Str(base).c_str(), bytes);
    if (bytes <= 2097152)
        return StrFormat(Str(base + 1).c_str(), bytes / 1024);
    return StrFormat(Str(base + 2).c_str(), bytes / 1048576);
}

namespace {
// The tooltip of an item whose record (device or call) is given; null when there is none.
std::vector<std::string> TooltipLinesOf(uint64_t key, const CapiRecordView* record)
{
    std::vector<std::string> lines;
    uint32_t id = OstrelKeyId(key);
    switch (OstrelKeyKind(key)) {
    case OstrelItemKind::Root:
        if (id >= 1 && id <= 3)
            lines.push_back(Str(kOstrelStrRootLanTip + id - 1));
        break;
    case OstrelItemKind::Device: {
        if (!record)
            break;
        CapiDeviceInfo d = CapiReadDevice(*record);
        std::string location = d.attachment == 3 ? Str(kOstrelStrRootLan + 2) : d.location;
        unsigned form = d.state == 1 ? kOstrelStrDeviceTip
            : d.state == 2           ? kOstrelStrDeviceTip + 2
            : d.state == 3           ? kOstrelStrDeviceTip + 3
                                     : kOstrelStrDeviceTip + 1;
        lines.push_back(StrFormat(Str(form).c_str(), d.name.c_str(), location.c_str()));
        if (d.state != 1)
            break;
        std::string numbers = OstrelJoinNumbers(d.numbers);
        if (!numbers.empty())
            lines.push_back(TakeFormat(kOstrelStrCallingNumber, numbers));
        if (d.outgoingOnly)
            lines.push_back(Str(kOstrelStrOutgoingOnly));
        if (d.freeChannels == 0)
            lines.push_back(StrFormat(Str(kOstrelStrChannelsNone).c_str(), int(d.channels)));
        else if (d.freeChannels == 1)
            lines.push_back(StrFormat(Str(kOstrelStrChannelsOne).c_str(), int(d.channels)));
        else
            lines.push_back(StrFormat(Str(kOstrelStrChannelsSome).c_str(), int(d.freeChannels), int(d.channels)));
        std::string profile;
        if (d.profile & 2)
            profile = Str(kOstrelStrFax);
        if (d.profile & 8)
            profile += (profile.empty() ? "" : ", ") + Str(kOstrelStrModem);
        if (!profile.empty())
            lines.push_back(Str(kOstrelStrProfile) + profile);
        break;
    }
    case OstrelItemKind::Call: {
        if (!record)
            break;
        CapiConnectionInfo c = CapiReadConnection(*record);
        lines.push_back(OstrelConnectedText(c.connectedMs));
        if (c.connectedMs != 0) {
            lines.push_back(OstrelBytesText(c.sent, true));
            lines.push_back(OstrelBytesText(c.received, false));
        }
        break;
    }
    }
    return lines;
}
} // namespace

std::vector<std::string> OstrelTooltipLines(uint64_t key, const uint8_t* data, size_t bytes)
{
    OstrelItemKind kind = OstrelKeyKind(key);
    if (kind != OstrelItemKind::Device && kind != OstrelItemKind::Call)
        return TooltipLinesOf(key, nullptr);
    CapiRecordCopy copy = capi_buffer::GetRecord(
        data, bytes, kind == OstrelItemKind::Device ? kCapiDeviceKind : kCapiConnectionKind, OstrelKeyId(key));
    if (!copy)
        return {};
    CapiRecordView view = copy.View();
    return TooltipLinesOf(key, &view);
}

std::vector<std::string> OstrelTooltipLines(uint64_t key)
{
    return CapiStatus().With([&](const uint8_t* d, size_t n) { return OstrelTooltipLines(key, d, n); });
}

std::string OstrelTooltipText(const std::vector<std::string>& lines, bool newLines)
{
    std::string out;
    for (const auto& line : lines) {
        if (!out.empty())
            out += newLines ? "\r\n" : " - ";
        out += line;
    }
    return out;
}

bool OstrelTooltipNewLines(uint32_t major, uint32_t minor)
{
    return major > 4 || (major == 4 && minor >= 70);
}

OstrelCounters OstrelReadCounters(const uint8_t* data, size_t bytes)
{
    OstrelCounters c;
    c.devices = capi_buffer::CountDevices(data, bytes, true);
    c.applications = capi_buffer::CountApplications(data, bytes);
    c.connections = capi_buffer::CountConnections(data, bytes, 0);
    return c;
}

std::vector<std::string> OstrelCounterTexts(const OstrelCounters& c)
{
    return { StrFormat(Str(kOstrelStrDevices).c_str(), int(c.devices)),
        StrFormat(Str(kOstrelStrApplications).c_str(), int(c.applications)),
        StrFormat(Str(kOstrelStrConnections).c_str(), int(c.connections)) };
}

uintptr_t OstrelMemoryTree::Insert(uintptr_t parent, uintptr_t after, const std::string& label, int image, uint64_t key)
{
    ++inserts;
    Item item { next_++, parent, label, image, key };
    auto pos = items_.end();
    if (after == 0) {
        pos = std::find_if(items_.begin(), items_.end(), [&](const Item& i) { return i.parent == parent; });
    } else if (after != kOstrelLast) {
        if (auto found = byHandle_.find(after); found != byHandle_.end())
            pos = std::next(found->second);
    }
    byHandle_[item.handle] = items_.insert(pos, item);
    return item.handle;
}

void OstrelMemoryTree::Update(uintptr_t handle, const std::string& label, int image)
{
    ++updates;
    if (auto found = byHandle_.find(handle); found != byHandle_.end()) {
        found->second->label = label;
        found->second->image = image;
    }
}

void OstrelMemoryTree::Delete(uintptr_t handle)
{
    ++deletes;
    if (!byHandle_.count(handle))
        return;
    std::unordered_map<uintptr_t, std::vector<const Item*>> children = Children();
    std::vector<uintptr_t> gone { handle };
    for (size_t k = 0; k < gone.size(); ++k)
        for (const Item* child : children[gone[k]])
            gone.push_back(child->handle);
    for (uintptr_t h : gone) {
        items_.erase(byHandle_.at(h));
        byHandle_.erase(h);
    }
}

std::unordered_map<uintptr_t, std::vector<const OstrelMemoryTree::Item*>> OstrelMemoryTree::Children() const
{
    std::unordered_map<uintptr_t, std::vector<const Item*>> children;
    for (const Item& i : items_)
        children[i.parent].push_back(&i);
    return children;
}

std::vector<std::pair<const OstrelMemoryTree::Item*, int>> OstrelMemoryTree::Walk() const
{
    std::unordered_map<uintptr_t, std::vector<const Item*>> children = Children();
    std::vector<std::pair<const Item*, int>> out;
    // Depth first without recursion: a stack of (item, depth), the siblings pushed in reverse.
    std::vector<std::pair<const Item*, int>> stack;
    auto pushChildren = [&](uintptr_t parent, int depth) {
        auto found = children.find(parent);
        if (found == children.end())
            return;
        for (auto it = found->second.rbegin(); it != found->second.rend(); ++it)
            stack.emplace_back(*it, depth);
    };
    pushChildren(0, 0);
    while (!stack.empty()) {
        auto [item, depth] = stack.back();
        stack.pop_back();
        out.emplace_back(item, depth);
        pushChildren(item->handle, depth + 1);
    }
    return out;
}

std::string OstrelViewText(const uint8_t* data, size_t bytes, const std::string& displayName, bool deactivated)
{
    OstrelCounts counts = OstrelCountStatus(data, bytes);
    counts.traffic = false; // the steady icon, not a flash
    OstrelTray tray;
    tray.Update(counts, deactivated, displayName, true);
    std::string out = StrFormat("icon %d\ntip %s\n", tray.Icon(), tray.Tip().c_str());
    for (const auto& line : OstrelCounterTexts(OstrelReadCounters(data, bytes)))
        out += line + "\n";
    OstrelMemoryTree tree;
    OstrelTreeUpdater updater(tree);
    updater.Update(data, bytes);
    // Every item's record, found in one walk (the first record of an id, as a lookup finds it).
    std::unordered_map<uint64_t, CapiRecordView> records;
    CapiWalker walk(data, bytes);
    for (CapiRecordView r; walk.Next(&r);) {
        if (r.Kind() == kCapiDeviceKind)
            records.emplace(OstrelItemKey(OstrelItemKind::Device, r.Field(8)), r);
        else if (r.Kind() == kCapiConnectionKind)
            records.emplace(OstrelItemKey(OstrelItemKind::Call, r.Field(8)), r);
    }
    for (const auto& [item, depth] : tree.Walk()) {
        std::string indent(size_t(depth) * 2, ' ');
        out += indent + StrFormat("%s [image %d]\n", item->label.c_str(), item->image);
        auto found = records.find(item->key);
        for (const auto& line : TooltipLinesOf(item->key, found != records.end() ? &found->second : nullptr))
            out += indent + "  > " + line + "\n";
    }
    if (walk.Walked() < bytes)
        out += StrFormat("buffer cut: a record at byte %llu does not fit; %llu of %llu bytes shown\n",
            static_cast<unsigned long long>(walk.Walked()), static_cast<unsigned long long>(walk.Walked()),
            static_cast<unsigned long long>(bytes));
    return out;
}
