// The shared helpers against their published values, the byte reader's
// refusal to read past its data, and the two kinds of case folding.
#include <gtest/gtest.h>

#include <vector>

#include "base/ascii.h"
#include "base/byte_reader.h"
#include "base/hashes.h"
#include "base/mt19937.h"
#include "base/nul_text.h"
#include "base/sjis.h"

namespace zk {
namespace {

TEST(SharedHelpers, MurmurHash2MatchesTheSmhasherVerificationValue) {
    // Hash keys {0}, {0,1}, ... of length 0..255 with seed 256 - length, then
    // hash the concatenated little-endian results with seed 0.
    std::vector<uint8_t> key, hashes;
    for (int length = 0; length < 256; ++length) {
        key.resize(length);
        for (int i = 0; i < length; ++i) key[i] = static_cast<uint8_t>(i);
        uint32_t h = MurmurHash2(std::span<const uint8_t>(key), static_cast<uint32_t>(256 - length));
        for (int b = 0; b < 4; ++b) hashes.push_back(static_cast<uint8_t>(h >> (8 * b)));
    }
    EXPECT_EQ(MurmurHash2(std::span<const uint8_t>(hashes), 0), 0x27864C1Eu);
}

TEST(SharedHelpers, Crc32OfTheCheckString) {
    std::string_view check = "123456789";
    EXPECT_EQ(Crc32(std::span(reinterpret_cast<const uint8_t*>(check.data()), check.size())), 0xCBF43926u);
    // Continuing a running value gives the same result as one pass.
    auto bytes = std::span(reinterpret_cast<const uint8_t*>(check.data()), check.size());
    EXPECT_EQ(Crc32Update(Crc32(bytes.first(4)), bytes.subspan(4)), 0xCBF43926u);
}

TEST(SharedHelpers, Mt19937TenThousandthOutput) {
    Mt19937 generator;
    generator.Seed(5489);
    uint32_t value = 0;
    for (int i = 0; i < 10000; ++i) value = generator.Next();
    EXPECT_EQ(value, 4123659995u);
    // An unseeded generator starts as if seeded with 5489.
    Mt19937 unseeded;
    EXPECT_EQ(unseeded.Next(), 3499211612u);
}

TEST(SharedHelpers, ByteReaderNeverReadsPastTheEnd) {
    const std::vector<uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 'a', 'b', 0, 'c'};
    ByteReader reader(bytes);
    EXPECT_EQ(reader.U32(), 0x04030201u);
    EXPECT_EQ(reader.U64(), std::nullopt);  // 5 bytes left: no 8-byte read past them
    EXPECT_EQ(reader.Offset(), 4u);         // a failed read does not move
    EXPECT_EQ(reader.U8(), 0x05);
    EXPECT_EQ(reader.CString(), "ab");
    EXPECT_EQ(reader.CString(), std::nullopt);  // "c" has no terminator
    EXPECT_FALSE(reader.Skip(2));
    EXPECT_TRUE(reader.Skip(1));
    EXPECT_EQ(reader.U8(), std::nullopt);
    EXPECT_FALSE(reader.Seek(bytes.size() + 1));
    EXPECT_EQ(reader.PeekAt<uint64_t>(2), std::nullopt);
    EXPECT_EQ(reader.PeekAt<uint16_t>(7), uint16_t{0x6300});
    EXPECT_EQ(reader.PeekAt<uint32_t>(~uint64_t{0} - 1), std::nullopt);  // no wrap-around
    EXPECT_EQ(reader.Take(~uint64_t{0}), std::nullopt);
}

// No bytes at all (a reader over nothing has no data pointer) and a reader
// at its end: no text, and no search over a null pointer.
TEST(SharedHelpers, ByteReaderCStringWithNothingLeft) {
    EXPECT_EQ(ByteReader().CString(), std::nullopt);
    EXPECT_EQ(ByteReader(std::span<const uint8_t>()).CString(), std::nullopt);
    const std::vector<uint8_t> bytes = {'a', 0};
    ByteReader reader(bytes);
    EXPECT_EQ(reader.CString(), "a");
    EXPECT_EQ(reader.CString(), std::nullopt);
    EXPECT_EQ(reader.Offset(), 2u);
}

TEST(SharedHelpers, ShiftJisStepsDoubleByteCharactersWhole) {
    // "表" is 0x95 0x5C: its trail byte is not a backslash, its lead byte not a letter.
    const std::string table = "\x95\x5C";
    EXPECT_EQ(SjisReplaceByte("A\\" + table + "\\B", '\\', '/'), "A/" + table + "/B");
    EXPECT_EQ(SjisFindLast("x" + table, '\\'), std::string::npos);
    EXPECT_EQ(SjisLowerAscii("ABC\x82\x60Z"), "abc\x82\x60z");  // "Ａ" (0x82 0x60) keeps its bytes
    EXPECT_TRUE(SjisEqualsIgnoreCase("ZkBin\\" + table, "zkbin\\" + table));
    EXPECT_FALSE(SjisEqualsIgnoreCase("\x82\x60", "\x82\x81"));  // double bytes compare exactly
    // A lead byte at the very end is one byte, so loops stop at the end.
    EXPECT_EQ(SjisCharLength("a\x95", 1), 1u);
}

TEST(SharedHelpers, ShiftJisTruncationKeepsPairsWhole) {
    const std::string a = "\x82\xA0";  // あ
    struct Case {
        std::string text;
        size_t max_bytes;
        std::string expected;
    };
    const Case cases[] = {
        {"abc", 3, "abc"},
        {"abc", 2, "ab"},
        {"ab" + a, 3, "ab"},          // the pair would straddle the end: left out
        {"ab" + a, 4, "ab" + a},
        {a + a, 1, ""},
        {"ab\x95", 3, "ab\x95"},     // a lead byte ending the text is one byte
        {"", 0, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(SjisTruncate(c.text, c.max_bytes), c.expected) << c.max_bytes;
}

TEST(SharedHelpers, ShiftJisLowerCasingFoldsOnlySingleByteLetters) {
    const std::string hyou = "\x95\x5C";       // 表: trail byte 0x5C ('\\')
    const std::string full_width_a = "\x82\x60";  // Ａ
    const std::string katakana_a = "\x83\x41";    // ア: trail byte 'A'
    struct Case {
        std::string in, out;
    };
    const std::vector<Case> cases = {
        {"PAC\\X.ZPF", "pac\\x.zpf"},
        {"Bg/Title_01.PNG", "bg/title_01.png"},
        {full_width_a + "B", full_width_a + "b"},    // full-width letters untouched
        {katakana_a + "A", katakana_a + "a"},        // a trail byte 'A' stays
        {hyou + "\\A", hyou + "\\a"},              // trail 0x5C, then a real '\\'
        {"AB" + std::string("\x82"), "ab\x82"},     // a lead byte at the end ends the text
        {std::string("\x82") + "A", "\x82" "A"},    // ... and here takes the 'A' as its trail
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string text = c.in;
        SjisLowerAsciiInPlace(text);
        EXPECT_EQ(text, c.out) << c.in;
        EXPECT_EQ(SjisLowerAscii(c.in), c.out) << c.in;
    }
}

TEST(SharedHelpers, AsciiFoldingIsByteWise) {
    EXPECT_EQ(AsciiLower("ZK_RES.Zpf\x83\x41"), "zk_res.zpf\x83\x61");  // every byte, trail bytes too
    EXPECT_TRUE(AsciiEqualsIgnoreCase("ZK_Bin", "zk_bIN"));
    EXPECT_FALSE(AsciiEqualsIgnoreCase("zk_bin", "zk_bin "));
    EXPECT_FALSE(AsciiEqualsIgnoreCase("[", "{"));  // 0x5B and 0x7B differ by 0x20 but are not letters
    EXPECT_TRUE(AsciiEndsWithIgnoreCase("DATA.SD", ".sd"));
    EXPECT_TRUE(AsciiEndsWithIgnoreCase(".sd", ".SD"));
    EXPECT_FALSE(AsciiEndsWithIgnoreCase("sd", ".sd"));  // shorter than the suffix
    EXPECT_FALSE(AsciiEndsWithIgnoreCase("a.sdx", ".sd"));
    EXPECT_TRUE(AsciiEndsWithIgnoreCase("anything", ""));
}

TEST(SharedHelpers, TextsEndAtTheirFirstNul) {
    const char buffer[] = {'a', 'b', '\0', 'c'};
    EXPECT_EQ(TextLength(buffer, sizeof buffer), 2u);
    EXPECT_EQ(TextLength(buffer, 2), 2u);  // no NUL inside the limit: the limit
    EXPECT_EQ(TextLength(buffer, 0), 0u);
    EXPECT_EQ(UpToNul(std::string_view(buffer, sizeof buffer)), "ab");
    EXPECT_EQ(UpToNul("abc"), "abc");
}

}  // namespace
}  // namespace zk
