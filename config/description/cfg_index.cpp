#include "config/description/cfg_index.h"

#include "common/clock.h"
#include "common/diag.h"
#include "common/tempstream.h"
#include "common/text.h"
#include "config/description/cfg_pattern.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

namespace {
struct Index {
    std::mutex startLock; // serialises start and stop
    std::thread thread;
    bool started = false;
    std::atomic<bool> run { false };

    std::atomic<CfgIndexEntry*> head { nullptr };
    CfgIndexEntry* tail = nullptr; // index thread only
    std::vector<std::unique_ptr<CfgIndexEntry>> owned; // index thread appends; freed at stop

    std::mutex lock; // guards `busy` and the wake-ups of waiting readers
    std::condition_variable changed; // a new entry was linked or the thread ended
    bool busy = false;

    std::mutex hookLock;
    std::function<void(const std::string&)> fileHook;

    // Feature lists read so far, per header entry and device key / language.
    std::mutex featureLock;
    std::map<std::pair<const CfgIndexEntry*, std::string>, std::vector<CfgFeature>> features;

    // A program that ends without stopping the index (a second start that hands over to the first
    // after a verb started it, or the window closed while it still reads) stops the thread here: a
    // running thread destroyed with the program would end it with an abort.
    ~Index()
    {
        run = false;
        if (thread.joinable())
            thread.join();
    }
};

Index& TheIndex()
{
    static Index index;
    return index;
}

std::vector<std::string> ListMatching(const std::string& pattern)
{
    std::vector<std::string> out;
    if (pattern.empty())
        return out;
    size_t slash = pattern.find_last_of("/\\");
    std::string dir = slash == std::string::npos ? "." : pattern.substr(0, slash);
    if (dir.empty())
        dir = "/";
    std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec), end;
    std::vector<std::string> names;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code ec2;
        if (!it->is_regular_file(ec2))
            continue;
        std::string name = it->path().filename().string();
        if (WildcardMatch(mask, name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        out.push_back(slash == std::string::npos ? name : pattern.substr(0, slash + 1) + name);
    return out;
}

void Link(Index& index, std::unique_ptr<CfgIndexEntry> entry)
{
    CfgIndexEntry* e = entry.get();
    index.owned.push_back(std::move(entry));
    {
        std::lock_guard<std::mutex> lock(index.lock);
        if (index.tail)
            index.tail->next.store(e, std::memory_order_release);
        else
            index.head.store(e, std::memory_order_release);
        index.tail = e;
    }
    index.changed.notify_all();
}

bool IsHeaderKeyword(std::string_view keyword)
{
    return CfgHeaderKindOf(keyword) != CfgHeaderNone;
}

void IndexThread(std::vector<std::string> files)
{
    Index& index = TheIndex();
    uint32_t start = SystemClock().TickMs();
    Diag("building index ....\n");
    std::string_view keyword; // a view into the line read
    CfgArgList args;
    for (const std::string& path : files) {
        if (!index.run.load())
            break;
        {
            std::function<void(const std::string&)> hook;
            {
                std::lock_guard<std::mutex> lock(index.hookLock);
                hook = index.fileHook;
            }
            if (hook)
                hook(path);
        }
        std::unique_ptr<CfgFile> file = CfgFile::Open(path);
        if (!file)
            continue;
        CfgStringContext strings;
        int line = 0;
        while (index.run.load() && CfgReadLineIf(*file, keyword, args, line, &strings, IsHeaderKeyword)) {
            int kind = CfgHeaderKindOf(keyword);
            if (kind == CfgHeaderNone)
                continue;
            auto entry = std::make_unique<CfgIndexEntry>();
            entry->kind = kind;
            entry->args = args;
            entry->path = path;
            Link(index, std::move(entry));
        }
    }
    Diag("index finished, time: %d milliseconds\n", static_cast<int>(SystemClock().TickMs() - start));
    {
        std::lock_guard<std::mutex> lock(index.lock);
        index.busy = false;
    }
    index.changed.notify_all();
}

bool EntryMatches(const CfgIndexEntry& e, const std::string& key, const char* language, int kind, uint32_t featureMask)
{
    if (e.kind != kind || e.args.Empty())
        return false;
    if (language && e.args.At(1) != language)
        return false;
    return CfgPatternMatch(e.args.At(0), key, featureMask);
}

// The hardware_mask number of a hardware block: strtoul rules on a 32-bit system, where an overflow
// gives 0xFFFFFFFF with ERANGE.
uint32_t ReadMask(std::string_view text, int* error)
{
    std::string t(text);
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(t.c_str(), &end, 0);
    *error = errno;
    if (v > 0xFFFFFFFFull) {
        *error = ERANGE;
        return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(v);
}

std::mutex g_envLock;

// Reads a file from its start to the first header of `kind` whose pattern matches; true when found.
bool SeekBlock(CfgFile& file, int kind, const std::string& key, uint32_t featureMask, int& line,
    CfgStringContext* strings, std::string& keyword, CfgArgList& args)
{
    while (CfgReadLineIf(file, keyword, args, line, strings, IsHeaderKeyword)) {
        if (CfgHeaderKindOf(keyword) == kind && !args.Empty() && CfgPatternMatch(args.At(0), key, featureMask))
            return true;
    }
    return false;
}

bool IsAsciiAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The mask of an init_data condition: "!" directly before the number negates.
struct InitCondition {
    bool set = false;
    bool negate = false;
    uint32_t mask = 0;
    bool Holds(uint32_t deviceMask) const
    {
        if (!set)
            return true;
        bool common = (mask & deviceMask) != 0;
        return negate ? !common : common;
    }
};

void ReadInitCondition(const CfgArgList& args, InitCondition& c, const char* what)
{
    if (args.Empty()) {
        c = InitCondition {};
        return;
    }
    std::string_view a = args.At(0);
    c.set = true;
    c.negate = !a.empty() && a[0] == '!';
    c.mask = ParseUnsigned(c.negate ? a.substr(1) : a);
    Diag("  --> found %s in init_data block: %c0x%08x\n", what, c.negate ? '!' : ' ', c.mask);
}

// Replaces "str." followed by a name of letters, digits and "_" by the environment string of that name.
std::string ReplaceEnvStrings(std::string s)
{
    size_t i = 0;
    while (i + 5 <= s.size()) {
        size_t found = s.find("str.", i);
        if (found == std::string::npos || found + 5 > s.size())
            break;
        size_t e = found + 4;
        while (e < s.size() && (IsAsciiAlnum(s[e]) || s[e] == '_'))
            ++e;
        std::string name = s.substr(found + 4, e - found - 4);
        Diag("   --> found 'str.': %s\n", name.c_str());
        Diag("  --> oldstring: %s\n", s.c_str());
        std::string value;
        if (!name.empty() && CfgGetEnv(name, &value)) {
            Diag("  --> found string: %s\n", value.c_str());
            s.replace(found, e - found, value);
            i = found + value.size();
        } else {
            Diag("  --> did not find string\n");
            i = found + 4;
        }
    }
    return s;
}

int WriteList(const std::vector<std::string>& texts, char* buffer, size_t size)
{
    if (!buffer || size == 0)
        return 0;
    size_t used = 0;
    int count = 0;
    for (const std::string& t : texts) {
        if (used + t.size() + 2 > size) // the text, its NUL and the closing empty text
            break;
        std::copy(t.begin(), t.end(), buffer + used);
        used += t.size();
        buffer[used++] = '\0';
        ++count;
    }
    buffer[used] = '\0';
    return count;
}
} // namespace

int CfgHeaderKindOf(std::string_view keyword)
{
    // Called for every line: the first character rules out most keywords before any comparison.
    if (keyword.empty())
        return CfgHeaderNone;
    switch (keyword[0]) {
    case 'v':
        return keyword == "version" ? CfgHeaderVersion : CfgHeaderNone;
    case 'f':
        return keyword == "features" ? CfgHeaderFeatures : CfgHeaderNone;
    case 'i':
        return keyword == "init_data" ? CfgHeaderInitData : CfgHeaderNone;
    case 'w':
        return keyword == "wizard" ? CfgHeaderWizard : CfgHeaderNone;
    case 'h':
        return keyword == "hardware" ? CfgHeaderHardware : CfgHeaderNone;
    default:
        return CfgHeaderNone;
    }
}

void CfgStartIndex(const std::string& descriptionPattern, const std::string& wizardPattern)
{
    Index& index = TheIndex();
    std::lock_guard<std::mutex> start(index.startLock);
    if (index.started)
        return;
    std::vector<std::string> files = ListMatching(descriptionPattern);
    std::vector<std::string> wizards = ListMatching(wizardPattern);
    files.insert(files.end(), wizards.begin(), wizards.end());
    index.started = true;
    index.run = true;
    {
        std::lock_guard<std::mutex> lock(index.lock);
        index.busy = true;
    }
    index.thread = std::thread(IndexThread, std::move(files));
}

void CfgStopIndex()
{
    Index& index = TheIndex();
    std::lock_guard<std::mutex> start(index.startLock);
    if (!index.started)
        return;
    index.run = false;
    if (index.thread.joinable())
        index.thread.join();
    {
        std::lock_guard<std::mutex> lock(index.featureLock);
        index.features.clear();
    }
    index.head.store(nullptr);
    index.tail = nullptr;
    index.owned.clear();
    index.started = false;
}

bool CfgIndexBusy()
{
    Index& index = TheIndex();
    std::lock_guard<std::mutex> lock(index.lock);
    return index.busy;
}

void CfgWaitIndex()
{
    Index& index = TheIndex();
    std::unique_lock<std::mutex> lock(index.lock);
    index.changed.wait(lock, [&] { return !index.busy; });
}

void CfgSetIndexFileHook(std::function<void(const std::string& path)> hook)
{
    Index& index = TheIndex();
    std::lock_guard<std::mutex> lock(index.hookLock);
    index.fileHook = std::move(hook);
}

const CfgIndexEntry* CfgFindIndexEntry(const std::function<bool(const CfgIndexEntry&)>& pred)
{
    Index& index = TheIndex();
    const CfgIndexEntry* prev = nullptr;
    for (;;) {
        const CfgIndexEntry* e
            = prev ? prev->next.load(std::memory_order_acquire) : index.head.load(std::memory_order_acquire);
        if (e) {
            if (pred(*e))
                return e;
            prev = e;
            continue;
        }
        // The list is exhausted: wait for the next entry while the thread still scans.
        std::unique_lock<std::mutex> lock(index.lock);
        for (;;) {
            e = prev ? prev->next.load(std::memory_order_acquire) : index.head.load(std::memory_order_acquire);
            if (e || !index.busy)
                break;
            index.changed.wait(lock);
        }
        if (!e)
            return nullptr;
    }
}

const CfgIndexEntry* CfgFindBlock(const std::string& deviceKey, const char* language, int kind, uint32_t featureMask)
{
    const CfgIndexEntry* e = nullptr;
    if (language)
        e = CfgFindIndexEntry(
            [&](const CfgIndexEntry& x) { return EntryMatches(x, deviceKey, language, kind, featureMask); });
    if (!e)
        e = CfgFindIndexEntry(
            [&](const CfgIndexEntry& x) { return EntryMatches(x, deviceKey, nullptr, kind, featureMask); });
    return e;
}

std::unique_ptr<CfgFile> CfgOpenDescription(
    const std::string& deviceKey, const char* language, int kind, uint32_t featureMask)
{
    const CfgIndexEntry* e = CfgFindBlock(deviceKey, language, kind, featureMask);
    if (!e)
        return nullptr;
    return CfgFile::Open(e->path);
}

int CfgGetFeature(std::string_view deviceType, std::string_view version, const char* language, uint32_t featureMask,
    int n, uint32_t* mask, std::string* text)
{
    std::string key = CfgDeviceKey(deviceType, version);
    const CfgIndexEntry* entry = CfgFindBlock(key, language, CfgHeaderFeatures, featureMask);
    if (!entry || n < 0)
        return 0;
    Index& index = TheIndex();
    std::lock_guard<std::mutex> lock(index.featureLock);
    auto cacheKey = std::make_pair(entry, key + '\n' + (language ? language : ""));
    auto it = index.features.find(cacheKey);
    if (it == index.features.end()) {
        std::vector<CfgFeature> list;
        std::unique_ptr<CfgFile> file = CfgFile::Open(entry->path);
        if (file) {
            CfgStringContext strings(language ? language : "", language != nullptr);
            std::string keyword;
            CfgArgList args;
            int line = 0;
            bool ended = false;
            if (SeekBlock(*file, CfgHeaderFeatures, key, featureMask, line, &strings, keyword, args)) {
                while (CfgReadLine(*file, keyword, args, line, &strings)) {
                    if (CfgHeaderKindOf(keyword) != CfgHeaderNone)
                        break;
                    if (keyword != "feature_mask") {
                        Diag("reading dsc, line %d - unexpected token \"%s\"\n", line, keyword.c_str());
                        continue;
                    }
                    uint32_t m = ParseUnsigned(args.At(0));
                    if (m == 0)
                        ended = true; // a zero mask ends the list
                    if (!ended)
                        list.push_back(CfgFeature { m, CutTo(args.At(1), 255) });
                }
            }
        }
        it = index.features.emplace(cacheKey, std::move(list)).first;
    }
    int seen = 0;
    for (const CfgFeature& f : it->second) {
        if ((f.mask & featureMask) == 0)
            continue;
        if (seen++ == n) {
            if (mask)
                *mask = f.mask;
            if (text)
                *text = f.text;
            return 1;
        }
    }
    return 0;
}

int CfgPutEnv(std::string_view name, std::string_view value)
{
    std::lock_guard<std::mutex> lock(g_envLock);
    std::string n(name);
    std::string v(value);
#ifdef _WIN32
    std::string assignment = n + "=" + v;
    return _putenv(assignment.c_str());
#else
    if (n.empty() || n.find('=') != std::string::npos)
        return -1;
    if (v.empty())
        return unsetenv(n.c_str());
    return setenv(n.c_str(), v.c_str(), 1);
#endif
}

bool CfgGetEnv(std::string_view name, std::string* value)
{
    std::lock_guard<std::mutex> lock(g_envLock);
    std::string n(name);
    const char* v = std::getenv(n.c_str());
    if (!v)
        return false;
    if (value)
        *value = v;
    return true;
}

int CfgReadHardwareBlock(std::string_view deviceType, std::string_view version, std::string_view comment,
    uint32_t featureMask, uint32_t* hardwareMask, CfgTempStream* out)
{
    if (!out)
        return 0;
    out->Close();
    if (!out->Open())
        return 0;
    uint32_t hwMask = hardwareMask ? *hardwareMask : 0;
    std::string key = CfgDeviceKey(deviceType, version);
    std::string keyword;
    CfgArgList args;

    Diag("\nreading hardware block...\n");
    Diag("  --> using feature mask: 0x%08x\n", featureMask);
    const CfgIndexEntry* hw = CfgFindBlock(key, nullptr, CfgHeaderHardware, featureMask);
    std::unique_ptr<CfgFile> file = hw ? CfgFile::Open(hw->path) : nullptr;
    if (!file) {
        Diag("file open failed on hardware block file.\n");
    } else {
        int line = 0;
        if (SeekBlock(*file, CfgHeaderHardware, key, featureMask, line, nullptr, keyword, args)) {
            while (CfgReadLine(*file, keyword, args, line, nullptr)) {
                if (CfgHeaderKindOf(keyword) != CfgHeaderNone)
                    break;
                if (keyword == "string") {
                    if (args.Empty())
                        continue;
                    std::string assignment = std::string(args.At(0)) + "=" + std::string(args.At(1));
                    int rc = CfgPutEnv(args.At(0), args.At(1));
                    if (rc == 0)
                        Diag("  --> _putenv: %s\n", assignment.c_str());
                    else
                        Diag("  --> _putenv returned an error code: %d\n", rc);
                } else if (keyword == "hardware_mask") {
                    int error = 0;
                    uint32_t m = ReadMask(args.At(0), &error);
                    if (m == 0 || m == 0xFFFFFFFFu) {
                        Diag("  --> strtoul returned an error code: %d\n", error);
                        hwMask = 0;
                    } else {
                        hwMask = m;
                        Diag("  --> using hardware_mask: 0x%08x\n", hwMask);
                    }
                }
            }
        }
    }
    if (hardwareMask)
        *hardwareMask = hwMask;

    Diag("\nreading init_data block...\n");
    const CfgIndexEntry* init = CfgFindBlock(key, nullptr, CfgHeaderInitData, featureMask);
    file = init ? CfgFile::Open(init->path) : nullptr;
    int line = 0;
    if (!file || !SeekBlock(*file, CfgHeaderInitData, key, featureMask, line, nullptr, keyword, args)) {
        out->Rewind();
        return 1;
    }
    // A comment holds no ")" (it ends the header's first field).
    std::string_view note = comment.substr(0, comment.find(')'));
    out->Print("(%.*s)\r\n", static_cast<int>(note.size()), note.data());
    out->Print("(%.*s) (0x%08x;0x%08x)\r\n", static_cast<int>(version.size()), version.data(), featureMask, hwMask);
    out->Print("[%.*s]\r\n", static_cast<int>(deviceType.size()), deviceType.data());

    InitCondition hwCond, featCond;
    std::string raw;
    while (file->ReadRawLine(raw)) {
        ++line;
        std::string_view text = CfgStripLine(raw);
        if (text.empty())
            continue;
        if (IsAsciiAlnum(text[0])) {
            CfgSplitLine(text, keyword, args);
            if (CfgHeaderKindOf(keyword) != CfgHeaderNone)
                break;
            std::string value;
            CfgReplaceStr(args, [&value](std::string_view name) -> const std::string* {
                return CfgGetEnv(name, &value) ? &value : nullptr;
            });
            if (keyword == "hardware_mask")
                ReadInitCondition(args, hwCond, "hardware_mask");
            else if (keyword == "feature_mask")
                ReadInitCondition(args, featCond, "feature_mask");
            else
                Diag("  --> invalid token reading init_data block: %s\n", keyword.c_str());
            continue;
        }
        if (hwCond.Holds(hwMask) && featCond.Holds(featureMask))
            out->Print("%s\r\n", ReplaceEnvStrings(std::string(text)).c_str());
    }
    out->Rewind();
    return 1;
}

std::vector<std::string> CfgListDeviceTypes()
{
    CfgWaitIndex();
    std::vector<std::string> out;
    for (const CfgIndexEntry* e = TheIndex().head.load(); e; e = e->next.load()) {
        if (e->kind != CfgHeaderHardware || e->args.Empty())
            continue;
        std::string_view pattern = e->args.At(0);
        size_t blank = pattern.rfind(' ');
        if (blank == std::string_view::npos)
            continue;
        std::string type(pattern.substr(0, blank));
        if (std::find(out.begin(), out.end(), type) == out.end())
            out.push_back(type);
    }
    return out;
}

int CfgListDeviceTypes(char* buffer, size_t size)
{
    return WriteList(CfgListDeviceTypes(), buffer, size);
}

std::vector<std::string> CfgListVersions(std::string_view deviceType)
{
    CfgWaitIndex();
    std::vector<std::string> out;
    for (const CfgIndexEntry* e = TheIndex().head.load(); e; e = e->next.load()) {
        if (e->kind != CfgHeaderHardware || e->args.Empty())
            continue;
        std::string_view pattern = e->args.At(0);
        if (pattern.substr(0, deviceType.size()) != deviceType)
            continue;
        size_t blank = pattern.rfind(' ');
        if (blank == std::string_view::npos)
            continue;
        std::string version(pattern.substr(blank + 1));
        version = version.substr(0, version.find('#'));
        while (version.size() < 4)
            version += '0';
        if (std::find(out.begin(), out.end(), version) == out.end())
            out.push_back(version);
    }
    return out;
}

int CfgListVersions(std::string_view deviceType, char* buffer, size_t size)
{
    return WriteList(CfgListVersions(deviceType), buffer, size);
}
