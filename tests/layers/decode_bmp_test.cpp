// BMP decoding: every depth against pixels computed from the palette and
// the values the writer was given; the header and layout checks, each
// malformed file a row of one table.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "layers/cg_image.h"
#include "images/image_decoders.h"
#include "tests/layers/decoder_test_support.h"
#include "tools/lib/bmp_writer.h"

namespace zk {
namespace {

using testing_support::DecoderTest;
using testing_support::PixelAt;
using testing_support::SeenReport;
using tools::BmpImage;

void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint32_t> Values(int32_t width, int32_t height, const std::function<uint32_t(int, int)>& at) {
    std::vector<uint32_t> values;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) values.push_back(at(x, y));
    }
    return values;
}

std::vector<uint32_t> GradientPalette(size_t entries) {
    std::vector<uint32_t> palette;
    for (size_t i = 0; i < entries; ++i) palette.push_back(uint32_t(i * 0x010203 + 0x102030) & 0xFFFFFF);
    return palette;
}

// What a pixel of a palette image must be: the entry's colour, opaque; an
// index beyond the colours the file has is opaque black.
uint32_t PaletteColour(const BmpImage& bmp, uint32_t index) {
    size_t count = bmp.colours_used.value_or(0) != 0 ? *bmp.colours_used : size_t{1} << bmp.bit_count;
    count = std::min(count, bmp.palette.size());
    return 0xFF000000u | (index < count ? bmp.palette[index] : 0);
}

struct DepthCase {
    const char* name;
    BmpImage bmp;
    uint8_t alpha_in_use;
};

class BmpDepthTest : public DecoderTest, public ::testing::WithParamInterface<DepthCase> {};

TEST_P(BmpDepthTest, DecodesEveryPixel) {
    const DepthCase& c = GetParam();
    const BmpImage& bmp = c.bmp;
    std::vector<uint8_t> file = tools::BuildBmp(bmp);
    CgImage image;
    ASSERT_EQ(DecodeBmpBytes(file, image, "a.bmp"), 0);
    EXPECT_EQ(ErrorReporter().reports, 0u);
    ASSERT_EQ(image.width, bmp.width);
    ASSERT_EQ(image.height, bmp.height);
    EXPECT_EQ(image.alpha_in_use, c.alpha_in_use);
    for (int y = 0; y < bmp.height; ++y) {
        for (int x = 0; x < bmp.width; ++x) {
            uint32_t value = bmp.values[size_t(y) * bmp.width + x];
            uint32_t expected = bmp.bit_count <= 8 ? PaletteColour(bmp, value)
                                : bmp.bit_count == 24 ? (0xFF000000u | value)
                                                      : value;
            ASSERT_EQ(PixelAt(image, x, y), expected) << c.name << " at " << x << "," << y;
        }
    }
}

BmpImage PaletteBmp(uint16_t bits, int32_t width, int32_t height, size_t palette_entries,
                    std::optional<uint32_t> colours_used = std::nullopt, uint32_t compression = 0) {
    BmpImage bmp;
    bmp.bit_count = bits;
    bmp.width = width;
    bmp.height = height;
    bmp.palette = GradientPalette(palette_entries);
    bmp.colours_used = colours_used;
    bmp.compression = compression;
    uint32_t modulus = 1u << bits;
    bmp.values = Values(width, height, [&](int x, int y) { return uint32_t(x * 7 + y * 3) % modulus; });
    return bmp;
}

BmpImage DirectBmp(uint16_t bits, int32_t width, int32_t height) {
    BmpImage bmp;
    bmp.bit_count = bits;
    bmp.width = width;
    bmp.height = height;
    bmp.values = Values(width, height, [&](int x, int y) {
        uint32_t rgb = uint32_t(x * 37 + 5) << 16 | uint32_t(y * 53 + 11) << 8 | uint32_t(x * y + 1);
        // 32 bits keeps its alpha, 0 included; 24 bits has none.
        return bits == 32 ? (uint32_t((x + y) * 40) << 24 | (rgb & 0xFFFFFF)) : (rgb & 0xFFFFFF);
    });
    return bmp;
}

INSTANTIATE_TEST_SUITE_P(
    Depths, BmpDepthTest,
    ::testing::Values(
        // Width 9: 2 bytes of pixels in a 4-byte row; the ninth pixel is bit 7 of byte 2.
        DepthCase{"1 bit", PaletteBmp(1, 9, 3, 2), 0},
        // biCompression is not examined at 1 bit.
        DepthCase{"1 bit, compression field set", PaletteBmp(1, 9, 3, 2, std::nullopt, 1), 0},
        // Odd width: the last pixel is the high nibble of its byte.
        DepthCase{"4 bits", PaletteBmp(4, 5, 3, 16), 0},
        DepthCase{"8 bits", PaletteBmp(8, 7, 4, 256), 0},
        // Two colours in the file: entries 2..255 are opaque black.
        DepthCase{"8 bits, two colours used", PaletteBmp(8, 7, 4, 2, 2), 0},
        // A count beyond the palette's size reads the 256 entries only.
        DepthCase{"8 bits, colour count too large", PaletteBmp(8, 6, 2, 256, 0xFFFFFFFF), 0},
        // Width 3: 9 bytes of pixels and 3 of padding per row.
        DepthCase{"24 bits", DirectBmp(24, 3, 2), 0},
        DepthCase{"24 bits, width 8192", DirectBmp(24, 8192, 1), 0},
        DepthCase{"32 bits", DirectBmp(32, 5, 3), 1}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST_F(DecoderTest, BmpFirstFileRowIsTheBottomRow) {
    BmpImage bmp = DirectBmp(24, 3, 2);
    std::vector<uint8_t> file = tools::BuildBmp(bmp);
    // The first stored row (right behind the headers) is image row 1.
    file[tools::kBmpHeadersBytes + 0] = 0x11;
    file[tools::kBmpHeadersBytes + 1] = 0x22;
    file[tools::kBmpHeadersBytes + 2] = 0x33;
    CgImage image;
    ASSERT_EQ(DecodeBmpBytes(file, image, "a.bmp"), 0);
    EXPECT_EQ(PixelAt(image, 0, 1), 0xFF332211u);
}

TEST_F(DecoderTest, BmpDepthWithoutConversionIsTransparent) {
    // A block the image already has is reused: the 16-bit file must not
    // leave the earlier picture showing.
    CgImage image;
    ASSERT_EQ(DecodeBmpBytes(tools::BuildBmp(DirectBmp(24, 4, 4)), image, "a.bmp"), 0);
    ASSERT_EQ(DecodeBmpBytes(tools::BuildBmp(DirectBmp(16, 4, 3)), image, "b.bmp"), 0);
    EXPECT_EQ(image.width, 4);
    EXPECT_EQ(image.height, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelAt(image, x, y), 0u);
    }
}

TEST_F(DecoderTest, BmpLastRowMayLackItsPadding) {
    std::vector<uint8_t> file = tools::BuildBmp(DirectBmp(24, 3, 2));
    file.resize(file.size() - 3);  // the padding of the last stored row
    CgImage image;
    EXPECT_EQ(DecodeBmpBytes(file, image, "a.bmp"), 0);
}

// ---- malformed files -------------------------------------------------------

struct MalformedCase {
    const char* name;
    std::function<std::vector<uint8_t>()> file;
    SeenReport report;
};

std::vector<uint8_t> WithField(BmpImage bmp, size_t field, uint32_t value) {
    std::vector<uint8_t> file = tools::BuildBmp(bmp);
    PutU32(file, field, value);
    return file;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> file, size_t size) {
    file.resize(size);
    return file;
}

class BmpMalformedTest : public DecoderTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(BmpMalformedTest, IsRefusedWithItsError) {
    const MalformedCase& c = GetParam();
    std::vector<uint8_t> file = c.file();
    CgImage image;
    EXPECT_EQ(DecodeBmpBytes(file, image, "bad.bmp"), -1);
    EXPECT_EQ(Reports(), std::vector<SeenReport>{c.report});
    EXPECT_NE(QuitFlag.load(), 0) << "every decoder error is fatal";
}

const SeenReport kNotBm{100070, true, "bad.bmp"};
const SeenReport kBadLayout{100080, true, "bad.bmp"};
const SeenReport kBadSize{100091, true, "bad.bmp"};
const SeenReport kTopDown{100092, true, "bad.bmp"};
const SeenReport kCompressed{100090, false, "bad.bmp"};

INSTANTIATE_TEST_SUITE_P(
    Files, BmpMalformedTest,
    ::testing::Values(
        MalformedCase{"empty", [] { return std::vector<uint8_t>{}; }, kNotBm},
        MalformedCase{"shorter than its headers", [] { return Cut(tools::BuildBmp(DirectBmp(24, 2, 2)), 53); }, kNotBm},
        MalformedCase{"not BM",
                      [] {
                          auto file = tools::BuildBmp(DirectBmp(24, 2, 2));
                          file[1] = 'X';
                          return file;
                      },
                      kNotBm},
        MalformedCase{"data offset below 11",
                      [] { return WithField(DirectBmp(24, 2, 2), tools::kBmpDataOffsetField, 10); }, kBadLayout},
        MalformedCase{"data offset beyond the file",
                      [] { return WithField(DirectBmp(24, 2, 2), tools::kBmpDataOffsetField, 0x7FFFFFF0); },
                      kBadLayout},
        MalformedCase{"rows cut short", [] { return Cut(tools::BuildBmp(DirectBmp(24, 5, 4)), 54 + 16 * 3 + 10); },
                      kBadLayout},
        MalformedCase{"height larger than the rows",
                      [] { return WithField(DirectBmp(32, 4, 4), tools::kBmpHeightField, 5000); }, kBadLayout},
        // Count 0 means 256 entries, which the 2-entry file does not hold.
        MalformedCase{"palette beyond the file",
                      [] { return WithField(PaletteBmp(8, 2, 1, 2), tools::kBmpColoursUsedField, 0); }, kBadLayout},
        MalformedCase{"width 0", [] { return WithField(DirectBmp(24, 2, 2), tools::kBmpWidthField, 0); }, kBadSize},
        // A negative width once wrapped the size of the pixel block.
        MalformedCase{"negative width",
                      [] { return WithField(DirectBmp(24, 2, 2), tools::kBmpWidthField, uint32_t(-5)); }, kBadSize},
        MalformedCase{"width 8193", [] { return WithField(DirectBmp(24, 2, 2), tools::kBmpWidthField, 8193); },
                      kBadSize},
        MalformedCase{"height 8193", [] { return WithField(DirectBmp(24, 2, 2), tools::kBmpHeightField, 8193); },
                      kBadSize},
        MalformedCase{"height 0", [] { return WithField(DirectBmp(24, 2, 2), tools::kBmpHeightField, 0); },
                      kBadSize},
        MalformedCase{"top-down", [] { return tools::BuildBmp([] {
                                      BmpImage bmp = DirectBmp(24, 2, 2);
                                      bmp.height = -2;
                                      return bmp;
                                  }()); },
                      kTopDown},
        MalformedCase{"compressed 8 bits", [] { return tools::BuildBmp(PaletteBmp(8, 4, 4, 256, std::nullopt, 1)); },
                      kCompressed},
        MalformedCase{"compressed 4 bits", [] { return tools::BuildBmp(PaletteBmp(4, 4, 4, 16, std::nullopt, 2)); },
                      kCompressed}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

}  // namespace
}  // namespace zk
