// The PNG codec library over libpng. The whole image is decoded by the
// preload call, so that a damaged stream is refused with a status rather
// than discovered while the load call, which cannot fail, writes pixels.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "images/image_codecs.h"
#include "images/image_decoders.h"
#include "base/never.h"

namespace zk {

namespace {

struct MemoryInput {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    size_t offset = 0;
};

// The image between preload and end: B, G, R, A rows, top row first, held
// in bands of kBandRows rows. Each band is allocated when the decode first
// writes to one of its rows, so the memory a file costs follows the image
// data it really holds, never the size its header claims (a damaged
// 8192 x 8192 header alone would otherwise cost 256 MB). Bands rather than
// single rows keep the allocations few; a band is zeroed only for an
// interlaced image, whose passes leave rows and columns to later passes
// (libpng writes every byte of every row of a plain image).
constexpr uint32_t kBandRows = 32;

struct Band {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
};

struct DecodedPng {
    std::vector<Band> bands;
    size_t row_bytes = 0;
    int32_t width = 0;
    int32_t height = 0;

    // The row's storage, or null while its band has none.
    uint8_t* Row(uint32_t y) const {
        const Band& band = bands[y / kBandRows];
        return band.bytes ? band.bytes.get() + size_t(y % kBandRows) * row_bytes : nullptr;
    }
};

// Bands of finished decodes, kept (up to kSpareBytes) for the next decode:
// memory the process already has costs no page faults, which on a large
// image cost as much as the decode itself.
constexpr size_t kSpareBytes = size_t{32} << 20;
struct SpareBands {
    std::vector<Band> bands;
    size_t bytes = 0;
};
SpareBands& Spares() {
    thread_local SpareBands spares;  // per decoding thread: no lock needed
    return spares;
}

void KeepBands(DecodedPng& image) {
    SpareBands& spares = Spares();
    for (Band& band : image.bands) {
        if (!band.bytes || spares.bytes + band.size > kSpareBytes) continue;
        spares.bytes += band.size;
        spares.bands.push_back(std::move(band));
    }
    image.bands.clear();
}

// A band of `size` bytes: a spare one at least that large, or a new one;
// all zero when `zeroed`, else with whatever it held.
Band TakeBand(size_t size, bool zeroed) {
    SpareBands& spares = Spares();
    for (size_t i = spares.bands.size(); i-- > 0;) {
        if (spares.bands[i].size < size) continue;
        Band band = std::move(spares.bands[i]);
        spares.bands.erase(spares.bands.begin() + static_cast<ptrdiff_t>(i));
        spares.bytes -= band.size;
        if (zeroed) std::memset(band.bytes.get(), 0, size);
        return band;
    }
    return Band{zeroed ? std::make_unique<uint8_t[]>(size) : std::make_unique_for_overwrite<uint8_t[]>(size), size};
}

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
    int32_t opaque = 0;

    PngReader() = default;
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
    ~PngReader() {
        KeepBands(image);
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
    const int passes = png_set_interlace_handling(png);
    const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    png_read_update_info(png, info);
    const size_t row_bytes = size_t(width) * 4;
    if (ZK_NEVER(png_get_rowbytes(png, info) != row_bytes)) return kPngRefused;  // the transforms give 4 bytes a pixel

    try {
        reader.image.bands.resize((size_t(height) + kBandRows - 1) / kBandRows);  // none allocated yet
    } catch (const std::bad_alloc&) {
        return kPngNoMemory;
    }
    reader.image.row_bytes = row_bytes;
    // libpng is called once per row and pass. A row the pass has pixels of
    // gets its band's storage just before the call that fills it; the
    // others are passed without storage, which libpng skips. A file that
    // ends early fails in the first row it cannot fill.
    for (int pass = 0; pass < passes; ++pass) {
        const bool pass_has_columns = !interlaced || PNG_PASS_COLS(width, pass) != 0;
        for (png_uint_32 y = 0; y < height; ++y) {
            const bool filled = pass_has_columns && (!interlaced || PNG_ROW_IN_INTERLACE_PASS(y, pass));
            Band& band = reader.image.bands[y / kBandRows];
            if (filled && !band.bytes) {
                const size_t band_bytes = row_bytes * std::min<size_t>(kBandRows, height - y / kBandRows * kBandRows);
                try {
                    band = TakeBand(band_bytes, interlaced);
                } catch (const std::bad_alloc&) {
                    return kPngNoMemory;
                }
            }
            png_read_row(png, filled ? reader.image.Row(y) : nullptr, nullptr);
        }
    }
    reader.image.width = static_cast<int32_t>(width);
    reader.image.height = static_cast<int32_t>(height);
    return kPngOk;
}

int32_t PngPreload(const char*, const uint8_t* bytes, size_t byte_count, int32_t* width, int32_t* height,
                   int32_t* opaque) {
    KeepBands(Decoded());
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
    int32_t rows = std::min(height, decoded.height);
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t* out = pixels + size_t(y) * size_t(row_bytes);
        const uint8_t* row = decoded.Row(static_cast<uint32_t>(y));
        // Never null after a whole decode: every row holds pixels of some pass.
        size_t copy = row != nullptr ? std::min(size_t(row_bytes), decoded.row_bytes) : 0;
        if (copy > 0) std::memcpy(out, row, copy);
        std::memset(out + copy, 0, size_t(row_bytes) - copy);
    }
}

void PngEnd() {
    KeepBands(Decoded());
    Decoded() = DecodedPng{};
}

}  // namespace

const PngCodecEntries& PngCodecImplementation() {
    static const PngCodecEntries entries{PngPreload, PngLoad, PngEnd};
    return entries;
}

}  // namespace zk
