// PNG decoding: files written here with libpng in each colour type, and
// the pixels compared with libpng's own simplified reader; the statuses of
// refused files and a missing library.
#include <png.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "layers/cg_image.h"
#include "images/image_decoders.h"
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
                                           ColourCase{"interlaced", {13, 11, PNG_COLOR_TYPE_RGB_ALPHA, 8, true}, 1},
                                           // Too narrow or short for some passes to hold pixels.
                                           ColourCase{"interlaced_narrow", {3, 9, PNG_COLOR_TYPE_RGB_ALPHA, 8, true}, 1},
                                           ColourCase{"interlaced_one_pixel", {1, 1, PNG_COLOR_TYPE_RGB, 8, true}, 0},
                                           ColourCase{"interlaced_short", {10, 3, PNG_COLOR_TYPE_GRAY, 8, true}, 0}),
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

// ---- memory that follows the data, not the header ----------------------------

// A PNG of width x height RGBA pixels whose image data holds only its first
// `rows` rows and then ends, with no further chunk.
std::vector<uint8_t> PngCutAfterRows(uint32_t width, uint32_t height, uint32_t rows) {
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, const std::vector<uint8_t>& data) {
        auto big_endian = [&](uint32_t v) {
            for (int shift = 24; shift >= 0; shift -= 8) file.push_back(uint8_t(v >> shift));
        };
        big_endian(uint32_t(data.size()));
        const size_t start = file.size();
        file.insert(file.end(), type, type + 4);
        file.insert(file.end(), data.begin(), data.end());
        big_endian(uint32_t(crc32(0, file.data() + start, uInt(file.size() - start))));
    };
    std::vector<uint8_t> header;
    for (uint32_t v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8) header.push_back(uint8_t(v >> shift));
    header.insert(header.end(), {8, PNG_COLOR_TYPE_RGB_ALPHA, 0, 0, 0});
    chunk("IHDR", header);
    if (rows > 0) {
        // Each row: filter byte 0, then its pixels. The stream is flushed,
        // not finished: the rest of the image is missing.
        std::vector<uint8_t> raw(size_t(rows) * (size_t(width) * 4 + 1), 0x5A);
        for (uint32_t y = 0; y < rows; ++y) raw[size_t(y) * (size_t(width) * 4 + 1)] = 0;
        std::vector<uint8_t> packed(compressBound(uLong(raw.size())) + 64);
        z_stream z{};
        EXPECT_EQ(deflateInit(&z, Z_DEFAULT_COMPRESSION), Z_OK);
        z.next_in = raw.data();
        z.avail_in = uInt(raw.size());
        z.next_out = packed.data();
        z.avail_out = uInt(packed.size());
        EXPECT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);
        packed.resize(packed.size() - z.avail_out);
        deflateEnd(&z);
        chunk("IDAT", packed);
    }
    return file;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZK_SANITIZER_RUNTIME 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define ZK_SANITIZER_RUNTIME 1
#endif
#endif

#if defined(ZK_SANITIZER_RUNTIME)
// The sanitizer runtimes reserve terabytes of address space, so an address
// space limit cannot bound a decode there; their allocation hook can.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));
std::atomic<bool> measuring{false};
std::atomic<size_t> largest_allocation{0};
void OnAllocation(const volatile void*, size_t size) {
    if (!measuring.load(std::memory_order_relaxed)) return;
    size_t seen = largest_allocation.load(std::memory_order_relaxed);
    while (size > seen && !largest_allocation.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
}
void OnFree(const volatile void*) {}
#else
// Bytes of address space the process has mapped now.
uint64_t MappedBytes() {
    unsigned long long pages = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    if (std::fscanf(statm, "%llu", &pages) != 1) pages = 0;
    std::fclose(statm);
    return uint64_t(pages) * uint64_t(sysconf(_SC_PAGESIZE));
}

// In a child process: decodes `file` with `allowance` bytes of address
// space beyond what is mapped, and exits with the decode's status.
[[noreturn]] void DecodeWithinAddressSpace(const std::vector<uint8_t>& file, uint64_t allowance) {
    const uint64_t mapped = MappedBytes();
    const rlimit address_space{mapped + allowance, mapped + allowance};
    if (mapped == 0 || setrlimit(RLIMIT_AS, &address_space) != 0) std::_Exit(2);
    CgImage image;
    std::_Exit(DecodePngBytes(file, image, "cut.png"));
}
#endif

// An 8192 x 8192 header claims 256 MB of pixels. A file that ends before
// its image data, or a few rows into it, is refused having spent memory
// for the rows it held only: the decode runs under an address space limit
// of 48 MB above what the process already maps (without sanitizers), or
// with every allocation measured (with them).
TEST_F(DecoderTest, PngCutShortCostsOnlyTheRowsItHolds) {
    const std::vector<std::vector<uint8_t>> files = {PngCutAfterRows(8192, 8192, 0),
                                                     PngCutAfterRows(8192, 8192, 16)};
    constexpr uint64_t kAllowance = uint64_t{48} << 20;
#if defined(ZK_SANITIZER_RUNTIME)
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(OnAllocation, OnFree) != 0;
    ASSERT_TRUE(installed);
    for (const auto& file : files) {
        CgImage image;
        largest_allocation = 0;
        measuring = true;
        const int32_t status = DecodePngBytes(file, image, "cut.png");
        measuring = false;
        EXPECT_EQ(status, 101);
        EXPECT_LT(largest_allocation.load(), kAllowance);
    }
#else
    // A child started afresh, so no thread of this process is copied half-way.
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const auto& file : files) {
        // The child's exit code is the decode's status: 101 refused, 1 when
        // the memory ran out.
        EXPECT_EXIT(DecodeWithinAddressSpace(file, kAllowance), ::testing::ExitedWithCode(101), "");
    }
    GTEST_FLAG_SET(death_test_style, style);
#endif
}

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
