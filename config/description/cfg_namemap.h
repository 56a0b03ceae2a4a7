// A flat hash table from item names (kept lowered) to values, for the name index of a description.
// Entries live in one vector in insertion order; a power-of-two slot array probed linearly holds each
// entry's number and hash. Hashing ignores ASCII case, so a name can be looked up as it stands in a
// file (FindNoCase) with exactly the result of looking up its lowered form (find); find itself
// compares exactly, as the keys are stored. Adding entries moves them: pointers and iterators into
// the table stay valid only until the next insertion (the index is rebuilt as a whole).
//
// A whole index is built fastest in two steps: AddLaterNoCase appends the entries while their names
// are at hand (no probing of a slot array that the reading of many items would push out of the
// cache), then Settle enters them all into the slots at once, merging the entries of one key.
#pragma once

#include "common/text.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

template<typename V> class CfgNameMap {
public:
    using value_type = std::pair<std::string, V>;
    using iterator = value_type*;
    using const_iterator = const value_type*;

    iterator begin()
    {
        return entries_.data();
    }
    iterator end()
    {
        return entries_.data() + entries_.size();
    }
    const_iterator begin() const
    {
        return entries_.data();
    }
    const_iterator end() const
    {
        return entries_.data() + entries_.size();
    }
    bool empty() const
    {
        return entries_.empty();
    }
    size_t size() const
    {
        return entries_.size();
    }
    void clear()
    {
        entries_.clear();
        slots_.clear();
        laterHashes_.clear();
    }
    // Makes room for `n` entries without growing the slot array again.
    void reserve(size_t n)
    {
        entries_.reserve(n);
        if (SlotsFor(n) > slots_.size())
            Rehash(SlotsFor(n));
    }

    // The entry whose key is exactly `key`, or end().
    iterator find(std::string_view key)
    {
        return Lookup<false>(key);
    }
    const_iterator find(std::string_view key) const
    {
        return const_cast<CfgNameMap*>(this)->Lookup<false>(key);
    }
    // The entry whose key is `name` with ASCII letters lowered, or end().
    iterator FindNoCase(std::string_view name)
    {
        return Lookup<true>(name);
    }
    const_iterator FindNoCase(std::string_view name) const
    {
        return const_cast<CfgNameMap*>(this)->Lookup<true>(name);
    }
    size_t count(std::string_view key) const
    {
        return find(key) != end() ? 1 : 0;
    }
    // The value of a key that is present (aborts otherwise: callers check first).
    const V& at(std::string_view key) const
    {
        const_iterator it = find(key);
        if (it == end())
            std::abort();
        return it->second;
    }
    // The value of `key`, added with a default value when absent.
    V& operator[](std::string_view key)
    {
        return Insert(key, false).first->second;
    }
    // Adds the entry unless the key is present; the entry of the key and whether it was added.
    std::pair<iterator, bool> emplace(std::string_view key, V value)
    {
        std::pair<iterator, bool> r = Insert(key, false);
        if (r.second)
            r.first->second = std::move(value);
        return r;
    }
    // operator[] for `name` lowered: the key stored is the lowered name.
    V& SlotNoCase(std::string_view name)
    {
        return Insert(name, true).first->second;
    }
    // emplace for `name` lowered.
    std::pair<iterator, bool> EmplaceNoCase(std::string_view name, V value)
    {
        std::pair<iterator, bool> r = Insert(name, true);
        if (r.second)
            r.first->second = std::move(value);
        return r;
    }

    // Appends an entry for `name` lowered without looking for its key yet. Until Settle, nothing may
    // be looked up or inserted.
    void AddLaterNoCase(std::string_view name, V value)
    {
        std::string stored(name);
        uint32_t h = 2166136261u;
        for (char& c : stored) {
            c = AsciiLower(c);
            h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
        }
        entries_.emplace_back(std::move(stored), std::move(value));
        laterHashes_.push_back(h);
    }
    // Enters the entries AddLaterNoCase appended into the slots. An entry whose key came before
    // (earlier or in a settled entry) is merged into the first one of that key by merge(first, later)
    // and removed; the others keep their order.
    template<typename Merge> void Settle(Merge merge)
    {
        if (laterHashes_.empty())
            return;
        size_t first = entries_.size() - laterHashes_.size();
        if (SlotsFor(entries_.size()) > slots_.size())
            Rehash(SlotsFor(entries_.size()));
        std::vector<bool> gone; // entries merged into an earlier one (made at the first merge)
        for (size_t n = first; n < entries_.size(); ++n) {
            uint32_t hash = laterHashes_[n - first];
            size_t at = Probe<false>(entries_[n].first, hash);
            if (slots_[at].entry) {
                merge(entries_[slots_[at].entry - 1].second, std::move(entries_[n].second));
                gone.resize(entries_.size());
                gone[n] = true;
                continue;
            }
            slots_[at] = Slot { hash, static_cast<uint32_t>(n + 1) };
        }
        laterHashes_.clear();
        if (gone.empty())
            return;
        // Rare (a name given twice): close the gaps and number the slots afresh.
        size_t kept = 0;
        for (size_t n = 0; n < entries_.size(); ++n) {
            if (gone[n])
                continue;
            if (kept != n) // (a string moved onto itself would be left empty)
                entries_[kept] = std::move(entries_[n]);
            ++kept;
        }
        entries_.resize(kept);
        std::fill(slots_.begin(), slots_.end(), Slot {});
        size_t mask = slots_.size() - 1;
        for (size_t n = 0; n < entries_.size(); ++n) {
            uint32_t hash = Hash(entries_[n].first);
            size_t i = hash & mask;
            while (slots_[i].entry)
                i = (i + 1) & mask;
            slots_[i] = Slot { hash, static_cast<uint32_t>(n + 1) };
        }
    }

private:
    struct Slot {
        uint32_t hash = 0;
        uint32_t entry = 0; // entry number + 1; 0: free
    };

    static size_t SlotsFor(size_t n)
    {
        size_t s = 16;
        while (s < 2 * n)
            s *= 2;
        return s;
    }
    // FNV-1a over the bytes with ASCII letters lowered.
    static uint32_t Hash(std::string_view key)
    {
        uint32_t h = 2166136261u;
        for (char c : key)
            h = (h ^ static_cast<unsigned char>(AsciiLower(c))) * 16777619u;
        return h;
    }
    template<bool NoCase> static bool Same(std::string_view stored, std::string_view key)
    {
        if (stored.size() != key.size())
            return false;
        if (!NoCase)
            return stored == key;
        for (size_t i = 0; i < key.size(); ++i)
            if (stored[i] != AsciiLower(key[i]))
                return false;
        return true;
    }
    // The slot of `key`: the one that holds it, or the free one where it would go.
    template<bool NoCase> size_t Probe(std::string_view key, uint32_t hash) const
    {
        size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (s.entry == 0)
                return i;
            if (s.hash == hash && Same<NoCase>(entries_[s.entry - 1].first, key))
                return i;
        }
    }
    template<bool NoCase> iterator Lookup(std::string_view key)
    {
        if (entries_.empty())
            return end();
        const Slot& s = slots_[Probe<NoCase>(key, Hash(key))];
        return s.entry ? entries_.data() + (s.entry - 1) : end();
    }
    std::pair<iterator, bool> Insert(std::string_view key, bool noCase)
    {
        if (SlotsFor(entries_.size() + 1) > slots_.size())
            Rehash(SlotsFor(entries_.size() + 1));
        uint32_t hash = Hash(key);
        size_t at = noCase ? Probe<true>(key, hash) : Probe<false>(key, hash);
        if (slots_[at].entry)
            return { entries_.data() + (slots_[at].entry - 1), false };
        std::string stored(key);
        if (noCase)
            for (char& c : stored)
                c = AsciiLower(c);
        entries_.emplace_back(std::move(stored), V {});
        slots_[at] = Slot { hash, static_cast<uint32_t>(entries_.size()) };
        return { &entries_.back(), true };
    }
    // Spreads the used slots over `count` new ones (their hashes are kept: keys are not read again).
    void Rehash(size_t count)
    {
        std::vector<Slot> old(count);
        old.swap(slots_);
        size_t mask = count - 1;
        for (const Slot& s : old) {
            if (!s.entry)
                continue;
            size_t i = s.hash & mask;
            while (slots_[i].entry)
                i = (i + 1) & mask;
            slots_[i] = s;
        }
    }

    std::vector<value_type> entries_;
    std::vector<Slot> slots_;
    std::vector<uint32_t> laterHashes_; // hashes of the entries AddLaterNoCase appended, oldest first
};
