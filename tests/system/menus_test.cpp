// Menus from readable scripts: items defined, ordered, queried and deleted
// by commands 62-65, the popup menu of command 63 shown through the
// recording UI at the frame step's end, and the menu bar of command 105's
// menu set, with the 128 menus a set holds.
#include <string>

#include "base/text_encoding.h"
#include "core/window_record.h"
#include "core/window_requests.h"
#include "script/arg_decoder.h"
#include "system/menus.h"
#include "system/system_command.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

using Kind = platform::PopupMenuItem::Kind;

class MenuTest : public script_test::RunOnceTest {
protected:
    void SetUp() override {
        RunOnceTest::SetUp();
        RegisterSystemServices();
    }
    static constexpr std::string_view kDecl = "int n = 7\nreal r = 7.0\nstr s = \"unset\"\n";
    // The items of the popup the last frame step showed.
    const std::vector<platform::PopupMenuItem>& ShownPopup() {
        ShowRequestedPopupMenu();
        static const std::vector<platform::PopupMenuItem> none;
        return ui_.popups.empty() ? none : ui_.popups.back().items;
    }
    static std::string Captions(const std::vector<platform::PopupMenuItem>& items) {
        std::string out;
        for (const platform::PopupMenuItem& item : items) {
            if (!out.empty()) out += ',';
            out += item.kind == Kind::kSeparator ? "-" : item.text;
            if (item.kind == Kind::kSubmenu) out += "[" + Captions(item.children) + "]";
        }
        return out;
    }
};

TEST_F(MenuTest, OrderOperatorsWrapIn32BitsAndSubtractStopsAtOne) {
    struct Case {
        uint8_t op;
        int32_t old_value;
        int64_t argument;
        int32_t expected;
    };
    const Case cases[] = {
        {kArgSet, 5, 9, 9},
        {kArgSet, 5, 0x100000003, 3},  // the argument's low 32 bits
        {kArgAdd, INT32_MAX, 1, INT32_MIN},
        {kArgSubtract, 10, 20, 1},
        {kArgSubtract, INT32_MIN, 1, INT32_MAX},  // wraps up, stays
        {kArgMultiply, 0x10000, 0x10000, 0},
        {kArgDivide, 7, 0, 7},
        {kArgDivide, -7, 2, -3},
        {kArgDivide, INT32_MIN, -1, INT32_MIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int{c.op} << " " << c.old_value << " " << c.argument);
        EXPECT_EQ(ApplyMenuOrder(c.op, c.old_value, c.argument), c.expected);
    }
}

TEST_F(MenuTest, SubtractingMovesAnItemToOrderOne) {
    ASSERT_EQ(Run(kDecl, "menuitem path=\"m/\", caption=\"Menu\", order=1\n"
                         "menuitem path=\"m/a\", caption=\"File\", order=10\n"
                         "menuitem path=\"m/b\", caption=\"Edit\", order=5\n"
                         "menuitem path=\"m/a\", order-=20\n"
                         "menuinfo result=n, path=\"m/a\", order=1\n"
                         "popupmenu menu=\"m/\", show=1"),
              0);
    EXPECT_EQ(Int("n"), 1);
    EXPECT_EQ(Captions(ShownPopup()), "File,Edit");
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(MenuTest, NewItemsNeedACaptionThenAnOrder) {
    EXPECT_EQ(Run(kDecl, "menuitem path=\"x\", order=1"), 1);
    EXPECT_EQ(LastCode(), 100260u);
    EXPECT_EQ(Run(kDecl, "menuitem path=\"x\", caption=\"X\""), 1);
    EXPECT_EQ(LastCode(), 100240u);
    EXPECT_EQ(Run(kDecl, "menuitem path=\"x\", order=1, caption=\"X\"\nmenuitem path=\"x\", caption=\"Y\"\n"
                         "menuinfo result=s, path=\"x\", caption=1"),
              0);
    EXPECT_EQ(Text("s"), "Y") << "an existing item takes a new caption without an order";
}

TEST_F(MenuTest, BuiltMenusShowWhatTheItemsSay) {
    ASSERT_EQ(Run(kDecl, "menuitem path=\"m/\", caption=\"Menu\", order=1\n"
                         "menuitem path=\"m/open\", caption=\"&Open\", order=1, id=11\n"
                         "menuitem path=\"m/sep\", caption=\"\", order=2\n"
                         "menuitem path=\"m/hidden\", caption=\"Hidden\", order=3, shown=0\n"
                         "menuitem path=\"m/grey\", caption=\"Grey\", order=4, enabled=0, checked=1, id=12\n"
                         "menuitem path=\"m/lowbyte\", caption=\"Low\", order=5, checked=257, id=13\n"
                         "menuitem path=\"m/empty/\", caption=\"Empty group\", order=6, id=14\n"
                         "menuitem path=\"m/sub/\", caption=\"Sub\", order=7\n"
                         "menuitem path=\"m/sub/deep\", caption=\"Deep\", order=1, id=15\n"
                         "popupmenu menu=\"m/\", show=1"),
              0);
    const std::vector<platform::PopupMenuItem>& items = ShownPopup();
    ASSERT_EQ(Captions(items), "&Open,-,Grey,Low,Empty group,Sub[Deep]");
    EXPECT_EQ(items[0].id, 11u);
    EXPECT_TRUE(items[0].enabled);
    EXPECT_FALSE(items[1].enabled) << "separators are grey";
    EXPECT_FALSE(items[2].enabled);
    EXPECT_TRUE(items[2].checked);
    EXPECT_TRUE(items[3].checked) << "checked 257 has the low byte 1";
    EXPECT_EQ(items[4].kind, Kind::kCommand) << "a group without children is a plain item";
    EXPECT_EQ(items[4].id, 14u);
    EXPECT_EQ(items[5].kind, Kind::kSubmenu);
    EXPECT_EQ(items[5].children[0].id, 15u);
}

TEST_F(MenuTest, PopupNeedsAGroupAndShowOne) {
    ASSERT_EQ(Run(kDecl, "menuitem path=\"m/\", caption=\"Menu\", order=1\n"
                         "menuitem path=\"m/a\", caption=\"A\", order=1\n"
                         "popupmenu menu=\"m/a\", show=1\n"
                         "popupmenu menu=\"m/\", show=2\n"
                         "popupmenu menu=\"none/\", show=1"),
              0);
    EXPECT_EQ(PendingPopupRequest(), 0);
    ShowRequestedPopupMenu();
    EXPECT_TRUE(ui_.popups.empty());
}

TEST_F(MenuTest, QueriesAnswerInTheirOrderOfPrecedence) {
    const std::string items = "menuitem path=\"q\", caption=\"Cap\", order=9, shown=3, enabled=-2, checked=511, id=-5\n";
    struct Case {
        const char* question;
        int64_t number;
        const char* text;
    };
    const Case cases[] = {
        {"caption=1, order=1, exists=1", 1, nullptr},
        {"caption=1, order=1, shown=1, enabled=1", 3, nullptr},
        {"caption=1, order=1, enabled=1", -2, nullptr},
        {"caption=1, order=1, checked=1", 9, nullptr},
        {"caption=1, checked=1, id=1", -1, nullptr},  // the checked byte, signed
        {"caption=1, id=1", -5, nullptr},
        {"caption=1", 7, "Cap"},  // numbers stay; the text takes the caption
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.question);
        std::string lines = items + "menuinfo result=n, path=\"q\", " + c.question;
        if (c.text != nullptr) lines += std::string("\nmenuinfo result=s, path=\"q\", ") + c.question;
        ASSERT_EQ(Run(kDecl, lines), 0);
        EXPECT_EQ(Int("n"), c.number);
        if (c.text != nullptr) {
            EXPECT_EQ(Text("s"), c.text);
        }
    }
    // A missing item clears the element whatever the question.
    ASSERT_EQ(Run(kDecl, "menuinfo result=n, path=\"none\", exists=1\nmenuinfo result=r, path=\"none\", id=1\n"
                         "menuinfo result=s, path=\"none\", caption=1"),
              0);
    EXPECT_EQ(Int("n"), 0);
    EXPECT_EQ(Real("r"), 0.0);
    EXPECT_EQ(Text("s"), "");
    // exists into a text element is the wrong type.
    EXPECT_EQ(Run(kDecl, items + "menuinfo result=s, path=\"q\", exists=1"), 1);
    EXPECT_EQ(LastCode(), 101140u);
}

TEST_F(MenuTest, DeletingAGroupTakesItsSubtreeAndLeavesBuiltMenus) {
    ASSERT_EQ(Run(kDecl, "menuitem path=\"m/\", caption=\"Menu\", order=1\n"
                         "menuitem path=\"m/g/\", caption=\"G\", order=1\n"
                         "menuitem path=\"m/g/x\", caption=\"X\", order=1\n"
                         "menuitem path=\"m/y\", caption=\"Y\", order=2\n"
                         "popupmenu menu=\"m/\", show=1\n"
                         "delmenuitem path=\"m/g/\"\n"
                         "delmenuitem path=\"m/y/\"\n"  // the group form names no leaf
                         "delmenuitem path=\"m/none\"\n"
                         "menuinfo result=n, path=\"m/g/x\", exists=1\n"
                         "menuinfo result=r, path=\"m/y\", exists=1"),
              0);
    EXPECT_EQ(Int("n"), 0);
    EXPECT_EQ(Real("r"), 1.0);
    EXPECT_EQ(Captions(ShownPopup()), "G[X],Y") << "the popup built before the deletion";
}

TEST_F(MenuTest, DismissedPopupStoresZeroAndIdsKeepTheirLow16Bits) {
    ASSERT_EQ(Run(kDecl, "menuitem path=\"m/\", caption=\"Menu\", order=1\n"
                         "menuitem path=\"m/a\", caption=\"A\", order=1, id=0x12345\n"
                         "popupmenu menu=\"m/\", show=1"),
              0);
    TheWindowRequests().menu_command = 9;
    EXPECT_EQ(ShownPopup()[0].id, 0x12345u);
    EXPECT_EQ(TheWindowRequests().menu_command.load(), 0) << "dismissed";
    ASSERT_EQ(Run(kDecl, "menuitem path=\"m/\", caption=\"Menu\", order=1\n"
                         "menuitem path=\"m/a\", caption=\"A\", order=1, id=0x12345\n"
                         "popupmenu menu=\"m/\", show=1"),
              0);
    ui_.QueuePopupChoice(0x12345);
    ShownPopup();
    EXPECT_EQ(TheWindowRequests().menu_command.load(), 0x2345);
    EXPECT_EQ(PendingPopupRequest(), 0) << "one request, one popup";
}

// Groups g1..gN under "bar/", each with one item: N submenus.
std::string BarWithSubmenus(int submenus) {
    std::string text = "menuitem path=\"bar/\", caption=\"Bar\", order=1\n";
    for (int i = 1; i <= submenus; ++i) {
        const std::string group = "bar/g" + std::to_string(i) + "/";
        text += "menuitem path=\"" + group + "\", caption=\"G" + std::to_string(i) + "\", order=" + std::to_string(i) +
                "\nmenuitem path=\"" + group + "x\", caption=\"X\", order=1, id=" + std::to_string(i) + "\n";
    }
    return text;
}

TEST_F(MenuTest, ASetHoldsTheRootAndUpTo126Submenus) {
    WindowRecord record;
    record.number = 1;
    for (int submenus : {126, 127}) {
        SCOPED_TRACE(submenus);
        ASSERT_EQ(Run(kDecl, BarWithSubmenus(submenus)), 0);
        ASSERT_TRUE(SetWindowMenuBar(record, "M0/bar"));
        // 127 submenus fail: the bar built before stays.
        ASSERT_EQ(WindowMenuBar(1).size(), 126u);
        EXPECT_EQ(WindowMenuBar(1).back().text, "G126");
        EXPECT_EQ(WindowMenuBar(1).back().children.size(), 1u);
    }
    // The popup's wrapper takes one more entry.
    for (const auto& [submenus, complete] : {std::pair{125, true}, std::pair{126, false}}) {
        SCOPED_TRACE(submenus);
        ASSERT_EQ(Run(kDecl, BarWithSubmenus(submenus) + "popupmenu menu=\"bar/\", show=1"), 0);
        const std::vector<platform::PopupMenuItem>& items = ShownPopup();
        ASSERT_EQ(items.size(), size_t(submenus));
        EXPECT_EQ(items.back().children.size(), complete ? 1u : 0u) << "an incomplete popup still shows";
    }
}

TEST_F(MenuTest, PopupAfterABarWithSubmenusIsWhole) {
    WindowRecord record;
    record.number = 0;
    // The bar is set while the script waits a frame, the popup after it.
    ASSERT_EQ(Run(kDecl, BarWithSubmenus(3) + "menuitem path=\"p/\", caption=\"P\", order=1\n"
                                              "menuitem path=\"p/a\", caption=\"A\", order=1\n"
                                              "wait 1\npopupmenu menu=\"p/\", show=1"),
              0);
    ASSERT_TRUE(SetWindowMenuBar(record, "M0/bar"));
    EXPECT_EQ(Captions(WindowMenuBar(0)), "G1[X],G2[X],G3[X]");
    EXPECT_GT(MenuFillCounter(), 1);
    ASSERT_EQ(PendingPopupRequest(), 0);
    ASSERT_EQ(Passes(3), 0);
    ASSERT_EQ(PendingPopupRequest(), kPopupMenuSet);
    EXPECT_EQ(Captions(ShownPopup()), "A");
    // An empty name takes the bar away; a name of no group is refused.
    ASSERT_TRUE(SetWindowMenuBar(record, ""));
    EXPECT_TRUE(WindowMenuBar(0).empty());
    EXPECT_FALSE(SetWindowMenuBar(record, "M0/none"));
    EXPECT_EQ(LastCode(), 101250u);
}

TEST_F(MenuTest, CaptionsKeepWholeCharacters) {
    // 259 ASCII bytes and a double-byte character: 261 bytes, cut before it.
    const std::string kanji = Utf8ToCp932("漢");
    ASSERT_EQ(Run(kDecl, "menuitem path=\"c\", caption=\"" + std::string(259, 'a') + kanji + "\", order=1\n"
                         "menuinfo result=s, path=\"c\", caption=1"),
              0);
    EXPECT_EQ(Text("s"), std::string(259, 'a'));
    ASSERT_EQ(Run(kDecl, "menuitem path=\"c\", caption=\"" + std::string(258, 'a') + kanji + "\", order=1\n"
                         "menuinfo result=s, path=\"c\", caption=1"),
              0);
    EXPECT_EQ(Text("s"), std::string(258, 'a') + kanji);
}

}  // namespace
}  // namespace zk
