// The element and attribute lines of a section, shared by the description loader and the wizard reader:
// element lines create items (a table's next lines its columns), attribute lines set an attribute of
// the item created last. Wizard pages follow the same grammar with their exceptions: no "group_logo",
// and the attributes that wizard pages accept (CfgAttrInfo::wizardKinds).
#pragma once

#include "common/diag.h"
#include "common/text.h"
#include "config/description/cfg_types.h"

#include <algorithm>
#include <string_view>
#include <vector>

class CfgElementReader {
public:
    CfgElementReader(CfgDescription& desc, bool wizard)
        : desc_(desc)
        , wizard_(wizard)
    {
    }

    // Element lines go to `section` from now on (the item created last keeps taking attributes until
    // the next element line, as in description files).
    void StartSection(CfgSection* section)
    {
        section_ = section;
        table_ = nullptr;
    }
    // No section is current: element and attribute lines are unexpected until the next StartSection.
    void EndSection()
    {
        section_ = nullptr;
        table_ = nullptr;
        last_ = nullptr;
    }
    CfgSection* Section() const
    {
        return section_;
    }

    // One element or attribute line; anything else is reported as unexpected.
    void Line(std::string_view kw, const CfgArgList& args, int line)
    {
        uint32_t kind = CfgKindNone;
        const CfgAttrInfo* attr = CfgFindKeyword(kw, &kind);
        if (table_) {
            // Column mode: only column kinds create items; anything else is an attribute of the last column.
            if (CfgKindIsColumn(kind)) {
                uint32_t wanted = std::max(table_->Number(CfgAttrNumColumns), 1u);
                if (table_->columns.empty())
                    table_->columns.reserve(std::min<size_t>(wanted, CfgMaxColumns));
                CfgItem* column = CfgAddColumn(table_, kind);
                Name(column, args);
                last_ = column;
                if (table_->columns.size() >= wanted)
                    table_ = nullptr;
                return;
            }
        } else if (kind != CfgKindNone) {
            if (!section_ || (wizard_ && kind == CfgKindGroupLogo)) {
                Unexpected(line, kw);
                return;
            }
            CfgItem* item = CfgAddItem(section_, kind);
            if (CfgKindIsDecoration(kind)) {
                if (!args.Empty())
                    item->description.emplace(desc_.arena, args);
            } else {
                Name(item, args);
                Index(item);
            }
            last_ = item;
            if (kind == CfgKindTable)
                table_ = item;
            return;
        }
        Attribute(attr, kw, args, line);
    }

    // "reading dsc, line %d - unexpected token ..." ("reading wiz" in wizards).
    void Unexpected(int line, std::string_view kw) const
    {
        Diag(wizard_ ? "reading wiz, line %d - unexpected token \"%.*s\"\n"
                     : "reading dsc, line %d - unexpected token \"%.*s\"\n",
            line, static_cast<int>(kw.size()), kw.data());
    }

    // Hands a named section item to the name index while its name is fresh in the cache (the index
    // holds the items of the sections in file order, which is the order they are read in); the
    // index settles at the end (Finish).
    void Index(CfgItem* item)
    {
        desc_.names.byName.AddLaterNoCase(*item->name, CfgItemRefs(item));
    }
    // An item made outside Line (the loader's plug-in lines): it was given an alias / takes attributes.
    void Aliased(CfgItem* item)
    {
        aliased_.push_back(item);
    }
    void SetLast(CfgItem* item)
    {
        last_ = item;
    }

    // Completes the name index with the aliases, each item's last alias line counting: the first
    // item of an alias text wins.
    void Finish()
    {
        CfgSettleNames(desc_.names);
        for (CfgItem* item : aliased_)
            if (item->alias && !item->alias->Empty())
                desc_.names.byAlias.EmplaceNoCase(item->alias->At(0), item);
    }

private:
    static void Name(CfgItem* item, const CfgArgList& args)
    {
        item->name.emplace(args.At(0));
        if (args.Count() >= 2)
            item->id = ParseUnsigned(args.At(1));
    }

    void Attribute(const CfgAttrInfo* info, std::string_view kw, const CfgArgList& args, int line)
    {
        if (!info || !last_ || !CfgAttrAccepts(*info, last_->kind, wizard_)) {
            Unexpected(line, kw);
            return;
        }
        CfgItem& item = *last_;
        switch (CfgAttrFormOf(*info, item.kind)) {
        case CfgAttrForm::Number: {
            uint32_t n = ParseUnsigned(args.At(0));
            if (info->number)
                item.*(info->number) = n;
            else
                item.kindAttrs.NumberSlot(info->attr, &desc_.arena) = n;
            break;
        }
        case CfgAttrForm::Text:
            item.kindAttrs.TextSlot(info->attr, &desc_.arena).emplace(desc_.arena, args.At(0));
            break;
        case CfgAttrForm::List:
            (info->list ? item.*(info->list) : item.kindAttrs.ListSlot(info->attr, &desc_.arena))
                .emplace(desc_.arena, args);
            break;
        }
        item.attrSet |= uint64_t { 1 } << info->attr;
        if (info->attr == CfgAttrAlias && !item.table)
            aliased_.push_back(&item);
    }

    CfgDescription& desc_;
    bool wizard_;
    CfgSection* section_ = nullptr; // the section element lines fill
    CfgItem* last_ = nullptr; // the item (or column) created last: attributes apply to it
    CfgItem* table_ = nullptr; // the table in column mode, or nullptr
    std::vector<CfgItem*> aliased_; // section items given an alias, in file order
};
