#include "images/image_writers.h"

#include <png.h>
#include <webp/encode.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "base/text_encoding.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "images/jpeg_source.h"
#include "layers/compositor.h"

namespace zk {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Closes the file and checks that everything reached it; on failure the
// partial file is removed. True when the file is complete.
bool FinishFile(FilePtr file, const std::string& host_path, bool ok) {
    std::FILE* raw = file.release();
    ok = ok && std::fflush(raw) == 0 && std::ferror(raw) == 0;
    ok = std::fclose(raw) == 0 && ok;
    if (!ok) std::remove(host_path.c_str());
    return ok;
}

void PutU16(std::string& out, size_t at, uint32_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void PutU32(std::string& out, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// One row of the image as R, G, B (and A) bytes.
void RowToRgb(const uint8_t* source, int32_t width, bool alpha, uint8_t* out) {
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t* p = source + size_t(x) * 4;
        *out++ = p[2];
        *out++ = p[1];
        *out++ = p[0];
        if (alpha) *out++ = p[3];
    }
}

std::string DisplayName(const std::string& host_path) { return Utf8ToCp932(host_path); }

}  // namespace

std::string EncodeBmp(std::span<const uint8_t> pixels, int32_t width, int32_t height) {
    const size_t row = (size_t(width) * 3 + 3) & ~size_t{3};
    const size_t data = row * size_t(height);
    std::string out(54 + data, '\0');
    out[0] = 'B';
    out[1] = 'M';
    PutU32(out, 2, static_cast<uint32_t>(54 + data));
    PutU32(out, 10, 54);
    PutU32(out, 14, 40);
    PutU32(out, 18, static_cast<uint32_t>(width));
    PutU32(out, 22, static_cast<uint32_t>(height));
    PutU16(out, 26, 1);
    PutU16(out, 28, 24);
    for (int32_t i = 0; i < height; ++i) {
        const uint8_t* source = pixels.data() + size_t(height - 1 - i) * size_t(width) * 4;
        char* target = out.data() + 54 + size_t(i) * row;
        for (int32_t x = 0; x < width; ++x) {
            target[x * 3] = static_cast<char>(source[x * 4]);
            target[x * 3 + 1] = static_cast<char>(source[x * 4 + 1]);
            target[x * 3 + 2] = static_cast<char>(source[x * 4 + 2]);
        }
    }
    return out;
}

int32_t SaveBMP(const CgImage& image, const std::string& host_path) {
    const std::span<const uint8_t> pixels = WholeImagePixels(image);
    if (pixels.empty()) return -1;
    FilePtr file(std::fopen(host_path.c_str(), "wb"));
    if (!file) {
        ShowMessageBox(nullptr, "File Create Error.");
        return -1;
    }
    const std::string bytes = EncodeBmp(pixels, image.width, image.height);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    return FinishFile(std::move(file), host_path, written) ? 0 : -1;
}

// ---- PNG ----------------------------------------------------------------------

namespace {

struct PngWrite {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<uint8_t> row;
    ~PngWrite() {
        if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    }
};

void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// The encode itself: nothing with a destructor lives in this frame, and
// nothing it changes after the setjmp is read after a jump.
bool EncodePng(PngWrite& w, std::FILE* file, std::span<const uint8_t> pixels, int32_t width, int32_t height,
               bool alpha, int32_t level) {
    if (setjmp(png_jmpbuf(w.png))) return false;
    png_init_io(w.png, file);
    png_set_compression_level(w.png, level);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w.png, w.info);
    for (int32_t y = 0; y < height; ++y) {
        RowToRgb(pixels.data() + size_t(y) * size_t(width) * 4, width, alpha, w.row.data());
        png_write_row(w.png, w.row.data());
    }
    png_write_end(w.png, w.info);
    return true;
}

}  // namespace

int32_t SavePNG(const CgImage& image, const std::string& host_path, int32_t level) {
    const std::span<const uint8_t> pixels = WholeImagePixels(image);
    if (pixels.empty()) return -1;
    FilePtr file(std::fopen(host_path.c_str(), "wb"));
    if (!file) {
        ShowMessageBox(nullptr, "[SavePNG] File Create Error.\r\n\r\n%s", {DisplayName(host_path)});
        return -1;
    }
    const bool alpha = image.alpha_in_use != 0;
    bool encoded = false;
    {
        PngWrite w;
        w.row.resize(size_t(image.width) * (alpha ? 4 : 3));
        w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
        if (w.png != nullptr) w.info = png_create_info_struct(w.png);
        if (w.info != nullptr) {
            encoded = EncodePng(w, file.get(), pixels, image.width, image.height, alpha, level < 0 ? 0 : level > 9 ? 9 : level);
        }
    }
    if (!FinishFile(std::move(file), host_path, encoded)) return -1;
    return QuitFlag.load() != 0 ? 1 : 0;
}

// ---- JPEG ---------------------------------------------------------------------

namespace {

struct JpegWrite {
    JpegErrorManager errors{};
    jpeg_compress_struct info{};
    bool created = false;
    std::vector<uint8_t> row;
};

bool EncodeJpeg(JpegWrite& w, std::FILE* file, std::span<const uint8_t> pixels, int32_t width, int32_t height,
                int32_t quality) {
    w.info.err = InstallJpegErrors(w.errors);
    if (setjmp(w.errors.jump)) return false;
    jpeg_create_compress(&w.info);
    w.created = true;
    jpeg_stdio_dest(&w.info, file);
    w.info.image_width = static_cast<JDIMENSION>(width);
    w.info.image_height = static_cast<JDIMENSION>(height);
    w.info.input_components = 3;
    w.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&w.info);
    jpeg_set_quality(&w.info, quality, TRUE);
    jpeg_start_compress(&w.info, TRUE);
    while (w.info.next_scanline < w.info.image_height) {
        RowToRgb(pixels.data() + size_t(w.info.next_scanline) * size_t(width) * 4, width, false, w.row.data());
        JSAMPROW rows[1] = {w.row.data()};
        jpeg_write_scanlines(&w.info, rows, 1);
    }
    jpeg_finish_compress(&w.info);
    return true;
}

}  // namespace

int32_t SaveJPEG(const CgImage& image, int32_t quality, const std::string& host_path) {
    const std::span<const uint8_t> pixels = WholeImagePixels(image);
    if (pixels.empty()) return -1;
    FilePtr file(std::fopen(host_path.c_str(), "wb"));
    if (!file) {
        ShowMessageBox(nullptr, "File Create Error.");
        return -1;
    }
    JpegWrite w;
    w.row.resize(size_t(image.width) * 3);
    const bool encoded = EncodeJpeg(w, file.get(), pixels, image.width, image.height, quality < 1 ? 1 : quality > 100 ? 100 : quality);
    if (w.created) jpeg_destroy_compress(&w.info);
    if (!encoded) {
        FinishFile(std::move(file), host_path, false);
        return -2;
    }
    return FinishFile(std::move(file), host_path, true) ? 0 : -1;
}

// ---- WebP ---------------------------------------------------------------------

int32_t SaveWEBP(const CgImage& image, const std::string& host_path, int32_t quality) {
    const std::span<const uint8_t> pixels = WholeImagePixels(image);
    if (pixels.empty()) return -1;
    WebPConfig config;
    WebPPicture picture;
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    bool encoded = WebPConfigInit(&config) != 0 && WebPPictureInit(&picture) != 0;
    if (encoded) {
        config.method = 6;
        if (quality >= 101) {
            config.lossless = 1;
            config.quality = 100;
        } else {
            config.quality = static_cast<float>(quality < 0 ? 0 : quality);
        }
        picture.use_argb = 1;
        picture.width = image.width;
        picture.height = image.height;
        picture.writer = WebPMemoryWrite;
        picture.custom_ptr = &writer;
        encoded = WebPValidateConfig(&config) != 0 &&
                  WebPPictureImportBGRA(&picture, pixels.data(), image.width * 4) != 0 &&
                  WebPEncode(&config, &picture) != 0;
    }
    WebPPictureFree(&picture);
    std::unique_ptr<uint8_t, void (*)(void*)> output(writer.mem, WebPFree);
    if (!encoded || writer.size == 0) {
        ShowMessageBox(nullptr, Utf8ToCp932("エンコードエラー."));
        return -1;
    }
    FilePtr file(std::fopen(host_path.c_str(), "wb"));
    if (!file) {
        ShowMessageBox(nullptr, "[SaveWEBP] File Create Error.\r\n\r\n%s", {DisplayName(host_path)});
        return -1;
    }
    const bool written = std::fwrite(output.get(), 1, writer.size, file.get()) == writer.size;
    return FinishFile(std::move(file), host_path, written) ? 0 : -1;
}

}  // namespace zk
