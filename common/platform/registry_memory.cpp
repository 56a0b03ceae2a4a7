// The in-memory registry: a tree of keys behind one lock. Handles keep their key alive, so a key deleted
// while open answers KeyDeleted instead of touching freed memory.
#include "common/platform/registry_backend.h"
#include "common/text.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace {
constexpr size_t kMaxKeyName = 255;

struct MemValue {
    std::string name;
    uint32_t type = 0;
    std::string data;
};

struct MemKey {
    std::string name;
    MemKey* parent = nullptr; // null for a root
    bool deleted = false;
    std::vector<MemValue> values; // creation order
    std::vector<std::shared_ptr<MemKey>> subkeys; // sorted by KeyOrder
};

struct MemHandle {
    std::shared_ptr<MemKey> key;
    bool write = false;
};

// The system orders subkeys by their upper-case form ("_" after letters).
int KeyOrder(std::string_view a, std::string_view b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(AsciiUpper(a[i]));
        auto cb = static_cast<unsigned char>(AsciiUpper(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

void MarkDeleted(MemKey& key)
{
    key.deleted = true;
    for (auto& sub : key.subkeys)
        MarkDeleted(*sub);
}

// Splits a path at "\"; empty parts (a leading, doubled or trailing "\") are skipped.
bool SplitPath(std::string_view path, std::vector<std::string_view>* parts)
{
    while (!path.empty()) {
        size_t cut = path.find('\\');
        std::string_view part = path.substr(0, cut);
        if (part.size() > kMaxKeyName)
            return false;
        if (!part.empty())
            parts->push_back(part);
        if (cut == std::string_view::npos)
            break;
        path.remove_prefix(cut + 1);
    }
    return true;
}

class MemoryRegistry : public RegBackend {
public:
    MemoryRegistry()
    {
        Clear();
    }

    void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& root : roots_) {
            if (root)
                MarkDeleted(*root);
            root = std::make_shared<MemKey>();
        }
    }

    RegStatus Open(void* parent, RegRoot root, std::string_view path, bool write, bool create, bool* created,
        void** handle) override
    {
        *handle = nullptr;
        if (created)
            *created = false;
        std::vector<std::string_view> parts;
        if (!SplitPath(path, &parts))
            return RegStatus::BadName;
        std::lock_guard<std::mutex> lock(mutex_);
        std::shared_ptr<MemKey> key = parent ? static_cast<MemHandle*>(parent)->key : roots_[static_cast<size_t>(root)];
        if (key->deleted)
            return RegStatus::KeyDeleted;
        for (std::string_view part : parts) {
            auto& subs = key->subkeys;
            auto at = std::lower_bound(subs.begin(), subs.end(), part,
                [](const std::shared_ptr<MemKey>& k, std::string_view n) { return KeyOrder(k->name, n) < 0; });
            if (at != subs.end() && KeyOrder((*at)->name, part) == 0) {
                key = *at;
                continue;
            }
            if (!create)
                return RegStatus::NotFound;
            auto sub = std::make_shared<MemKey>();
            sub->name = std::string(part);
            sub->parent = key.get();
            subs.insert(at, sub);
            key = sub;
            if (created)
                *created = true;
        }
        *handle = new MemHandle { key, write };
        return RegStatus::Ok;
    }

    void Close(void* handle) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        delete static_cast<MemHandle*>(handle);
    }

    RegStatus Query(void* handle, std::string_view name, uint32_t* type, std::string* data) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        MemKey& key = *static_cast<MemHandle*>(handle)->key;
        if (key.deleted)
            return RegStatus::KeyDeleted;
        const MemValue* value = Find(key, name);
        if (!value)
            return RegStatus::NotFound;
        *type = value->type;
        *data = value->data;
        return RegStatus::Ok;
    }

    RegStatus Set(void* handle, std::string_view name, uint32_t type, std::string_view data) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto* h = static_cast<MemHandle*>(handle);
        if (h->key->deleted)
            return RegStatus::KeyDeleted;
        if (!h->write)
            return RegStatus::AccessDenied;
        MemValue* value = Find(*h->key, name);
        if (!value) {
            h->key->values.push_back(MemValue { std::string(name), 0, {} });
            value = &h->key->values.back();
        }
        value->type = type;
        value->data = std::string(data);
        return RegStatus::Ok;
    }

    RegStatus DeleteValue(void* handle, std::string_view name) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto* h = static_cast<MemHandle*>(handle);
        if (h->key->deleted)
            return RegStatus::KeyDeleted;
        if (!h->write)
            return RegStatus::AccessDenied;
        auto& values = h->key->values;
        auto at = std::find_if(
            values.begin(), values.end(), [&](const MemValue& v) { return StrEqualNoCase(v.name, name); });
        if (at == values.end())
            return RegStatus::NotFound;
        values.erase(at);
        return RegStatus::Ok;
    }

    RegStatus EnumValue(void* handle, uint32_t index, std::string* name, uint32_t* type, std::string* data) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        MemKey& key = *static_cast<MemHandle*>(handle)->key;
        if (key.deleted)
            return RegStatus::KeyDeleted;
        if (index >= key.values.size())
            return RegStatus::NoMoreItems;
        const MemValue& value = key.values[index];
        *name = value.name;
        *type = value.type;
        *data = value.data;
        return RegStatus::Ok;
    }

    RegStatus EnumKey(void* handle, uint32_t index, std::string* name) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        MemKey& key = *static_cast<MemHandle*>(handle)->key;
        if (key.deleted)
            return RegStatus::KeyDeleted;
        if (index >= key.subkeys.size())
            return RegStatus::NoMoreItems;
        *name = key.subkeys[index]->name;
        return RegStatus::Ok;
    }

    RegStatus DeleteKey(RegRoot root, std::string_view path, bool tree) override
    {
        void* handle = nullptr;
        RegStatus status = Open(nullptr, root, path, true, false, nullptr, &handle);
        if (status != RegStatus::Ok)
            return status;
        std::shared_ptr<MemKey> key = static_cast<MemHandle*>(handle)->key;
        Close(handle);
        std::lock_guard<std::mutex> lock(mutex_);
        if (!key->parent)
            return RegStatus::AccessDenied; // a root stays
        if (!tree && !key->subkeys.empty())
            return RegStatus::HasSubkeys;
        auto& siblings = key->parent->subkeys;
        siblings.erase(std::find(siblings.begin(), siblings.end(), key));
        MarkDeleted(*key);
        key->parent = nullptr;
        return RegStatus::Ok;
    }

private:
    static MemValue* Find(MemKey& key, std::string_view name)
    {
        for (MemValue& value : key.values) {
            if (StrEqualNoCase(value.name, name))
                return &value;
        }
        return nullptr;
    }

    std::mutex mutex_;
    std::shared_ptr<MemKey> roots_[4];
};

MemoryRegistry& Memory()
{
    static MemoryRegistry registry;
    return registry;
}
} // namespace

RegBackend& RegMemoryBackend()
{
    return Memory();
}

void RegMemoryClear()
{
    Memory().Clear();
}
