// The PNG codec library over libpng. The whole image is decoded by the
// preload call, so that a damaged stream is refused with a status rather
// than discovered while the load call, which cannot fail, writes pixels.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>
#include <vector>

#include "layers/image_codecs.h"
#include "layers/image_decoders.h"

namespace zk {

namespace {

struct MemoryInput {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    size_t offset = 0;
};

// The image between preload and end.
struct DecodedPng {
    std::vector<uint8_t> pixels;  // B, G, R, A rows, top row first
    int32_t width = 0;
    int32_t height = 0;
};
DecodedPng& Decoded() {
    static DecodedPng decoded;
    return decoded;
}

void ReadFromMemory(png_structp png, png_bytep out, size_t length) {
    auto* input = static_cast<MemoryInput*>(png_get_io_ptr(png));
    if (length > input->size - input->offset) png_error(png, "truncated");
    std::memcpy(out, input->bytes + input->offset, length);
    input->offset += length;
}

// libpng's diagnostics go nowhere: the engine reports by status.
[[noreturn]] void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnPngWarning(png_structp, png_const_charp) {}

// Owns libpng's structures and everything the decode allocates, so that a
// jump out of libpng leaves nothing to unwind in the function that set it.
struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    MemoryInput input;
    DecodedPng image;
    std::vector<png_bytep> rows;
    int32_t opaque = 0;

    PngReader() = default;
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
    ~PngReader() {
        if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    }
};

// Runs under libpng's error jump: every object with a destructor lives in
// `reader`, outside this frame.
int32_t ReadPng(PngReader& reader) {
    if (setjmp(png_jmpbuf(reader.png))) return kPngRefused;
    png_structp png = reader.png;
    png_infop info = reader.info;
    png_set_read_fn(png, &reader.input, ReadFromMemory);
    // Let any header through to the size check below, which knows the
    // engine's limits (the library's own would refuse with another status).
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(png, info);

    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    if (!ImageSizeAcceptable(width, height)) return kPngTooLarge;
    int colour_type = png_get_color_type(png, info);
    bool has_transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    reader.opaque = ((colour_type & PNG_COLOR_MASK_ALPHA) == 0 && !has_transparency) ? 1 : 0;

    // Every colour type becomes 8-bit B, G, R, A.
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    size_t row_bytes = size_t(width) * 4;
    if (png_get_rowbytes(png, info) != row_bytes) return kPngRefused;  // NEVER: the transforms give 4 bytes a pixel

    try {
        reader.image.pixels.assign(row_bytes * height, 0);
        reader.rows.resize(height);
    } catch (const std::bad_alloc&) {
        return kPngNoMemory;
    }
    for (png_uint_32 y = 0; y < height; ++y) reader.rows[y] = reader.image.pixels.data() + row_bytes * y;
    png_read_image(png, reader.rows.data());
    reader.image.width = static_cast<int32_t>(width);
    reader.image.height = static_cast<int32_t>(height);
    return kPngOk;
}

int32_t PngPreload(const char*, const uint8_t* bytes, size_t byte_count, int32_t* width, int32_t* height,
                   int32_t* opaque) {
    Decoded() = DecodedPng{};
    if (bytes == nullptr || byte_count < 8 || png_sig_cmp(bytes, 0, 8) != 0) return kPngRefused;
    PngReader reader;
    reader.input = MemoryInput{bytes, byte_count, 0};
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (reader.png == nullptr) return kPngNoMemory;
    reader.info = png_create_info_struct(reader.png);
    if (reader.info == nullptr) return kPngNoMemory;
    int32_t status = ReadPng(reader);
    if (status != kPngOk) return status;
    *width = reader.image.width;
    *height = reader.image.height;
    *opaque = reader.opaque;
    Decoded() = std::move(reader.image);
    return kPngOk;
}

void PngLoad(uint8_t* pixels, int32_t height, int32_t row_bytes) {
    const DecodedPng& decoded = Decoded();
    if (pixels == nullptr || height <= 0 || row_bytes <= 0) return;
    size_t source_row = size_t(decoded.width) * 4;
    size_t copy = std::min(size_t(row_bytes), source_row);
    int32_t rows = std::min(height, decoded.height);
    for (int32_t y = 0; y < rows; ++y) {
        std::memcpy(pixels + size_t(y) * size_t(row_bytes), decoded.pixels.data() + size_t(y) * source_row, copy);
    }
}

void PngEnd() { Decoded() = DecodedPng{}; }

}  // namespace

const PngCodecEntries& PngCodecImplementation() {
    static const PngCodecEntries entries{PngPreload, PngLoad, PngEnd};
    return entries;
}

}  // namespace zk
