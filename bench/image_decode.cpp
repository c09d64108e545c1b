// Image decoding into a layer: a 2048 x 2048 PNG, a JPEG at quality 90 and
// a lossy WebP at quality 90, each decoded through the engine's decoder into
// a layer image (B, G, R, A) and by the bare library into a plain buffer of
// the same layout, from the same bytes in memory. Best of a few interleaved
// rounds; prints times and ratios measured in this run; never fails.
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <png.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <functional>
#include <vector>

#include "layers/cg_image.h"
#include "images/image_decoders.h"
#include "platform/codec_registry.h"
#include "tests/codec_libraries.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSide = 2048;
constexpr int kRounds = 7;

// A picture that compresses like a photograph more than like a flat fill:
// smooth gradients with a little noise and some hard edges.
std::vector<uint8_t> MakeRgb() {
    std::vector<uint8_t> rgb(size_t(kSide) * kSide * 3);
    uint32_t noise = 12345;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            noise = noise * 1103515245u + 12345u;
            int jitter = int(noise >> 28) - 8;
            bool stripe = ((x / 97) + (y / 131)) % 5 == 0;
            uint8_t* p = &rgb[(size_t(y) * kSide + x) * 3];
            p[0] = uint8_t(std::clamp(x / 8 + jitter + (stripe ? 60 : 0), 0, 255));
            p[1] = uint8_t(std::clamp(y / 8 + jitter, 0, 255));
            p[2] = uint8_t(std::clamp((x + y) / 16 + jitter, 0, 255));
        }
    }
    return rgb;
}

void AppendPngBytes(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void FlushNothing(png_structp) {}

std::vector<uint8_t> EncodePng(const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, AppendPngBytes, FlushNothing);
    png_set_IHDR(png, info, kSide, kSide, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < kSide; ++y) png_write_row(png, &rgb[size_t(y) * kSide * 3]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& rgb) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = kSide;
    info.image_height = kSide;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&rgb[size_t(info.next_scanline) * kSide * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    free(buffer);
    return out;
}

std::vector<uint8_t> EncodeWebp(const std::vector<uint8_t>& rgb) {
    uint8_t* buffer = nullptr;
    size_t size = WebPEncodeRGB(rgb.data(), kSide, kSide, kSide * 3, 90.0f, &buffer);
    std::vector<uint8_t> out(buffer, buffer + size);
    WebPFree(buffer);
    return out;
}

// The bare libraries, each into a plain B, G, R, A buffer.
struct PngInput {
    const std::vector<uint8_t>* bytes;
    size_t offset;
};
void ReadPngBytes(png_structp png, png_bytep out, size_t length) {
    auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
    std::copy_n(input->bytes->data() + input->offset, length, out);
    input->offset += length;
}

bool BarePng(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& pixels) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    PngInput input{&bytes, 0};
    std::vector<png_bytep> rows(kSide);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &input, ReadPngBytes);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    for (int y = 0; y < kSide; ++y) rows[size_t(y)] = &pixels[size_t(y) * kSide * 4];
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool BareJpeg(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& pixels) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
#ifdef JCS_EXTENSIONS
    info.out_color_space = JCS_EXT_BGRA;  // libjpeg-turbo writes B, G, R, A itself
#endif
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &pixels[size_t(info.output_scanline) * kSide * 4];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool BareWebp(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& pixels) {
    return WebPDecodeBGRAInto(bytes.data(), bytes.size(), pixels.data(), pixels.size(), kSide * 4) != nullptr;
}

double TimedRun(const std::function<bool()>& run, bool& ok) {
    auto start = Clock::now();
    ok = run() && ok;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Format {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t (*engine)(std::span<const uint8_t>, zk::CgImage&, std::string_view);
    bool (*bare)(const std::vector<uint8_t>&, std::vector<uint8_t>&);
};

}  // namespace

int main() {
    zk::testing_support::LoadEveryCodecLibrary();
    const std::vector<uint8_t> rgb = MakeRgb();
    Format formats[] = {
        {"PNG", EncodePng(rgb), zk::DecodePngBytes, BarePng},
        {"JPEG q90", EncodeJpeg(rgb), zk::DecodeJpegBytes, BareJpeg},
        {"WebP q90", EncodeWebp(rgb), zk::DecodeWebpBytes, BareWebp},
    };
    std::vector<uint8_t> plain(size_t(kSide) * kSide * 4);
    std::printf("decoding %d x %d, best of %d rounds\n", kSide, kSide, kRounds);
    for (Format& format : formats) {
        zk::CgImage image;
        bool ok = true;
        double best_engine = 1e9, best_bare = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            best_bare = std::min(best_bare, TimedRun([&] { return format.bare(format.bytes, plain); }, ok));
            best_engine = std::min(best_engine, TimedRun([&] { return format.engine(format.bytes, image, "bench") == 0; }, ok));
        }
        bool same = ok && image.width == kSide && image.height == kSide &&
                    std::equal(plain.begin(), plain.end(), image.owned_block.data());
        std::printf("%-9s %7zu bytes: layer %.2f ms, bare library %.2f ms (layer / bare = %.2f; pixels %s)\n",
                    format.name, format.bytes.size(), best_engine * 1e3, best_bare * 1e3, best_engine / best_bare,
                    !ok ? "NOT DECODED" : same ? "identical" : "differ");
    }
    return 0;
}
