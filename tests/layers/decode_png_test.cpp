// PNG decoding: files written here with libpng in each colour type, and
// the pixels compared with libpng's own simplified reader; the statuses of
// refused files and a missing library.
#include <png.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "layers/cg_image.h"
#include "layers/image_decoders.h"
#include "platform/codec_registry.h"
#include "tests/layers/decoder_test_support.h"

namespace zk {
namespace {

using testing_support::DecoderTest;
using testing_support::PixelBytes;
using testing_support::SeenReport;

struct PngLayout {
    int width = 0;
    int height = 0;
    int colour_type = PNG_COLOR_TYPE_RGB;
    int bit_depth = 8;
    bool interlaced = false;
};

int Channels(int colour_type) {
    switch (colour_type) {
        case PNG_COLOR_TYPE_GRAY: return 1;
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        case PNG_COLOR_TYPE_RGB: return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
        default: return 1;  // palette
    }
}

// Sample c of pixel (x, y), in 0..(2^depth - 1).
uint32_t Sample(const PngLayout& layout, int x, int y, int c) {
    uint32_t max = (1u << std::min(layout.bit_depth, 8)) - 1;
    uint32_t v = uint32_t(x * 29 + y * 17 + c * 71 + (x * y) % 5) % (max + 1);
    return layout.bit_depth == 16 ? v * 257 : v;  // 16 bits: the 8-bit value in both bytes
}

void WriteToVector(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void FlushNothing(png_structp) {}

std::vector<uint8_t> WritePng(const PngLayout& layout) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the test file";
        return {};
    }
    png_set_write_fn(png, &out, WriteToVector, FlushNothing);
    png_set_IHDR(png, info, layout.width, layout.height, layout.bit_depth, layout.colour_type,
                 layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (layout.colour_type == PNG_COLOR_TYPE_PALETTE) {
        int entries = 1 << layout.bit_depth;
        std::vector<png_color> palette(entries);
        std::vector<png_byte> alpha(entries);
        for (int i = 0; i < entries; ++i) {
            palette[i] = {png_byte(i * 13), png_byte(255 - i * 7), png_byte(i * 31)};
            alpha[i] = png_byte(i % 3 == 0 ? 0 : 255 - i * 11);
        }
        png_set_PLTE(png, info, palette.data(), entries);
        png_set_tRNS(png, info, alpha.data(), entries, nullptr);
    }
    png_write_info(png, info);
    int bits_per_pixel = Channels(layout.colour_type) * layout.bit_depth;
    size_t row_bytes = (size_t(layout.width) * bits_per_pixel + 7) / 8;
    std::vector<std::vector<png_byte>> rows(layout.height, std::vector<png_byte>(row_bytes, 0));
    for (int y = 0; y < layout.height; ++y) {
        for (int x = 0; x < layout.width; ++x) {
            for (int c = 0; c < Channels(layout.colour_type); ++c) {
                uint32_t v = Sample(layout, x, y, c);
                size_t bit = (size_t(x) * Channels(layout.colour_type) + c) * layout.bit_depth;
                if (layout.bit_depth == 16) {
                    rows[y][bit / 8] = png_byte(v >> 8);
                    rows[y][bit / 8 + 1] = png_byte(v);
                } else {
                    rows[y][bit / 8] |= png_byte(v << (8 - layout.bit_depth - bit % 8));
                }
            }
        }
    }
    std::vector<png_bytep> pointers;
    for (auto& row : rows) pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// libpng's own decode, as B, G, R, A.
std::vector<uint8_t> ReferenceDecode(const std::vector<uint8_t>& file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return {};
    image.format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    return pixels;
}

struct ColourCase {
    const char* name;
    PngLayout layout;
    uint8_t alpha_in_use;
};

class PngColourTest : public DecoderTest, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(PngColourTest, MatchesLibpng) {
    const ColourCase& c = GetParam();
    std::vector<uint8_t> file = WritePng(c.layout);
    CgImage image;
    ASSERT_EQ(DecodePngBytes(file, image, "a.png"), 0);
    EXPECT_EQ(ErrorReporter().reports, 0u);
    ASSERT_EQ(image.width, c.layout.width);
    ASSERT_EQ(image.height, c.layout.height);
    EXPECT_EQ(image.alpha_in_use, c.alpha_in_use);
    std::vector<uint8_t> expected = ReferenceDecode(file);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(PixelBytes(image), expected);
}

INSTANTIATE_TEST_SUITE_P(ColourTypes, PngColourTest,
                         ::testing::Values(ColourCase{"rgb", {5, 4, PNG_COLOR_TYPE_RGB, 8, false}, 0},
                                           ColourCase{"rgba", {6, 3, PNG_COLOR_TYPE_RGB_ALPHA, 8, false}, 1},
                                           ColourCase{"palette_with_transparency",
                                                      {7, 5, PNG_COLOR_TYPE_PALETTE, 4, false}, 1},
                                           ColourCase{"grey", {9, 2, PNG_COLOR_TYPE_GRAY, 8, false}, 0},
                                           ColourCase{"grey_one_bit", {11, 3, PNG_COLOR_TYPE_GRAY, 1, false}, 0},
                                           ColourCase{"grey_alpha", {4, 4, PNG_COLOR_TYPE_GRAY_ALPHA, 8, false}, 1},
                                           ColourCase{"interlaced", {13, 11, PNG_COLOR_TYPE_RGB_ALPHA, 8, true}, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecoderTest, Png16BitKeepsTheHighByte) {
    // libpng's simplified reader treats 16-bit samples as linear light and
    // converts them; the engine takes them as they are. Each sample was
    // written as v * 257, so it must read back as v.
    PngLayout layout{6, 5, PNG_COLOR_TYPE_RGB_ALPHA, 16, false};
    CgImage image;
    ASSERT_EQ(DecodePngBytes(WritePng(layout), image, "a.png"), 0);
    for (int y = 0; y < layout.height; ++y) {
        for (int x = 0; x < layout.width; ++x) {
            const uint8_t* p = image.owned_block.data() + (size_t(y) * layout.width + x) * 4;
            ASSERT_EQ(p[2], Sample(layout, x, y, 0) / 257);
            ASSERT_EQ(p[1], Sample(layout, x, y, 1) / 257);
            ASSERT_EQ(p[0], Sample(layout, x, y, 2) / 257);
            ASSERT_EQ(p[3], Sample(layout, x, y, 3) / 257);
        }
    }
}

struct RefusedCase {
    const char* name;
    std::function<std::vector<uint8_t>()> file;
    int32_t status;
    std::vector<SeenReport> reports;
};

class PngRefusedTest : public DecoderTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(PngRefusedTest, FailsWithItsStatus) {
    const RefusedCase& c = GetParam();
    CgImage image;
    EXPECT_EQ(DecodePngBytes(c.file(), image, "bad.png"), c.status);
    EXPECT_EQ(Reports(), c.reports);
}

std::vector<uint8_t> CutPng(size_t keep) {
    std::vector<uint8_t> file = WritePng({40, 30, PNG_COLOR_TYPE_RGB, 8, false});
    file.resize(keep);
    return file;
}

INSTANTIATE_TEST_SUITE_P(
    Files, PngRefusedTest,
    ::testing::Values(
        RefusedCase{"not_a_png", [] { return std::vector<uint8_t>{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}; }, 101,
                    {{100200, false, ""}}},
        RefusedCase{"empty", [] { return std::vector<uint8_t>{}; }, 101, {{100200, false, ""}}},
        RefusedCase{"signature_only", [] { return CutPng(8); }, 101, {{100200, false, ""}}},
        RefusedCase{"image_data_cut_short", [] { return CutPng(120); }, 101, {{100200, false, ""}}},
        RefusedCase{"width_8193", [] { return WritePng({8193, 1, PNG_COLOR_TYPE_GRAY, 8, false}); }, 102,
                    {{100091, true, "bad.png"}}},
        RefusedCase{"height_8193", [] { return WritePng({1, 8193, PNG_COLOR_TYPE_GRAY, 8, false}); }, 102,
                    {{100091, true, "bad.png"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecoderTest, PngWithoutTheLibraryFailsQuietly) {
    // Start-up has already said the library or its entries are missing.
    std::vector<uint8_t> file = WritePng({4, 4, PNG_COLOR_TYPE_RGB, 8, false});
    platform::UnloadCodecLibrary(platform::CodecLibraryId::kZkpng);
    CgImage image;
    EXPECT_NE(DecodePngBytes(file, image, "a.png"), 0);

    platform::LoadCodecLibrary(platform::CodecLibraryId::kZkpng);
    platform::SetCodecEntryMissing(platform::CodecLibraryId::kZkpng, platform::kZkpngLoad, true);
    EXPECT_NE(DecodePngBytes(file, image, "a.png"), 0);
    EXPECT_EQ(ErrorReporter().reports, 0u);
}

}  // namespace
}  // namespace zk
