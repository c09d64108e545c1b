// GIF decoding: valid files (written with our LZW writer) give the index
// arrays and frame fields giflib reads from them, and frame 0 composed from
// its palette; malformed streams, each written code by code, stop only the
// line they break; malformed files are refused.
#include <gif_lib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "layers/cg_image.h"
#include "images/decode_gif.h"
#include "images/image_decoders.h"
#include "tests/layers/decoder_test_support.h"
#include "tools/lib/gif_writer.h"

namespace zk {
namespace {

using testing_support::DecoderTest;
using testing_support::PixelAt;
using testing_support::SeenReport;
using tools::GifImageDescriptor;
using tools::GifWriter;

// ---- giflib as the reference ---------------------------------------------------

struct MemoryInput {
    const std::vector<uint8_t>* bytes;
    size_t offset = 0;
};

int ReadMemory(GifFileType* gif, GifByteType* out, int length) {
    auto* input = static_cast<MemoryInput*>(gif->UserData);
    size_t n = std::min(size_t(length), input->bytes->size() - input->offset);
    std::memcpy(out, input->bytes->data() + input->offset, n);
    input->offset += n;
    return int(n);
}

struct ReferenceFrame {
    int left, top, width, height;
    std::vector<uint8_t> indices;
    int disposal = 0, delay = 0, transparent_index = -1;
};

std::vector<ReferenceFrame> ReadWithGiflib(const std::vector<uint8_t>& file) {
    MemoryInput input{&file};
    int error = 0;
    GifFileType* gif = DGifOpen(&input, ReadMemory, &error);
    EXPECT_NE(gif, nullptr);
    if (gif == nullptr) return {};
    EXPECT_EQ(DGifSlurp(gif), GIF_OK) << GifErrorString(gif->Error);
    std::vector<ReferenceFrame> frames;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        ReferenceFrame frame{image.ImageDesc.Left, image.ImageDesc.Top, image.ImageDesc.Width, image.ImageDesc.Height,
                             std::vector<uint8_t>(image.RasterBits,
                                                  image.RasterBits + image.ImageDesc.Width * image.ImageDesc.Height)};
        GraphicsControlBlock control;
        if (DGifSavedExtensionToGCB(gif, i, &control) == GIF_OK) {
            frame.disposal = control.DisposalMode;
            frame.delay = control.DelayTime;
            frame.transparent_index = control.TransparentColor;
        }
        frames.push_back(std::move(frame));
    }
    DGifCloseFile(gif, &error);
    return frames;
}

// ---- helpers -------------------------------------------------------------------

std::vector<uint8_t> Palette(int entries, int seed) {
    std::vector<uint8_t> palette;
    for (int i = 0; i < entries; ++i) {
        palette.insert(palette.end(), {uint8_t(i * 7 + seed), uint8_t(255 - i * 3 - seed), uint8_t(i * 11 + seed * 5)});
    }
    return palette;
}

std::vector<uint8_t> RandomIndices(size_t count, int colours, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> indices(count);
    // Runs of repeats as well as noise, so the table fills with long strings.
    for (size_t i = 0; i < count; ++i) {
        indices[i] = (i > 0 && random() % 3 != 0) ? indices[i - 1] : uint8_t(random() % colours);
    }
    return indices;
}

GifImageDescriptor Descriptor(uint16_t width, uint16_t height, int minimum_code_size = 8) {
    GifImageDescriptor d;
    d.width = width;
    d.height = height;
    d.minimum_code_size = minimum_code_size;
    return d;
}

const GifFrame& FrameOf(const CgImage& image, size_t k) {
    static const GifFrame kNone;
    if (image.gif_frames == nullptr || image.gif_frames->frames[k] == nullptr) return kNone;
    return *image.gif_frames->frames[k];
}

std::vector<uint8_t> IndicesOf(const CgImage& image, size_t k) {
    const PixelBlock& indices = FrameOf(image, k).indices;
    return std::vector<uint8_t>(indices.data(), indices.data() + indices.size());
}

void ExpectFramesMatchGiflib(const CgImage& image, const std::vector<uint8_t>& file) {
    std::vector<ReferenceFrame> reference = ReadWithGiflib(file);
    ASSERT_FALSE(reference.empty());
    ASSERT_EQ(image.gif_frames->frame_count, int(reference.size()));
    for (size_t k = 0; k < reference.size(); ++k) {
        const GifFrame& frame = FrameOf(image, k);
        EXPECT_EQ(frame.left, reference[k].left) << "frame " << k;
        EXPECT_EQ(frame.top, reference[k].top) << "frame " << k;
        EXPECT_EQ(frame.width, reference[k].width) << "frame " << k;
        EXPECT_EQ(frame.height, reference[k].height) << "frame " << k;
        EXPECT_EQ(IndicesOf(image, k), reference[k].indices) << "frame " << k;
        EXPECT_EQ(frame.disposal, reference[k].disposal) << "frame " << k;
        EXPECT_EQ(frame.delay, reference[k].delay) << "frame " << k;
        if (reference[k].transparent_index >= 0) {
            EXPECT_EQ(frame.transparency, 1) << "frame " << k;
            EXPECT_EQ(frame.transparent_index, reference[k].transparent_index) << "frame " << k;
        }
    }
}

// The pixel a palette entry becomes, alpha 255.
uint32_t Colour(const std::vector<uint8_t>& palette, uint8_t index) {
    return 0xFF000000u | uint32_t(palette[index * 3]) << 16 | uint32_t(palette[index * 3 + 1]) << 8 |
           palette[index * 3 + 2];
}

// ---- valid files ---------------------------------------------------------------

struct ValidCase {
    const char* name;
    std::function<std::vector<uint8_t>()> file;
};

class GifValidTest : public DecoderTest, public ::testing::WithParamInterface<ValidCase> {};

TEST_P(GifValidTest, MatchesGiflib) {
    std::vector<uint8_t> file = GetParam().file();
    CgImage image;
    ASSERT_EQ(DecodeGifBytes(file, image, "a.gif"), 0);
    EXPECT_EQ(ErrorReporter().reports, 0u);
    ExpectFramesMatchGiflib(image, file);
}

std::vector<uint8_t> OneFrame(uint16_t width, uint16_t height, int colours, int minimum_code_size, bool interlaced,
                              uint32_t seed) {
    GifImageDescriptor d = Descriptor(width, height, minimum_code_size);
    d.interlaced = interlaced;
    return GifWriter()
        .Header(width, height, Palette(colours, 1))
        .Image(d, RandomIndices(size_t(width) * height, colours, seed))
        .Trailer()
        .Take();
}

std::vector<uint8_t> Animation() {
    GifImageDescriptor second = Descriptor(6, 5);
    second.left = 2;
    second.top = 1;
    second.local_palette = Palette(16, 9);
    return GifWriter()
        .Header(10, 8, Palette(256, 2))
        .GraphicControl(1, false, 10, 0)
        .Image(Descriptor(10, 8), RandomIndices(80, 256, 1))
        .Looping(0)
        .GraphicControl(2, true, 25, 3)
        .Image(second, RandomIndices(30, 16, 2))
        .GraphicControl(3, false, 7, 0)
        .Image(Descriptor(4, 4), RandomIndices(16, 16, 3))
        .Trailer()
        .Take();
}

std::vector<uint8_t> WithLongExtensions() {
    std::vector<uint8_t> long_text(700, 'c');
    std::vector<std::vector<uint8_t>> comment{std::vector<uint8_t>(255, 'a'), std::vector<uint8_t>(255, 'b'), {'c'}};
    std::vector<uint8_t> icc_id{'I', 'C', 'C', 'R', 'G', 'B', 'G', '1', '0', '1', '2'};
    return GifWriter()
        .Header(5, 5, Palette(4, 3))
        .Extension(0xFE, comment)
        .Extension(0xFF, {icc_id, std::vector<uint8_t>(200, 0x11), std::vector<uint8_t>(255, 0x22), {0x33}})
        .Extension(0x01, {std::vector<uint8_t>(12, 0), std::vector<uint8_t>(255, 'x'), std::vector<uint8_t>(90, 'y')})
        .Image(Descriptor(5, 5, 2), RandomIndices(25, 4, 4))
        .Trailer()
        .Take();
}

INSTANTIATE_TEST_SUITE_P(
    Files, GifValidTest,
    ::testing::Values(ValidCase{"one_frame", [] { return OneFrame(10, 7, 256, 8, false, 1); }},
                      ValidCase{"two_bit_codes", [] { return OneFrame(17, 9, 4, 2, false, 2); }},
                      ValidCase{"interlaced", [] { return OneFrame(9, 13, 64, 6, true, 3); }},
                      // Enough data to fill the table several times: 12-bit codes and clears.
                      ValidCase{"full_tables", [] { return OneFrame(200, 150, 256, 8, false, 4); }},
                      ValidCase{"full_tables_interlaced", [] { return OneFrame(123, 77, 32, 5, true, 5); }},
                      ValidCase{"animation", Animation},
                      // Extensions of several sub-blocks are skipped whole.
                      ValidCase{"long_extensions", WithLongExtensions},
                      // Sub-blocks of one byte each.
                      ValidCase{"tiny_sub_blocks",
                                [] {
                                    auto indices = RandomIndices(64, 16, 6);
                                    auto codes = tools::EncodeGifLzw(4, indices);
                                    return GifWriter()
                                        .Header(8, 8, Palette(16, 0))
                                        .ImageCodes(Descriptor(8, 8, 4), codes, 1)
                                        .Trailer()
                                        .Take();
                                }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecoderTest, GifInterlacedColumnFillsRowsPassByPass) {
    // A 1 x 9 image: pass 1 fills rows 0 and 8, pass 2 row 4, pass 3 rows 2
    // and 6, pass 4 rows 1, 3, 5, 7. The stored order is 0 8 4 2 6 1 3 5 7.
    std::vector<int> codes{256, 10, 18, 14, 12, 16, 11, 13, 15, 17, 257};
    GifImageDescriptor d = Descriptor(1, 9);
    d.interlaced = true;
    std::vector<uint8_t> file = GifWriter().Header(1, 9, Palette(256, 0)).ImageCodes(d, codes).Trailer().Take();
    CgImage image;
    ASSERT_EQ(DecodeGifBytes(file, image, "a.gif"), 0);
    EXPECT_EQ(IndicesOf(image, 0), (std::vector<uint8_t>{10, 11, 12, 13, 14, 15, 16, 17, 18}));
}

TEST_F(DecoderTest, GifFrameFieldsCarryForward) {
    CgImage image;
    ASSERT_EQ(DecodeGifBytes(Animation(), image, "a.gif"), 0);
    const GifFrame& first = FrameOf(image, 0);
    const GifFrame& second = FrameOf(image, 1);
    const GifFrame& third = FrameOf(image, 2);
    // The looping extension comes after frame 0: it keeps the count 1.
    EXPECT_EQ(first.loop_count, 1);
    EXPECT_EQ(second.loop_count, 0);
    EXPECT_EQ(third.loop_count, 0);
    EXPECT_EQ(std::vector<uint8_t>(first.palette.begin(), first.palette.end()), Palette(256, 2));
    // The third frame has no local table: it uses the second frame's.
    std::vector<uint8_t> local = Palette(16, 9);
    EXPECT_TRUE(std::equal(local.begin(), local.end(), second.palette.begin()));
    EXPECT_EQ(third.palette, second.palette);
    EXPECT_EQ(second.transparency, 1);
    EXPECT_EQ(third.transparency, 0);
}

TEST_F(DecoderTest, GifComposesFrameZeroOnly) {
    // A 10 x 10 screen whose frame 0 is 4 x 4 at (2, 3); index 3 transparent.
    std::vector<uint8_t> palette = Palette(8, 5);
    std::vector<uint8_t> indices = RandomIndices(16, 8, 7);
    indices[5] = 3;
    GifImageDescriptor d = Descriptor(4, 4, 3);
    d.left = 2;
    d.top = 3;
    std::vector<uint8_t> file = GifWriter()
                                    .Header(10, 10, palette)
                                    .GraphicControl(0, true, 0, 3)
                                    .Image(d, indices)
                                    .GraphicControl(0, false, 0, 0)
                                    .Image(Descriptor(10, 10, 3), std::vector<uint8_t>(100, 1))
                                    .Trailer()
                                    .Take();
    CgImage image;
    ASSERT_EQ(DecodeGifBytes(file, image, "a.gif"), 0);
    ASSERT_EQ(image.width, 10);
    ASSERT_EQ(image.height, 10);
    // The shown frame has transparency, whatever a later frame says.
    EXPECT_EQ(image.alpha_in_use, 1);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            bool inside = x >= 2 && x < 6 && y >= 3 && y < 7;
            uint32_t expected = 0;  // outside frame 0: nothing written
            if (inside) {
                uint8_t index = indices[(y - 3) * 4 + (x - 2)];
                expected = index == 3 ? (Colour(palette, 3) & 0x00FFFFFF) : Colour(palette, index);
            }
            ASSERT_EQ(PixelAt(image, x, y), expected) << x << "," << y;
        }
    }
}

TEST_F(DecoderTest, GifFrameBeyondTheScreenIsClipped) {
    GifImageDescriptor d = Descriptor(8, 8, 2);
    d.left = 5;
    d.top = 6;
    std::vector<uint8_t> palette = Palette(4, 0);
    std::vector<uint8_t> file =
        GifWriter().Header(7, 7, palette).Image(d, std::vector<uint8_t>(64, 2)).Trailer().Take();
    CgImage image;
    ASSERT_EQ(DecodeGifBytes(file, image, "a.gif"), 0);
    EXPECT_EQ(PixelAt(image, 6, 6), Colour(palette, 2));
    EXPECT_EQ(PixelAt(image, 4, 6), 0u);
    EXPECT_EQ(image.alpha_in_use, 0);
}

TEST_F(DecoderTest, GifFrameTableIsReusedAndCleared) {
    CgImage image;
    ASSERT_EQ(DecodeGifBytes(Animation(), image, "a.gif"), 0);
    std::vector<uint8_t> old_second = IndicesOf(image, 1);
    // A one-frame file whose data ends after two pixels.
    std::vector<uint8_t> file =
        GifWriter().Header(10, 8, Palette(256, 0)).ImageCodes(Descriptor(10, 8), std::vector<int>{256, 7, 7}).Trailer().Take();
    ASSERT_EQ(DecodeGifBytes(file, image, "b.gif"), 0);
    EXPECT_EQ(image.gif_frames->frame_count, 1);
    std::vector<uint8_t> expected(80, 0);
    expected[0] = expected[1] = 7;
    EXPECT_EQ(IndicesOf(image, 0), expected) << "pixels the data never reached hold index 0";
    EXPECT_EQ(IndicesOf(image, 1), old_second) << "entries beyond the new file keep their frames";
}

// ---- malformed code streams ----------------------------------------------------

struct StreamCase {
    const char* name;
    uint16_t width, height;
    int minimum_code_size;
    std::vector<int> codes;
    std::vector<uint8_t> indices;  // what frame 0 holds afterwards
};

class GifStreamTest : public DecoderTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(GifStreamTest, StopsOnlyTheBrokenLine) {
    const StreamCase& c = GetParam();
    std::vector<uint8_t> file = GifWriter()
                                    .Header(c.width, c.height, Palette(1 << c.minimum_code_size, 0))
                                    .ImageCodes(Descriptor(c.width, c.height, c.minimum_code_size), c.codes)
                                    .Trailer()
                                    .Take();
    CgImage image;
    ASSERT_EQ(DecodeGifBytes(file, image, "a.gif"), 0);
    EXPECT_EQ(IndicesOf(image, 0), c.indices);
}

// Minimum code size 2: clear 4, end 5, first free entry 6.
INSTANTIATE_TEST_SUITE_P(
    Streams, GifStreamTest,
    ::testing::Values(
        // 7 is neither defined nor the code being defined (6).
        StreamCase{"undefined_code", 4, 2, 2, {4, 1, 7, 3, 0, 1, 5}, {1, 0, 0, 0, 3, 0, 1, 0}},
        StreamCase{"end_code_mid_line", 4, 2, 2, {4, 1, 5, 2, 3, 0, 1, 5}, {1, 0, 0, 0, 2, 3, 0, 1}},
        // Entry 6 ("1 1") is gone after the clear code.
        StreamCase{"entry_used_after_clear", 6, 1, 2, {4, 1, 1, 6, 4, 6, 2, 5}, {1, 1, 1, 1, 0, 0}},
        // The code being defined: the last string and its first character.
        StreamCase{"code_being_defined", 5, 1, 2, {4, 2, 6, 5}, {2, 2, 2, 0, 0}},
        // A string longer than the line goes on in the next line.
        StreamCase{"string_across_lines", 2, 3, 2, {4, 3, 6, 7, 5}, {3, 3, 3, 3, 3, 3}},
        StreamCase{"no_clear_code_first", 3, 1, 2, {2, 1, 0, 5}, {2, 1, 0}},
        StreamCase{"data_ends_early", 3, 3, 2, {4, 1, 2}, {1, 2, 0, 0, 0, 0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecoderTest, GifCodeSizeAbove11LeavesTheFrameEmpty) {
    std::vector<uint8_t> data = tools::GifSubBlocks(std::vector<uint8_t>(40, 0xAB));
    GifImageDescriptor bad = Descriptor(4, 4, 12);
    std::vector<uint8_t> file = GifWriter()
                                    .Header(4, 4, Palette(4, 0))
                                    .ImageData(bad, data)
                                    .Image(Descriptor(4, 4, 2), std::vector<uint8_t>(16, 3))
                                    .Trailer()
                                    .Take();
    CgImage image;
    ASSERT_EQ(DecodeGifBytes(file, image, "a.gif"), 0);
    EXPECT_EQ(IndicesOf(image, 0), std::vector<uint8_t>(16, 0));
    EXPECT_EQ(IndicesOf(image, 1), std::vector<uint8_t>(16, 3));
}

TEST_F(DecoderTest, GifEmptyFrameSkipsItsData) {
    std::vector<uint8_t> data = tools::GifSubBlocks(std::vector<uint8_t>(30, 0x21));
    std::vector<uint8_t> file = GifWriter()
                                    .Header(4, 4, Palette(4, 0))
                                    .ImageData(Descriptor(0, 4, 2), data)
                                    .Image(Descriptor(4, 4, 2), std::vector<uint8_t>(16, 2))
                                    .Trailer()
                                    .Take();
    CgImage image;
    ASSERT_EQ(DecodeGifBytes(file, image, "a.gif"), 0);
    EXPECT_EQ(image.gif_frames->frame_count, 2);
    EXPECT_EQ(IndicesOf(image, 1), std::vector<uint8_t>(16, 2));
}

TEST_F(DecoderTest, GifKeepsAtMost8192Frames) {
    GifWriter writer;
    writer.Header(1, 1, Palette(2, 0));
    for (int k = 0; k < 8195; ++k) writer.Image(Descriptor(1, 1, 2), std::vector<uint8_t>{uint8_t(k & 1)});
    CgImage image;
    ASSERT_EQ(DecodeGifBytes(writer.Trailer().Take(), image, "a.gif"), 0);
    EXPECT_EQ(image.gif_frames->frame_count, 8192);
    EXPECT_EQ(IndicesOf(image, 8191), std::vector<uint8_t>{1});
}

// All frames together hold at most 256 MiB of indices, what the composed
// 8192 x 8192 image takes itself: a long animation at 1280 x 720 and four
// full-screen frames are kept, one more pixel on top of those is refused.
TEST_F(DecoderTest, GifFramesHoldAtMostOneComposedFullScreenOfIndices) {
    struct Case {
        const char* name;
        int frames;
        uint16_t width, height;
        bool one_more_pixel;
        int32_t result;
    };
    const Case cases[] = {
        {"291_frames_of_1280x720", 291, 1280, 720, false, 0},
        {"four_frames_of_8192x8192", 4, 8192, 8192, false, 0},
        {"four_frames_of_8192x8192_and_a_pixel", 4, 8192, 8192, true, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GifWriter writer;
        writer.Header(2, 2);
        for (int k = 0; k < c.frames; ++k) writer.ImageCodes(Descriptor(c.width, c.height, 2), std::vector<int>{4, 5});
        if (c.one_more_pixel) writer.ImageCodes(Descriptor(1, 1, 2), std::vector<int>{4, 5});
        CgImage image;
        ASSERT_EQ(DecodeGifBytes(writer.Trailer().Take(), image, "a.gif"), c.result);
        if (c.result == 0) {
            EXPECT_EQ(image.gif_frames->frame_count, c.frames);
            EXPECT_EQ(FrameOf(image, c.frames - 1).indices.size(), size_t{c.width} * c.height);
        }
        EXPECT_EQ(Reports(), std::vector<SeenReport>{});
    }
}

// ---- malformed files -------------------------------------------------------------

struct BadCase {
    const char* name;
    std::function<std::vector<uint8_t>()> file;
    std::vector<SeenReport> reports;
};

class GifBadTest : public DecoderTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(GifBadTest, IsRefused) {
    const BadCase& c = GetParam();
    CgImage image;
    EXPECT_EQ(DecodeGifBytes(c.file(), image, "bad.gif"), -1);
    EXPECT_EQ(Reports(), c.reports);
}

std::vector<uint8_t> Minimal(uint16_t width, uint16_t height) {
    return GifWriter().Header(width, height, Palette(2, 0)).Image(Descriptor(1, 1, 2), std::vector<uint8_t>{1}).Trailer().Take();
}

const SeenReport kBadSize{100091, true, "bad.gif"};

INSTANTIATE_TEST_SUITE_P(
    Files, GifBadTest,
    ::testing::Values(
        BadCase{"empty", [] { return std::vector<uint8_t>{}; }, {kBadSize}},
        BadCase{"screen_width_8193", [] { return Minimal(8193, 1); }, {kBadSize}},
        BadCase{"screen_height_8193", [] { return Minimal(1, 8193); }, {kBadSize}},
        BadCase{"screen_width_0", [] { return Minimal(0, 5); }, {kBadSize}},
        BadCase{"no_trailer",
                [] {
                    auto file = Minimal(2, 2);
                    file.pop_back();
                    return file;
                },
                {}},
        BadCase{"cut_in_an_image",
                [] {
                    auto file = OneFrame(30, 30, 256, 8, false, 9);
                    file.resize(file.size() / 2);
                    return file;
                },
                {}},
        BadCase{"unknown_introducer",
                [] { return GifWriter().Header(2, 2, Palette(2, 0)).Raw(std::vector<uint8_t>{0x2B}).Trailer().Take(); },
                {}},
        BadCase{"unknown_extension", [] { return GifWriter().Header(2, 2).Extension(0x44, {{1, 2}}).Trailer().Take(); },
                {}},
        // 65535 x 65535 indices are more than a file's frames may hold.
        BadCase{"frame_too_large",
                [] { return GifWriter().Header(2, 2).ImageCodes(Descriptor(65535, 65535, 2), std::vector<int>{4, 5}).Trailer().Take(); },
                {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zk
