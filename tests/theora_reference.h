// Test helper: every frame of an Ogg Theora file as libtheoradec decodes it,
// the picture region converted to BGRA pixels (0xAARRGGBB) by the BT.601
// video-range formula written out here, top row first. Independent of the
// engine's wrapper: the expected pixels of the movie tests.
#pragma once

#include <ogg/ogg.h>
#include <theora/theoradec.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zk::testing_support {

struct ReferenceMovie {
    uint32_t width = 0, height = 0;
    std::vector<std::vector<uint32_t>> frames;  // width x height each
};

inline uint32_t ReferencePixel(int y, int u, int v) {
    const int c = y - 16, d = u - 128, e = v - 128;
    auto clamp = [](int x) { return uint32_t(std::clamp(x, 0, 255)); };
    const uint32_t r = clamp((298 * c + 409 * e + 128) >> 8);
    const uint32_t g = clamp((298 * c - 100 * d - 208 * e + 128) >> 8);
    const uint32_t b = clamp((298 * c + 516 * d + 128) >> 8);
    return 0xFF000000u | r << 16 | g << 8 | b;
}

inline ReferenceMovie DecodeReferenceMovie(const std::vector<uint8_t>& file) {
    ReferenceMovie movie;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, long(file.size()));
    std::memcpy(buffer, file.data(), file.size());
    ogg_sync_wrote(&sync, long(file.size()));
    th_info info;
    th_info_init(&info);
    th_comment comment;
    th_comment_init(&comment);
    th_setup_info* setup = nullptr;
    th_dec_ctx* decoder = nullptr;
    ogg_stream_state stream;
    bool have_stream = false;
    int headers = 0;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (!have_stream && ogg_page_bos(&page)) {
            ogg_stream_state probe;
            ogg_stream_init(&probe, ogg_page_serialno(&page));
            ogg_stream_pagein(&probe, &page);
            ogg_packet packet;
            const bool theora = ogg_stream_packetout(&probe, &packet) == 1 && packet.bytes >= 7 &&
                                std::memcmp(packet.packet, "\x80theora", 7) == 0;
            ogg_stream_clear(&probe);
            if (!theora) continue;
            ogg_stream_init(&stream, ogg_page_serialno(&page));
            have_stream = true;
        }
        if (!have_stream || ogg_page_serialno(&page) != stream.serialno) continue;
        ogg_stream_pagein(&stream, &page);
        ogg_packet packet;
        while (ogg_stream_packetout(&stream, &packet) == 1) {
            if (headers < 3) {
                if (th_decode_headerin(&info, &comment, &setup, &packet) > 0) ++headers;
                if (headers == 3) decoder = th_decode_alloc(&info, setup);
                continue;
            }
            if (decoder == nullptr) break;
            th_decode_packetin(decoder, &packet, nullptr);
            th_ycbcr_buffer planes;
            th_decode_ycbcr_out(decoder, planes);
            const int xdec = info.pixel_fmt == TH_PF_444 ? 0 : 1;
            const int ydec = info.pixel_fmt == TH_PF_420 ? 1 : 0;
            movie.width = info.pic_width;
            movie.height = info.pic_height;
            std::vector<uint32_t> pixels(size_t(info.pic_width) * info.pic_height);
            for (uint32_t r = 0; r < info.pic_height; ++r) {
                for (uint32_t x = 0; x < info.pic_width; ++x) {
                    const uint32_t fy = info.pic_y + r, fx = info.pic_x + x;
                    const int y = planes[0].data[fy * planes[0].stride + fx];
                    const int u = planes[1].data[(fy >> ydec) * planes[1].stride + (fx >> xdec)];
                    const int v = planes[2].data[(fy >> ydec) * planes[2].stride + (fx >> xdec)];
                    pixels[size_t(r) * info.pic_width + x] = ReferencePixel(y, u, v);
                }
            }
            movie.frames.push_back(std::move(pixels));
        }
    }
    if (decoder != nullptr) th_decode_free(decoder);
    if (setup != nullptr) th_setup_free(setup);
    if (have_stream) ogg_stream_clear(&stream);
    th_comment_clear(&comment);
    th_info_clear(&info);
    ogg_sync_clear(&sync);
    return movie;
}

}  // namespace zk::testing_support
