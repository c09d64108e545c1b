// Damaged save files: every one is refused with the engine's error or
// message for it, and nothing the load would have changed changes (the
// variable, the layer, the rows, the file itself).
#include <gtest/gtest.h>

#include <functional>

#include "base/text_encoding.h"
#include "tests/storage/save_test_support.h"

namespace zk {
namespace {

using save_test::SaveTest;
namespace fs = std::filesystem;

std::vector<uint8_t> U32s(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> out;
    for (uint32_t v : values) AppendU32(out, v);
    return out;
}
std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// A file holding `block` as data number 1.
std::vector<uint8_t> FileOf(const std::vector<uint8_t>& block, uint32_t number = 1) {
    auto pending = std::make_unique<PendingBlocks>();
    (*pending)[number - 1] = block;
    return BuildSaveFile(*pending, kDataNumberCount);
}
std::vector<uint8_t> VariableFile(const std::vector<uint8_t>& payload) {
    return FileOf(*MakeVariableBlock(1000, payload));
}
std::vector<uint8_t> RawBlock(uint8_t kind, const std::vector<uint8_t>& stored, uint32_t uncompressed) {
    std::vector<uint8_t> block;
    AppendBlockHeader(block, {kind, 1, 1000, static_cast<uint32_t>(stored.size()), uncompressed});
    return Concat(block, stored);
}
std::vector<uint8_t> ImageFile(const std::vector<uint8_t>& payload) { return FileOf(*MakeImageBlock(payload)); }
// A file holding a list block of the records (variable number, payload).
std::vector<uint8_t> ListFile(std::initializer_list<std::pair<uint16_t, std::vector<uint8_t>>> records) {
    std::vector<std::vector<uint8_t>> blocks;
    for (const auto& [variable, payload] : records) blocks.push_back(*MakeVariableBlock(variable, payload));
    return FileOf(MakeListBlock(blocks));
}
std::vector<uint8_t> ImagePayloadOf(uint32_t header_size, int32_t width, int32_t height, uint32_t pixel_bytes,
                                    size_t pixels) {
    std::vector<uint8_t> out = U32s({header_size, pixel_bytes});
    out.resize(8 + kImageHeaderBytes, 0);
    PutU32(out, 8 + kImageWidthOffset, static_cast<uint32_t>(width));
    PutU32(out, 8 + kImageHeightOffset, static_cast<uint32_t>(height));
    out.resize(out.size() + pixels, 0x55);
    return out;
}

TEST_F(SaveTest, MalformedFilesAreRefusedAndChangeNothing) {
    const std::string invalid = Utf8ToCp932("不正セーブファイル");
    // The int a[3] (number 1000) payload that a good file holds, and parts.
    const std::vector<uint8_t> good = Concat(U32s({1, 1, 3, 24}), std::vector<uint8_t>(24, 1));
    std::vector<uint8_t> good_file = VariableFile(good);
    std::vector<uint8_t> long_text = Concat(U32s({3, 1, 2, 4 + 4097 + 5}), U32s({4097}));
    long_text.resize(long_text.size() + 4097, 'x');
    long_text = Concat(long_text, Concat(U32s({1}), {'y'}));
    std::vector<uint8_t> rows_block;
    AppendBlockHeader(rows_block, {0, 1, 0, 8 * 500 + 3, 8 * 500 + 4112});
    rows_block = Concat(rows_block, U32s({4112, 3}));
    rows_block.insert(rows_block.end(), {1, 2, 3});
    rows_block.resize(kDataBlockHeaderBytes + 8 * 500 + 3, 0);

    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        const char* load;     // the load line's target keywords
        uint32_t code;        // the report, or 0 for a message box
        std::string box;      // part of the box's text
    };
    const Case cases[] = {
        {"short header", {'Z', 'K', 'S', 'D', 0xE0, 1}, "var=@a", kErrSaveBadMagic, ""},
        {"empty file", {}, "var=@a", kErrSaveBadMagic, ""},
        {"bad magic", script_test::PatchU32(good_file, 0, 0x44534B59), "var=@a", kErrSaveBadMagic, ""},
        {"bad version", script_test::PatchU32(good_file, 4, 481), "var=@a", kErrSaveBadVersion, ""},
        {"no directory", std::vector<uint8_t>(good_file.begin(), good_file.begin() + 16), "var=@a",
         kErrSaveNoSuchBlock, ""},
        {"offset past the end", script_test::PatchU32(good_file, 16, 0x7FFFFFF0), "var=@a", 0, invalid},
        {"offset at the end", script_test::PatchU32(good_file, 16, static_cast<uint32_t>(good_file.size())),
         "var=@a", 0, invalid},
        {"stored length lies", script_test::PatchU32(good_file, 4112 + 8, 0xFFFFFFF0), "var=@a", 0, invalid},
        {"uncompressed length lies", script_test::PatchU32(good_file, 4112 + 12, 0x7FFFFFFF), "var=@a", 0,
         "Snp Uncompress Error."},
        {"bad codec data", FileOf(RawBlock(0, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 1, 2}, 44)), "var=@a", 0,
         "Snp Uncompress Error."},
        {"data length lies", VariableFile(script_test::PatchU32(good, 12, 16)), "var=@a", 0, invalid},
        {"data shorter than its length", VariableFile(std::vector<uint8_t>(good.begin(), good.end() - 1)), "var=@a",
         0, invalid},
        {"nine dimensions", VariableFile(script_test::PatchU32(good, 4, 9)), "var=@a", kErrBadPositionString, ""},
        {"type 7", VariableFile(script_test::PatchU32(good, 0, 7)), "var=@a", kErrBadPositionString, ""},
        {"data above 40,000,000", VariableFile(script_test::PatchU32(good, 12, 40'000'001)), "var=@a",
         kErrSaveDataTooLong, ""},
        {"text count lies", VariableFile(Concat(U32s({3, 1, 2, 5}), Concat(U32s({1}), {'z'}))), "var=@s", 0, invalid},
        {"text length lies", VariableFile(Concat(U32s({3, 1, 2, 10}), Concat(U32s({1, 'z', 200}), {}))), "var=@s", 0,
         invalid},
        {"text above 4096 bytes", VariableFile(long_text), "var=@s", 0, invalid},
        {"image header size", ImageFile(ImagePayloadOf(1679, 2, 2, 16, 16)), "layer=\"pic\"", kErrSaveBadImageHeader,
         ""},
        {"image width 0", ImageFile(ImagePayloadOf(1680, 0, 2, 0, 0)), "layer=\"pic\"", 0, invalid},
        {"image height -1", ImageFile(ImagePayloadOf(1680, 2, -1, 0, 0)), "layer=\"pic\"", 0, invalid},
        {"image pixel bytes lie", ImageFile(ImagePayloadOf(1680, 2, 2, 12, 12)), "layer=\"pic\"", 0, invalid},
        {"image pixels short", ImageFile(ImagePayloadOf(1680, 2, 2, 16, 15)), "layer=\"pic\"", 0, invalid},
        {"image size wraps", ImageFile(ImagePayloadOf(1680, 0x40000000, 4, 0, 0)), "layer=\"pic\"", 0, invalid},
        {"image codec data", FileOf(RawBlock(1, {0x78, 0x9C, 1, 2, 3}, 1700)), "layer=\"pic\"", 0, "Uncompress Error."},
        {"list record past its block", FileOf(RawBlock(2, Concat(U32s({0x03E80100, 50, 10}), {1}), 60)), "var=@a", 0,
         invalid},
        {"list record of kind 1", FileOf(RawBlock(2, U32s({0x03E80101, 0, 0}), 12)), "var=@a", 0, invalid},
        // A list is checked whole before its first record is restored: a
        // good record for a, then one that is refused.
        {"list: a later record's length lies", ListFile({{1000, good}, {1001, Concat(U32s({3, 1, 2, 5}), {'z'})}}),
         "var=@a", 0, invalid},
        {"list: a later record of another type", ListFile({{1000, good}, {1001, good}}), "var=@a",
         kErrSaveTypeMismatch, ""},
        {"list: a later record of another shape", ListFile({{1000, good}, {1000, Concat(U32s({1, 0, 8}), U32s({5, 0}))}}),
         "var=@a", kErrSaveDimensionCount, ""},
        {"list: a later text above 4096 bytes", ListFile({{1000, good}, {1001, long_text}}), "var=@a", 0, invalid},
        {"list: a later record of no variable", ListFile({{1000, good}, {4000, good}}), "var=@a",
         kErrVariableMissing, ""},
        {"kind 5", FileOf(RawBlock(5, {1, 2}, 2)), "var=@a", 0, invalid},
        {"rows block damaged", FileOf(rows_block, 1024), "", 0, "Load Error."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        const std::string number = std::string(c.load).empty() ? "1024" : "1";
        ASSERT_TRUE(BootSave(std::string("int a[3] = 7\nstr s[2] = \"k\"\nint after\nlabel SYSTEM_START\n") +
                             "layer name=\"pic\", priority=5, file=\"none.bmp\"\nsave row=4, no=1, var=@a\nwait 1\n" +
                             "load file=\"m\", no=" + number + (std::string(c.load).empty() ? "" : ", ") + c.load +
                             "\nafter = 1\nlabel IDLE\nwait 1\njump IDLE\n"));
        ASSERT_EQ(Pass(), 0);
        const std::vector<uint8_t> row = TheSaveState().rows[4].content;
        fs::create_directories(game_ / "save");
        save_test::WriteBytes(SavePath("m.sd"), c.file);
        platform::ClearPathCache();
        Pass();
        if (c.code != 0) {
            EXPECT_EQ(LastCode(), c.code) << LastMessage();
        } else {
            EXPECT_EQ(Reports(), 0u) << LastMessage();
            ASSERT_FALSE(ui_.boxes.empty());
            EXPECT_NE(ui_.boxes.back().text.find(c.box), std::string::npos) << ui_.boxes.back().text;
        }
        EXPECT_EQ(Int("after"), 0);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(Int("a", i), 7);
        EXPECT_EQ(Text("s", 0), "k");
        ASSERT_NE(Layer("pic"), nullptr);
        EXPECT_EQ(LayerImage(Layer("pic"))->width, 1);
        EXPECT_EQ(TheSaveState().rows[4].content, row);
        EXPECT_EQ(save_test::ReadBytes(SavePath("m.sd")), c.file);
    }
}

}  // namespace
}  // namespace zk
