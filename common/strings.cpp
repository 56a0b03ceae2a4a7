#include "common/strings.h"

#include <atomic>

namespace {
std::atomic<uint16_t> g_language { 1033 };

const StrLanguageTable* FindTable(const StrCatalog& catalog, uint16_t lang, bool primaryOnly)
{
    for (size_t i = 0; i < catalog.count; ++i) {
        uint16_t have = catalog.tables[i].lang;
        if (primaryOnly ? ((have & 0x3ff) == (lang & 0x3ff)) : have == lang)
            return &catalog.tables[i];
    }
    return nullptr;
}

const char* FindText(const StrLanguageTable* table, unsigned id)
{
    if (!table)
        return nullptr;
    for (size_t i = 0; i < table->count; ++i)
        if (table->entries[i].id == id)
            return table->entries[i].text;
    return nullptr;
}
} // namespace

void StrSetLanguage(uint16_t lang)
{
    g_language = lang;
}

uint16_t StrGetLanguage()
{
    return g_language;
}

bool StrHasLanguage(const StrCatalog& catalog, uint16_t lang)
{
    return FindTable(catalog, lang, false) != nullptr;
}

std::string StrLoad(const StrCatalog& catalog, unsigned id)
{
    uint16_t lang = g_language;
    const char* text = FindText(FindTable(catalog, lang, false), id);
    if (!text)
        text = FindText(FindTable(catalog, lang, true), id);
    if (!text)
        text = FindText(FindTable(catalog, 1033, false), id);
    return text ? text : "";
}
