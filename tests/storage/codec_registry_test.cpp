// The codec libraries: loading them at start-up with a message box for each
// missing library or entry, the bound entries working as zlib and Snappy,
// and their release at shutdown.
#include "platform/codec_registry.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/error_report.h"
#include "platform/game_path.h"
#include "platform/ui.h"
#include "storage/codec_loading.h"
#include "tests/storage/pack_test_folder.h"

namespace zk {
namespace {

using platform::CodecLibraryId;
using testing_support::Cp932;
using testing_support::PatternBytes;

struct Box {
    std::string text;
    std::optional<std::string> caption;  // nullopt: no caption
    bool operator==(const Box&) const = default;
};

Box NoCaption(std::string_view utf8) { return {Cp932(utf8), std::nullopt}; }

class CodecLoadingTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetCodecRegistry();
        platform::InstallUi(&ui_);
    }
    void TearDown() override {
        platform::InstallUi(nullptr);
        platform::ResetCodecRegistry();
    }

    std::vector<Box> Boxes() const {
        std::vector<Box> boxes;
        for (const auto& box : ui_.boxes) boxes.push_back({box.text, box.caption});
        return boxes;
    }

    platform::RecordingUi ui_;
};

TEST_F(CodecLoadingTest, EveryLibraryPresentLoadsSilentlyAndBindsWorkingEntries) {
    EXPECT_TRUE(LoadCodecLibraries());
    EXPECT_TRUE(ui_.boxes.empty());
    const platform::CodecRegistry& codecs = platform::Codecs();
    ASSERT_NE(codecs.devod.uncompress, nullptr);
    ASSERT_NE(codecs.devod.compress, nullptr);
    ASSERT_NE(codecs.zksnp.compressed_length, nullptr);
    ASSERT_NE(codecs.zksnp.compress, nullptr);
    ASSERT_NE(codecs.zksnp.uncompressed_length, nullptr);
    ASSERT_NE(codecs.zksnp.uncompress, nullptr);
    EXPECT_TRUE(platform::CodecLibrary(CodecLibraryId::kZkpng).loaded);

    std::vector<uint8_t> data = PatternBytes(5000);
    data.insert(data.end(), 3000, 'z');  // something to squeeze

    // zlib-style: an RFC 1950 stream that zlib itself reads back.
    std::vector<uint8_t> packed(6000);
    uint32_t packed_length = static_cast<uint32_t>(packed.size());
    ASSERT_EQ(codecs.devod.compress(packed.data(), &packed_length, data.data(), static_cast<uint32_t>(data.size()), 9),
              0);
    EXPECT_LT(packed_length, data.size());
    std::vector<uint8_t> unpacked(data.size());
    uLongf zlib_length = unpacked.size();
    ASSERT_EQ(uncompress(unpacked.data(), &zlib_length, packed.data(), packed_length), Z_OK);
    EXPECT_EQ(unpacked, data);
    uint32_t unpacked_length = static_cast<uint32_t>(unpacked.size());
    std::fill(unpacked.begin(), unpacked.end(), 0);
    ASSERT_EQ(codecs.devod.uncompress(unpacked.data(), &unpacked_length, packed.data(), packed_length), 0);
    EXPECT_EQ(unpacked, data);
    unpacked_length = 100;
    EXPECT_EQ(codecs.devod.uncompress(unpacked.data(), &unpacked_length, packed.data(), packed_length), -5);
    packed[packed_length - 1] ^= 1;  // the Adler-32 tail
    unpacked_length = static_cast<uint32_t>(unpacked.size());
    EXPECT_EQ(codecs.devod.uncompress(unpacked.data(), &unpacked_length, packed.data(), packed_length), -3);

    // Snappy-style: raw blocks.
    std::vector<uint8_t> block(codecs.zksnp.compressed_length(data.size()));
    size_t block_length = block.size();
    ASSERT_EQ(codecs.zksnp.compress(data.data(), data.size(), block.data(), &block_length), 0);
    size_t told = 0;
    ASSERT_EQ(codecs.zksnp.uncompressed_length(block.data(), block_length, &told), 0);
    EXPECT_EQ(told, data.size());
    std::vector<uint8_t> restored(told);
    size_t restored_length = restored.size();
    ASSERT_EQ(codecs.zksnp.uncompress(block.data(), block_length, restored.data(), &restored_length), 0);
    EXPECT_EQ(restored, data);
    EXPECT_NE(codecs.zksnp.uncompress(block.data(), block_length / 2, restored.data(), &restored_length), 0);

    UnloadCodecLibraries();
    EXPECT_EQ(codecs.devod.uncompress, nullptr);
    EXPECT_EQ(codecs.zksnp.uncompress, nullptr);
    for (CodecLibraryId id : {CodecLibraryId::kDevod, CodecLibraryId::kZkpng, CodecLibraryId::kZksnp})
        EXPECT_FALSE(platform::CodecLibrary(id).loaded);
}

TEST_F(CodecLoadingTest, EachMissingLibraryOrEntryShowsItsMessageAndStartUpGoesOn) {
    const std::string not_found = "\r\n\r\nエラー番号 = 126\r\n\r\n指定されたモジュールが見つかりません。\r\n";
    struct Case {
        const char* what;
        std::function<void()> setup;
        std::vector<Box> boxes;
        bool zksnp_loaded;
    };
    const std::vector<Case> cases = {
        {"no DEVOD.DLL",
         [] { platform::SetCodecAvailable(CodecLibraryId::kDevod, false); },
         {{Cp932("DEVOD.DLL エラーです。" + not_found), ""}},
         true},
        {"DEVOD.DLL without its compress entry",
         [] { platform::SetCodecEntryMissing(CodecLibraryId::kDevod, platform::kDevodCompress, true); },
         {NoCaption("DEVOD_PRELOAD が見つかりません。")},
         true},
        {"DEVOD.DLL without either entry",
         [] {
             platform::SetCodecEntryMissing(CodecLibraryId::kDevod, platform::kDevodUncompress, true);
             platform::SetCodecEntryMissing(CodecLibraryId::kDevod, platform::kDevodCompress, true);
         },
         {NoCaption("DEVOD_PRELOAD が見つかりません。"), NoCaption("DEVOD_PRELOAD が見つかりません。")},
         true},
        {"no ZKPNG.DLL",
         [] { platform::SetCodecAvailable(CodecLibraryId::kZkpng, false); },
         {{Cp932("ZKPNG.DLL エラーです。" + not_found), ""}},
         true},
        {"ZKPNG.DLL without any entry",
         [] {
             for (uint8_t e : {platform::kZkpngEnd, platform::kZkpngLoad, platform::kZkpngPreload})
                 platform::SetCodecEntryMissing(CodecLibraryId::kZkpng, e, true);
         },
         {NoCaption("ZKPNG_PRELOAD が見つかりません。"), NoCaption("ZKPNG_LOAD が見つかりません。"),
          NoCaption("ZKPNG_END が見つかりません。")},
         true},
        {"no ZKSNP.DLL",
         [] { platform::SetCodecAvailable(CodecLibraryId::kZksnp, false); },
         {{Cp932("ZKSNP.DLL エラーです。" + not_found), ""}},
         false},
        {"ZKSNP.DLL without any entry",
         [] {
             for (uint8_t e : {platform::kZksnpCompressedLength, platform::kZksnpCompress,
                               platform::kZksnpUncompressedLength, platform::kZksnpUncompress})
                 platform::SetCodecEntryMissing(CodecLibraryId::kZksnp, e, true);
         },
         {NoCaption("ZKSnp_Uncompress が見つかりません。"), NoCaption("ZKSnp_Compress が見つかりません。"),
          NoCaption("ZKSnp_UncompressedLength が見つかりません。")},
         true},
        {"ZKSNP.DLL without ZKSnp_CompressedLength, which is not checked",
         [] { platform::SetCodecEntryMissing(CodecLibraryId::kZksnp, platform::kZksnpCompressedLength, true); },
         {},
         true},
        {"nothing at all",
         [] {
             for (CodecLibraryId id : {CodecLibraryId::kDevod, CodecLibraryId::kZkpng, CodecLibraryId::kZksnp})
                 platform::SetCodecAvailable(id, false);
         },
         {{Cp932("DEVOD.DLL エラーです。" + not_found), ""},
          {Cp932("ZKPNG.DLL エラーです。" + not_found), ""},
          {Cp932("ZKSNP.DLL エラーです。" + not_found), ""}},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::ResetCodecRegistry();
        ui_.boxes.clear();
        c.setup();
        EXPECT_EQ(LoadCodecLibraries(), c.zksnp_loaded);
        EXPECT_EQ(Boxes(), c.boxes);
    }
}

// The compress entry at every level a caller passes: a stream zlib reads
// back, never larger than zlib's own at level 9 for a picture, the zlib
// statuses for a level out of range and for a destination too small.
TEST_F(CodecLoadingTest, CompressEntryMatchesZlibAtEveryLevel) {
    ASSERT_TRUE(LoadCodecLibraries());
    const platform::DevodCompressFn compress = platform::Codecs().devod.compress;
    ASSERT_NE(compress, nullptr);
    // A small picture: gradients, flat runs and a little noise, 32-bit pixels.
    std::vector<uint8_t> picture;
    uint32_t noise = 7;
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 160; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const bool flat = (x / 40 + y / 24) % 2 == 0;
            picture.push_back(static_cast<uint8_t>(flat ? 200 : x + (noise >> 30)));
            picture.push_back(static_cast<uint8_t>(flat ? 90 : y * 2));
            picture.push_back(static_cast<uint8_t>(flat ? 30 : (x ^ y)));
            picture.push_back(255);
        }
    }
    uLongf zlib9 = compressBound(picture.size());
    std::vector<uint8_t> reference(zlib9);
    ASSERT_EQ(compress2(reference.data(), &zlib9, picture.data(), picture.size(), 9), Z_OK);
    for (int32_t level : {-1, 0, 1, 5, 6, 9}) {
        SCOPED_TRACE(level);
        std::vector<uint8_t> packed(compressBound(picture.size()));
        uint32_t length = static_cast<uint32_t>(packed.size());
        ASSERT_EQ(compress(packed.data(), &length, picture.data(), static_cast<uint32_t>(picture.size()), level), 0);
        if (level >= 6 || level == -1) {
            EXPECT_LE(length, zlib9);
        }
        std::vector<uint8_t> unpacked(picture.size());
        uLongf unpacked_length = unpacked.size();
        ASSERT_EQ(uncompress(unpacked.data(), &unpacked_length, packed.data(), length), Z_OK);
        EXPECT_EQ(unpacked, picture);
    }
    std::vector<uint8_t> packed(64);
    uint32_t length = static_cast<uint32_t>(packed.size());
    EXPECT_EQ(compress(packed.data(), &length, picture.data(), static_cast<uint32_t>(picture.size()), 9), Z_BUF_ERROR);
    length = static_cast<uint32_t>(packed.size());
    EXPECT_EQ(compress(packed.data(), &length, picture.data(), 16, 10), Z_STREAM_ERROR);
    EXPECT_EQ(compress(packed.data(), &length, picture.data(), 16, -2), Z_STREAM_ERROR);
}

TEST_F(CodecLoadingTest, AMissingLibraryOrEntryLeavesItsPointersNull) {
    platform::SetCodecAvailable(CodecLibraryId::kDevod, false);
    platform::SetCodecEntryMissing(CodecLibraryId::kZksnp, platform::kZksnpCompress, true);
    LoadCodecLibraries();
    const platform::CodecRegistry& codecs = platform::Codecs();
    EXPECT_FALSE(platform::CodecLibrary(CodecLibraryId::kDevod).loaded);
    EXPECT_EQ(codecs.devod.uncompress, nullptr);
    EXPECT_EQ(codecs.devod.compress, nullptr);
    EXPECT_TRUE(platform::CodecLibrary(CodecLibraryId::kZksnp).loaded);
    EXPECT_EQ(codecs.zksnp.compress, nullptr);
    EXPECT_NE(codecs.zksnp.uncompress, nullptr);
}

}  // namespace
}  // namespace zk
