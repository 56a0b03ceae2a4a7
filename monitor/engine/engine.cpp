// The monitor engine: devices, polling, states, actions, clones, registration and the device list.
#include "monitor/engine/engine.h"

#include "common/ini.h"
#include "common/platform/file.h"
#include "common/strings.h"
#include "common/text.h"
#include "monitor/engine/texts.h"
#include "monitor/log/log.h"
#include "monitor/snmp/snmp.h"

#include <algorithm>

namespace {
ScriptContext ItemContext(EngineDevice& d, const EngineItem* item)
{
    // The item's own row offset is asked for with every "$i": kept at hand instead of looked up.
    d.evaluatingObject = item ? item->object : nullptr;
    d.evaluatingOffset = item ? item->rowOffset : 0;
    ScriptContext ctx;
    ctx.kind = ScriptContextKind::Item;
    ctx.item = item ? item->object : nullptr;
    ctx.device = d.object.get();
    ctx.runtime = &d;
    return ctx;
}

std::string ValueText(const SnmpValue& v)
{
    return ExprValueText(v);
}

// Notification from the SNMP worker (the client's lock held): record the outcome, queue the rest.
void ItemCallback(void* context, int status)
{
    EngineOid* o = static_cast<EngineOid*>(context);
    EngineDevice* d = o->item->device;
    d->engine->CountCallback();
    bool noAnswer = status == -1;
    if (noAnswer == d->noAnswer.load()) {
        d->engine->Answered(*o, status);
    } else {
        if (noAnswer && d->engine->Settings().trends)
            d->engine->KeepValue(*o, status, nullptr);
        d->noAnswer.store(noAnswer);
        d->engine->Post(Engine::Message::Device, nullptr, d->id, status);
    }
}

bool SameValue(const SnmpValue& a, const SnmpValue& b)
{
    return a.kind == b.kind && a.integer == b.integer && a.address == b.address && a.text == b.text;
}

uint32_t RefreshInterval(const ItemObject& object, uint32_t state)
{
    const ItemRefresh* r = object.Refresh(state);
    return r ? r->interval * 100 : 0;
}

bool Due(uint32_t now, uint32_t due)
{
    return static_cast<int32_t>(now - due) >= 0;
}

// An item whose instance text (after ":" in its reference) holds a reference reads its parent item's
// context: it follows the parent's values, which bring no notification of its own.
bool FollowsParent(const ItemObject& object)
{
    size_t colon = object.ref.find(':');
    return object.parent && colon != std::string::npos && object.ref.find('$', colon) != std::string::npos;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Items and devices

std::string EngineItem::Name() const
{
    return rowOffset ? object->ref + "+" + std::to_string(rowOffset) : object->ref;
}

std::string EngineDevice::AddressText() const
{
    return SnmpAddressText(address);
}

bool EngineDevice::HasRegistration() const
{
    if (!object || object->registerInterval == 0)
        return false;
    return std::any_of(object->registerActions.begin(), object->registerActions.end(),
        [](const ActionObject& a) { return a.event == kKwEnter; });
}

bool EngineDevice::Cached(const SnmpOid& oid, SnmpValue* out)
{
    if (!memoOn)
        return SnmpGetCached(oid, address, out) == 1;
    for (size_t i = 0; i < memoCount; ++i)
        if (SnmpOidEqual(memo[i].oid, oid)) {
            if (memo[i].found)
                *out = memo[i].value;
            return memo[i].found;
        }
    bool found = SnmpGetCached(oid, address, out) == 1;
    if (memoCount < std::size(memo)) {
        Memo& m = memo[memoCount++];
        m.oid = oid;
        m.found = found;
        if (found)
            m.value = *out;
    }
    return found;
}

uint32_t EngineDevice::OptionValue(const OptionObject& option)
{
    auto it = options.find(StrLower(option.name));
    return it == options.end() ? option.defaultValue : it->second;
}

uint32_t EngineDevice::RowOffset(const ItemObject& item)
{
    if (&item == evaluatingObject)
        return evaluatingOffset;
    auto it = byObject.find(&item);
    return it == byObject.end() ? 0 : it->second->rowOffset;
}

// ---------------------------------------------------------------------------------------------
// Detection

struct Engine::Detection {
    struct Probe {
        Detection* detection;
        SnmpOid oid {};
        std::string expected;
        std::string type;
        bool notified = false;
    };
    Engine* engine = nullptr;
    uint32_t address = 0;
    std::string community;
    bool logging = false;
    bool messages = true;
    std::vector<std::unique_ptr<Probe>> probes;
    std::mutex lock; // the fields below: the worker's callbacks write them
    bool missing = false; // a probe got no answer
    bool errorAnswer = false; // a probe got an error status (outranks a missing answer)
    std::string type;
    bool posted = false;

    static void Callback(void* context, int status)
    {
        Probe* probe = static_cast<Probe*>(context);
        Detection* det = probe->detection;
        std::lock_guard<std::mutex> guard(det->lock);
        if (det->posted)
            return;
        probe->notified = true;
        if (status == -1)
            det->missing = true;
        else if (status > 0)
            det->errorAnswer = true;
        else {
            for (const auto& p : det->probes) {
                SnmpValue v;
                if (SnmpGetCached(p->oid, det->address, &v) == 1 && SnmpValueText(v) == p->expected) {
                    det->type = p->type;
                    break;
                }
            }
        }
        bool all = std::all_of(det->probes.begin(), det->probes.end(), [](const auto& p) { return p->notified; });
        if (!det->type.empty() || all) {
            det->posted = true;
            det->engine->Post(Message::Detect, nullptr, 0, 0, det);
        }
    }
};

Engine::Engine(const EngineSettings& settings, EngineFrontEnd* frontEnd)
    : settings_(settings)
    , frontEnd_(frontEnd)
    , clock_(settings.clock ? settings.clock : &SystemClock())
{
}

Engine::~Engine()
{
    closing_ = true;
    for (auto& det : detections_)
        for (const auto& p : det->probes)
            SnmpUnsubscribe(p->oid, det->address, p.get());
    detections_.clear();
    for (auto& d : devices_) {
        // Queued sets (registration, exit actions) would complete into a gone engine.
        SnmpCancelSets(d->address);
        for (auto& item : d->items)
            FreeItem(*item);
        for (auto& item : d->display)
            FreeItem(*item);
    }
    // Cancelled sets are never reported: their calls are freed here, without running them. Sets of devices
    // removed earlier are cancelled too (outside the lock: a completing set's callback takes it).
    std::vector<uint32_t> addresses;
    {
        std::lock_guard<std::mutex> guard(setsLock_);
        for (SetCall* call : sets_)
            addresses.push_back(call->address);
    }
    for (uint32_t address : addresses)
        SnmpCancelSets(address);
    {
        std::lock_guard<std::mutex> guard(setsLock_);
        for (SetCall* call : sets_)
            delete call;
        sets_.clear();
    }
    std::lock_guard<std::mutex> guard(queueLock_);
    queue_.clear();
}

void Engine::SetDone(void* context, int status)
{
    SetCall* call = static_cast<SetCall*>(context);
    {
        std::lock_guard<std::mutex> guard(call->engine->setsLock_);
        call->engine->sets_.erase(call);
    }
    call->done(status);
    delete call;
}

size_t Engine::Detecting() const
{
    return detections_.size();
}

bool Engine::Detecting(uint32_t address) const
{
    return std::any_of(
        detections_.begin(), detections_.end(), [address](const auto& det) { return det->address == address; });
}

bool Engine::CancelDetection(uint32_t address)
{
    auto it = std::find_if(
        detections_.begin(), detections_.end(), [address](const auto& det) { return det->address == address; });
    if (it == detections_.end())
        return false;
    Detection* det = it->get();
    // Once unsubscribed, no callback of the probes runs any more (the client's lock); an outcome already
    // queued leaves the queue with it.
    for (const auto& p : det->probes)
        SnmpUnsubscribe(p->oid, det->address, p.get());
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                         [det](const Entry& e) { return e.kind == Message::Detect && e.data == det; }),
            queue_.end());
    }
    detections_.erase(it);
    return true;
}

bool Engine::AddDevice(uint32_t address, const std::string& community, bool logging, bool messages)
{
    if (FindDevice(address))
        return false;
    for (const auto& det : detections_)
        if (det->address == address)
            return false;
    auto det = std::make_unique<Detection>();
    det->engine = this;
    det->address = address;
    det->community = community.substr(0, 255);
    det->logging = logging;
    det->messages = messages;
    std::string oidText, value, type;
    for (size_t n = 0; ScriptDetectEntry(n, &oidText); ++n) {
        auto probe = std::make_unique<Detection::Probe>();
        probe->detection = det.get();
        ScriptDetectValue(n, &probe->expected);
        ScriptDetectType(n, &probe->type);
        if (SnmpOidFromText(oidText.c_str(), &probe->oid) != 1)
            continue;
        det->probes.push_back(std::move(probe));
    }
    Detection* raw = det.get();
    detections_.push_back(std::move(det));
    if (raw->probes.empty()) {
        raw->posted = true;
        Post(Message::Detect, nullptr, 0, 0, raw);
        return true;
    }
    // A probe not yet subscribed is not notified, so "every probe notified" waits for all of them; a match
    // before that is handled on this thread after this call (the probes are removed there).
    bool refused = false;
    for (const auto& p : raw->probes)
        if (SnmpSubscribe(p->oid, address, raw->community.c_str(), 1, p.get(), Detection::Callback) != 1)
            refused = true;
    if (refused) {
        // The client takes no subscription (not running, or the OID's subscribers are full): no answer
        // will come, so the detection ends now as one without an answer.
        std::lock_guard<std::mutex> guard(raw->lock);
        if (!raw->posted) {
            raw->missing = true;
            raw->posted = true;
            Post(Message::Detect, nullptr, 0, 0, raw);
        }
    }
    return true;
}

void Engine::FinishDetection(Detection* det)
{
    for (const auto& p : det->probes)
        SnmpUnsubscribe(p->oid, det->address, p.get());
    std::string type;
    bool missing, errorAnswer;
    {
        std::lock_guard<std::mutex> guard(det->lock);
        type = det->type;
        missing = det->missing;
        errorAnswer = det->errorAnswer;
    }
    uint32_t address = det->address;
    std::string community = det->community;
    bool logging = det->logging, messages = det->messages;
    detections_.remove_if([det](const auto& d) { return d.get() == det; });
    if (closing_)
        return;
    std::string addressText = SnmpAddressText(address);
    if (!type.empty() && !FindDevice(address)) {
        EngineDevice* d = AddKnownDevice(address, community, type);
        if (d) {
            LogWriteDeviceKeys(settings_.settingsPath, addressText, logging);
            StartDevice(*d);
            return;
        }
    }
    if (!messages)
        return;
    const StrCatalog& catalog = talvine_Strings();
    // A device that answers but matches no type is not supported, as one that answers with an error.
    if (errorAnswer || !missing)
        frontEnd_->DetectFailed(address, EngineDetectResult::NotSupported,
            StrFormat(StrLoad(catalog, EngineStrNotSupported).c_str(), addressText.c_str()));
    else
        frontEnd_->DetectFailed(address, EngineDetectResult::NoAnswer,
            StrFormat(StrLoad(catalog, EngineStrNoAnswer).c_str(), addressText.c_str()));
}

int Engine::AddDevicesFromMessage(const uint8_t* data, size_t size)
{
    int started = 0;
    for (const auto& [address, community] : EngineParseAddRecords(data, size))
        if (AddDevice(address, community, false, false))
            ++started;
    return started;
}

// ---------------------------------------------------------------------------------------------
// Building, loading, saving, removing

void Engine::BuildItems(EngineDevice& d, EngineItem* parent, const std::vector<std::unique_ptr<ItemObject>>& objects,
    std::vector<std::unique_ptr<EngineItem>>& out, bool display)
{
    for (const auto& object : objects) {
        auto item = std::make_unique<EngineItem>();
        item->object = object.get();
        item->device = &d;
        item->parent = parent;
        item->display = display;
        item->oids.resize(object->uses.size());
        for (EngineOid& o : item->oids)
            o.item = item.get();
        item->followsParent = FollowsParent(*object);
        d.byObject[object.get()] = item.get();
        if (!display)
            BuildItems(d, item.get(), object->children, item->children, false);
        out.push_back(std::move(item));
    }
}

void Engine::ReadOptions(EngineDevice& d)
{
    IniFile ini(settings_.settingsPath);
    ini.Load();
    std::string prefix = d.AddressText() + "_";
    for (const OptionObject& o : d.object->options)
        d.options[StrLower(o.name)]
            = static_cast<uint32_t>(ini.GetInt("Advanced", prefix + o.name, static_cast<int32_t>(o.defaultValue)));
}

std::unique_ptr<EngineDevice> Engine::Build(uint32_t address, const std::string& community, const std::string& type)
{
    std::unique_ptr<DeviceObject> object = ScriptInstantiate(type);
    if (!object)
        return nullptr;
    auto d = std::make_unique<EngineDevice>();
    d->engine = this;
    d->id = nextId_++;
    d->object = std::move(object);
    d->address = address;
    d->community = community.substr(0, 255);
    d->registered = !d->HasRegistration();
    d->details = details_;
    BuildItems(*d, nullptr, d->object->items, d->items, false);
    BuildItems(*d, nullptr, d->object->display, d->display, true);
    ReadOptions(*d);
    return d;
}

EngineDevice* Engine::AddKnownDevice(uint32_t address, const std::string& community, const std::string& type,
    uint32_t mode, const std::string& treeState)
{
    if (FindDevice(address))
        return nullptr;
    std::unique_ptr<EngineDevice> d = Build(address, community, type);
    if (!d)
        return nullptr;
    d->mode = mode;
    EngineTreeStateDecode(treeState, d->items);
    // A line kept for a type without a script gives way to the device now listed at its address.
    std::string addressText = d->AddressText();
    keptLines_.erase(std::remove_if(keptLines_.begin(), keptLines_.end(),
                         [&](const std::string& line) {
                             EngineListLine l;
                             return EngineParseListLine(line, &l) && l.address == addressText;
                         }),
        keptLines_.end());
    devices_.push_back(std::move(d));
    EngineDevice* raw = devices_.back().get();
    frontEnd_->DeviceAdded(*raw);
    return raw;
}

int Engine::LoadDevices()
{
    std::string data;
    bool missing = false;
    if (!FileReadAll(settings_.listPath, &data, &missing))
        return missing ? 1 : 0;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t end = data.find('\n', pos);
        if (end == std::string::npos)
            end = data.size();
        std::string_view line = TrimLineEnd(std::string_view(data).substr(pos, end - pos));
        pos = end + 1;
        EngineListLine l;
        if (!EngineParseListLine(line, &l))
            continue;
        auto ip = NetParseAddress(l.address);
        if (!ip)
            continue;
        uint32_t address = SnmpAddressFromHost(*ip);
        if (FindDevice(address))
            continue;
        if (!AddKnownDevice(address, l.community, l.type, l.mode, l.treeState))
            keptLines_.emplace_back(line);
    }
    return 1;
}

int Engine::SaveDevices()
{
    std::string text;
    for (const auto& d : devices_) {
        EngineListLine l;
        l.type = d->object->type;
        l.address = d->AddressText();
        l.community = d->community;
        l.mode = d->mode;
        l.treeState = EngineTreeStateEncode(d->items);
        text += EngineFormatListLine(l) + "\r\n";
    }
    for (const std::string& line : keptLines_)
        text += line + "\r\n";
    return FileWriteAtomic(settings_.listPath, text);
}

void Engine::StartAll()
{
    for (size_t i = 0; i < devices_.size(); ++i)
        StartDevice(*devices_[i]);
}

bool Engine::RemoveDevice(EngineDevice* device)
{
    auto it = std::find_if(devices_.begin(), devices_.end(), [&](const auto& d) { return d.get() == device; });
    if (it == devices_.end())
        return false;
    EngineDevice& d = **it;
    for (auto& item : d.items) {
        Hide(*item);
        FreeItem(*item);
    }
    for (auto& item : d.display) {
        Hide(*item);
        FreeItem(*item);
    }
    std::string address = d.AddressText();
    {
        IniTransaction t(settings_.settingsPath);
        for (const OptionObject& o : d.object->options)
            t->DeleteKey("Advanced", address + "_" + o.name);
        t.Commit();
    }
    LogDeleteDeviceKeys(settings_.settingsPath, address);
    frontEnd_->DeviceRemoved(d);
    devices_.erase(it);
    return true;
}

EngineDevice* Engine::FindDevice(uint32_t address) const
{
    for (const auto& d : devices_)
        if (d->address == address)
            return d.get();
    return nullptr;
}

EngineDevice* Engine::DeviceById(uint32_t id) const
{
    for (const auto& d : devices_)
        if (d->id == id)
            return d.get();
    return nullptr;
}

void Engine::SetOption(EngineDevice& device, const std::string& name, uint32_t value)
{
    device.options[StrLower(name)] = value;
    ++device.epoch;
    IniWriteInt(settings_.settingsPath, "Advanced", device.AddressText() + "_" + name, static_cast<int32_t>(value));
    for (auto& item : device.items)
        UpdateItem(*item, -1, false);
    if (device.displayAttached)
        for (auto& item : device.display)
            UpdateItem(*item, -1, false);
}

void Engine::SetDetails(uint32_t mask)
{
    details_ = mask;
    for (size_t i = 0; i < devices_.size(); ++i) {
        EngineDevice& d = *devices_[i];
        if (d.details == mask)
            continue;
        d.details = mask;
        for (auto& item : d.items)
            UpdateItem(*item, -1, false);
        for (auto& item : d.display)
            if (d.displayAttached)
                UpdateItem(*item, -1, false);
    }
}

// ---------------------------------------------------------------------------------------------
// Polling

void Engine::Subscribe(EngineItem& item, uint32_t state, bool atOnce)
{
    EngineDevice& d = *item.device;
    uint32_t interval = atOnce ? 1 : RefreshInterval(*item.object, state);
    ScriptContext ctx = ItemContext(d, &item);
    item.indexMissing = false;
    for (size_t i = 0; i < item.object->uses.size(); ++i) {
        const ItemUse& use = item.object->uses[i];
        EngineOid& o = item.oids[i];
        if (!use.valid)
            continue;
        SnmpOid oid = use.oid;
        bool missing = false;
        if (!use.indexTemplate.empty()) {
            SnmpValue index = TemplateExpand(use.indexTemplate, ctx);
            missing = index.kind == kSnmpNone || (index.kind == kSnmpInteger && index.integer == 0);
            if (!missing)
                SnmpOidAppendIndex(&oid, index);
        }
        bool changed = !o.valid || missing != o.missing || !SnmpOidEqual(oid, o.oid);
        if (o.subscribed && changed) {
            SnmpUnsubscribe(o.oid, d.address, &o);
            o.subscribed = false;
        }
        o.valid = true;
        o.missing = missing;
        // (Written only while not subscribed: the worker reads it in the subscription's callbacks.)
        if (changed)
            o.oid = oid;
        item.indexMissing = item.indexMissing || missing;
        if (!missing) {
            uint32_t ms = changed && item.subscribed ? 1 : interval;
            if (changed || atOnce) {
                std::lock_guard<std::mutex> guard(queueLock_);
                o.seen = o.seen && !changed;
                o.force = o.force || atOnce;
            }
            o.subscribed = SnmpSubscribe(oid, d.address, d.community.c_str(), ms, &o, ItemCallback) == 1;
        }
    }
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        item.armMs = RefreshInterval(*item.object, state);
        item.quiet = !item.indexMissing;
    }
    // The events of a state never change: registered again only when the state is another.
    if (!atOnce && state != item.eventsState) {
        item.eventsState = state;
        std::vector<std::string> wanted;
        if (const ItemRefresh* r = item.object->Refresh(state))
            for (const std::string& e : r->events)
                wanted.push_back(StrLower(e));
        for (const std::string& e : item.events)
            if (std::find(wanted.begin(), wanted.end(), e) == wanted.end()) {
                auto& list = d.events[e];
                list.erase(std::remove(list.begin(), list.end(), &item), list.end());
            }
        for (const std::string& e : wanted)
            if (std::find(item.events.begin(), item.events.end(), e) == item.events.end())
                d.events[e].push_back(&item);
        item.events = wanted;
    }
    item.subscribed = true;
}

void Engine::Unsubscribe(EngineItem& item)
{
    EngineDevice& d = *item.device;
    for (EngineOid& o : item.oids) {
        if (o.subscribed)
            SnmpUnsubscribe(o.oid, d.address, &o);
        std::lock_guard<std::mutex> guard(queueLock_);
        EngineItem* owner = o.item;
        o = EngineOid {};
        o.item = owner;
    }
    for (const std::string& e : item.events) {
        auto& list = d.events[e];
        list.erase(std::remove(list.begin(), list.end(), &item), list.end());
    }
    item.events.clear();
    item.eventsState = UINT32_MAX;
    item.subscribed = false;
}

void Engine::Purge(EngineItem& item)
{
    std::lock_guard<std::mutex> guard(queueLock_);
    queue_.erase(
        std::remove_if(queue_.begin(), queue_.end(), [&](const Entry& e) { return e.item == &item; }), queue_.end());
    item.queued = 0;
    if (handling_ == &item)
        handling_ = nullptr;
}

void Engine::FreeItem(EngineItem& item)
{
    for (auto& child : item.children)
        FreeItem(*child);
    Unsubscribe(item);
    Purge(item);
    if (item.device->evaluatingObject == item.object)
        item.device->evaluatingObject = nullptr;
    item.device->byObject.erase(item.object);
}

void Engine::Refresh(EngineItem* item)
{
    if (item) {
        Subscribe(*item, item->state, true);
        return;
    }
    for (auto& d : devices_)
        StartDevice(*d);
}

void Engine::SetCommunity(EngineDevice& d, const std::string& community)
{
    std::string text = community.substr(0, 255);
    if (text == d.community)
        return;
    d.community = std::move(text);
    // The user gave the write community for a refused registration: tried now, not a minute later (or
    // as soon as the one under way, made with the old community, has ended).
    if (d.HasRegistration() && d.registering) {
        d.registerAgain = true;
    } else if (d.HasRegistration()) {
        d.registerArmed = true;
        d.registerDue = clock_->TickMs();
        timersDirty_ = true;
    }
    if (d.started)
        StartDevice(d);
}

void Engine::AttachDisplay(EngineDevice& device, bool attached)
{
    device.displayAttached = attached;
    for (auto& item : device.display) {
        if (attached) {
            UpdateItem(*item, -1, true);
        } else {
            Hide(*item);
            Unsubscribe(*item);
            Purge(*item);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// States and the tree

uint32_t Engine::Evaluate(EngineItem& item)
{
    EngineDevice& d = *item.device;
    d.memoCount = 0;
    d.memoOn = true;
    uint32_t state = ItemState(*item.object, ItemContext(d, &item));
    d.memoOn = false;
    return state;
}

void Engine::RunEventActions(EngineItem& item, uint32_t state, ScriptKeyword event)
{
    const ActionList* actions = item.object->Actions(state);
    if (!actions)
        return;
    for (const ActionObject& a : *actions)
        if (a.event == event)
            ActionRun(&item, *item.device, a);
}

void Engine::ChangeState(EngineItem& item, uint32_t state)
{
    if (state == item.state)
        return;
    uint32_t old = item.state;
    RunEventActions(item, old, kKwLeave);
    item.state = state;
    RunEventActions(item, state, kKwEnter);
}

bool Engine::Visible(const EngineItem& item, uint32_t flags) const
{
    if (flags & kItemHide)
        return false;
    if (item.display)
        return item.device->displayAttached;
    if (item.parent && (item.device->noAnswer.load() || !item.device->registered))
        return false;
    return !item.parent || item.parent->shown;
}

void Engine::Count(EngineDevice& d, uint32_t oldFlags, uint32_t newFlags)
{
    uint32_t errors = d.errors + ((newFlags & kItemError) ? 1 : 0) - ((oldFlags & kItemError) ? 1 : 0);
    uint32_t connects = d.connects + ((newFlags & kItemConnect) ? 1 : 0) - ((oldFlags & kItemConnect) ? 1 : 0);
    if (errors != d.errors || connects != d.connects) {
        d.errors = errors;
        d.connects = connects;
        frontEnd_->DeviceChanged(d);
    }
}

EngineItem* Engine::PreviousShown(EngineItem& item)
{
    EngineItem* last = nullptr;
    for (auto& s : Siblings(item)) {
        if (s.get() == &item)
            break;
        if (s->shown)
            last = s.get();
    }
    return last;
}

std::vector<std::unique_ptr<EngineItem>>& Engine::Siblings(EngineItem& item)
{
    if (item.parent)
        return item.parent->children;
    return item.display ? item.device->display : item.device->items;
}

void Engine::Hide(EngineItem& item)
{
    for (auto& child : item.children) {
        Hide(*child);
        // Children out of the tree are not polled until they are inserted again.
        if (child->subscribed) {
            Unsubscribe(*child);
            Purge(*child);
        }
    }
    if (!item.shown)
        return;
    frontEnd_->ItemRemoved(item);
    item.shown = false;
    if (!item.display)
        Count(*item.device, item.flags, 0);
    item.flags = 0;
}

void Engine::Show(EngineItem& item)
{
    if (item.parent && !item.parent->shown) {
        frontEnd_->ErrorMessage("Extraordinary fatal error:\r\rParent item isn't visible, can't insert this item!");
        return;
    }
    item.shown = true;
    item.flags = item.object->Flags(item.state);
    frontEnd_->ItemInserted(item, PreviousShown(item));
    if (!item.display)
        Count(*item.device, 0, item.flags);
}

uint32_t Engine::Epoch(EngineDevice& d)
{
    bool error = d.Error();
    if (error != d.epochError || d.details != d.epochDetails) {
        d.epochError = error;
        d.epochDetails = d.details;
        ++d.epoch;
    }
    return d.epoch;
}

bool Engine::Unchanged(EngineItem& child)
{
    // Its state, text and polling would come out as they are; only its visibility is worth a look (the
    // device's no-answer flag may have changed before its notification is handled).
    return child.subscribed && !child.followsParent && !child.indexMissing && child.epoch == Epoch(*child.device)
        && child.shown == Visible(child, child.object->Flags(child.state));
}

void Engine::UpdateItem(EngineItem& item, int state, bool initial)
{
    item.epoch = Epoch(*item.device);
    if (state < 0)
        ChangeState(item, Evaluate(item));
    else
        ChangeState(item, static_cast<uint32_t>(state));
    uint32_t flags = item.object->Flags(item.state);
    bool visible = Visible(item, flags);
    if (item.shown && visible) {
        uint32_t old = item.flags;
        item.flags = flags;
        frontEnd_->ItemUpdated(item);
        if (!item.display)
            Count(*item.device, old, flags);
        for (size_t i = 0; i < item.children.size(); ++i)
            if (!Unchanged(*item.children[i]))
                UpdateItem(*item.children[i], -1, !item.children[i]->subscribed);
    } else if (item.shown) {
        Hide(item);
    } else if (visible) {
        Show(item);
        if (item.shown)
            for (size_t i = 0; i < item.children.size(); ++i)
                UpdateItem(*item.children[i], -1, true);
    }
    if (initial || item.subscribed)
        Subscribe(item, item.state, initial);
    UpdateClones(item, flags);
}

void Engine::UpdateClones(EngineItem& item, uint32_t flags)
{
    if (item.cloned == ((flags & kItemClone) != 0) || (!item.cloned && item.rowOffset >= 99))
        return; // as it should be: a clone follows exactly while the state asks for one
    auto& siblings = Siblings(item);
    size_t at = 0;
    while (at < siblings.size() && siblings[at].get() != &item)
        ++at;
    if (at == siblings.size())
        return;
    auto isClone = [&](size_t i) {
        return i < siblings.size() && siblings[i]->object->ref == item.object->ref
            && siblings[i]->rowOffset > item.rowOffset;
    };
    if (flags & kItemClone) {
        if (item.rowOffset >= 99 || isClone(at + 1))
            return;
        auto clone = std::make_unique<EngineItem>();
        EngineDevice& d = *item.device;
        clone->own = ItemClone(*item.object, item.parent ? item.parent->object : nullptr);
        clone->object = clone->own.get();
        clone->device = &d;
        clone->parent = item.parent;
        clone->display = item.display;
        clone->rowOffset = item.rowOffset + 1;
        clone->oids.resize(clone->object->uses.size());
        for (EngineOid& o : clone->oids)
            o.item = clone.get();
        clone->followsParent = FollowsParent(*clone->object);
        d.byObject[clone->object] = clone.get();
        if (!clone->display)
            BuildItems(d, clone.get(), clone->object->children, clone->children, false);
        EngineItem* raw = clone.get();
        siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(at + 1), std::move(clone));
        item.cloned = true;
        Subscribe(*raw, 0, true);
        return;
    }
    item.cloned = false;
    size_t end = at + 1;
    while (isClone(end))
        ++end;
    if (end == at + 1)
        return;
    for (size_t i = at + 1; i < end; ++i) {
        Hide(*siblings[i]);
        FreeItem(*siblings[i]);
    }
    siblings.erase(
        siblings.begin() + static_cast<std::ptrdiff_t>(at + 1), siblings.begin() + static_cast<std::ptrdiff_t>(end));
}

void Engine::StartDevice(EngineDevice& d)
{
    d.started = true;
    ++d.epoch; // every item evaluated again
    timersDirty_ = true;
    if (!d.registered && d.HasRegistration() && !d.registering) {
        d.registerArmed = true;
        d.registerDue = clock_->TickMs();
    } else if (d.HasRegistration() && !d.registerArmed) {
        d.registerArmed = true;
        d.registerDue = clock_->TickMs() + d.object->registerInterval * 100;
    }
    frontEnd_->DeviceChanged(d);
    for (size_t i = 0; i < d.items.size(); ++i)
        UpdateItem(*d.items[i], -1, true);
    if (d.displayAttached)
        for (size_t i = 0; i < d.display.size(); ++i)
            UpdateItem(*d.display[i], -1, true);
    RunTimers();
}

// ---------------------------------------------------------------------------------------------
// Registration and timers

void Engine::Register(EngineDevice& d)
{
    const ActionObject* chosen = nullptr;
    int n = 0;
    for (const ActionObject& a : d.object->registerActions) {
        if (a.event != kKwEnter)
            continue;
        if (!chosen || (d.mode == 2 && n == 1))
            chosen = &a;
        if (++n == 2)
            break;
    }
    if (!chosen)
        return;
    d.registering = true;
    uint32_t id = d.id;
    ActionRun(nullptr, d, *chosen, [this, id](int status) { Post(Message::Registered, nullptr, id, status); });
}

void Engine::RunTimers()
{
    uint32_t now = clock_->TickMs();
    if (!timersDirty_ && (!timerPending_ || !Due(now, timerDue_)))
        return;
    timersDirty_ = false;
    timerPending_ = false;
    uint32_t best = UINT32_MAX;
    for (size_t i = 0; i < devices_.size(); ++i) {
        EngineDevice& d = *devices_[i];
        if (d.registerArmed && !d.registering && Due(now, d.registerDue)) {
            d.registerDue = now + d.object->registerInterval * 100;
            Register(d);
        }
        if (d.registerArmed && !d.registering) {
            timerPending_ = true;
            best = std::min(best, Due(now, d.registerDue) ? 0 : d.registerDue - now);
        }
    }
    timerDue_ = now + (timerPending_ ? best : 0);
}

uint32_t Engine::NextTimerMs()
{
    uint32_t now = clock_->TickMs();
    if (!timersDirty_)
        return !timerPending_ ? UINT32_MAX : Due(now, timerDue_) ? 0 : timerDue_ - now;
    uint32_t best = UINT32_MAX;
    for (const auto& d : devices_) {
        if (!d->registerArmed || d->registering)
            continue;
        uint32_t left = Due(now, d->registerDue) ? 0 : d->registerDue - now;
        best = std::min(best, left);
    }
    return best;
}

// ---------------------------------------------------------------------------------------------
// Actions

QueryStyle QueryStyleOf(uint32_t flags)
{
    QueryStyle style;
    uint32_t icon = flags & 0x0F;
    style.icon = icon == 0 ? QueryIcon::Information
        : icon == 1        ? QueryIcon::Warning
        : icon == 2        ? QueryIcon::Error
                           : QueryIcon::None;
    uint32_t buttons = flags & 0xFF;
    style.buttons = buttons >= 16 && buttons < 32 ? QueryButtons::OkCancel
        : buttons >= 32 && buttons < 48           ? QueryButtons::YesNo
                                                  : QueryButtons::Ok;
    return style;
}

void Engine::ActionRun(EngineItem* item, EngineDevice& d, const ActionObject& action, std::function<void(int)> done)
{
    ScriptContext itemCtx = ItemContext(d, item);
    std::vector<SnmpValue> args = ActionArguments(action.arguments, itemCtx);
    ScriptContext ctx = itemCtx;
    ctx.kind = ScriptContextKind::Action;
    ctx.args = &args;
    auto expand = [&](const std::string& text) { return ValueText(TemplateExpand(text, ctx)); };
    auto finish = [&](int status) {
        if (done)
            done(status);
    };

    if (action.hasQuery) {
        std::string message = action.queryTexts.size() > 0 ? expand(action.queryTexts[0]) : "";
        std::string check = action.queryTexts.size() > 1 ? expand(action.queryTexts[1]) : "";
        std::string key = action.queryTexts.size() > 2 ? expand(action.queryTexts[2]) : "";
        bool withBox = !check.empty() && !key.empty();
        bool positive;
        bool checked = false;
        if (withBox && IniGetInt(settings_.settingsPath, "Options", key, 0) != 0)
            positive = true;
        else {
            positive = frontEnd_->Query(d, QueryStyleOf(action.queryFlags), message, withBox ? check : "", &checked);
            if (positive && checked && withBox)
                IniWriteString(settings_.settingsPath, "Options", key.c_str(), "1");
        }
        // Flag 0x100 asks for the action on a negative answer instead.
        bool run = (action.queryFlags & 0x100) ? !positive : positive;
        if (!run) {
            finish(1);
            return;
        }
    }

    const std::vector<std::string>& v = action.values;
    auto value = [&](size_t i) { return i < v.size() ? expand(v[i]) : std::string(); };
    switch (action.kind) {
    case ActionKind::SetEvent: {
        if (!v.empty()) {
            auto it = d.events.find(StrLower(v[0]));
            if (it != d.events.end()) {
                std::vector<EngineItem*> items = it->second;
                for (EngineItem* target : items)
                    Subscribe(*target, target->state, true);
            }
        }
        break;
    }
    case ActionKind::SnmpSet: {
        SnmpOid oid;
        if (action.setOid.empty() || SnmpOidFromText(action.setOid.c_str(), &oid) != 1) {
            finish(-1);
            return;
        }
        if (!action.setIndexTemplate.empty())
            SnmpOidAppendIndex(&oid, TemplateExpand(action.setIndexTemplate, ctx));
        SnmpValue setValue = TemplateExpand(action.setValue, ctx);
        SetCall* call = nullptr;
        if (done) {
            call = new SetCall { this, d.address, std::move(done) };
            std::lock_guard<std::mutex> guard(setsLock_);
            sets_.insert(call);
        }
        if (SnmpQueueSet(oid, d.address, d.community.c_str(), setValue, call, call ? SetDone : nullptr, 1) != 1
            && call) {
            {
                std::lock_guard<std::mutex> guard(setsLock_);
                sets_.erase(call);
            }
            call->done(-1);
            delete call;
        }
        return;
    }
    case ActionKind::Log:
        LogWrite(d.AddressText(), ParseUnsigned(value(0)), value(1));
        break;
    case ActionKind::Infotip:
        frontEnd_->Balloon(d, ParseUnsigned(value(0)), value(1));
        break;
    case ActionKind::Execute:
    case ActionKind::ExecHidden: {
        std::string command = value(0);
        size_t blank = command.find(' ');
        std::string program = command.substr(0, blank);
        std::string parameters = blank == std::string::npos ? "" : command.substr(blank + 1);
        frontEnd_->Run(d, program, parameters, action.kind == ActionKind::ExecHidden);
        break;
    }
    case ActionKind::ExecPlugin:
        frontEnd_->Plugin(d, v.empty() ? "" : v[0], value(1));
        break;
    case ActionKind::None:
        break;
    }
    finish(0);
}

void Engine::RunExitActions()
{
    struct Wait {
        std::mutex lock;
        std::condition_variable cv;
        bool done = false;
    };
    std::function<void(EngineItem&)> run = [&](EngineItem& item) {
        if (const ActionList* actions = item.object->Actions(item.state))
            for (const ActionObject& a : *actions) {
                if (a.event != kKwExit)
                    continue;
                auto wait = std::make_shared<Wait>();
                ActionRun(&item, *item.device, a, [wait](int) {
                    std::lock_guard<std::mutex> guard(wait->lock);
                    wait->done = true;
                    wait->cv.notify_all();
                });
                std::unique_lock<std::mutex> guard(wait->lock);
                wait->cv.wait(guard, [&] { return wait->done; });
            }
        for (auto& child : item.children)
            run(*child);
    };
    for (auto& d : devices_)
        for (auto& item : d->items)
            run(*item);
}

// ---------------------------------------------------------------------------------------------
// The queue

bool Engine::Queue(Message kind, EngineItem* item, uint32_t deviceId, int status, void* data)
{
    if (kind == Message::Item) {
        // One waiting notification per item is enough: its state is evaluated when it is handled.
        if (item->queued)
            return false;
        ++item->queued;
    }
    // Process takes entries until the queue is empty: only the first entry of a batch wakes the front end
    // (a wake per answer would cost the worker and the front end a switch each).
    bool wake = queue_.empty();
    queue_.push_back(Entry { kind, item, deviceId, status, data });
    return wake;
}

void Engine::Post(Message kind, EngineItem* item, uint32_t deviceId, int status, void* data)
{
    bool wake;
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        wake = Queue(kind, item, deviceId, status, data);
    }
    if (wake)
        frontEnd_->Wake();
}

void Engine::Answered(EngineOid& o, int status)
{
    EngineItem& item = *o.item;
    EngineDevice& d = *item.device;
    // The client's lock is held and this object's node is the one being delivered: reading its value
    // and re-arming its poll need no search.
    SnmpValue value;
    bool cached = status != -1 && SnmpGetCached(o.oid, d.address, &value) == 1;
    if (settings_.trends)
        KeepValue(o, status, cached ? &value : nullptr);
    uint32_t rearm = 0;
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        bool same = o.seen && status == o.status && cached == o.cached && (!cached || SameValue(value, o.value));
        o.seen = true;
        o.status = status;
        o.cached = cached;
        if (!same)
            o.value = std::move(value);
        if (same && !o.force && item.quiet && status != -1 && !item.queued && handling_ != &item) {
            rearm = item.armMs;
        } else {
            o.force = false;
            wake = Queue(Message::Item, &item, d.id, status, nullptr);
        }
    }
    if (rearm)
        SnmpSubscribe(o.oid, d.address, d.community.c_str(), rearm, &o, ItemCallback);
    if (wake)
        frontEnd_->Wake();
}

size_t Engine::Process()
{
    if (processing_)
        return 0; // a nested message loop (a query dialog): the outer call handles what comes meanwhile
    processing_ = true;
    size_t handled = 0;
    for (;;) {
        Entry e;
        {
            std::lock_guard<std::mutex> guard(queueLock_);
            if (queue_.empty())
                break;
            e = queue_.front();
            queue_.pop_front();
            if (e.item)
                --e.item->queued;
            handling_ = e.item;
        }
        Handle(e);
        {
            std::lock_guard<std::mutex> guard(queueLock_);
            handling_ = nullptr;
        }
        ++handled;
    }
    RunTimers();
    processing_ = false;
    return handled;
}

void Engine::Handle(const Entry& e)
{
    switch (e.kind) {
    case Message::Item:
        UpdateItem(*e.item, -1, false);
        break;
    case Message::Device:
        if (EngineDevice* d = DeviceById(e.deviceId))
            StartDevice(*d);
        break;
    case Message::Registered:
        if (EngineDevice* d = DeviceById(e.deviceId)) {
            d->registering = false;
            timersDirty_ = true;
            if (d->registerAgain) {
                d->registerAgain = false;
                d->registerArmed = true;
                d->registerDue = clock_->TickMs();
            }
            bool registered = e.status == 0;
            // Not registered while the polls are answered: the device refuses the set (an error answer,
            // or silence towards a community that may only read).
            bool refused = !registered && !d->noAnswer.load();
            if (registered != d->registered || refused != d->refused) {
                d->registered = registered;
                d->refused = refused;
                StartDevice(*d);
            }
        }
        break;
    case Message::Detect:
        FinishDetection(static_cast<Detection*>(e.data));
        break;
    }
}

void EngineWaitingFrontEnd::Wake()
{
    std::lock_guard<std::mutex> guard(wakeLock_);
    woken_ = true;
    wakeCv_.notify_all();
}

bool EngineWaitingFrontEnd::WaitMs(uint32_t ms)
{
    std::unique_lock<std::mutex> guard(wakeLock_);
    bool got = wakeCv_.wait_for(guard, std::chrono::milliseconds(ms), [&] { return woken_; });
    woken_ = false;
    return got;
}
