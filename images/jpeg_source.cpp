#include "images/jpeg_source.h"

#include <jerror.h>

namespace zk {

namespace {

JpegMemorySource& SourceOf(j_decompress_ptr info) { return *reinterpret_cast<JpegMemorySource*>(info->src); }

void DiscardJpegMessage(j_common_ptr) {}

const JOCTET kFakeEndOfImage[2] = {0xFF, JPEG_EOI};

}  // namespace

void JpegSourceInit(j_decompress_ptr info) {
    JpegMemorySource& source = SourceOf(info);
    source.manager.next_input_byte = source.bytes;
    source.manager.bytes_in_buffer = 0;
    source.delivered = false;
}

boolean JpegSourceFill(j_decompress_ptr info) {
    JpegMemorySource& source = SourceOf(info);
    if (!source.delivered && source.size > 0) {
        source.delivered = true;
        source.manager.next_input_byte = source.bytes;
        source.manager.bytes_in_buffer = source.size;
        return TRUE;
    }
    source.delivered = true;
    // The file has ended before the image did.
    WARNMS(info, JWRN_JPEG_EOF);
    source.manager.next_input_byte = kFakeEndOfImage;
    source.manager.bytes_in_buffer = sizeof(kFakeEndOfImage);
    return TRUE;
}

void JpegSourceSkip(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    JpegMemorySource& source = SourceOf(info);
    if (!source.delivered) JpegSourceFill(info);
    jpeg_source_mgr& manager = source.manager;
    if (static_cast<unsigned long>(count) > manager.bytes_in_buffer) {
        // Stop at the end; the next fill says the file is over.
        manager.next_input_byte += manager.bytes_in_buffer;
        manager.bytes_in_buffer = 0;
        return;
    }
    manager.next_input_byte += count;
    manager.bytes_in_buffer -= static_cast<size_t>(count);
}

void JpegSourceTerminate(j_decompress_ptr) {}

void JpegErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrorManager*>(info->err);
    std::longjmp(errors->jump, 1);
}

jpeg_error_mgr* InstallJpegErrors(JpegErrorManager& errors) {
    jpeg_error_mgr* manager = jpeg_std_error(&errors.manager);
    manager->error_exit = JpegErrorExit;
    manager->output_message = DiscardJpegMessage;
    return manager;
}

void InstallJpegMemorySource(j_decompress_ptr info, JpegMemorySource& source, std::span<const uint8_t> bytes) {
    source.bytes = bytes.data();
    source.size = bytes.size();
    source.delivered = false;
    source.manager.init_source = JpegSourceInit;
    source.manager.fill_input_buffer = JpegSourceFill;
    source.manager.skip_input_data = JpegSourceSkip;
    source.manager.resync_to_restart = jpeg_resync_to_restart;
    source.manager.term_source = JpegSourceTerminate;
    source.manager.next_input_byte = source.bytes;
    source.manager.bytes_in_buffer = 0;
    info->src = &source.manager;
}

void ConvertJpegRow(const jpeg_decompress_struct& info, const JSAMPLE* in, uint8_t* out) {
    const JDIMENSION width = info.output_width;
    if (info.out_color_components == 3) {
        for (JDIMENSION x = 0; x < width; ++x) {
            out[x * 4 + 0] = in[x * 3 + 2];
            out[x * 4 + 1] = in[x * 3 + 1];
            out[x * 4 + 2] = in[x * 3 + 0];
            out[x * 4 + 3] = 0xFF;
        }
        return;
    }
    // Grey, and any other layout (CMYK) read as grey from its first bytes.
    for (JDIMENSION x = 0; x < width; ++x) {
        out[x * 4 + 0] = out[x * 4 + 1] = out[x * 4 + 2] = in[x];
        out[x * 4 + 3] = 0xFF;
    }
}

}  // namespace zk
