// zk_image_corpus: writes the seed corpora of the PNG, JPEG and WebP
// decoder fuzzers and of the frame sequence fuzzer: small valid files of
// each kind, made with libpng, libjpeg and libwebp, one per layout the
// decoders treat differently.
//
//   zk_image_corpus <corpus folder>
//
// Files go to <corpus folder>/decode_png, decode_jpeg, decode_webp and
// frame_sequence.
#include <png.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "tools/lib/frame_sequence_writer.h"

namespace {

namespace fs = std::filesystem;

bool WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

// A sample of channel c at (x, y): gradients with some texture, so the
// encoders have edges and flat parts to code.
uint8_t SampleAt(int x, int y, int c) { return uint8_t(x * 37 + y * 23 + c * 71 + ((x ^ y) & 3) * 19); }

// ---- PNG --------------------------------------------------------------------------

struct PngLayout {
    const char* name;
    int width, height;
    int colour_type;
    int bit_depth;
    bool interlaced;
    bool transparency;  // a tRNS chunk (palette alphas, or one transparent grey or colour)
};

void AppendPngBytes(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void FlushNothing(png_structp) {}

int PngChannels(int colour_type) {
    switch (colour_type) {
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        case PNG_COLOR_TYPE_RGB: return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
        default: return 1;  // grey, palette
    }
}

std::vector<uint8_t> EncodePng(const PngLayout& layout) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, AppendPngBytes, FlushNothing);
    png_set_IHDR(png, info, png_uint_32(layout.width), png_uint_32(layout.height), layout.bit_depth,
                 layout.colour_type, layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const int max_sample = (1 << std::min(layout.bit_depth, 8)) - 1;
    if (layout.colour_type == PNG_COLOR_TYPE_PALETTE) {
        const int entries = 1 << layout.bit_depth;
        std::vector<png_color> palette(static_cast<size_t>(entries));
        std::vector<png_byte> alpha(static_cast<size_t>(entries));
        for (int i = 0; i < entries; ++i) {
            palette[size_t(i)] = {SampleAt(i, 0, 0), SampleAt(i, 1, 1), SampleAt(i, 2, 2)};
            alpha[size_t(i)] = png_byte(i % 3 == 0 ? 0 : 255 - i * 9);
        }
        png_set_PLTE(png, info, palette.data(), entries);
        if (layout.transparency) png_set_tRNS(png, info, alpha.data(), entries, nullptr);
    } else if (layout.transparency) {
        png_color_16 transparent{};
        transparent.gray = png_uint_16(1);
        transparent.red = png_uint_16(SampleAt(0, 0, 0) & max_sample);
        transparent.green = png_uint_16(SampleAt(0, 0, 1) & max_sample);
        transparent.blue = png_uint_16(SampleAt(0, 0, 2) & max_sample);
        png_set_tRNS(png, info, nullptr, 0, &transparent);
    }
    png_write_info(png, info);

    const int channels = PngChannels(layout.colour_type);
    const size_t row_bytes = (size_t(layout.width) * size_t(channels) * size_t(layout.bit_depth) + 7) / 8;
    std::vector<std::vector<png_byte>> rows(size_t(layout.height), std::vector<png_byte>(row_bytes, 0));
    for (int y = 0; y < layout.height; ++y) {
        for (int x = 0; x < layout.width; ++x) {
            for (int c = 0; c < channels; ++c) {
                const size_t bit = (size_t(x) * size_t(channels) + size_t(c)) * size_t(layout.bit_depth);
                const uint8_t v = SampleAt(x, y, c);
                if (layout.bit_depth == 16) {
                    rows[size_t(y)][bit / 8] = v;
                    rows[size_t(y)][bit / 8 + 1] = uint8_t(255 - v);
                } else {
                    const int sample = v & max_sample;
                    rows[size_t(y)][bit / 8] |= png_byte(sample << (8 - layout.bit_depth - int(bit % 8)));
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

// ---- JPEG ---------------------------------------------------------------------------

struct JpegLayout {
    const char* name;
    int width, height;
    J_COLOR_SPACE colour_space;  // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
    int quality;
    bool full_chroma;  // 1 x 1 sampling instead of the default 2 x 2
    bool progressive;
    bool arithmetic;
    unsigned restart_interval;  // in MCUs; 0 for none
    bool markers;               // an APP1 block and a comment
};

std::vector<uint8_t> EncodeJpeg(const JpegLayout& layout) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);  // a failure here ends the tool
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    const int components = layout.colour_space == JCS_GRAYSCALE ? 1 : (layout.colour_space == JCS_CMYK ? 4 : 3);
    info.image_width = JDIMENSION(layout.width);
    info.image_height = JDIMENSION(layout.height);
    info.input_components = components;
    info.in_color_space = layout.colour_space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, layout.quality, TRUE);
    if (layout.full_chroma) {
        for (int c = 0; c < info.num_components; ++c) {
            info.comp_info[c].h_samp_factor = 1;
            info.comp_info[c].v_samp_factor = 1;
        }
    }
    if (layout.progressive) jpeg_simple_progression(&info);
    info.arith_code = layout.arithmetic ? TRUE : FALSE;
    info.restart_interval = layout.restart_interval;
    jpeg_start_compress(&info, TRUE);
    if (layout.markers) {
        const std::string app1("Exif\0\0an APP1 block the decoder skips", 37);
        jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(app1.data()), unsigned(app1.size()));
        const std::string comment = "a comment marker";
        jpeg_write_marker(&info, JPEG_COM, reinterpret_cast<const JOCTET*>(comment.data()), unsigned(comment.size()));
    }
    std::vector<JSAMPLE> row(size_t(layout.width) * size_t(components));
    while (info.next_scanline < info.image_height) {
        const int y = int(info.next_scanline);
        for (int x = 0; x < layout.width; ++x)
            for (int c = 0; c < components; ++c) row[size_t(x) * size_t(components) + size_t(c)] = SampleAt(x, y, c);
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&info, &pointer, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

// ---- WebP ---------------------------------------------------------------------------

struct WebpLayout {
    const char* name;
    int width, height;
    bool lossless;
    bool alpha;  // varying alpha (a lossy file then carries an ALPH chunk)
};

std::vector<uint8_t> EncodeWebp(const WebpLayout& layout) {
    std::vector<uint8_t> bgra(size_t(layout.width) * size_t(layout.height) * 4);
    for (int y = 0; y < layout.height; ++y) {
        for (int x = 0; x < layout.width; ++x) {
            uint8_t* p = &bgra[(size_t(y) * size_t(layout.width) + size_t(x)) * 4];
            for (int c = 0; c < 3; ++c) p[c] = SampleAt(x, y, c);
            p[3] = layout.alpha ? uint8_t(x * 255 / std::max(layout.width - 1, 1)) : 255;
        }
    }
    uint8_t* encoded = nullptr;
    const int stride = layout.width * 4;
    const size_t size = layout.lossless
                            ? WebPEncodeLosslessBGRA(bgra.data(), layout.width, layout.height, stride, &encoded)
                            : WebPEncodeBGRA(bgra.data(), layout.width, layout.height, stride, 70.0f, &encoded);
    std::vector<uint8_t> out(encoded, encoded + size);
    WebPFree(encoded);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zk_image_corpus <corpus folder>\n");
        return 2;
    }
    const fs::path root = argv[1];
    int failures = 0;
    auto save = [&](const char* target, const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path folder = root / target;
        std::error_code error;
        fs::create_directories(folder, error);
        if (bytes.empty() || !WriteFile(folder / name, bytes)) {
            std::fprintf(stderr, "zk_image_corpus: could not write %s/%s\n", target, name.c_str());
            ++failures;
        }
    };

    const PngLayout pngs[] = {
        {"rgb.png", 8, 5, PNG_COLOR_TYPE_RGB, 8, false, false},
        {"rgba.png", 7, 3, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false},
        {"rgb_16bit_transparent.png", 6, 5, PNG_COLOR_TYPE_RGB, 16, false, true},
        {"palette_4bit_alphas.png", 9, 4, PNG_COLOR_TYPE_PALETTE, 4, false, true},
        {"palette_8bit.png", 5, 6, PNG_COLOR_TYPE_PALETTE, 8, false, false},
        {"grey_1bit.png", 11, 3, PNG_COLOR_TYPE_GRAY, 1, false, false},
        {"grey_transparent.png", 5, 5, PNG_COLOR_TYPE_GRAY, 8, false, true},
        {"grey_alpha_16bit.png", 4, 4, PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, false},
        {"interlaced_rgba.png", 13, 11, PNG_COLOR_TYPE_RGB_ALPHA, 8, true, false},
        {"interlaced_narrow_grey.png", 3, 9, PNG_COLOR_TYPE_GRAY, 2, true, false},
    };
    for (const PngLayout& layout : pngs) save("decode_png", layout.name, EncodePng(layout));

    const JpegLayout jpegs[] = {
        {"rgb_420.jpg", 17, 9, JCS_RGB, 75, false, false, false, 0, false},
        {"rgb_444_markers.jpg", 9, 9, JCS_RGB, 90, true, false, false, 0, true},
        {"grey.jpg", 8, 8, JCS_GRAYSCALE, 75, false, false, false, 0, false},
        {"progressive.jpg", 16, 16, JCS_RGB, 60, false, true, false, 0, false},
        {"restarts.jpg", 24, 16, JCS_RGB, 75, false, false, false, 1, false},
        {"arithmetic.jpg", 16, 8, JCS_RGB, 75, false, false, true, 0, false},
        {"cmyk.jpg", 8, 8, JCS_CMYK, 75, true, false, false, 0, false},
    };
    for (const JpegLayout& layout : jpegs) save("decode_jpeg", layout.name, EncodeJpeg(layout));

    const WebpLayout webps[] = {
        {"lossy.webp", 16, 12, false, false},
        {"lossy_alpha.webp", 10, 10, false, true},
        {"lossless.webp", 9, 7, true, false},
        {"lossless_alpha.webp", 5, 3, true, true},
        {"one_pixel.webp", 1, 1, true, false},
    };
    for (const WebpLayout& layout : webps) save("decode_webp", layout.name, EncodeWebp(layout));

    // Frame sequences: colour only (RGB and grey frames of two sizes),
    // alpha in use, and alpha decoded but not in use with one alpha part of
    // another size and one that is not grey.
    namespace tools = zk::tools;
    auto colour = [](int w, int h, int seed) {
        return tools::EncodeJpeg(tools::MakeJpegPicture(w, h, 3, [seed](int x, int y, int c) {
            return uint8_t(x * 31 + y * 17 + c * 50 + seed * 40);
        }));
    };
    auto grey = [](int w, int h, int seed) {
        return tools::EncodeJpeg(tools::MakeJpegPicture(w, h, 1, [seed](int x, int y, int) {
            return uint8_t(x * 20 + y * 9 + seed * 70);
        }));
    };
    tools::FrameSequenceSpec plain;
    plain.values = {1, -5, 3};
    plain.frames = {{colour(8, 6, 0), {}}, {grey(8, 6, 1), {}}, {colour(5, 3, 2), {}}};
    save("frame_sequence", "colour.seq", tools::BuildFrameSequence(plain));
    tools::FrameSequenceSpec alpha;
    alpha.alpha_flag = 1;
    alpha.frames = {{colour(6, 4, 0), grey(6, 4, 0)}, {colour(6, 4, 1), grey(6, 4, 1)}};
    save("frame_sequence", "alpha.seq", tools::BuildFrameSequence(alpha));
    tools::FrameSequenceSpec odd;
    odd.alpha_flag = 2;
    odd.frames = {{colour(6, 4, 0), grey(5, 4, 0)}, {colour(6, 4, 1), colour(6, 4, 2)}, {grey(4, 4, 3), {}}};
    save("frame_sequence", "alpha_odd.seq", tools::BuildFrameSequence(odd));

    return failures == 0 ? 0 : 1;
}
