// Fuzzes the JPEG decoder and the memory source it reads through. First the
// source alone: the input's bytes, read as a list of fills and skips of any
// length, must never move it outside the file (or the two-byte end marker
// it hands out once the file is over). Then the decode: it succeeds or
// fails with its status, and a decoded image has a size of 1..8192, a block
// that holds it and every pixel opaque.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "layers/cg_image.h"
#include "images/image_decoders.h"
#include "images/jpeg_source.h"
#include "tests/fuzz/decoder_fuzz_support.h"
#include "tests/fuzz/jpeg_header_read.h"

namespace {

bool SourceInsideFile(const zk::JpegMemorySource& source) {
    const jpeg_source_mgr& m = source.manager;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(source.bytes);
    const uintptr_t end = begin + source.size;
    const uintptr_t next = reinterpret_cast<uintptr_t>(m.next_input_byte);
    if (next >= begin && next <= end) return m.bytes_in_buffer <= end - next;
    // Past the end of the file: the end-of-image marker, whole or in part.
    return m.bytes_in_buffer <= 2 && (m.bytes_in_buffer == 0 || m.next_input_byte[m.bytes_in_buffer - 1] == 0xD9);
}

int ReadHeader(zk::fuzzing::JpegHeaderRead& read, std::span<const uint8_t> bytes) {
    read.info.err = zk::InstallJpegErrors(read.errors);
    if (setjmp(read.errors.jump)) return -1;
    jpeg_create_decompress(&read.info);
    read.created = true;
    zk::InstallJpegMemorySource(&read.info, read.source, bytes);
    // The source alone, driven by the input: each byte is a fill (odd) or a
    // skip of a length made from it (even), up to 64 steps.
    jpeg_source_mgr& manager = read.source.manager;
    manager.init_source(&read.info);
    for (size_t i = 0; i < bytes.size() && i < 64; ++i) {
        const uint8_t step = bytes[i];
        if (step & 1) {
            manager.fill_input_buffer(&read.info);
        } else {
            const long lengths[] = {0, 1, 2, 7, long(bytes.size()) - 1, long(bytes.size()), long(bytes.size()) + 1,
                                    -1, 0x7FFFFFFFL, -0x7FFFFFFFL - 1, 1L << 40, 3};
            manager.skip_input_data(&read.info, lengths[(step >> 1) % 12]);
        }
        if (!SourceInsideFile(read.source)) std::abort();
    }
    // Then a header read from the start, for the size.
    zk::InstallJpegMemorySource(&read.info, read.source, bytes);
    jpeg_read_header(&read.info, TRUE);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    {
        zk::fuzzing::JpegHeaderRead read;
        if (ReadHeader(read, bytes) == 0 && zk::fuzzing::TooLargeToFuzz(read.info.image_width, read.info.image_height)) {
            return -1;
        }
    }
    zk::fuzzing::SetUpDecoderFuzzing();
    zk::CgImage image;
    if (zk::DecodeJpegBytes(bytes, image, "fuzz.jpg") != 0) return 0;
    if (!zk::ImageSizeAcceptable(image.width, image.height)) std::abort();
    const size_t pixels = size_t(image.width) * size_t(image.height);
    if (image.owned_block.size() < pixels * 4) std::abort();
    for (size_t i = 0; i < pixels; ++i) {
        if (image.owned_block.data()[i * 4 + 3] != 0xFF) std::abort();
    }
    return 0;
}
