#include "tools/lib/frame_sequence_writer.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>

#include <jpeglib.h>

#include "tools/lib/byte_writer.h"

namespace zk::tools {

JpegPicture MakeJpegPicture(int width, int height, int components,
                            const std::function<uint8_t(int x, int y, int c)>& sample) {
    JpegPicture picture;
    picture.width = width;
    picture.height = height;
    picture.components = components;
    picture.samples.reserve(size_t(width) * size_t(height) * size_t(components));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c) picture.samples.push_back(sample(x, y, c));
    return picture;
}

namespace {

// The writer only ever feeds the library pictures it made itself; an error
// is a tool bug, reported by an empty result.
struct JpegWriteErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};
[[noreturn]] void JumpOnJpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegWriteErrors*>(info->err)->jump, 1);
}

struct JpegWrite {
    jpeg_compress_struct info{};
    JpegWriteErrors errors{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    ~JpegWrite() {
        jpeg_destroy_compress(&info);
        std::free(buffer);
    }
};

bool Compress(JpegWrite& write, const JpegPicture& picture) {
    write.info.err = jpeg_std_error(&write.errors.manager);
    write.errors.manager.error_exit = JumpOnJpegError;
    if (setjmp(write.errors.jump)) return false;
    jpeg_create_compress(&write.info);
    jpeg_mem_dest(&write.info, &write.buffer, &write.size);
    write.info.image_width = JDIMENSION(picture.width);
    write.info.image_height = JDIMENSION(picture.height);
    write.info.input_components = picture.components;
    write.info.in_color_space = picture.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&write.info);
    jpeg_set_quality(&write.info, picture.quality, TRUE);
    if (picture.full_chroma) {
        for (int c = 0; c < write.info.num_components; ++c) {
            write.info.comp_info[c].h_samp_factor = 1;
            write.info.comp_info[c].v_samp_factor = 1;
        }
    }
    jpeg_start_compress(&write.info, TRUE);
    const size_t stride = size_t(picture.width) * size_t(picture.components);
    while (write.info.next_scanline < write.info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(picture.samples.data() + stride * write.info.next_scanline);
        jpeg_write_scanlines(&write.info, &row, 1);
    }
    jpeg_finish_compress(&write.info);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodeJpeg(const JpegPicture& picture) {
    if (picture.width <= 0 || picture.height <= 0 || (picture.components != 1 && picture.components != 3) ||
        picture.samples.size() != size_t(picture.width) * size_t(picture.height) * size_t(picture.components)) {
        return {};
    }
    JpegWrite write;
    if (!Compress(write, picture)) return {};
    return std::vector<uint8_t>(write.buffer, write.buffer + write.size);
}

void ScrambleSequencePart(std::span<uint8_t> part) {
    for (size_t j = 0; j < part.size(); ++j) part[j] ^= uint8_t(0x10 + (j & 15));
}

void PutSequenceField(std::vector<uint8_t>& bytes, size_t offset, int32_t value) {
    const auto v = uint32_t(value);
    for (size_t i = 0; i < 4; ++i) bytes.at(offset + i) = uint8_t(v >> (8 * i));
}

std::vector<uint8_t> BuildFrameSequence(const FrameSequenceSpec& spec) {
    const size_t n = spec.frames.size();
    ByteWriter out;
    for (int i = 0; i < 8; ++i) out.U8(0);
    out.I32(int32_t(n));
    out.I32(spec.alpha_flag);
    for (int32_t value : spec.values) out.I32(value);
    out.U32(0);
    size_t offset = 32 + 12 * n;
    for (const SequenceFrame& frame : spec.frames) {
        out.I32(int32_t(offset));
        offset += frame.colour.size() + frame.alpha.size();
    }
    for (const SequenceFrame& frame : spec.frames) out.I32(int32_t(frame.colour.size()));
    for (const SequenceFrame& frame : spec.frames) out.I32(int32_t(frame.alpha.size()));
    for (const SequenceFrame& frame : spec.frames) {
        for (const std::vector<uint8_t>* part : {&frame.colour, &frame.alpha}) {
            std::vector<uint8_t> scrambled = *part;
            ScrambleSequencePart(scrambled);
            out.Bytes(scrambled);
        }
    }
    return out.Take();
}

}  // namespace zk::tools
