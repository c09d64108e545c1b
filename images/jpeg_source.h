// What every libjpeg decode of the engine shares: the error manager that
// jumps back to the decode in progress, and the memory source that hands
// libjpeg a file already in memory.
//
// libjpeg reports errors by calling error_exit, which must not return; the
// engine's jumps back to the setjmp of the decode. A function that sets that
// jump must keep every object with a destructor, and every variable it
// changes after the setjmp, outside its own frame (in the structure the
// caller owns): nothing is unwound by the jump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <csetjmp>
#include <span>

#include <jpeglib.h>

namespace zk {

struct JpegErrorManager {
    jpeg_error_mgr manager;  // first, so libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf jump;
};

// The whole file on the first fill; every later fill is a fake end-of-image
// marker (libjpeg then finishes the image with grey and a warning), and a
// skip past the end stops at the end: the source never moves outside the
// file.
struct JpegMemorySource {
    jpeg_source_mgr manager;  // first, as above
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    bool delivered = false;
};

void JpegSourceInit(j_decompress_ptr info);
boolean JpegSourceFill(j_decompress_ptr info);
void JpegSourceSkip(j_decompress_ptr info, long count);
void JpegSourceTerminate(j_decompress_ptr info);
[[noreturn]] void JpegErrorExit(j_common_ptr info);

// Fills `errors` with libjpeg's standard manager, JpegErrorExit and a
// silent message output (the engine keeps no diagnostic lines), and
// returns the manager for the structure's `err` field.
jpeg_error_mgr* InstallJpegErrors(JpegErrorManager& errors);
// Points the decompressor at `bytes` through `source`, which must outlive
// the decode.
void InstallJpegMemorySource(j_decompress_ptr info, JpegMemorySource& source, std::span<const uint8_t> bytes);

// One decoded row (R, G, B or grey samples) as B, G, R, 255 pixels; any
// other layout (CMYK) is read as grey from its first bytes.
void ConvertJpegRow(const jpeg_decompress_struct& info, const JSAMPLE* in, uint8_t* out);

}  // namespace zk
