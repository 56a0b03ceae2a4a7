// Fuzz target for the description line reader and description loading: the input is a description
// file. Checks beyond crashes: no argument is empty or longer than a line, every loaded item keeps
// its back pointers and a table never has more columns than its rows have cells when built by
// "uses_table".
#include "common/diag.h"
#include "config/description/cfg_load.h"
#include "config/description/cfg_pattern.h"
#include "config/description/cfg_reader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = [] {
        DiagSetSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    std::string text(reinterpret_cast<const char*>(data), size);

    // The line reader with a string-table context.
    {
        auto file = CfgFile::FromText(text);
        CfgStringContext strings("German", true);
        std::string keyword;
        CfgArgList args;
        int line = 0;
        int previous = 0;
        while (CfgReadLine(*file, keyword, args, line, &strings)) {
            if (line <= previous || keyword.empty() || keyword.size() > CfgMaxLine)
                std::abort();
            previous = line;
            for (std::string_view a : args)
                if (a.empty())
                    std::abort();
            // Every member survives a copy through the raw form.
            if (CfgArgList::FromTexts(args.Texts()) != args)
                std::abort();
        }
    }
    // The reader splits every line as the initial-data reader's CfgSplitLine does (the reader takes a
    // quicker way for lines without backslashes whose quotes stand around whole members).
    {
        auto file = CfgFile::FromText(text);
        std::vector<std::string> raw;
        for (std::string l; file->ReadRawLine(l);)
            raw.push_back(l);
        file->Rewind();
        std::string keyword, expected;
        CfgArgList args, expectedArgs;
        int line = 0;
        size_t next = 0; // the first raw line not yet compared
        while (CfgReadLine(*file, keyword, args, line, nullptr)) {
            if (line < 1 || static_cast<size_t>(line) > raw.size())
                std::abort();
            for (; next + 1 < static_cast<size_t>(line); ++next)
                if (CfgSplitLine(raw[next], expected, expectedArgs))
                    std::abort(); // a line the reader skipped has a keyword
            ++next;
            if (!CfgSplitLine(raw[next - 1], expected, expectedArgs) || expected != keyword || expectedArgs != args)
                std::abort();
        }
    }
    // Loading: the first "version" block whatever its pattern, in both modes.
    for (bool easy : { false, true }) {
        auto file = CfgFile::FromText(text);
        CfgDescriptionPtr desc = CfgLoadDescriptionFrom(*file, "", "French", 0x5, 0x2, easy);
        if (!desc)
            continue;
        for (const auto& s : desc->sections) {
            for (const auto& item : s->items) {
                if (item->section != s.get() || item->table)
                    std::abort();
                for (const auto& c : item->columns)
                    if (c->table != item.get() || !CfgKindIsColumn(c->kind))
                        std::abort();
            }
        }
        // The name index built while loading equals the index built afresh.
        std::vector<std::pair<std::string, std::vector<CfgItem*>>> loaded;
        for (const auto& [key, items] : desc->names.byName)
            loaded.emplace_back(key, std::vector<CfgItem*>(items.begin(), items.end()));
        for (const auto& [key, item] : desc->names.byAlias)
            loaded.emplace_back("\n" + key, std::vector<CfgItem*> { item });
        CfgIndexNames(*desc);
        size_t n = 0;
        for (const auto& [key, items] : desc->names.byName)
            if (n >= loaded.size() || loaded[n].first != key
                || loaded[n++].second != std::vector<CfgItem*>(items.begin(), items.end()))
                std::abort();
        for (const auto& [key, item] : desc->names.byAlias)
            if (n >= loaded.size() || loaded[n].first != "\n" + key
                || loaded[n++].second != std::vector<CfgItem*> { item })
                std::abort();
        if (n != loaded.size())
            std::abort();
    }
    if (size < 256) {
        std::string key(text.substr(0, size / 2));
        CfgPatternMatch(text.substr(size / 2), key, 0x4);
    }
    return 0;
}
