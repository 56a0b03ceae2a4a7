#include "common/locale.h"
#include "common/strings.h"
#include "monitor/objtree/given_runtime.h"
#include "monitor/objtree/objtree.h"

#include <gtest/gtest.h>

namespace {
// One device with an item "I" whose first three OIDs are 0.1.1, 0.1.2 and 0.1.3 (values set per test),
// a map, options and terms.
class ExprTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lib.LoadText("device T\n"
                     "  name Box\n"
                     "  vendor Zevra\n"
                     "  childs I\n"
                     "  option checkbox:Beep:1, Beep\n"
                     "item I\n"
                     "  uses 0.1.1, 0.1.2, 0.1.3\n"
                     "  term self, $(self) + 1\n"
                     "  term ping, $(pong)\n"
                     "  term pong, $(ping)\n"
                     "  term double, $1 * 2\n"
                     "map <T> State\n  from 1, 2, \"\"\n  to up, \"down ($f)\", empty, fallback\n"
                     "map NoDefault\n  from 1\n  to one\n",
            "talvt.dsc", "English");
        device = ScriptInstantiateFrom(lib, "T");
        ctx.device = device.get();
        ctx.item = device->items[0].get();
        ctx.runtime = &rt;
        rt.address = SnmpAddressFromHost(0xC0A80001);
        rt.community = "public";
    }
    void Set(int n, SnmpValue v)
    {
        rt.values["1." + std::to_string(n)] = std::move(v);
    }
    std::optional<SnmpValue> Eval(const char* text)
    {
        return ExprEvaluate(ExprParse(text), ctx);
    }
    SnmpValue Expand(const char* text)
    {
        return TemplateExpand(text, ctx);
    }
    ScriptLibrary lib;
    std::unique_ptr<DeviceObject> device;
    ScriptGivenRuntime rt;
    ScriptContext ctx;
};

TEST_F(ExprTest, ArithmeticGroupingAndFailures)
{
    struct Row {
        const char* text;
        std::optional<uint32_t> expected; // nullopt: the evaluation fails
    } rows[] = {
        { "10 - 4 - 3", 9 }, // equal operators group from the right, as stored scripts expect
        { "2 * 3 + 4", 10 },
        { "8 / 2 * 2", 2 },
        { "(10 - 4) - 3", 3 },
        { "1 + 2 == 3", 1 },
        { "0 && 1/0", 0 },
        { "2 && 7", 7 },
        { "0 || 5", 5 },
        { "3 || 1/0", 1 },
        { "1/0", std::nullopt },
        { "7 % 0", std::nullopt },
        { "0 - 1", 0xFFFFFFFFu },
        { "1 << 33", 2 },
        { "0x80000000 >> 31", 1 },
        { "010 + 0x10", 24 },
        { "5 > 3 & 6 ^ 2 | 8", 10 }, // & binds tighter than ^, ^ tighter than |
        { "3 >= 3", 1 },
        { "2 <= 1", 0 },
        { "2 != 3", 1 },
        { "", std::nullopt },
        { "1 +", std::nullopt },
        { "- 1", std::nullopt },
        { "(1", std::nullopt },
        { "1)", std::nullopt },
        { "(1) (2)", std::nullopt },
        { "1 2", std::nullopt },
        { "((((7))))", 7 },
    };
    for (const Row& r : rows) {
        std::optional<SnmpValue> v = Eval(r.text);
        ASSERT_EQ(v.has_value(), r.expected.has_value()) << r.text;
        if (v) {
            EXPECT_EQ(ExprNumber(*v), *r.expected) << r.text;
        }
    }
    // A right-grouped chain deeper than the nesting bound fails instead of running the stack out.
    std::string deep = "1";
    for (int i = 0; i < 5000; ++i)
        deep += " - 1";
    EXPECT_FALSE(Eval(deep.c_str()).has_value());
}

TEST_F(ExprTest, EqualityByKinds)
{
    SnmpValue none, empty = SnmpValue::String(""), s3 = SnmpValue::String("3"), s03 = SnmpValue::String("03");
    SnmpValue i3 = SnmpValue::Integer(3), ip = SnmpValue::Address(SnmpAddressFromHost(0x0A000001));
    EXPECT_TRUE(ExprEqual(i3, s3));
    EXPECT_FALSE(ExprEqual(i3, s03)); // "%lu" text against the string
    EXPECT_TRUE(ExprEqual(ip, SnmpValue::Integer(0x0A000001)));
    EXPECT_TRUE(ExprEqual(ip, SnmpValue::String("10.0.0.1")));
    EXPECT_TRUE(ExprEqual(none, none));
    EXPECT_TRUE(ExprEqual(none, empty));
    EXPECT_TRUE(ExprEqual(empty, none));
    EXPECT_FALSE(ExprEqual(none, SnmpValue::Integer(0)));
    EXPECT_FALSE(ExprEqual(ip, none));

    Set(1, SnmpValue::Integer(3));
    EXPECT_EQ(ExprNumber(*Eval("$1 == 3")), 1u);
    Set(1, SnmpValue::String("3"));
    EXPECT_EQ(ExprNumber(*Eval("$1 == 3")), 1u);
    Set(1, SnmpValue::String("03"));
    EXPECT_EQ(ExprNumber(*Eval("$1 == 3")), 0u);
    EXPECT_EQ(ExprNumber(*Eval("$1 + 1")), 4u); // "03" reads as octal 3
    EXPECT_EQ(ExprNumber(*Eval("$a == \"192.168.0.1\"")), 1u);
    EXPECT_EQ(ExprNumber(*Eval("$9 == \"\"")), 1u); // none equals the empty string
}

TEST_F(ExprTest, TemplatesAndReferences)
{
    Set(1, SnmpValue::Integer(42));
    Set(2, SnmpValue::String("abc"));
    SnmpValue one = Expand("$1");
    EXPECT_EQ(one.kind, kSnmpInteger); // one reference alone keeps its kind
    EXPECT_EQ(Expand("$(a)").kind, kSnmpIpAddress);
    SnmpValue mixed = Expand("v=$1");
    EXPECT_EQ(mixed.kind, kSnmpString);
    EXPECT_EQ(mixed.text, "v=42");
    struct Row {
        const char* text;
        const char* expected;
    } rows[] = {
        { "$$1 costs $$", "$1 costs $" },
        { "$a $c $n $v $e $d", "192.168.0.1 public Box Zevra 0 0" },
        { "$(address)/$(COMMUNITY)/$(Name)", "192.168.0.1/public/Box" },
        { "$i:$(instance)", "1:1" },
        { "$(beep) $(double)", "1 84" },
        { "[$(unknown)][$4][$0]", "[][][]" },
        { "a$-b$", "a-b" },
        { "x$(1", "x" }, // unterminated reference dropped
        { "$12x", "x" }, // beyond the list: none
        { "", "" },
    };
    for (const Row& r : rows)
        EXPECT_EQ(ExprValueText(Expand(r.text)), r.expected) << r.text;
    rt.error = true;
    rt.details = 6;
    rt.options["beep"] = 0;
    EXPECT_EQ(ExprValueText(Expand("$e $d $(Beep)")), "1 6 0");

    // Texts are cut to 255 characters.
    Set(2, SnmpValue::String(std::string(200, 'y')));
    EXPECT_EQ(Expand("$2$2").text.size(), kExprMaxText);
}

TEST_F(ExprTest, SelfReferenceAndBudgetFailInsteadOfOverflowing)
{
    EXPECT_FALSE(Eval("$(self)").has_value());
    EXPECT_FALSE(Eval("$(ping) + 1").has_value());
    EXPECT_EQ(Expand("$(self)").kind, kSnmpNone);
    bool aborted = false;
    EXPECT_EQ(TemplateExpand("a $(ping) b", ctx, &aborted).kind, kSnmpNone);
    EXPECT_TRUE(aborted);
    EXPECT_EQ(TemplateExpand("a $(double) b", ctx, &aborted).kind, kSnmpString);
    EXPECT_FALSE(aborted);
    // The instance text of a child that refers to its own instance through its parent.
    ScriptLibrary l;
    l.LoadText(
        "device D\n  childs P\nitem P\n  childs C:$(t)\n  term t, $i\nitem C\n  uses 0.1.$i\n", "x.dsc", "English");
    auto d = ScriptInstantiateFrom(l, "D");
    ScriptContext c { ScriptContextKind::Item, d->items[0]->children[0].get(), d.get(), &rt };
    EXPECT_EQ(ItemInstance(*c.item, c), 1u);
    // An index template that refers to its own OID's value.
    ScriptLibrary l2;
    l2.LoadText("device D\n  childs C\nitem C\n  uses 0.1.3.$1\n  states $1 == 0\n", "y.dsc", "English");
    auto d2 = ScriptInstantiateFrom(l2, "D");
    ScriptContext c2 { ScriptContextKind::Item, d2->items[0].get(), d2.get(), &rt };
    EXPECT_FALSE(ExprEvaluate(d2->items[0]->states[0], c2).has_value());
}

TEST_F(ExprTest, Formats)
{
    StrSetLanguage(1033);
    struct Row {
        SnmpValue value;
        const char* format;
        SnmpValue expected;
    } rows[] = {
        { SnmpValue::Integer(9000), "/100 as duration", SnmpValue::String("One minute and 30 seconds") },
        { SnmpValue::Integer(1), "as duration", SnmpValue::String("One second") },
        { SnmpValue::Integer(0), "as duration", SnmpValue::String("0 seconds") },
        { SnmpValue::Integer(3661), "as duration", SnmpValue::String("One hour and one minute") },
        { SnmpValue::Integer(2 * 86400 + 3600), "as duration", SnmpValue::String("2 days and one hour") },
        { SnmpValue::Integer(86400 + 7200), "as duration", SnmpValue::String("One day and 2 hours") },
        { SnmpValue::Integer(1), "select off on", SnmpValue::String("on") },
        { SnmpValue::Integer(5), "select off on", SnmpValue::Integer(5) },
        { SnmpValue::String("C0A80001"), "hex as ip", SnmpValue::Address(SnmpAddressFromHost(0xC0A80001)) },
        { SnmpValue::String("10.0.0.2"), "ip +1 as ip", SnmpValue::Address(SnmpAddressFromHost(0x0A000003)) },
        { SnmpValue::String("0x1f"), "hex", SnmpValue::Integer(31) },
        { SnmpValue::String("010"), "int", SnmpValue::Integer(10) }, // decimal, not octal
        { SnmpValue::Integer(10), "int", SnmpValue::Integer(10) },
        { SnmpValue::Integer(255), "as hex", SnmpValue::String("000000FF") },
        { SnmpValue::Integer(10), "*3 as int", SnmpValue::Integer(30) },
        { SnmpValue::Integer(10), "/0", SnmpValue::Integer(10) },
        { SnmpValue::Integer(10), "-0x2", SnmpValue::Integer(8) },
        { SnmpValue::String("abcdef"), "sub -3", SnmpValue::String("def") },
        { SnmpValue::String("abcdef"), "sub 2 3", SnmpValue::String("cde") },
        { SnmpValue::String("abcdef"), "sub 0 -2", SnmpValue::String("abcd") },
        { SnmpValue::String("abcdef"), "sub 10", SnmpValue::String("") },
        { SnmpValue::String("abcdef"), "sub -10 -10", SnmpValue::String("") },
        { SnmpValue::Integer(12345), "sub 1 2", SnmpValue::String("23") },
        { SnmpValue::String("a b c"), "tok 1", SnmpValue::String("b") },
        { SnmpValue::String("a,,b;c"), "tok 2 ,;", SnmpValue::String("c") },
        { SnmpValue::String("a b"), "tok 5", SnmpValue::String("") },
        { SnmpValue::Integer(7), "as unknown", SnmpValue::Integer(7) },
        // void formats leave the value as it was
        { SnmpValue::Integer(7), "+1 int", SnmpValue::Integer(7) },
        { SnmpValue::Integer(7), "int hex", SnmpValue::Integer(7) },
        { SnmpValue::Integer(7), "+1 +1", SnmpValue::Integer(7) },
        { SnmpValue::Integer(7), "as int select a", SnmpValue::Integer(7) },
        { SnmpValue::Integer(7), "bogus", SnmpValue::Integer(7) },
        { SnmpValue::Integer(7), "as", SnmpValue::Integer(7) },
        { SnmpValue::Integer(7), "+", SnmpValue::Integer(7) },
        // maps: the type's own map, its to-values expanded in map context, the default after the froms
        { SnmpValue::Integer(1), "map State", SnmpValue::String("up") },
        { SnmpValue::String("2"), "map State", SnmpValue::String("down (2)") },
        { SnmpValue(), "map State", SnmpValue::String("up") }, // none matches a non-string from-value
        { SnmpValue::Integer(9), "map State", SnmpValue::String("fallback") },
        { SnmpValue::Integer(9), "map NoDefault", SnmpValue::Integer(9) },
        { SnmpValue::Integer(1), "map Missing", SnmpValue::Integer(1) },
        { SnmpValue::Integer(1), "map State extra", SnmpValue::Integer(1) },
    };
    for (const Row& r : rows) {
        SnmpValue v = ValueFormat(r.value, r.format, ctx);
        EXPECT_EQ(v.kind, r.expected.kind) << r.format;
        EXPECT_EQ(ExprValueText(v), ExprValueText(r.expected)) << r.format;
    }
    Set(1, SnmpValue::Integer(9000));
    EXPECT_EQ(Expand("$(1 /100 as duration)").text, "One minute and 30 seconds");
    StrSetLanguage(1031);
    EXPECT_EQ(Expand("$(1 /100 as duration)").text, "Eine Minute und 30 Sekunden");
    StrSetLanguage(1033);
}

TEST_F(ExprTest, DateTimes)
{
    InstallLocale(&EnglishLocale());
    struct Row {
        uint32_t value;
        const char* expected;
    } rows[] = {
        { 0, "" },
        { 2208988800u, "1/1/1970 12:00:00 AM" },
        { 2208988800u - 1, "12/31/1969 11:59:59 PM" }, // before 1970: the date it is
        { 2208988800u + 951782400u + 13 * 3600 + 5, "2/29/2000 1:00:05 PM" },
        { 1, "2/7/2036 6:28:17 AM" }, // the 32-bit difference taken as signed
        { 2208988800u - 0x80000000u, "12/13/1901 8:45:52 PM" },
    };
    for (const Row& r : rows)
        EXPECT_EQ(ValueFormat(SnmpValue::Integer(r.value), "as datetime", ctx).text, r.expected) << r.value;
    InstallLocale(nullptr);
}

TEST_F(ExprTest, ActionArguments)
{
    Set(1, SnmpValue::String("eth0"));
    std::vector<SnmpValue> args = ActionArguments("$1:12:-1:4294967295:0x10:text:$$x:$(a)", ctx);
    ASSERT_EQ(args.size(), 8u);
    EXPECT_EQ(args[0].text, "eth0");
    EXPECT_EQ(args[1].kind, kSnmpInteger);
    EXPECT_EQ(args[2].kind, kSnmpString); // -1 stays text
    EXPECT_EQ(args[3].kind, kSnmpString);
    EXPECT_EQ(args[4].integer, 16u);
    EXPECT_EQ(args[6].text, "$$x");
    EXPECT_EQ(args[7].kind, kSnmpIpAddress);
    ScriptContext action = ctx;
    action.kind = ScriptContextKind::Action;
    std::vector<SnmpValue> two = ActionArguments("a:b", ctx);
    action.args = &two;
    EXPECT_EQ(TemplateExpand("$3", action).kind, kSnmpNone); // fewer arguments: none
    EXPECT_EQ(TemplateExpand("$2-$1 at $a", action).text, "b-a at 192.168.0.1");
    EXPECT_TRUE(ActionArguments("", ctx).empty());
}
// The polled OID of an entry with an index template is the one the engine subscribes: an integer index
// appended, none or 0 not polled, any other kind leaving the OID unchanged.
TEST_F(ExprTest, PolledOidsAgreeWithTheEngine)
{
    ScriptLibrary l;
    l.LoadText("device D\n  childs I\nitem I\n  uses 0.1.1, 0.1.2.$1\n", "y.dsc", "English");
    auto d = ScriptInstantiateFrom(l, "D");
    ScriptContext c { ScriptContextKind::Item, d->items[0].get(), d.get(), &rt };
    struct Case {
        SnmpValue index;
        std::optional<std::string> polled;
    } cases[] = {
        { SnmpValue::Integer(7), "1.2.7" },
        { SnmpValue::Integer(0), std::nullopt },
        { SnmpValue(), std::nullopt },
        { SnmpValue::String("5"), "1.2" },
        { SnmpValue::Address(SnmpAddressFromHost(0x0A000001)), "1.2" },
    };
    for (const Case& k : cases) {
        rt.values.clear();
        if (k.index.kind != kSnmpNone)
            rt.values["1.1"] = k.index;
        SnmpOid oid;
        bool polled = ItemPolledOid(*c.item, 2, c, &oid);
        EXPECT_EQ(polled, k.polled.has_value()) << ExprValueText(k.index);
        if (polled && k.polled) {
            EXPECT_EQ(SnmpOidText(oid), *k.polled) << ExprValueText(k.index);
        }
    }
}

} // namespace
