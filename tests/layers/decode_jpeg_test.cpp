// JPEG decoding: files written here with libjpeg, the pixels compared with
// libjpeg's own decode within 1; files cut short, markers that run past the
// end, garbage and sizes the engine refuses.
#include <cstdio>
#include <jpeglib.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "layers/cg_image.h"
#include "images/image_decoders.h"
#include "tests/layers/decoder_test_support.h"

namespace zk {
namespace {

using testing_support::DecoderTest;
using testing_support::PixelBytes;
using testing_support::SeenReport;

struct JpegLayout {
    int width = 0;
    int height = 0;
    J_COLOR_SPACE colour_space = JCS_RGB;
    bool progressive = false;
    int quality = 90;
};

int ComponentsOf(J_COLOR_SPACE space) {
    return space == JCS_GRAYSCALE ? 1 : space == JCS_CMYK ? 4 : 3;
}

std::vector<uint8_t> WriteJpeg(const JpegLayout& layout) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = layout.width;
    info.image_height = layout.height;
    info.input_components = ComponentsOf(layout.colour_space);
    info.in_color_space = layout.colour_space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, layout.quality, TRUE);
    if (layout.progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(size_t(layout.width) * info.input_components);
    while (info.next_scanline < info.image_height) {
        int y = int(info.next_scanline);
        for (int x = 0; x < layout.width; ++x) {
            for (int c = 0; c < info.input_components; ++c) {
                row[size_t(x) * info.input_components + c] = JSAMPLE((x * 11 + y * 7 + c * 60 + (x ^ y)) & 0xFF);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

// libjpeg's own decode with its own memory source, as the engine lays the
// pixels out: B, G, R, 255; grey (and anything but three components) from
// the first bytes of each row.
std::vector<uint8_t> ReferenceDecode(const std::vector<uint8_t>& file) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    errors.output_message = [](j_common_ptr) {};
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), file.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    std::vector<JSAMPLE> row(size_t(info.output_width) * info.output_components);
    std::vector<uint8_t> out;
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        for (JDIMENSION x = 0; x < info.output_width; ++x) {
            if (info.output_components == 3) {
                out.insert(out.end(), {row[x * 3 + 2], row[x * 3 + 1], row[x * 3], 0xFF});
            } else {
                out.insert(out.end(), {row[x], row[x], row[x], 0xFF});
            }
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return out;
}

void ExpectWithinOne(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        ASSERT_LE(std::abs(int(actual[i]) - int(expected[i])), 1) << "byte " << i;
    }
}

struct ImageCase {
    const char* name;
    JpegLayout layout;
};

class JpegImageTest : public DecoderTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(JpegImageTest, MatchesLibjpeg) {
    const JpegLayout& layout = GetParam().layout;
    std::vector<uint8_t> file = WriteJpeg(layout);
    CgImage image;
    ASSERT_EQ(DecodeJpegBytes(file, image, "a.jpg"), 0);
    EXPECT_EQ(ErrorReporter().reports, 0u);
    ASSERT_EQ(image.width, layout.width);
    ASSERT_EQ(image.height, layout.height);
    EXPECT_EQ(image.alpha_in_use, 0);
    ExpectWithinOne(PixelBytes(image), ReferenceDecode(file));
}

INSTANTIATE_TEST_SUITE_P(Images, JpegImageTest,
                         ::testing::Values(ImageCase{"colour", {16, 8, JCS_RGB}},
                                           // A width that is not a multiple of 4 pixels.
                                           ImageCase{"colour_odd_width", {17, 9, JCS_RGB}},
                                           ImageCase{"grey", {10, 6, JCS_GRAYSCALE}},
                                           ImageCase{"progressive", {33, 21, JCS_RGB, true}},
                                           // Four components are read as grey from the start of each row.
                                           ImageCase{"cmyk", {12, 5, JCS_CMYK}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecoderTest, JpegGreyHasEqualChannels) {
    CgImage image;
    ASSERT_EQ(DecodeJpegBytes(WriteJpeg({10, 6, JCS_GRAYSCALE}), image, "a.jpg"), 0);
    for (size_t i = 0; i < size_t(image.width) * image.height; ++i) {
        const uint8_t* p = image.owned_block.data() + i * 4;
        ASSERT_EQ(p[0], p[1]);
        ASSERT_EQ(p[1], p[2]);
        ASSERT_EQ(p[3], 0xFF);
    }
}

TEST_F(DecoderTest, JpegCutShortIsFinishedAsLibjpegFinishesIt) {
    // The source gives libjpeg an end marker when the file runs out; it then
    // fills the rest of the image itself.
    std::vector<uint8_t> file = WriteJpeg({64, 48, JCS_RGB});
    file.resize(file.size() * 2 / 3);
    CgImage image;
    ASSERT_EQ(DecodeJpegBytes(file, image, "a.jpg"), 0);
    ExpectWithinOne(PixelBytes(image), ReferenceDecode(file));
}

struct BadCase {
    const char* name;
    std::function<std::vector<uint8_t>()> file;
    int32_t result;
    std::vector<SeenReport> reports;
};

class JpegBadTest : public DecoderTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(JpegBadTest, Fails) {
    const BadCase& c = GetParam();
    CgImage image;
    EXPECT_EQ(DecodeJpegBytes(c.file(), image, "bad.jpg"), c.result);
    EXPECT_EQ(Reports(), c.reports);
}

std::vector<uint8_t> Cut(std::vector<uint8_t> file, size_t size) {
    file.resize(size);
    return file;
}

INSTANTIATE_TEST_SUITE_P(
    Files, JpegBadTest,
    ::testing::Values(
        BadCase{"empty", [] { return std::vector<uint8_t>{}; }, -2, {}},
        BadCase{"garbage", [] { return std::vector<uint8_t>(100, 0x5A); }, -2, {}},
        BadCase{"start_marker_only", [] { return std::vector<uint8_t>{0xFF, 0xD8}; }, -2, {}},
        // An application marker whose length reaches far past the end: the
        // skip stops at the end of the file.
        BadCase{"marker_past_the_end",
                [] { return std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 'E', 'x', 'i', 'f'}; }, -2, {}},
        BadCase{"header_cut_short", [] { return Cut(WriteJpeg({16, 16, JCS_RGB}), 60); }, -2, {}},
        BadCase{"width_8193", [] { return WriteJpeg({8193, 1, JCS_GRAYSCALE}); }, -3, {{100091, true, "bad.jpg"}}},
        BadCase{"height_8193", [] { return WriteJpeg({1, 8193, JCS_GRAYSCALE}); }, -3, {{100091, true, "bad.jpg"}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zk
