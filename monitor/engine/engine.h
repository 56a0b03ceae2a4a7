// The monitor engine: the monitored devices, each an object tree built from the scripts plus its run-time
// state; type detection of new devices; SNMP polling of every shown item; states, actions, clones of
// table rows, registration; the device list talvine.lst.
//
// Threads. SNMP answers arrive on the SNMP worker, which only records the outcome (the device's no-answer
// flag) and queues an item or device notification. Everything else happens on the front end's thread
// (the window's, the command line's): it is woken through EngineFrontEnd::Wake and calls Engine::Process,
// which evaluates states, runs enter and leave actions and updates the front end's tree model. So an
// item's state changes on one thread only, and queries, plug-in calls and program starts never hold up
// the SNMP worker. An item leaves its subscriptions and the queue before it is freed.
#pragma once

#include "common/clock.h"
#include "monitor/objtree/objtree.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

struct EngineDevice;
class Engine;
class TrendStore;

struct EngineItem;

// A `uses` entry as polled: the OID with its index appended, and whether the index is missing. It is the
// context of its subscription, so that an answer names the object it brings.
struct EngineOid {
    SnmpOid oid {};
    bool valid = false; // the entry resolves to an OID
    bool missing = true; // the index template gave none or 0: not polled
    bool subscribed = false;
    EngineItem* item = nullptr;
    // The last answer (the SNMP worker's; guarded by the engine's queue lock): an answer that brings the
    // same outcome and value again changes nothing the item shows.
    bool seen = false; // an answer was recorded since the OID was subscribed
    bool force = false; // the next answer is handed on whatever it brings (polled at once)
    bool cached = false;
    int status = 0;
    SnmpValue value;
    uint32_t trend = 0; // its series among the kept values (SNMP worker; 0 until a numeric answer came)
};

struct EngineItem {
    ItemObject* object = nullptr; // the definitions (a clone's own copy)
    std::unique_ptr<ItemObject> own; // a clone's copy of its origin's definitions
    EngineDevice* device = nullptr;
    EngineItem* parent = nullptr; // null at top level and for display items
    std::vector<std::unique_ptr<EngineItem>> children; // in tree order; clones follow their origin
    bool display = false; // an item of the display window
    uint32_t state = 0;
    bool shown = false; // in the front end's tree (display items: in the display window)
    bool subscribed = false;
    bool expanded = false; // the front end's expansion, kept in the device list
    uint32_t rowOffset = 0; // k for the k-th clone after its origin
    uint32_t flags = 0; // current flags while shown (for the counters)
    std::vector<EngineOid> oids;
    std::vector<std::string> events; // device events it is registered with (lower case)
    uint32_t eventsState = UINT32_MAX; // the state whose refresh events `events` holds (UINT32_MAX: none yet)
    bool cloned = false; // its clone follows it
    uint32_t queued = 0; // notifications waiting in the queue (guarded by the queue's lock)
    // What the SNMP worker may do by itself when an answer brings nothing new (guarded by the queue's
    // lock): re-arm the poll with this interval (that of the current state), unless `quiet` is false.
    uint32_t armMs = 0;
    bool quiet = false;
    // The device's epoch at the item's last update. A parent's update passes over a child updated in the
    // same epoch that follows nothing of its parent: nothing it reads has changed since, and a change of
    // its own polled values brings a notification of its own.
    uint32_t epoch = 0;
    bool followsParent = false; // its instance text reads the parent item's context
    bool indexMissing = false; // an index template gave no index: it reads what no poll of its own brings
    void* frontData = nullptr; // the front end's own record for the item

    // "REF" or "REF+K" for a clone.
    std::string Name() const;
};

struct EngineDevice : public ScriptRuntime {
    Engine* engine = nullptr;
    uint32_t id = 0; // unique for the engine's lifetime (asynchronous completions name devices by it)
    std::unique_ptr<DeviceObject> object;
    uint32_t address = 0; // network byte order
    std::string community;
    std::atomic<bool> noAnswer { true };
    bool registered = false;
    // The last registration ended without success while the device answered its polls: an error answer
    // to the set, or none at all (a community that may read but not write). Cleared by a registration
    // that succeeds; kept while a new one runs.
    bool refused = false;
    uint32_t mode = 0; // 2 selects the second registration action
    uint32_t details = 0; // the main window's details mask (set through Engine::SetDetails)
    uint32_t errors = 0; // shown items whose flags include error
    uint32_t connects = 0; // shown items whose flags include connect
    bool registering = false; // a registration action is under way
    bool registerAgain = false; // the community changed while it was: registered again at once after it
    uint32_t registerDue = 0; // clock time of the next registration (when registerArmed)
    bool registerArmed = false;
    bool displayAttached = false; // display items are polled while a display is attached
    bool started = false;
    std::vector<std::unique_ptr<EngineItem>> items;
    std::vector<std::unique_ptr<EngineItem>> display;
    std::map<std::string, std::vector<EngineItem*>> events; // lower-cased event name -> items
    std::map<std::string, uint32_t> options; // lower-cased option name -> value
    std::unordered_map<const ItemObject*, EngineItem*> byObject;
    void* frontData = nullptr;
    // Changes whenever something every item may read changes: the device (re)started, an option set, the
    // details mask or the error reference ("error") seen different. Front end's thread.
    uint32_t epoch = 1;
    uint32_t epochDetails = 0; // details and error as the epoch last saw them
    bool epochError = true;
    // The item whose expressions are being evaluated, for RowOffset (cleared when that item goes).
    const ItemObject* evaluatingObject = nullptr;
    uint32_t evaluatingOffset = 0;
    // Values read during one state evaluation: an expression reading an object twice asks the SNMP client
    // (its lock, its lookup) once, and sees one value throughout.
    struct Memo {
        SnmpOid oid;
        SnmpValue value;
        bool found;
    };
    bool memoOn = false;
    size_t memoCount = 0;
    Memo memo[4];

    std::string AddressText() const;
    bool HasRegistration() const;

    // What the expressions read of the running monitor.
    bool Cached(const SnmpOid& oid, SnmpValue* out) override;
    uint32_t Address() override
    {
        return address;
    }
    std::string Community() override
    {
        return community;
    }
    bool Error() override
    {
        return noAnswer.load() || !registered;
    }
    bool NoAnswer() override
    {
        return noAnswer.load();
    }
    bool Refused() override
    {
        return !noAnswer.load() && !registered && refused;
    }
    uint32_t Details() override
    {
        return details;
    }
    uint32_t OptionValue(const OptionObject& option) override;
    uint32_t RowOffset(const ItemObject& item) override;
};

// Outcome of a detection.
enum class EngineDetectResult : uint8_t { Added, Exists, NoAnswer, NotSupported, Failed };

// The look of a query dialog, from the flags number of a `query`: the low four bits choose the icon,
// the low byte the buttons.
enum class QueryIcon : uint8_t { Information, Warning, Error, None };
enum class QueryButtons : uint8_t { Ok, OkCancel, YesNo };
struct QueryStyle {
    QueryIcon icon = QueryIcon::Information;
    QueryButtons buttons = QueryButtons::Ok;
};
QueryStyle QueryStyleOf(uint32_t flags);

// What the engine hands to the front end. Every call but Wake runs on the front end's thread, inside
// Engine::Process or a front-end call into the engine.
class EngineFrontEnd {
public:
    virtual ~EngineFrontEnd() = default;
    // Any thread: something waits in the queue; the front end calls Engine::Process on its thread soon.
    virtual void Wake() = 0;
    // The tree model. `after` is the shown item the new one follows (null: first under its parent, or
    // after the previous device's items at top level).
    virtual void ItemInserted(EngineItem& item, EngineItem* after) = 0;
    virtual void ItemUpdated(EngineItem& item) = 0;
    virtual void ItemRemoved(EngineItem& item) = 0;
    // A field of the device line changed (no-answer, registered, counters), or it was added or removed.
    virtual void DeviceChanged(EngineDevice& device) = 0;
    virtual void DeviceAdded(EngineDevice& device) = 0;
    virtual void DeviceRemoved(EngineDevice& device) = 0;
    // A detection ended without adding a device (the message text of EngineStrNoAnswer or EngineStrNotSupported,
    // address filled in); `result` tells which.
    virtual void DetectFailed(uint32_t address, EngineDetectResult result, const std::string& message) = 0;
    // A query before an action: true for a positive answer (OK or Yes). `checkText` non-empty: the dialog
    // has a check box, whose state goes to *checked.
    virtual bool Query(
        EngineDevice& device, QueryStyle style, const std::string& message, const std::string& checkText, bool* checked)
        = 0;
    virtual void Balloon(EngineDevice& device, uint32_t kind, const std::string& text) = 0;
    virtual void Plugin(EngineDevice& device, const std::string& name, const std::string& argument) = 0;
    // A run action: the front end starts it with ProcessStart (common/platform/process.h) or shows it.
    virtual void Run(EngineDevice& device, const std::string& program, const std::string& parameters, bool hidden) = 0;
    virtual void ErrorMessage(const std::string& text) = 0;
};

// A front end whose own thread waits for the engine's wake-ups (the command-line tools, tests,
// benchmarks): Wake notes the call from any thread; WaitMs returns at the first wake-up since the last
// wait (true) or after `ms` (false). What a subclass does not override is ignored; queries are answered
// no (`queryAnswer`), so no action waits on a user nobody asks.
class EngineWaitingFrontEnd : public EngineFrontEnd {
public:
    bool queryAnswer = false;

    void Wake() override;
    bool WaitMs(uint32_t ms);

    void ItemInserted(EngineItem&, EngineItem*) override { }
    void ItemUpdated(EngineItem&) override { }
    void ItemRemoved(EngineItem&) override { }
    void DeviceChanged(EngineDevice&) override { }
    void DeviceAdded(EngineDevice&) override { }
    void DeviceRemoved(EngineDevice&) override { }
    void DetectFailed(uint32_t, EngineDetectResult, const std::string&) override { }
    bool Query(EngineDevice&, QueryStyle, const std::string&, const std::string&, bool* checked) override
    {
        if (checked)
            *checked = false;
        return queryAnswer;
    }
    void Balloon(EngineDevice&, uint32_t, const std::string&) override { }
    void Plugin(EngineDevice&, const std::string&, const std::string&) override { }
    void Run(EngineDevice&, const std::string&, const std::string&, bool) override { }
    void ErrorMessage(const std::string&) override { }

private:
    std::mutex wakeLock_;
    std::condition_variable wakeCv_;
    bool woken_ = false;
};

struct EngineSettings {
    std::string listPath; // talvine.lst
    std::string settingsPath; // talvine.ini (options in "Advanced", logging keys)
    Clock* clock = nullptr; // registration timers; null = the system clock
    TrendStore* trends = nullptr; // keeps the polled numeric values (null: nothing kept)
};

class Engine {
public:
    Engine(const EngineSettings& settings, EngineFrontEnd* frontEnd);
    ~Engine(); // unsubscribes and frees every device (no exit actions: see RunExitActions)

    // The device list. Load adds the listed devices (not yet started: StartAll); lines of a type without
    // a script are kept and written back. Save returns 1 when the file was written.
    int LoadDevices();
    int SaveDevices();
    void StartAll();

    // Detects the type of the device at `address` and adds it (logging settings written, started). The
    // outcome reaches the front end: DeviceAdded, or DetectFailed. Returns false at once when the address
    // is listed or being detected (nothing else happens).
    bool AddDevice(uint32_t address, const std::string& community, bool logging, bool messages = true);
    // Another instance's packed records (32-bit length of the record, 32-bit address, community text).
    int AddDevicesFromMessage(const uint8_t* data, size_t size);
    // Detections under way (all, or the one of an address).
    size_t Detecting() const;
    bool Detecting(uint32_t address) const;
    // Ends the detection of `address` at once: nothing is added and the front end hears nothing of it.
    // False when none runs.
    bool CancelDetection(uint32_t address);
    // Adds a device of a known type without detection (tests, the list). Null when the type is unknown.
    EngineDevice* AddKnownDevice(uint32_t address, const std::string& community, const std::string& type,
        uint32_t mode = 0, const std::string& treeState = {});
    bool RemoveDevice(EngineDevice* device);
    void StartDevice(EngineDevice& device);
    // The tree update of an item: `state` < 0 evaluates it now (with its actions).
    void UpdateItem(EngineItem& item, int state, bool initial);
    // Polls the item (at once, or with the interval of `state`).
    void Subscribe(EngineItem& item, uint32_t state, bool atOnce);
    void Unsubscribe(EngineItem& item);
    // Runs one action (menu entries, enter, leave, exit, registration); `done` gets the status (sets:
    // the set's status, on the SNMP worker; else 0 at once; 1 when a query said no).
    void ActionRun(
        EngineItem* item, EngineDevice& device, const ActionObject& action, std::function<void(int)> done = {});
    // The exit actions of every device's items, one at a time, each waited for.
    void RunExitActions();
    // Refresh commands: one item, or every device's items, polled at once.
    void Refresh(EngineItem* item);
    void AttachDisplay(EngineDevice& device, bool attached);
    void SetOption(EngineDevice& device, const std::string& name, uint32_t value);
    // Another community (the password of the properties): the device is registered again at once and its
    // items polled with it.
    void SetCommunity(EngineDevice& device, const std::string& community);
    // The main window's details mask (the reference "details"), the same for every device: items are
    // evaluated again (an answer that brings nothing new no longer reaches the front end to notice it).
    void SetDetails(uint32_t mask);

    // Front end's thread: handles every queued notification and due timer. Returns the number handled.
    size_t Process();
    // Milliseconds until the next timer (registration) is due; UINT32_MAX when none.
    uint32_t NextTimerMs();

    const std::vector<std::unique_ptr<EngineDevice>>& Devices() const
    {
        return devices_;
    }
    EngineDevice* FindDevice(uint32_t address) const;
    Clock& GetClock()
    {
        return *clock_;
    }
    const EngineSettings& Settings() const
    {
        return settings_;
    }
    EngineFrontEnd* FrontEnd()
    {
        return frontEnd_;
    }

    // Queue entries (the SNMP worker posts them).
    enum class Message : uint8_t { Item, Device, Registered, Detect };
    void Post(Message kind, EngineItem* item, uint32_t deviceId, int status, void* data = nullptr);
    // SNMP worker: an answer for a polled object of an item whose device's no-answer flag it agrees with.
    // An answer that brings the outcome and value of the one before, for an item with no update waiting
    // or under way, changes no state, text or flag: the worker re-arms the poll as the update would (the
    // interval of the current state) and the front end does nothing. Any other answer queues the item.
    void Answered(EngineOid& o, int status);
    // SNMP worker: hands a polled value (null: none) or a missing answer (status -1) to the kept values.
    void KeepValue(EngineOid& o, int status, const SnmpValue* value);

    struct Detection; // a type detection under way

    // SNMP callbacks for items so far (the worker counts them; benchmarks read them).
    void CountCallback()
    {
        callbacks_.store(callbacks_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    uint64_t Callbacks() const
    {
        return callbacks_.load(std::memory_order_relaxed);
    }

private:
    struct Entry {
        Message kind;
        EngineItem* item;
        uint32_t deviceId;
        int status;
        void* data;
    };
    void Handle(const Entry& e);
    bool Queue(Message kind, EngineItem* item, uint32_t deviceId, int status, void* data); // queue lock held
    uint32_t Epoch(EngineDevice& d);
    bool Unchanged(EngineItem& child);
    EngineDevice* DeviceById(uint32_t id) const;
    std::unique_ptr<EngineDevice> Build(uint32_t address, const std::string& community, const std::string& type);
    void BuildItems(EngineDevice& d, EngineItem* parent, const std::vector<std::unique_ptr<ItemObject>>& objects,
        std::vector<std::unique_ptr<EngineItem>>& out, bool display);
    void ReadOptions(EngineDevice& d);
    void FreeItem(EngineItem& item); // unsubscribes the item and its children, purges the queue
    void Purge(EngineItem& item);
    uint32_t Evaluate(EngineItem& item);
    void ChangeState(EngineItem& item, uint32_t state);
    void RunEventActions(EngineItem& item, uint32_t state, ScriptKeyword event);
    bool Visible(const EngineItem& item, uint32_t flags) const;
    void Show(EngineItem& item);
    void Hide(EngineItem& item);
    void Count(EngineDevice& d, uint32_t oldFlags, uint32_t newFlags);
    EngineItem* PreviousShown(EngineItem& item);
    void UpdateClones(EngineItem& item, uint32_t flags);
    std::vector<std::unique_ptr<EngineItem>>& Siblings(EngineItem& item);
    void Register(EngineDevice& d);
    void FinishDetection(Detection* det);
    void RunTimers();
    // A queued set whose completion someone waits for. The engine owns it until the SNMP client reports
    // the set done; sets cancelled when the engine closes are never reported, so the engine frees those.
    struct SetCall {
        Engine* engine;
        uint32_t address;
        std::function<void(int)> done;
    };
    static void SetDone(void* context, int status);

    EngineSettings settings_;
    EngineFrontEnd* frontEnd_;
    Clock* clock_;
    std::vector<std::unique_ptr<EngineDevice>> devices_;
    std::vector<std::string> keptLines_; // list lines of types without a script, written back as read
    uint32_t details_ = 0;
    uint32_t nextId_ = 1;
    mutable std::mutex queueLock_;
    std::deque<Entry> queue_;
    EngineItem* handling_ = nullptr; // the item whose notification Process handles now (queue lock)
    std::list<std::unique_ptr<Detection>> detections_;
    std::atomic<bool> closing_ { false };
    std::atomic<uint64_t> callbacks_ { 0 };
    bool processing_ = false; // inside Process (a query dialog may run a nested message loop)
    // The earliest registration due, so that Process does not walk every device each time; recomputed
    // when a device's timer may have moved earlier (timersDirty_).
    bool timersDirty_ = true;
    bool timerPending_ = false;
    uint32_t timerDue_ = 0;
    std::mutex setsLock_;
    std::set<SetCall*> sets_;
};

// The device list's line: "TYPE;ADDRESS;COMMUNITY;MODE;TREESTATE" (community scrambled, " " when empty).
struct EngineListLine {
    std::string type;
    std::string address;
    std::string community; // plain
    uint32_t mode = 0;
    std::string treeState;
};
bool EngineParseListLine(std::string_view line, EngineListLine* out);
std::string EngineFormatListLine(const EngineListLine& line);

// The tree-state text of a device's items (expanded flags), and reading one back onto them. Clones are
// not part of it.
std::string EngineTreeStateEncode(const std::vector<std::unique_ptr<EngineItem>>& items);
void EngineTreeStateDecode(std::string_view text, const std::vector<std::unique_ptr<EngineItem>>& items);

// `add:` records of another instance: (address, community) pairs; parsing stops at a record shorter than
// 12 bytes or running past the end.
std::vector<std::pair<uint32_t, std::string>> EngineParseAddRecords(const uint8_t* data, size_t size);

// The text lines of the shown tree, as talvine-cli monitor prints them and the monitor's test channel
// answers `tree`: "device ADDRESS TYPE noanswer=.. registered=.. errors=.. connects=.. refused=..", and per
// shown item
// "[display ]REF state=.. image=.. flags=..: TEXT".
std::string EngineItemLine(EngineItem& item);
std::string EngineDeviceLine(EngineDevice& device);
// Each device line with its shown items below in tree order, two blanks per level (display items too when
// `display`).
std::vector<std::string> EngineTreeLines(const Engine& engine, bool display);
