// StretchBlit (the StretchDIBits stand-in) into the headless framebuffers
// and an SDL window surface, and PNG snapshots read back through libpng.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/headless_window_system.h"
#include "platform/png_snapshot.h"
#include "platform/window_system.h"

namespace zk::platform {
namespace {

using Pixel = std::array<uint8_t, 4>;  // B, G, R, X
constexpr uint32_t kPopupStyle = 0x82000000u;  // no frame: the client area is the window

int64_t IgnoreMessages(WindowHandle, uint32_t, uint64_t, int64_t) { return 0; }

// Memory row r (0 = first in memory) of a 3 x 2 block: every pixel names its row and column.
Pixel MemoryPixel(int32_t x, int32_t r) { return {uint8_t(10 * r + x), uint8_t(100 + x), uint8_t(200 + r), 7}; }

std::vector<uint8_t> Block(int32_t width, int32_t rows) {
    std::vector<uint8_t> bytes;
    for (int32_t r = 0; r < rows; ++r)
        for (int32_t x = 0; x < width; ++x) {
            const Pixel p = MemoryPixel(x, r);
            bytes.insert(bytes.end(), p.begin(), p.end());
        }
    return bytes;
}

Pixel At(const ClientImage& frame, int32_t x, int32_t y) {
    const uint8_t* q = &frame.pixels[(size_t(y) * frame.width + x) * 4];
    return {q[0], q[1], q[2], q[3]};
}

class WindowBlitTest : public ::testing::Test {
protected:
    void SetUp() override {
        windows_ = CreateHeadlessWindowSystem();
        const std::string name = "zktest-blit-" + std::to_string(getpid());
        ASSERT_TRUE(windows_->RegisterClass(name, IgnoreMessages));
        WindowCreateParams params;
        params.class_name = name;
        params.style = kPopupStyle;
        params.width = 8;
        params.height = 6;
        window_ = windows_->CreateWindow(params);
        ASSERT_NE(window_, kNoWindow);
    }

    ClientImage Frame() {
        ClientImage frame;
        EXPECT_TRUE(windows_->ReadClientPixels(window_, frame));
        return frame;
    }

    std::unique_ptr<HeadlessWindowSystem> windows_;
    WindowHandle window_ = kNoWindow;
};

TEST_F(WindowBlitTest, ANewWindowIsBlackAndTheSizeOfItsClientArea) {
    const ClientImage frame = Frame();
    EXPECT_EQ(frame.width, 8);
    EXPECT_EQ(frame.height, 6);
    for (uint8_t b : frame.pixels) ASSERT_EQ(b, 0);
}

// The source rectangle's y counts up from the block's bottom row, whichever
// way the rows lie in memory; a top-down block (negative height) has its
// top row first.
TEST_F(WindowBlitTest, SourceRowsCountFromTheBottomInBothOrientations) {
    const std::vector<uint8_t> bytes = Block(3, 2);
    for (int32_t height : {2, -2}) {
        SCOPED_TRACE(height);
        // The top row of the picture: memory row 1 bottom-up, 0 top-down.
        const int32_t top_memory_row = height > 0 ? 1 : 0;
        // Source (1, 1, 2, 1): DIB row 1 counted from the bottom, the top row.
        ASSERT_TRUE(windows_->StretchBlit(window_, {4, 3, 2, 1}, {bytes, 3, height}, {1, 1, 2, 1}));
        ClientImage frame = Frame();
        EXPECT_EQ(At(frame, 4, 3), MemoryPixel(1, top_memory_row));
        EXPECT_EQ(At(frame, 5, 3), MemoryPixel(2, top_memory_row));
        // The whole block 1:1: its top row lands on the destination's top row.
        ASSERT_TRUE(windows_->StretchBlit(window_, {0, 0, 3, 2}, {bytes, 3, height}, {0, 0, 3, 2}));
        frame = Frame();
        for (int32_t y = 0; y < 2; ++y)
            for (int32_t x = 0; x < 3; ++x)
                EXPECT_EQ(At(frame, x, y), MemoryPixel(x, height > 0 ? 1 - y : y)) << x << "," << y;
    }
}

// Different sizes drop or repeat rows and columns: destination pixel i
// takes source pixel (i * source size) / destination size.
TEST_F(WindowBlitTest, StretchingTakesTheNearestPixel) {
    const std::vector<uint8_t> bytes = Block(3, 2);
    ASSERT_TRUE(windows_->StretchBlit(window_, {1, 1, 7, 4}, {bytes, 3, -2}, {0, 0, 3, 2}));
    const ClientImage frame = Frame();
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            const bool inside = x >= 1 && y >= 1 && y < 5;
            const Pixel expected = inside ? MemoryPixel(((x - 1) * 3) / 7, ((y - 1) * 2) / 4) : Pixel{0, 0, 0, 0};
            ASSERT_EQ(At(frame, x, y), expected) << x << "," << y;
        }
    // Shrinking: 3 columns into 2 take columns 0 and 1.
    ASSERT_TRUE(windows_->StretchBlit(window_, {0, 0, 2, 1}, {bytes, 3, -2}, {0, 1, 3, 1}));
    const ClientImage shrunk = Frame();
    EXPECT_EQ(At(shrunk, 0, 0), MemoryPixel(0, 0));
    EXPECT_EQ(At(shrunk, 1, 0), MemoryPixel(1, 0));
}

// Pixels beyond the client area are cut off; destination pixels whose
// source is outside the block are left alone.
TEST_F(WindowBlitTest, ClipsToTheClientAreaAndTheBlock) {
    const std::vector<uint8_t> bytes = Block(3, 2);
    ASSERT_TRUE(windows_->StretchBlit(window_, {-1, 5, 3, 2}, {bytes, 3, -2}, {0, 0, 3, 2}));
    ClientImage frame = Frame();
    EXPECT_EQ(At(frame, 0, 5), MemoryPixel(1, 0));
    EXPECT_EQ(At(frame, 1, 5), MemoryPixel(2, 0));
    EXPECT_EQ(At(frame, 2, 5), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(windows_->BlitCount(window_), 1u);

    // Source columns -1..3 of a 3-wide block: the first and last are outside.
    ASSERT_TRUE(windows_->StretchBlit(window_, {0, 0, 5, 1}, {bytes, 3, -2}, {-1, 1, 5, 1}));
    frame = Frame();
    EXPECT_EQ(At(frame, 0, 0), (Pixel{0, 0, 0, 0}));
    for (int32_t x = 1; x < 4; ++x) EXPECT_EQ(At(frame, x, 0), MemoryPixel(x - 1, 0));
    EXPECT_EQ(At(frame, 4, 0), (Pixel{0, 0, 0, 0}));

    // Wholly off the client area: nothing drawn, not an error.
    EXPECT_TRUE(windows_->StretchBlit(window_, {8, 0, 3, 2}, {bytes, 3, -2}, {0, 0, 3, 2}));
    EXPECT_EQ(windows_->BlitCount(window_), 2u);
}

TEST_F(WindowBlitTest, RefusesWhatItCannotDraw) {
    const std::vector<uint8_t> bytes = Block(3, 2);
    const std::span<const uint8_t> short_bytes(bytes.data(), bytes.size() - 1);
    struct Case {
        const char* why;
        WindowHandle window;
        BlitArea destination;
        DibPixels block;
        BlitArea source;
    };
    const std::array<Case, 6> cases{{
        {"unknown window", 99, {0, 0, 3, 2}, {bytes, 3, 2}, {0, 0, 3, 2}},
        {"block shorter than its size", window_, {0, 0, 3, 2}, {short_bytes, 3, 2}, {0, 0, 3, 2}},
        {"mirrored destination", window_, {3, 0, -3, 2}, {bytes, 3, 2}, {0, 0, 3, 2}},
        {"empty source", window_, {0, 0, 3, 2}, {bytes, 3, 2}, {0, 0, 0, 2}},
        {"block of no width", window_, {0, 0, 3, 2}, {bytes, 0, 2}, {0, 0, 3, 2}},
        {"block height beyond any size", window_, {0, 0, 3, 2}, {bytes, 3, INT32_MIN}, {0, 0, 3, 2}},
    }};
    for (const Case& c : cases) EXPECT_FALSE(windows_->StretchBlit(c.window, c.destination, c.block, c.source)) << c.why;
    EXPECT_EQ(windows_->BlitCount(window_), 0u);
    ClientImage frame;
    EXPECT_FALSE(windows_->ReadClientPixels(99, frame));
}

// Read back through libpng's own reader: what was drawn, opaque.
TEST_F(WindowBlitTest, PngSnapshotHoldsTheClientArea) {
    const std::vector<uint8_t> bytes = Block(3, 2);
    ASSERT_TRUE(windows_->StretchBlit(window_, {2, 1, 3, 2}, {bytes, 3, -2}, {0, 0, 3, 2}));
    const std::string path =
        (std::filesystem::temp_directory_path() / ("zk-snapshot-" + std::to_string(getpid()) + ".png")).string();
    ASSERT_TRUE(WriteWindowPng(*windows_, window_, path));

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&image, path.c_str()), 0);
    EXPECT_EQ(image.width, 8u);
    EXPECT_EQ(image.height, 6u);
    EXPECT_EQ(image.format & PNG_FORMAT_FLAG_ALPHA, 0u);
    image.format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> read(PNG_IMAGE_SIZE(image));
    ASSERT_NE(png_image_finish_read(&image, nullptr, read.data(), 0, nullptr), 0);
    std::filesystem::remove(path);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
            Pixel expected = inside ? MemoryPixel(x - 2, y - 1) : Pixel{0, 0, 0, 0};
            expected[3] = 255;
            const uint8_t* q = &read[(size_t(y) * 8 + x) * 4];
            ASSERT_EQ((Pixel{q[0], q[1], q[2], q[3]}), expected) << x << "," << y;
        }

    EXPECT_FALSE(WriteBgrxPng(path, 2, 2, std::span<const uint8_t>(bytes.data(), 15), 8));  // too few bytes
    EXPECT_FALSE(WriteWindowPng(*windows_, window_, "/nonexistent-folder/zk.png"));
}

// The SDL back end draws into the window surface (the dummy driver's
// framebuffer) and reads the same pixels back.
TEST(SdlWindowBlitTest, DrawsIntoTheWindowSurface) {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (driver == nullptr || std::string(driver) != "dummy") GTEST_SKIP() << "needs SDL_VIDEODRIVER=dummy";
    std::unique_ptr<WindowSystem> windows = CreateSdlWindowSystem();
    if (windows == nullptr) GTEST_SKIP() << "no SDL video";
    const std::string name = "zktest-sdlblit-" + std::to_string(getpid());
    ASSERT_TRUE(windows->RegisterClass(name, IgnoreMessages));
    WindowCreateParams params;
    params.class_name = name;
    params.style = kPopupStyle;
    params.width = 8;
    params.height = 6;
    const WindowHandle window = windows->CreateWindow(params);
    ASSERT_NE(window, kNoWindow);
    const std::vector<uint8_t> bytes = Block(3, 2);
    ASSERT_TRUE(windows->StretchBlit(window, {0, 0, 6, 2}, {bytes, 3, -2}, {0, 0, 3, 2}));
    ClientImage frame;
    ASSERT_TRUE(windows->ReadClientPixels(window, frame));
    ASSERT_EQ(frame.width, 8);
    ASSERT_EQ(frame.height, 6);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 6; ++x) {
            const Pixel p = At(frame, x, y);
            const Pixel expected = MemoryPixel(x / 2, y);
            // The surface may keep no fourth byte.
            EXPECT_EQ((std::array<uint8_t, 3>{p[0], p[1], p[2]}),
                      (std::array<uint8_t, 3>{expected[0], expected[1], expected[2]}))
                << x << "," << y;
        }
    windows->DestroyWindow(window);
}

}  // namespace
}  // namespace zk::platform
