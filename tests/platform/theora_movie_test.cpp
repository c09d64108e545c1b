// The Theora movie library: frame totals, frames decoded forward (and back)
// equal to libtheoradec's own output through the conversion formula, odd
// picture sizes and offsets, and files it must refuse or survive.
#include "platform/theora_movie.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/theora_reference.h"
#include "tools/lib/movie_writer.h"

namespace zk::platform {
namespace {

using testing_support::DecodeReferenceMovie;
using tools::ChromaLayout;
using tools::TheoraSpec;

// The engine's side of the library: the file bytes and a frame buffer.
struct Sink {
    std::vector<uint8_t> file;
    int32_t width = 1, height = 1;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(4);
    int resizes = 0;

    TheoraMovieCallbacks Callbacks() {
        TheoraMovieCallbacks c;
        c.user = this;
        c.read = [](void* user, uint8_t* destination, uint64_t position, size_t count) -> size_t {
            auto& file = static_cast<Sink*>(user)->file;
            if (position >= file.size()) return 0;
            const size_t n = std::min<uint64_t>(count, file.size() - position);
            std::memcpy(destination, file.data() + position, n);
            return n;
        };
        c.size = [](void* user) -> uint64_t { return static_cast<Sink*>(user)->file.size(); };
        c.row = [](void* user, int32_t row) -> uint8_t* {
            auto* self = static_cast<Sink*>(user);
            if (row < 0 || row >= self->height) return nullptr;
            return self->pixels.data() + size_t(row) * size_t(self->width) * 4;
        };
        c.resize = [](void* user, int32_t width, int32_t height) -> int32_t {
            auto* self = static_cast<Sink*>(user);
            ++self->resizes;
            self->width = width;
            self->height = height;
            self->pixels.assign(size_t(width) * size_t(height) * 4, 0);
            return 0;
        };
        return c;
    }
    uint32_t Pixel(int32_t x, int32_t y) const {
        uint32_t p;
        std::memcpy(&p, pixels.data() + (size_t(y) * size_t(width) + size_t(x)) * 4, 4);
        return p;
    }
    // Mismatching pixels against a reference frame.
    int Mismatches(const std::vector<uint32_t>& expected) const {
        int bad = 0;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) bad += Pixel(x, y) != expected[size_t(y) * size_t(width) + size_t(x)];
        return bad;
    }
};

TEST(TheoraMovieTest, PixelFormulaMatchesBt601VideoRange) {
    EXPECT_EQ(TheoraPixel(16, 128, 128), 0xFF000000u);
    EXPECT_EQ(TheoraPixel(235, 128, 128), 0xFFFFFFFFu);
    EXPECT_EQ(TheoraPixel(16, 255, 0), 0xFF0036FFu);  // red clamped to 0, blue to 255
    EXPECT_EQ(TheoraPixel(81, 90, 240), testing_support::ReferencePixel(81, 90, 240));
}

struct LayoutCase {
    const char* name;
    ChromaLayout layout;
    uint32_t width, height, x, y;
    bool sound;
};

class TheoraLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

// Every frame forward, then frames out of order (a restart), equal to the
// reference; the resize callback got the picture's size once.
TEST_P(TheoraLayoutTest, FramesEqualLibraryOutputThroughTheFormula) {
    const LayoutCase& c = GetParam();
    TheoraSpec spec;
    spec.layout = c.layout;
    spec.pic_width = c.width;
    spec.pic_height = c.height;
    spec.pic_x = c.x;
    spec.pic_y = c.y;
    spec.frames = 20;
    spec.keyframe_every = 8;
    spec.with_sound = c.sound;
    Sink sink;
    sink.file = tools::TheoraMovieFile(spec);
    ASSERT_FALSE(sink.file.empty());
    const auto reference = DecodeReferenceMovie(sink.file);
    ASSERT_EQ(reference.frames.size(), 20u);

    TheoraVideoDecoder decoder;
    decoder.SetVerticalReverse(1);
    ASSERT_EQ(decoder.Load(sink.Callbacks()), 0);
    EXPECT_EQ(decoder.TotalFrames(), 20);
    EXPECT_EQ(sink.width, int32_t(c.width));
    EXPECT_EQ(sink.height, int32_t(c.height));
    EXPECT_EQ(sink.resizes, 1);
    for (int32_t f = 0; f < 20; f += 3) {
        ASSERT_EQ(decoder.DecodeFrame(f), 1) << f;
        EXPECT_EQ(sink.Mismatches(reference.frames[size_t(f)]), 0) << "frame " << f;
    }
    for (int32_t f : {19, 2, 2, 11, 0}) {
        ASSERT_EQ(decoder.DecodeFrame(f), 1) << f;
        EXPECT_EQ(sink.Mismatches(reference.frames[size_t(f)]), 0) << "frame " << f;
    }
    EXPECT_EQ(decoder.DecodeFrame(20), 0);
    EXPECT_EQ(decoder.DecodeFrame(-1), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TheoraLayoutTest,
                         ::testing::Values(LayoutCase{"yuv420", ChromaLayout::k420, 64, 48, 0, 0, false},
                                           LayoutCase{"yuv420_odd_offset", ChromaLayout::k420, 37, 23, 5, 3, true},
                                           LayoutCase{"yuv422_odd", ChromaLayout::k422, 33, 17, 1, 6, false},
                                           LayoutCase{"yuv444_odd_offset", ChromaLayout::k444, 41, 29, 7, 2, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TheoraMovieTest, WithoutVerticalReverseTheBottomRowComesFirst) {
    TheoraSpec spec;
    spec.pic_width = 16;
    spec.pic_height = 10;
    spec.frames = 2;
    Sink sink;
    sink.file = tools::TheoraMovieFile(spec);
    const auto reference = DecodeReferenceMovie(sink.file);
    TheoraVideoDecoder decoder;
    ASSERT_EQ(decoder.Load(sink.Callbacks()), 0);
    ASSERT_EQ(decoder.DecodeFrame(1), 1);
    for (int32_t y = 0; y < 10; ++y) EXPECT_EQ(sink.Pixel(3, y), reference.frames[1][size_t(9 - y) * 16 + 3]);
}

TEST(TheoraMovieTest, FilesWithoutADecodableStreamAreRefused) {
    TheoraSpec wide;
    wide.pic_width = 8200;  // the frame is 8208 wide: above the limit
    wide.pic_height = 16;
    wide.frames = 1;
    TheoraSpec plain;
    plain.frames = 3;
    const std::vector<uint8_t> good = tools::TheoraMovieFile(plain);
    const std::vector<std::vector<uint8_t>> files = {
        {},
        {'O', 'g', 'g', 'S'},
        tools::OggVorbisFile(1, 8000, 800, tools::SineTone(300, 8000, 1000), 3),  // sound only
        tools::TheoraMovieFile(wide),
        std::vector<uint8_t>(good.begin(), good.begin() + 60),  // cut inside the headers
    };
    for (size_t i = 0; i < files.size(); ++i) {
        Sink sink;
        sink.file = files[i];
        TheoraVideoDecoder decoder;
        decoder.SetVerticalReverse(1);
        EXPECT_EQ(decoder.Load(sink.Callbacks()), -1) << i;
        EXPECT_EQ(decoder.TotalFrames(), 0) << i;
        EXPECT_EQ(decoder.DecodeFrame(0), 0) << i;
        EXPECT_EQ(sink.resizes, 0) << i;
    }
}

// A file cut short or with damaged packets: the frames still there decode,
// the missing ones answer 0, nothing is read outside the bytes.
TEST(TheoraMovieTest, DamagedAndTruncatedFilesDecodeWhatTheyHold) {
    TheoraSpec spec;
    spec.frames = 40;
    spec.keyframe_every = 10;
    const std::vector<uint8_t> good = tools::TheoraMovieFile(spec);
    {
        Sink sink;
        sink.file.assign(good.begin(), good.begin() + ptrdiff_t(good.size() * 2 / 3));
        TheoraVideoDecoder decoder;
        decoder.SetVerticalReverse(1);
        ASSERT_EQ(decoder.Load(sink.Callbacks()), 0);
        const int32_t total = decoder.TotalFrames();
        EXPECT_GT(total, 0);
        EXPECT_LT(total, 40);
        EXPECT_EQ(decoder.DecodeFrame(0), 1);
        EXPECT_EQ(decoder.DecodeFrame(total - 1), 1);
    }
    {
        Sink sink;
        sink.file = good;
        for (size_t i = good.size() / 3; i < good.size(); i += 97) sink.file[i] ^= 0x5A;
        TheoraVideoDecoder decoder;
        decoder.SetVerticalReverse(1);
        if (decoder.Load(sink.Callbacks()) == 0) {
            for (int32_t f = 0; f < decoder.TotalFrames(); ++f) decoder.DecodeFrame(f);
        }
    }
}

}  // namespace
}  // namespace zk::platform
