// The device list's lines, the tree-state text and the `add:` records.
#include "common/scramble.h"
#include "monitor/engine/engine.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {
// A tree of items without definitions: each node a number of children.
struct Tree {
    std::vector<std::unique_ptr<ItemObject>> objects;
    std::vector<std::unique_ptr<EngineItem>> top;

    EngineItem* Add(EngineItem* parent, uint32_t rowOffset = 0)
    {
        auto object = std::make_unique<ItemObject>();
        object->ref = "i" + std::to_string(objects.size());
        auto item = std::make_unique<EngineItem>();
        item->object = object.get();
        item->parent = parent;
        item->rowOffset = rowOffset;
        objects.push_back(std::move(object));
        auto& list = parent ? parent->children : top;
        list.push_back(std::move(item));
        return list.back().get();
    }
};

// A: (B: (C, D), E), F: (G), H
struct Sample : Tree {
    EngineItem *a, *b, *c, *d, *e, *f, *g, *h;
    Sample()
    {
        a = Add(nullptr);
        b = Add(a);
        c = Add(b);
        d = Add(b);
        e = Add(a);
        f = Add(nullptr);
        g = Add(f);
        h = Add(nullptr);
    }
};
} // namespace

TEST(EngineList, LinesBothWays)
{
    EngineListLine l;
    ASSERT_TRUE(EngineParseListLine("Morvak 1100;10.0.0.1; ;2;AowD\r\n", &l));
    EXPECT_EQ(l.type, "Morvak 1100");
    EXPECT_EQ(l.address, "10.0.0.1");
    EXPECT_EQ(l.community, "") << "a single blank is the empty community";
    EXPECT_EQ(l.mode, 2u);
    EXPECT_EQ(l.treeState, "AowD");
    EXPECT_EQ(EngineFormatListLine(l), "Morvak 1100;10.0.0.1; ;2;AowD");

    ASSERT_TRUE(EngineParseListLine("T;10.0.0.2;" + CfgScramble("se;cret") + "", &l));
    EXPECT_EQ(l.community, "se;cret");
    EXPECT_EQ(l.mode, 0u);
    EXPECT_EQ(EngineFormatListLine(l), "T;10.0.0.2;" + CfgScramble("se;cret") + ";0;");
    EXPECT_FALSE(EngineParseListLine("T;10.0.0.3", &l)) << "fewer than three fields";
    EXPECT_FALSE(EngineParseListLine("", &l));
}

TEST(EngineList, TreeStateWalksItemsAndSkipsClones)
{
    Sample s;
    // Codes: A 2,1  B 2,1  C 2  D 2,0  E 2,0  F 2,1  G 2,0  H 2.
    EXPECT_EQ(EngineTreeStateEncode(s.top), "Ao6A6");
    s.a->expanded = s.b->expanded = s.f->expanded = true;
    s.c->expanded = true; // no children: still 2
    std::string text = EngineTreeStateEncode(s.top);
    // A clone (row offset 1) after B, with a child of its own, changes nothing.
    Tree& t = s;
    EngineItem* clone = t.Add(s.a, 1);
    t.Add(clone);
    std::rotate(s.a->children.begin() + 1, s.a->children.end() - 1, s.a->children.end());
    EXPECT_EQ(EngineTreeStateEncode(s.top), text);

    Sample back;
    EngineTreeStateDecode(text, back.top);
    for (auto [x, y] : { std::pair { s.a, back.a }, { s.b, back.b }, { s.d, back.d }, { s.e, back.e }, { s.f, back.f },
             { s.g, back.g }, { s.h, back.h } })
        EXPECT_EQ(x->expanded, y->expanded) << x->object->ref;
}

TEST(EngineList, TreeStateStopsAtTheFirstCodeThatDoesNotFit)
{
    Sample s;
    s.a->expanded = s.f->expanded = s.h->expanded = true;
    std::string text = EngineTreeStateEncode(s.top);
    // Another tree: A has no children now, so the "first child" code after A does not fit.
    Tree other;
    EngineItem* a = other.Add(nullptr);
    EngineItem* f = other.Add(nullptr);
    EngineTreeStateDecode(text, other.top);
    EXPECT_TRUE(a->expanded);
    EXPECT_FALSE(f->expanded);
    // Characters outside the alphabet end the text.
    Sample back;
    EngineTreeStateDecode("", back.top);
    EngineTreeStateDecode("\xff", back.top);
    EXPECT_FALSE(back.a->expanded);
}

TEST(EngineList, AddRecords)
{
    auto record = [](uint32_t length, const uint8_t address[4], const std::string& text) {
        std::string r(8, '\0');
        for (int i = 0; i < 4; ++i)
            r[static_cast<size_t>(i)] = static_cast<char>(length >> (8 * i));
        std::memcpy(&r[4], address, 4);
        return r + text;
    };
    const uint8_t a1[4] = { 10, 0, 0, 1 }, a2[4] = { 10, 0, 0, 2 };
    std::string data = record(15, a1, std::string("pub\0xyz", 7)) + record(12, a2, "abcd") + record(11, a1, "xyz");
    auto out = EngineParseAddRecords(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    ASSERT_EQ(out.size(), 2u) << "a record shorter than 12 bytes stops the parsing";
    EXPECT_EQ(SnmpAddressText(out[0].first), "10.0.0.1");
    EXPECT_EQ(out[0].second, "pub");
    EXPECT_EQ(SnmpAddressText(out[1].first), "10.0.0.2");
    EXPECT_EQ(out[1].second, "abcd") << "no terminator: the record's end";

    std::string longOne = record(8 + 300, a1, std::string(300, 'c'));
    out = EngineParseAddRecords(reinterpret_cast<const uint8_t*>(longOne.data()), longOne.size());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].second.size(), 255u);
    std::string past = record(40, a1, "abcd");
    EXPECT_TRUE(EngineParseAddRecords(reinterpret_cast<const uint8_t*>(past.data()), past.size()).empty());
}
