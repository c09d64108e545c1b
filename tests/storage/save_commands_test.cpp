// The save and load commands on readable scripts: round trips of every
// payload kind through files and memory rows, appending, rewriting and
// creating files, the errors the commands report, and the faults built
// soundly (the rewrite checks before it writes, the block count, deep save
// folders, row writes, both a file and a row, a second 99999).
#include <gtest/gtest.h>

#include "base/text_encoding.h"
#include "tests/storage/save_test_support.h"

namespace zk {
namespace {

using save_test::SaveTest;
using save_test::U32At;

// A CP932 text inside a script's text literal: a trail byte 0x5C is
// written as the literal's escape for '\'.
std::string Literal(std::string_view cp932) {
    std::string out;
    for (char c : cp932) {
        out += c;
        if (c == '\\') out += c;
    }
    return out;
}
namespace fs = std::filesystem;

// Every type and dimension count: each variable is saved whole, changed,
// and loaded back, through a file and through a row.
TEST_F(SaveTest, WholeVariablesOfEveryTypeAndShapeRoundTripThroughFilesAndRows) {
    struct Case {
        const char* declaration;
        const char* change;  // a statement that changes it
        const char* check;   // an integer expression that is 1 when restored
    };
    const Case cases[] = {
        {"int v = 7", "v = 0", "v == 7"},
        {"real v = 2.5", "v = 0.0", "v == 2.5"},
        {"str v = \"abc\"", "v = \"\"", "v == \"abc\""},
        {"int v[3] = -5", "v[2] = 0", "v[2] == -5"},
        {"real v[2, 3] = 0.25", "v[1, 2] = 1.0", "v[1, 2] == 0.25"},
        {"str v[2, 2, 2] = \"xy\"", "v[1, 1, 1] = \"\"", "v[1, 1, 1] == \"xy\""},
        {"int v[2, 1, 2, 1] = 9", "v[1, 0, 1, 0] = 0", "v[1, 0, 1, 0] == 9"},
        {"int v[1, 2, 1, 2, 1] = 4", "v[0, 1, 0, 1, 0] = 0", "v[0, 1, 0, 1, 0] == 4"},
        {"real v[2, 1, 1, 1, 1, 2] = 1.5", "v[1, 0, 0, 0, 0, 1] = 0.0", "v[1, 0, 0, 0, 0, 1] == 1.5"},
        {"str v[1, 1, 2, 1, 1, 1, 2] = \"q\"", "v[0, 0, 1, 0, 0, 0, 1] = \"\"", "v[0, 0, 1, 0, 0, 0, 1] == \"q\""},
        {"int v[2, 1, 1, 1, 1, 1, 1, 2] = 3", "v[1, 0, 0, 0, 0, 0, 0, 1] = 0", "v[1, 0, 0, 0, 0, 0, 0, 1] == 3"},
    };
    for (const Case& c : cases) {
        for (bool row : {false, true}) {
            SCOPED_TRACE(std::string(c.declaration) + (row ? " (row)" : " (file)"));
            TearDown();
            SetUp();
            const std::string where = row ? "row=3" : "file=\"slot\"";
            ASSERT_TRUE(BootSave(std::string(c.declaration) + "\nint ok\nlabel SYSTEM_START\n" +
                                 "save " + where + ", no=4, var=@v\n" + c.change + "\n" +
                                 "load " + where + ", no=4, var=@v\nok = " + c.check +
                                 "\nlabel IDLE\nwait 1\njump IDLE\n"));
            ASSERT_EQ(Pass(), 0);
            EXPECT_EQ(Reports(), 0u) << LastMessage();
            EXPECT_EQ(Int("ok"), 1);
            EXPECT_EQ(row, !fs::exists(SavePath("slot.sd")));
        }
    }
}

// Single elements, a CP932 text among them, go into the element named.
TEST_F(SaveTest, ElementsRoundTripIntoTheElementNamed) {
    const std::string text = Utf8ToCp932("ソ表示");
    ASSERT_TRUE(BootSave("int a[4]\nreal r[2]\nstr s[3]\nint ok\nlabel SYSTEM_START\n"
                         "a[1] = 123456789012\nr[0] = -0.5\ns[2] = \"" + Literal(text) + "\"\n"
                         "save no=1, var=a[1]\nsave no=2, var=r[0]\nsave file=\"e\", no=3, var=s[2]\n"
                         "load file=\"e\", no=1, var=a[3]\nload file=\"e\", no=2, var=r[1]\n"
                         "load file=\"e\", no=3, var=s[0]\n"
                         "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Reports(), 0u) << LastMessage();
    EXPECT_EQ(Int("a", 3), 123456789012);
    EXPECT_EQ(Int("a", 0), 0);
    EXPECT_EQ(Real("r", 1), -0.5);
    EXPECT_EQ(Text("s", 0), text);
    EXPECT_EQ(Text("s", 1), "");
}

// The payload of a three-byte text element and of a 2 x 3 integer array.
TEST_F(SaveTest, PayloadLayoutOfATextElementAndAnArray) {
    ASSERT_TRUE(BootSave("int a[2, 3]\nstr s = \"abc\"\nlabel SYSTEM_START\n"
                         "save no=1, var=s\nsave file=\"p\", no=2, var=@a\n"
                         "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    ASSERT_EQ(Reports(), 0u) << LastMessage();
    const std::vector<uint8_t> file = save_test::ReadBytes(SavePath("p.sd"));
    MemorySaveSource source(file);
    std::vector<uint8_t> stored, payload;
    auto header = ReadStoredBlock(source, ReadDirectoryEntry(source, 1), stored);
    ASSERT_TRUE(header && SnappyUncompress(stored, header->uncompressed_length, payload));
    EXPECT_EQ(header->variable, symbols.at("s"));
    const std::vector<uint8_t> text = {3, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c'};
    EXPECT_EQ(payload, text);
    header = ReadStoredBlock(source, ReadDirectoryEntry(source, 2), stored);
    ASSERT_TRUE(header && SnappyUncompress(stored, header->uncompressed_length, payload));
    ASSERT_EQ(payload.size(), 20u + 48u);
    EXPECT_EQ(U32At(payload, 0), 1u);
    EXPECT_EQ(U32At(payload, 4), 2u);
    EXPECT_EQ(U32At(payload, 8), 2u);
    EXPECT_EQ(U32At(payload, 12), 3u);
    EXPECT_EQ(U32At(payload, 16), 48u);
}

// A list of every integer variable of group 1; loading it ends the turn.
TEST_F(SaveTest, AListRoundTripsAndLoadingItEndsTheTurn) {
    ASSERT_TRUE(BootSave("int a = 1\nint b[2] = 2\nreal r = 0.5\nint after\nlabel SYSTEM_START\n"
                         "save file=\"list\", no=9, int1=1\n"
                         "a = 0\nb[1] = 0\nr = 0.0\n"
                         "load file=\"list\", no=9\nafter = 1\n"
                         "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Reports(), 0u) << LastMessage();
    EXPECT_EQ(Int("a"), 1);
    EXPECT_EQ(Int("b", 1), 2);
    EXPECT_EQ(Real("r"), 0.0) << "a real is no integer of group 1";
    EXPECT_EQ(Int("after"), 0) << "the turn ended after the list";
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Int("after"), 1);
}

// A layer's picture into a file; loading replaces the layer by a new one
// with the saved size and pixels.
TEST_F(SaveTest, ALayerImageRoundTrips) {
    ASSERT_TRUE(BootSave("label SYSTEM_START\nlayer name=\"pic\", priority=5, file=\"none.bmp\"\n"
                         "wait 1\nsave file=\"img\", no=1, layer=\"pic\"\nwait 1\n"
                         "load file=\"img\", no=1, layer=\"pic\"\nwait 1\n"
                         "load file=\"img\", no=1, layer=\"copy\", layerno=2\n"
                         "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    Paint("pic", 5, 3, 17);
    const std::vector<uint8_t> pixels = Pixels("pic");
    ASSERT_EQ(Pass(), 0);
    Paint("pic", 2, 2, 0);
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Reports(), 0u) << LastMessage();
    ASSERT_NE(Layer("pic"), nullptr);
    EXPECT_EQ(LayerImage(Layer("pic"))->width, 5);
    EXPECT_EQ(Pixels("pic"), pixels);
    EXPECT_EQ(Layer("pic")->order_key, 1);
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Pixels("copy.2"), pixels) << "a layer that did not exist is made";
}

// Appending, rewriting in place, and a new file with blocks 3 and 7.
TEST_F(SaveTest, AppendRewriteAndCreate) {
    ASSERT_TRUE(BootSave("int x = 1\nlabel SYSTEM_START\n"
                         "save no=7, var=x\nsave no=3, var=x\nsave file=\"f\"\nwait 1\n"
                         "save no=8, var=x\nsave file=\"f\", no=9, var=x\nwait 1\n"
                         "x = 2\nsave no=3, var=x\nsave file=\"f\", no=4, var=x\nwait 1\n"
                         "x = 0\nload file=\"f\", no=3, var=x\n"
                         "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    std::vector<uint8_t> file = save_test::ReadBytes(SavePath("f.sd"));
    ASSERT_GE(file.size(), kSaveBlocksOffset);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "ZKSD");
    EXPECT_EQ(U32At(file, 4), 480u);
    EXPECT_EQ(U32At(file, 8), 2u);
    EXPECT_EQ(U32At(file, 12), 1024u);
    for (uint32_t n = 1; n <= 1024; ++n) {
        const uint32_t entry = U32At(file, 12 + 4 * n);
        if (n == 3) EXPECT_EQ(entry, 4112u);
        else if (n == 7) EXPECT_GT(entry, 4112u);
        else ASSERT_EQ(entry, 0u) << n;
    }
    const size_t size_after_create = file.size();

    ASSERT_EQ(Pass(), 0);  // append 8 and 9
    file = save_test::ReadBytes(SavePath("f.sd"));
    EXPECT_EQ(U32At(file, 8), 4u);
    const uint32_t at8 = U32At(file, 12 + 4 * 8), at9 = U32At(file, 12 + 4 * 9);
    EXPECT_EQ(at8, size_after_create);
    const uint32_t block8 = 12 + U32At(file, at8 + 4 + 4);
    EXPECT_EQ(at9, at8 + 4 + block8);

    ASSERT_EQ(Pass(), 0);  // 3 replaced in place, 4 appended
    file = save_test::ReadBytes(SavePath("f.sd"));
    EXPECT_EQ(U32At(file, 8), 5u) << "the count grows by the appended block";
    EXPECT_EQ(U32At(file, 12 + 4 * 3), 4112u);
    EXPECT_GT(U32At(file, 12 + 4 * 4), U32At(file, 12 + 4 * 9));
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Reports(), 0u) << LastMessage();
    EXPECT_EQ(Int("x"), 2);
}

// The script errors of both commands, each a table row: the code and
// whether the turn is refused (-1 stops the task at that command).
TEST_F(SaveTest, ErrorsOfTheCommands) {
    struct Case {
        const char* script;
        uint32_t code;
    };
    const std::string long_name(33, 'a');
    const Case cases[] = {
        {"save no=5, var=x\nsave no=5, var=x\n", kErrSaveBlockPending},
        {"save file=\"f\", no=1, var=x\nload file=\"f\", no=2, var=x\n", kErrSaveNoSuchBlock},
        {"load file=\"nothing\", no=1, var=x\n", kErrSaveOpenForLoad},
        {"save file=\"a/b\", no=1, var=x\n", kErrSaveNameHasFolder},
        {"save file=\"a\\\\b\", no=1, var=x\n", kErrSaveNameHasFolder},
        {"save file=\"f\", no=1, var=x\nload file=\"f\", no=1, var=r\n", kErrSaveTypeMismatch},
        {"save file=\"f\", no=1, var=@arr\nload file=\"f\", no=1, var=x\n", kErrSaveDimensionCount},
        {"save file=\"f\", no=1, var=@arr\nload file=\"f\", no=1, var=@arr2\n", kErrSaveDimensionSize},
        {"save file=\"f\", no=1, var=x\nload file=\"f\", no=1, layer=\"pic\"\n", kErrSaveVariableIntoLayer},
        {"save file=\"f\", no=1, layer=\"pic\"\nload file=\"f\", no=1, var=x\n", kErrSaveImageIntoVariable},
        {"save file=\"f\", no=1, layer=\"missing\"\n", kErrLayerNotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        TearDown();
        SetUp();
        ASSERT_TRUE(BootSave(std::string("int x = 5\nreal r\nint arr[3]\nint arr2[4]\nlabel SYSTEM_START\n") +
                             "layer name=\"pic\", priority=5, file=\"none.bmp\"\n" + c.script +
                             "x = 99\nlabel IDLE\nwait 1\njump IDLE\n"));
        Pass();
        EXPECT_EQ(LastCode(), c.code) << LastMessage();
        EXPECT_EQ(Int("x"), 5) << "the script stopped at the error";
    }
    // 33 bytes are too long, 32 are not; the '\' test skips double-byte
    // characters whose trail byte is 0x5C (ソ, 表).
    TearDown();
    SetUp();
    const std::string sjis = Utf8ToCp932("ソ表");
    ASSERT_TRUE(BootSave("int x = 5\nlabel SYSTEM_START\nsave file=\"" + std::string(32, 'b') + "\", no=1, var=x\n" +
                         "save file=\"" + Literal(sjis) + "\", no=1, var=x\nsave file=\"" + long_name + "\", no=1, var=x\n" +
                         "label IDLE\nwait 1\njump IDLE\n"));
    Pass();
    EXPECT_EQ(LastCode(), kErrSaveNameTooLong) << LastMessage();
    EXPECT_TRUE(fs::exists(SavePath(std::string(32, 'b') + ".sd")));
    EXPECT_EQ(Reports(), 1u);
}

// 99999 packs every row into block 1024; loading it from a file refills
// all 500 rows. A second 99999 replaces the first block.
TEST_F(SaveTest, AllRowsTravelInBlock1024) {
    ASSERT_TRUE(BootSave("int x = 11\nint y\nlabel SYSTEM_START\n"
                         "save row=0, no=1, var=x\nx = 12\nsave row=499, no=1, var=x\n"
                         "save row=99999\nsave row=99999\nsave file=\"rows\"\nwait 1\n"
                         "save row=0, no=2, var=x\nwait 1\n"
                         "load file=\"rows\", no=1024\nload row=0, no=1, var=y\nx = y\nload row=499, no=1, var=y\n"
                         "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    ASSERT_EQ(Reports(), 0u) << LastMessage();
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(U32At(TheSaveState().rows[0].content, 12 + 4 * 1), 0u) << "row 0 now holds block 2 only";
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Reports(), 0u) << LastMessage();
    EXPECT_EQ(Int("x"), 11);
    EXPECT_EQ(Int("y"), 12);
    EXPECT_EQ(TheSaveState().rows[1].content.size(), 0u);
}

// Writing into a row keeps pending block 1023 and drops 1024; a row wins
// over a file given with it.
TEST_F(SaveTest, RowWritesKeepBlock1023AndWinOverAFile) {
    ASSERT_TRUE(BootSave("int x = 3\nint y\nlabel SYSTEM_START\n"
                         "save row=99999\nsave no=1023, var=x\nsave file=\"both\", row=7\n"
                         "load row=7, no=1023, var=y\n"
                         "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Reports(), 0u) << LastMessage();
    EXPECT_EQ(Int("y"), 3);
    EXPECT_FALSE(fs::exists(SavePath("both.sd")));
    EXPECT_EQ(U32At(TheSaveState().rows[7].content, 12 + 4 * 1024), 0u);
    EXPECT_GE(TheSaveState().rows[7].content.capacity(), kMinRowCapacity);
    for (const auto& block : TheSaveState().pending) EXPECT_TRUE(block.empty());
}

// The rewrite builds the whole new file before it writes: a stored block
// with a bad data number stops it with the old file intact and the pending
// blocks kept.
TEST_F(SaveTest, ARewriteThatFailsLeavesTheFileAsItWas) {
    ASSERT_TRUE(BootSave("int x = 1\nlabel SYSTEM_START\nsave file=\"k\", no=1, var=x\nsave file=\"k\", no=2, var=x\n"
                         "wait 1\nsave file=\"k\", no=1, var=x\nx = 2\n"
                         "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    std::vector<uint8_t> file = save_test::ReadBytes(SavePath("k.sd"));
    const uint32_t at2 = U32At(file, 12 + 4 * 2);
    file = script_test::PatchU32(file, at2, 5000);  // block 2 claims data number 5000
    save_test::WriteBytes(SavePath("k.sd"), file);
    Pass();
    EXPECT_EQ(save_test::ReadBytes(SavePath("k.sd")), file);
    ASSERT_FALSE(ui_.boxes.empty());
    EXPECT_NE(ui_.boxes.back().text.find("DNO = 5000"), std::string::npos);
    EXPECT_FALSE(TheSaveState().pending[0].empty()) << "the pending block is kept";
    EXPECT_EQ(Int("x"), 1);
}

// A save folder several levels deep, none of them there yet.
TEST_F(SaveTest, EveryLevelOfADeepSaveFolderIsMade) {
    Settings().save_folder = "my games\\PALVOR_SaveData\\ubeko\\save\\";
    ASSERT_TRUE(BootSave("int x = 4\nlabel SYSTEM_START\nsave file=\"Deep\", no=1, var=x\nx = 0\n"
                         "load file=\"deep.SD\", no=1, var=x\nlabel IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Reports(), 0u) << LastMessage();
    EXPECT_TRUE(fs::is_regular_file(game_ / "my games" / "PALVOR_SaveData" / "ubeko" / "save" / "deep.sd"));
    EXPECT_EQ(Int("x"), 4);
}

// Discarding drops what is pending; 88 does nothing.
TEST_F(SaveTest, DiscardDropsThePendingBlocks) {
    ASSERT_TRUE(BootSave("int x = 1\nlabel SYSTEM_START\nsave no=5, var=x\ndiscard\nnop88\nsave no=5, var=x\n"
                         "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Reports(), 0u) << LastMessage();
    EXPECT_FALSE(TheSaveState().pending[4].empty());
}

}  // namespace
}  // namespace zk

namespace zk {
namespace {

// Save-folder mode 1: the application-data folder (XDG data home), which
// does not exist yet, followed by the branded folder.
using save_test::SaveTest;
namespace fs = std::filesystem;

TEST_F(SaveTest, SaveFolderMode1IsUnderTheDataHome) {
    const fs::path home = game_ / "xdg-data";
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old != nullptr ? old : "";
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    const SaveFolder folder = BuildSaveFolder(1);
    Settings().save_folder_root = folder.root;
    Settings().save_folder = folder.folder;
    ASSERT_TRUE(BootSave("int x = 6\nlabel SYSTEM_START\nsave file=\"m1\", no=1, var=x\nx = 0\n"
                         "load file=\"m1\", no=1, var=x\nlabel IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    if (old != nullptr) setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(Reports(), 0u) << LastMessage();
    EXPECT_EQ(Int("x"), 6);
    EXPECT_TRUE(fs::is_regular_file(home / "PALVOR_SaveData" / "ubeko" / "save" / "m1.sd"));
    EXPECT_FALSE(fs::exists(game_ / "save"));
}

}  // namespace
}  // namespace zk
