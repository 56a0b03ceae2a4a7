#include "config/description/cfg_types.h"

#include "common/bytes.h"
#include "common/text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

// ---- CfgArena ----

namespace {
// Blocks of arenas that went, for the next ones.
class BlockPool {
public:
    static constexpr size_t kKeep = 512; // 32 MB of 64 KB blocks

    std::unique_ptr<char[]> Take()
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (free_.empty())
            return nullptr;
        std::unique_ptr<char[]> block = std::move(free_.back());
        free_.pop_back();
        return block;
    }
    void Give(std::vector<std::unique_ptr<char[]>>& blocks)
    {
        std::lock_guard<std::mutex> lock(lock_);
        for (auto& block : blocks) {
            if (free_.size() >= kKeep)
                break;
            free_.push_back(std::move(block));
        }
    }

private:
    std::mutex lock_;
    std::vector<std::unique_ptr<char[]>> free_;
};

// Never destroyed: arenas of static descriptions may go after everything else at exit.
BlockPool& Pool()
{
    static BlockPool* pool = new BlockPool;
    return *pool;
}
} // namespace

CfgArena::~CfgArena()
{
    Pool().Give(blocks_); // what the pool does not keep is freed with blocks_
}

void* CfgArena::AllocateInNewBlock(size_t bytes)
{
    if (bytes > kBlock) {
        large_.push_back(std::unique_ptr<char[]>(new char[bytes]));
        return large_.back().get();
    }
    std::unique_ptr<char[]> block = Pool().Take();
    if (!block)
        block.reset(new char[kBlock]); // not cleared: every byte is written before use
    blocks_.push_back(std::move(block));
    at_ = blocks_.back().get() + bytes;
    left_ = kBlock - bytes;
    return blocks_.back().get();
}

// ---- CfgOptText ----

CfgOptText::CfgOptText(CfgOptText&& other) noexcept
{
    if (other.block_ && other.block_->owned) {
        block_ = other.block_;
        other.block_ = nullptr;
    } else if (other.block_) {
        Assign(other.View());
        other.reset(); // moved from: none, as an owned text leaves it
    }
}

CfgOptText& CfgOptText::operator=(const CfgOptText& other)
{
    if (this != &other) {
        if (other)
            Assign(other.View());
        else
            reset();
    }
    return *this;
}

CfgOptText& CfgOptText::operator=(CfgOptText&& other) noexcept
{
    if (this == &other)
        return *this;
    if (other.block_ && other.block_->owned) {
        reset();
        block_ = other.block_;
        other.block_ = nullptr;
        return *this;
    }
    *this = other;
    other.reset();
    return *this;
}

void CfgOptText::reset()
{
    if (block_ && block_->owned)
        ::operator delete(block_);
    block_ = nullptr;
}

void CfgOptText::Take(void* storage, std::string_view text, bool owned)
{
    auto* b = static_cast<Block*>(storage);
    b->size = static_cast<uint32_t>(text.size());
    b->owned = owned ? 1 : 0;
    if (!text.empty())
        std::memcpy(b + 1, text.data(), text.size());
    reinterpret_cast<char*>(b + 1)[text.size()] = '\0';
    reset();
    block_ = b;
}

void CfgOptText::Assign(std::string_view text)
{
    Take(::operator new(sizeof(Block) + text.size() + 1), text, true);
}

void CfgOptText::emplace(CfgArena& arena, std::string_view text)
{
    Take(arena.Allocate(sizeof(Block) + text.size() + 1), text, false);
}

// ---- CfgArgList ----

CfgArgList::CfgArgList(CfgArena& arena, const CfgArgList& other)
{
    CopyIn(arena, other);
}

void CfgArgList::CopyIn(CfgArena& arena, const CfgArgList& other)
{
    size_t n = other.Size();
    if (n == 0)
        return;
    block_ = static_cast<Block*>(arena.Allocate(sizeof(Block) + n));
    std::memcpy(TextOf(block_), other.Data(), n);
    block_->count = other.block_->count;
    block_->size = static_cast<uint32_t>(n);
    block_->capacity = 0;
}

CfgArgList::CfgArgList(CfgArgList&& other) noexcept
{
    if (other.Owned()) {
        block_ = other.block_;
        other.block_ = nullptr;
    } else if (other.block_) {
        *this = other; // the text stays where it is: this list gets a copy of its own
        other.block_ = nullptr;
    }
}

void CfgArgList::Release()
{
    if (Owned())
        ::operator delete(block_);
    block_ = nullptr;
}

CfgArgList::CfgArgList(const CfgArgList& other)
{
    size_t n = other.Size();
    if (n == 0)
        return;
    Reserve(n);
    std::memcpy(TextOf(block_), other.Data(), n);
    block_->size = static_cast<uint32_t>(n);
    block_->count = other.block_->count;
}

CfgArgList& CfgArgList::operator=(const CfgArgList& other)
{
    if (this == &other)
        return *this;
    Clear();
    size_t n = other.Size();
    if (n == 0)
        return *this;
    Reserve(n);
    std::memcpy(TextOf(block_), other.Data(), n);
    block_->size = static_cast<uint32_t>(n);
    block_->count = other.block_->count;
    return *this;
}

CfgArgList& CfgArgList::operator=(CfgArgList&& other) noexcept
{
    if (this == &other)
        return *this;
    if (!other.Owned()) {
        *this = other;
        other.block_ = nullptr;
        return *this;
    }
    Release();
    block_ = other.block_;
    other.block_ = nullptr;
    return *this;
}

CfgArgList::~CfgArgList()
{
    Release();
}

void CfgArgList::Reserve(size_t bytes)
{
    size_t have = block_ ? block_->capacity : 0;
    if (bytes <= have)
        return;
    size_t capacity = std::max(bytes, have * 2);
    auto* b = static_cast<Block*>(::operator new(sizeof(Block) + capacity));
    b->count = 0;
    b->size = 0;
    if (block_) {
        std::memcpy(TextOf(b), TextOf(block_), block_->size);
        b->count = block_->count;
        b->size = block_->size;
        Release();
    }
    b->capacity = static_cast<uint32_t>(capacity);
    block_ = b;
}

bool CfgArgList::operator==(const CfgArgList& other) const
{
    size_t n = Size();
    return n == other.Size() && (n == 0 || std::memcmp(Data(), other.Data(), n) == 0);
}

CfgArgList CfgArgList::FromTexts(const std::vector<std::string>& texts)
{
    CfgArgList list;
    for (const std::string& t : texts) {
        if (t.empty())
            break;
        list.Append(t);
    }
    return list;
}

std::string_view CfgArgList::At(size_t n) const
{
    if (n >= Count())
        return {};
    const char* p = Data();
    // The last member ends at the NUL before the end of the text in use: no need to look for it
    // (most lists read this way have one member, or the member wanted is the last).
    bool last = n + 1 == Count();
    while (n > 0) {
        p += std::strlen(p) + 1;
        --n;
    }
    return last ? std::string_view(p, static_cast<size_t>(Data() + Size() - 1 - p)) : std::string_view(p);
}

void CfgArgList::Append(std::string_view text)
{
    if (text.empty())
        return;
    // A member cannot hold a NUL: it would split the member in two.
    const void* nul = std::memchr(text.data(), '\0', text.size());
    if (nul)
        text = text.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - text.data()));
    if (!text.empty())
        AppendPlain(text);
}

std::vector<std::string> CfgArgList::Texts() const
{
    std::vector<std::string> out;
    out.reserve(Count());
    for (std::string_view t : *this)
        out.emplace_back(t);
    return out;
}

std::string CfgArgList::Raw() const
{
    std::string raw(Data() ? Data() : "", Size());
    raw.push_back('\0');
    return raw;
}

std::string_view CfgArgList::Iterator::operator*() const
{
    return std::string_view(at_);
}

CfgArgList::Iterator& CfgArgList::Iterator::operator++()
{
    at_ += std::strlen(at_) + 1;
    if (at_ > end_)
        at_ = end_;
    return *this;
}

// ---- kinds ----

namespace {
struct KindName {
    uint32_t kind;
    const char* keyword;
};
// The element keyword table shared with the wizard scripts.
const KindName kKinds[] = {
    { CfgKindGroup, "group" },
    { CfgKindGroupLogo, "group_logo" },
    { CfgKindGroupEnd, "group_end" },
    { CfgKindSeparator, "separator" },
    { CfgKindStaticText, "static_text" },
    { CfgKindStaticIcon, "static_icon" },
    { CfgKindReadonlyText, "readonly_text" },
    { CfgKindEntryText, "entryfield_text" },
    { CfgKindEntryNumbers, "entryfield_numbers" },
    { CfgKindEntryHex, "entryfield_hex" },
    { CfgKindEntryIpAddress, "entryfield_ipaddress" },
    { CfgKindEntryNumeric, "entryfield_numeric" },
    { CfgKindEntryDate, "entryfield_date" },
    { CfgKindEntryTime, "entryfield_time" },
    { CfgKindEntryDateTime, "entryfield_datetime" },
    { CfgKindSlider, "numeric_slider" },
    { CfgKindSelectionButtons, "selection_buttons" },
    { CfgKindSelectionList, "selection_list" },
    { CfgKindSelectionFromTable, "selection_list_from_table" },
    { CfgKindOnOff, "onoff_switch" },
    { CfgKindTable, "table" },
};

// Kinds as bits for the attribute table: kind k (1 to 20) is bit k, a table bit 21.
constexpr uint32_t K(uint32_t kind)
{
    return kind == CfgKindTable ? (1u << 21) : (1u << kind);
}
constexpr uint32_t KRange(uint32_t from, uint32_t to)
{
    uint32_t m = 0;
    for (uint32_t k = from; k <= to; ++k)
        m |= K(k);
    return m;
}
constexpr uint32_t kT = K(CfgKindTable);
constexpr uint32_t kFrom5 = KRange(5, 20) | kT;

// The attributes every named kind accepts live in fields of their own; the others in CfgKindAttrs.
#define NUM(m) &CfgItem::m, nullptr
#define LST(m) nullptr, &CfgItem::m
#define KIND_SPECIFIC nullptr, nullptr

// In CfgAttr order.
const CfgAttrInfo kAttrs[CfgAttrCount] = {
    { "description", CfgAttrDescription, CfgAttrForm::List, LST(description), kFrom5, kFrom5 },
    { "help_id", CfgAttrHelpId, CfgAttrForm::Number, NUM(helpId), kFrom5, 0 },
    { "alias", CfgAttrAlias, CfgAttrForm::List, LST(alias), kFrom5, kFrom5 },
    { "arrange", CfgAttrArrange, CfgAttrForm::Number, NUM(arrange), kFrom5, kFrom5 },
    { "multicfg", CfgAttrMulticfg, CfgAttrForm::Number, NUM(multicfg), kFrom5, 0 },
    { "change_item", CfgAttrChangeItem, CfgAttrForm::List, LST(changeItem), kFrom5, kFrom5 },
    { "enable_item", CfgAttrEnableItem, CfgAttrForm::List, LST(enableItem), kFrom5, kFrom5 },
    { "item_text", CfgAttrItemText, CfgAttrForm::List, KIND_SPECIFIC, K(7) | K(16) | K(18), K(7) | K(16) | K(18) },
    { "item_value", CfgAttrItemValue, CfgAttrForm::List, KIND_SPECIFIC, K(7) | K(18), K(7) | K(18) },
    { "default_value", CfgAttrDefaultValue, CfgAttrForm::Text, KIND_SPECIFIC, KRange(8, 16) | K(19),
        KRange(8, 16) | K(19) },
    { "max_len", CfgAttrMaxLen, CfgAttrForm::Number, KIND_SPECIFIC, KRange(8, 10) | K(19), KRange(8, 10) | K(19) },
    { "never_empty", CfgAttrNeverEmpty, CfgAttrForm::Number, KIND_SPECIFIC, KRange(8, 10) | K(13) | K(15) | K(19),
        KRange(8, 10) | K(19) },
    { "hidden", CfgAttrHidden, CfgAttrForm::Number, KIND_SPECIFIC, KRange(7, 10) | kT, KRange(7, 10) | kT },
    { "fill", CfgAttrFill, CfgAttrForm::Number, KIND_SPECIFIC, K(9) | K(10), K(9) | K(10) },
    { "add_to_charset", CfgAttrAddToCharset, CfgAttrForm::Text, KIND_SPECIFIC, K(8) | K(9) | K(19),
        K(8) | K(9) | K(19) },
    { "convert_to_upper", CfgAttrConvertToUpper, CfgAttrForm::Number, KIND_SPECIFIC, K(7) | K(8) | K(19),
        K(7) | K(8) | K(19) },
    { "sort", CfgAttrSort, CfgAttrForm::Number, KIND_SPECIFIC, K(19), 0 },
    { "no_edit", CfgAttrNoEdit, CfgAttrForm::Number, KIND_SPECIFIC, K(19), 0 },
    { "no_duplicates", CfgAttrNoDuplicates, CfgAttrForm::Number, KIND_SPECIFIC, K(19), K(19) },
    { "never_zero", CfgAttrNeverZero, CfgAttrForm::Number, KIND_SPECIFIC, K(11), K(11) },
    { "very_important", CfgAttrVeryImportant, CfgAttrForm::Number, KIND_SPECIFIC, K(8) | K(11), K(8) | K(11) },
    { "range_min", CfgAttrRangeMin, CfgAttrForm::Number, KIND_SPECIFIC, K(12) | K(16), K(12) | K(16) },
    { "range_max", CfgAttrRangeMax, CfgAttrForm::Number, KIND_SPECIFIC, K(12) | K(16), K(12) | K(16) },
    { "step", CfgAttrStep, CfgAttrForm::Number, KIND_SPECIFIC, K(12) | K(16), K(12) | K(16) },
    { "factor", CfgAttrFactor, CfgAttrForm::Number, KIND_SPECIFIC, K(12), K(12) },
    { "year_is_wildcard", CfgAttrYearIsWildcard, CfgAttrForm::Number, KIND_SPECIFIC, K(13) | K(15), K(13) | K(15) },
    { "show_seconds", CfgAttrShowSeconds, CfgAttrForm::Number, KIND_SPECIFIC, K(14) | K(15), K(14) | K(15) },
    { "lower_buddy", CfgAttrLowerBuddy, CfgAttrForm::Number, KIND_SPECIFIC, K(14) | K(15), K(14) | K(15) },
    { "upper_buddy", CfgAttrUpperBuddy, CfgAttrForm::Number, KIND_SPECIFIC, K(14) | K(15), K(14) | K(15) },
    { "format", CfgAttrFormat, CfgAttrForm::Text, KIND_SPECIFIC, KRange(13, 15), KRange(13, 15) },
    { "unit", CfgAttrUnit, CfgAttrForm::Text, KIND_SPECIFIC, KRange(7, 12) | K(16), KRange(7, 12) | K(16) },
    { "button_text", CfgAttrButtonText, CfgAttrForm::List, KIND_SPECIFIC, K(17), K(17) },
    { "bshort_text", CfgAttrBshortText, CfgAttrForm::List, KIND_SPECIFIC, K(17), K(17) },
    { "button_value", CfgAttrButtonValue, CfgAttrForm::List, KIND_SPECIFIC, K(17), K(17) },
    { "default_selection", CfgAttrDefaultSelection, CfgAttrForm::Number, KIND_SPECIFIC, K(17) | K(18) | K(20),
        K(17) | K(18) | K(20) },
    { "items_from_table", CfgAttrItemsFromTable, CfgAttrForm::List, KIND_SPECIFIC, K(19), K(19) },
    { "value_list", CfgAttrValueList, CfgAttrForm::List, KIND_SPECIFIC, K(20), K(20) },
    { "value_text", CfgAttrValueText, CfgAttrForm::List, KIND_SPECIFIC, K(20), K(20) },
    { "static_table_menu", CfgAttrStaticTableMenu, CfgAttrForm::List, KIND_SPECIFIC, kT, kT },
    { "static_table_overlay", CfgAttrStaticTableOverlay, CfgAttrForm::Number, KIND_SPECIFIC, kT, kT },
    { "static_table_join", CfgAttrStaticTableJoin, CfgAttrForm::Number, KIND_SPECIFIC, kT, 0 },
    { "max_items", CfgAttrMaxItems, CfgAttrForm::Number, KIND_SPECIFIC, kT, kT },
    { "num_columns", CfgAttrNumColumns, CfgAttrForm::Number, KIND_SPECIFIC, kT, kT },
    { "auto_index", CfgAttrAutoIndex, CfgAttrForm::List, KIND_SPECIFIC, kT, kT },
    { "merge_entrys", CfgAttrMergeEntrys, CfgAttrForm::List, KIND_SPECIFIC, kT, kT },
    { "default_add", CfgAttrDefaultAdd, CfgAttrForm::List, KIND_SPECIFIC, kT, kT },
};

#undef NUM
#undef KIND_SPECIFIC
#undef LST

// Every element and attribute keyword in one open-addressed table, looked up once per line.
class KeywordTable {
public:
    KeywordTable()
    {
        for (size_t i = 0; i < CfgAttrCount; ++i) {
            Slot& s = Free(kAttrs[i].keyword);
            s.keyword = kAttrs[i].keyword;
            s.size = std::strlen(s.keyword);
            s.attr = &kAttrs[i];
        }
        for (const KindName& k : kKinds) {
            Slot& s = Free(k.keyword);
            s.keyword = k.keyword;
            s.size = std::strlen(s.keyword);
            s.kind = k.kind;
        }
    }
    uint32_t Kind(std::string_view keyword) const
    {
        const Slot* s = Lookup(keyword);
        return s ? s->kind : CfgKindNone;
    }
    const CfgAttrInfo* Attr(std::string_view keyword) const
    {
        const Slot* s = Lookup(keyword);
        return s ? s->attr : nullptr;
    }
    const CfgAttrInfo* Both(std::string_view keyword, uint32_t* kind) const
    {
        const Slot* s = Lookup(keyword);
        *kind = s ? s->kind : CfgKindNone;
        return s ? s->attr : nullptr;
    }

private:
    static constexpr size_t kSlots = 256; // a power of two, well above the 67 keywords
    struct Slot {
        const char* keyword = nullptr;
        size_t size = 0;
        uint32_t kind = CfgKindNone;
        const CfgAttrInfo* attr = nullptr;
    };
    // Length and three of the characters: enough to spread the keywords, and cheap for every line.
    static size_t Hash(std::string_view k)
    {
        if (k.empty())
            return 0;
        auto at = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(k[i])); };
        uint32_t h = static_cast<uint32_t>(k.size()) * 0x9E3779B1u;
        h ^= at(0) * 0x85EBCA77u;
        h ^= at(k.size() - 1) * 0xC2B2AE3Du;
        h ^= at(k.size() / 2) * 0x27D4EB2Fu;
        return (h ^ (h >> 15)) & (kSlots - 1);
    }
    Slot& Free(std::string_view keyword)
    {
        size_t i = Hash(keyword);
        while (slots_[i].keyword)
            i = (i + 1) & (kSlots - 1);
        return slots_[i];
    }
    const Slot* Lookup(std::string_view keyword) const
    {
        for (size_t i = Hash(keyword);; i = (i + 1) & (kSlots - 1)) {
            const Slot& s = slots_[i];
            if (!s.keyword)
                return nullptr;
            if (s.size == keyword.size() && SameBytes(s.keyword, keyword.data(), s.size))
                return &s;
        }
    }

    Slot slots_[kSlots];
};

const KeywordTable& Tables()
{
    static const KeywordTable tables;
    return tables;
}
} // namespace

const char* CfgKindKeyword(uint32_t kind)
{
    for (const KindName& k : kKinds)
        if (k.kind == kind)
            return k.keyword;
    return nullptr;
}

uint32_t CfgKindFromKeyword(std::string_view keyword)
{
    return Tables().Kind(keyword);
}

const CfgAttrInfo* CfgFindKeyword(std::string_view keyword, uint32_t* kind)
{
    return Tables().Both(keyword, kind);
}

const CfgAttrInfo* CfgAttrTable()
{
    return kAttrs;
}

const CfgAttrInfo* CfgFindAttr(std::string_view keyword)
{
    return Tables().Attr(keyword);
}

bool CfgAttrAccepts(CfgAttr attr, uint32_t kind, bool wizard)
{
    return attr < CfgAttrCount && CfgAttrAccepts(kAttrs[attr], kind, wizard);
}

// ---- kind-specific attributes ----

namespace {
const CfgOptText kNoText;
const CfgOptArgList kNoList;
} // namespace

CfgKindAttrs::CfgKindAttrs(const CfgKindAttrs& other)
{
    *this = other;
}

CfgKindAttrs& CfgKindAttrs::operator=(const CfgKindAttrs& other)
{
    if (this == &other)
        return *this;
    Clear();
    if (!other.block_ || other.block_->count == 0)
        return *this;
    Block* from = other.block_;
    block_ = MakeBlock(from->count, nullptr);
    for (uint8_t i = 0; i < from->count; ++i) {
        KeysOf(block_)[i] = KeysOf(from)[i];
        CopySlot(KeysOf(from)[i], SlotsOf(block_) + i, SlotsOf(from) + i);
    }
    block_->count = from->count;
    return *this;
}

CfgKindAttrs& CfgKindAttrs::operator=(CfgKindAttrs&& other) noexcept
{
    if (this != &other) {
        Clear();
        block_ = other.block_;
        other.block_ = nullptr;
    }
    return *this;
}

void CfgKindAttrs::Clear()
{
    if (!block_)
        return;
    for (uint8_t i = 0; i < block_->count; ++i) {
        void* slot = SlotsOf(block_) + i;
        switch (static_cast<CfgAttrForm>(KeysOf(block_)[i] >> 6)) {
        case CfgAttrForm::Number:
            break;
        case CfgAttrForm::Text:
            std::launder(reinterpret_cast<CfgOptText*>(slot))->~CfgOptText();
            break;
        case CfgAttrForm::List:
            std::launder(reinterpret_cast<CfgOptArgList*>(slot))->~CfgOptArgList();
            break;
        }
    }
    if (block_->owned)
        ::operator delete(block_);
    block_ = nullptr;
}

const CfgOptText& CfgKindAttrs::Text(CfgAttr attr) const
{
    const Slot* s = Find(Key(attr, CfgAttrForm::Text));
    return s ? *std::launder(reinterpret_cast<const CfgOptText*>(s)) : kNoText;
}

const CfgOptArgList& CfgKindAttrs::List(CfgAttr attr) const
{
    const Slot* s = Find(Key(attr, CfgAttrForm::List));
    return s ? *std::launder(reinterpret_cast<const CfgOptArgList*>(s)) : kNoList;
}

CfgKindAttrs::Block* CfgKindAttrs::MakeBlock(size_t capacity, CfgArena* arena)
{
    size_t bytes = sizeof(Block) + ((capacity + 7) & ~size_t { 7 }) + capacity * sizeof(Slot);
    Block* b = static_cast<Block*>(arena ? arena->Allocate(bytes) : ::operator new(bytes));
    b->count = 0;
    b->capacity = static_cast<uint8_t>(capacity);
    b->owned = arena ? 0 : 1;
    return b;
}

void CfgKindAttrs::CopySlot(uint8_t key, Slot* to, const Slot* from)
{
    switch (static_cast<CfgAttrForm>(key >> 6)) {
    case CfgAttrForm::Number:
        new (to) uint32_t(*std::launder(reinterpret_cast<const uint32_t*>(from)));
        break;
    case CfgAttrForm::Text:
        new (to) CfgOptText(*std::launder(reinterpret_cast<const CfgOptText*>(from)));
        break;
    case CfgAttrForm::List:
        new (to) CfgOptArgList(*std::launder(reinterpret_cast<const CfgOptArgList*>(from)));
        break;
    }
}

void CfgKindAttrs::MoveSlot(uint8_t key, Slot* to, Slot* from)
{
    switch (static_cast<CfgAttrForm>(key >> 6)) {
    case CfgAttrForm::Number:
        new (to) uint32_t(*std::launder(reinterpret_cast<uint32_t*>(from)));
        break;
    case CfgAttrForm::Text: {
        CfgOptText& source = *std::launder(reinterpret_cast<CfgOptText*>(from));
        CfgOptText* target = new (to) CfgOptText();
        std::swap(target->block_, source.block_);
        break;
    }
    case CfgAttrForm::List: {
        CfgOptArgList& source = *std::launder(reinterpret_cast<CfgOptArgList*>(from));
        CfgOptArgList* target = new (to) CfgOptArgList();
        std::swap(target->list_.block_, source.list_.block_);
        break;
    }
    }
}

CfgKindAttrs::Slot* CfgKindAttrs::Add(uint8_t key, CfgArena* arena)
{
    if (const Slot* s = Find(key))
        return const_cast<Slot*>(s);
    if (!block_) {
        block_ = MakeBlock(4, arena);
    } else if (block_->count == block_->capacity) {
        // Full: the slots move to a block twice the size (at most one per attribute and form).
        Block* from = block_;
        block_ = MakeBlock(std::min<size_t>(from->capacity * 2u, 255), arena);
        for (uint8_t i = 0; i < from->count; ++i) {
            KeysOf(block_)[i] = KeysOf(from)[i];
            MoveSlot(KeysOf(from)[i], SlotsOf(block_) + i, SlotsOf(from) + i);
        }
        block_->count = from->count;
        if (from->owned)
            ::operator delete(from); // its slots are all none now: nothing to destroy
    }
    uint8_t n = block_->count++;
    KeysOf(block_)[n] = key;
    Slot* slot = SlotsOf(block_) + n;
    switch (static_cast<CfgAttrForm>(key >> 6)) {
    case CfgAttrForm::Number:
        new (slot) uint32_t(0);
        break;
    case CfgAttrForm::Text:
        new (slot) CfgOptText();
        break;
    case CfgAttrForm::List:
        new (slot) CfgOptArgList();
        break;
    }
    return slot;
}

uint32_t CfgItem::Number(CfgAttr attr) const
{
    uint32_t CfgItem::*field = attr < CfgAttrCount ? kAttrs[attr].number : nullptr;
    return field ? this->*field : kindAttrs.Number(attr);
}

const CfgOptArgList& CfgItem::List(CfgAttr attr) const
{
    CfgOptArgList CfgItem::*field = attr < CfgAttrCount ? kAttrs[attr].list : nullptr;
    return field ? this->*field : kindAttrs.List(attr);
}

void CfgItem::SetNumber(CfgAttr attr, uint32_t value)
{
    uint32_t CfgItem::*field = attr < CfgAttrCount ? kAttrs[attr].number : nullptr;
    if (field)
        this->*field = value;
    else
        kindAttrs.NumberSlot(attr) = value;
}

void CfgItem::SetList(CfgAttr attr, CfgOptArgList list)
{
    CfgOptArgList CfgItem::*field = attr < CfgAttrCount ? kAttrs[attr].list : nullptr;
    if (field)
        this->*field = std::move(list);
    else
        kindAttrs.ListSlot(attr) = std::move(list);
}

// ---- records ----

CfgSection* CfgDescription::AddSection(std::string name, std::optional<std::string> title)
{
    auto section = std::make_unique<CfgSection>();
    section->owner = this;
    section->name = std::move(name);
    section->title = std::move(title);
    sections.push_back(std::move(section));
    return sections.back().get();
}

namespace {
// A new item record, in the arena of the section's description when it has one (sections made by
// hand for a test have none).
CfgItemPtr NewItem(CfgSection* section)
{
    if (!section || !section->owner)
        return CfgItemPtr(new CfgItem());
    void* at = section->owner->arena.Allocate(sizeof(CfgItem));
    // The loader writes item after item into the arena: asking a kilobyte ahead for the lines the
    // items after this one will take saves waiting for each of them (about a tenth of the load).
    PrefetchAheadForWrite(at, 1024, 4);
    CfgItem* item = new (at) CfgItem();
    item->inArena = true;
    return CfgItemPtr(item);
}
} // namespace

void CfgItemDelete::operator()(CfgItem* item) const
{
    if (item->inArena)
        item->~CfgItem();
    else
        delete item;
}

CfgItem* CfgAddItem(CfgSection* section, uint32_t kind)
{
    CfgItemPtr item = NewItem(section);
    item->kind = kind;
    item->section = section;
    section->items.push_back(std::move(item));
    return section->items.back().get();
}

CfgItem* CfgAddColumn(CfgItem* table, uint32_t kind)
{
    CfgItemPtr column = NewItem(table->section);
    column->kind = kind;
    column->section = table->section;
    column->table = table;
    table->columns.push_back(std::move(column));
    return table->columns.back().get();
}

void CfgIndexNames(CfgDescription& desc)
{
    desc.names.byName.clear();
    desc.names.byAlias.clear();
    size_t items = 0;
    for (const auto& section : desc.sections)
        items += section->items.size();
    desc.names.byName.reserve(items);
    for (const auto& section : desc.sections) {
        for (const auto& item : section->items) {
            if (item->name)
                desc.names.byName.AddLaterNoCase(*item->name, CfgItemRefs(item.get()));
            if (item->alias && !item->alias->Empty())
                desc.names.byAlias.EmplaceNoCase(item->alias->At(0), item.get());
        }
    }
    CfgSettleNames(desc.names);
}

void CfgSettleNames(CfgNameIndex& names)
{
    names.byName.Settle([](CfgItemRefs& first, CfgItemRefs&& later) {
        for (CfgItem* item : later)
            first.push_back(item);
    });
}

void CfgComputeMulticfg(CfgDescription& desc)
{
    desc.multicfg = 0;
    for (const auto& section : desc.sections) {
        section->multicfg = 0;
        for (const auto& item : section->items) {
            if (item->multicfg) {
                section->multicfg = 1;
                break;
            }
        }
        if (section->multicfg)
            desc.multicfg = 1;
    }
}
