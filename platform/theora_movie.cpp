#include "platform/theora_movie.h"

#include <ogg/ogg.h>
#include <theora/theoradec.h>

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace zk::platform {

namespace {

constexpr size_t kReadChunk = 16384;

uint8_t Clamp255(int32_t value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

// The formula's terms, one table per channel term, so that a pixel costs
// five lookups and three clamps.
struct ConversionTables {
    std::array<int32_t, 256> luma{};      // 298C + 128
    std::array<int32_t, 256> red_v{};     // 409E
    std::array<int32_t, 256> green_u{};   // -100D
    std::array<int32_t, 256> green_v{};   // -208E
    std::array<int32_t, 256> blue_u{};    // 516D
    ConversionTables() {
        for (int32_t i = 0; i < 256; ++i) {
            luma[size_t(i)] = 298 * (i - 16) + 128;
            red_v[size_t(i)] = 409 * (i - 128);
            green_u[size_t(i)] = -100 * (i - 128);
            green_v[size_t(i)] = -208 * (i - 128);
            blue_u[size_t(i)] = 516 * (i - 128);
        }
    }
};

const ConversionTables& Tables() {
    static const ConversionTables tables;
    return tables;
}

// Pixels [from, to) of a picture row, one at a time: `width` pixels from
// luma samples `y`, chroma sample of pixel x at u[(x0 + x) >> xdec] (u and v
// point at the chroma row start).
void ConvertPixels(uint8_t* out, const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t x0, uint32_t from,
                   uint32_t to, int xdec) {
    const ConversionTables& t = Tables();
    for (uint32_t x = from; x < to; ++x) {
        const uint32_t cx = (x0 + x) >> xdec;
        const int32_t l = t.luma[y[x]];
        const uint8_t cb = u[cx], cr = v[cx];
        out[4 * size_t(x) + 0] = Clamp255((l + t.blue_u[cb]) >> 8);
        out[4 * size_t(x) + 1] = Clamp255((l + t.green_u[cb] + t.green_v[cr]) >> 8);
        out[4 * size_t(x) + 2] = Clamp255((l + t.red_v[cr]) >> 8);
        out[4 * size_t(x) + 3] = 255;
    }
}

// The same formula eight pixels at a time: each pair of terms multiplied
// and summed in 32 bits (pmaddwd), shifted, packed with saturation to
// 0..255. The results equal ConvertPixels' bit for bit.
__m128i Channel(__m128i first, __m128i second, __m128i pair, __m128i third, __m128i pair3) {
    const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(first, second), pair),
                                     _mm_madd_epi16(_mm_unpacklo_epi16(third, _mm_set1_epi16(1)), pair3));
    const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(first, second), pair),
                                     _mm_madd_epi16(_mm_unpackhi_epi16(third, _mm_set1_epi16(1)), pair3));
    const __m128i words = _mm_packs_epi32(_mm_srai_epi32(lo, 8), _mm_srai_epi32(hi, 8));
    return _mm_packus_epi16(words, words);  // 8 bytes in the low half
}

// One picture row (see ConvertPixels).
void ConvertRow(uint8_t* out, const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t x0, uint32_t width,
                int xdec) {
    uint32_t x = 0;
    // With decimated chroma the pairs of pixels sharing a sample must start
    // on an even column; an odd offset takes the plain path.
    if (xdec == 0 || (x0 & 1) == 0) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i c16 = _mm_set1_epi16(16), c128 = _mm_set1_epi16(128);
        const __m128i red = _mm_set_epi16(409, 298, 409, 298, 409, 298, 409, 298);        // (C, E)
        const __m128i green = _mm_set_epi16(-100, 298, -100, 298, -100, 298, -100, 298);  // (C, D)
        const __m128i green3 = _mm_set_epi16(128, -208, 128, -208, 128, -208, 128, -208); // (E, 1)
        const __m128i blue = _mm_set_epi16(516, 298, 516, 298, 516, 298, 516, 298);       // (C, D)
        const __m128i round = _mm_set_epi16(128, 0, 128, 0, 128, 0, 128, 0);              // (_, 1)
        const __m128i alpha = _mm_set1_epi8(char(0xFF));
        const uint8_t* cu = u + (x0 >> xdec);
        const uint8_t* cv = v + (x0 >> xdec);
        for (; x + 8 <= width; x += 8) {
            __m128i uu, vv;
            if (xdec != 0) {
                int32_t u4, v4;
                std::memcpy(&u4, cu + x / 2, 4);
                std::memcpy(&v4, cv + x / 2, 4);
                uu = _mm_cvtsi32_si128(u4);
                vv = _mm_cvtsi32_si128(v4);
                uu = _mm_unpacklo_epi8(uu, uu);
                vv = _mm_unpacklo_epi8(vv, vv);
            } else {
                uu = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cu + x));
                vv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cv + x));
            }
            const __m128i c = _mm_sub_epi16(
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x)), zero), c16);
            const __m128i d = _mm_sub_epi16(_mm_unpacklo_epi8(uu, zero), c128);
            const __m128i e = _mm_sub_epi16(_mm_unpacklo_epi8(vv, zero), c128);
            const __m128i r = Channel(c, e, red, zero, round);
            const __m128i g = Channel(c, d, green, e, green3);
            const __m128i b = Channel(c, d, blue, zero, round);
            const __m128i bg = _mm_unpacklo_epi8(b, g);
            const __m128i ra = _mm_unpacklo_epi8(r, alpha);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * size_t(x)), _mm_unpacklo_epi16(bg, ra));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * size_t(x) + 16), _mm_unpackhi_epi16(bg, ra));
        }
    }
    ConvertPixels(out, y, u, v, x0, x, width, xdec);
}

}  // namespace

uint32_t TheoraPixel(uint8_t y, uint8_t u, uint8_t v) {
    const int32_t c = int32_t(y) - 16, d = int32_t(u) - 128, e = int32_t(v) - 128;
    const uint32_t r = Clamp255((298 * c + 409 * e + 128) >> 8);
    const uint32_t g = Clamp255((298 * c - 100 * d - 208 * e + 128) >> 8);
    const uint32_t b = Clamp255((298 * c + 516 * d + 128) >> 8);
    return 0xFF000000u | r << 16 | g << 8 | b;
}

struct TheoraVideoDecoder::State {
    TheoraMovieCallbacks callbacks;
    bool reverse = false;
    bool ready = false;
    th_info info{};
    th_comment comment{};
    th_setup_info* setup = nullptr;
    th_dec_ctx* decoder = nullptr;
    ogg_sync_state sync{};
    ogg_stream_state stream{};
    bool stream_made = false;
    int serial = 0;
    uint64_t read_position = 0;
    uint64_t file_size = 0;
    int32_t total_frames = 0;
    int32_t decoded = -1;  // the last frame fed to the decoder

    State() {
        th_info_init(&info);
        th_comment_init(&comment);
        ogg_sync_init(&sync);
    }
    ~State() {
        if (decoder != nullptr) th_decode_free(decoder);
        if (setup != nullptr) th_setup_free(setup);
        th_comment_clear(&comment);
        th_info_clear(&info);
        if (stream_made) ogg_stream_clear(&stream);
        ogg_sync_clear(&sync);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // More bytes into the sync layer: false at the end of the file.
    bool Feed() {
        if (callbacks.read == nullptr || read_position >= file_size) return false;
        const size_t want = size_t(std::min<uint64_t>(kReadChunk, file_size - read_position));
        char* buffer = ogg_sync_buffer(&sync, long(want));
        if (buffer == nullptr) return false;
        size_t got = callbacks.read(callbacks.user, reinterpret_cast<uint8_t*>(buffer), read_position, want);
        got = std::min(got, want);
        if (got == 0) return false;
        ogg_sync_wrote(&sync, long(got));
        read_position += got;
        return true;
    }

    // The next page of the file: false at its end.
    bool NextPage(ogg_page& page) {
        for (;;) {
            const int result = ogg_sync_pageout(&sync, &page);
            if (result == 1) return true;
            if (result < 0) continue;  // bytes skipped to the next capture
            if (!Feed()) return false;
        }
    }

    // The next packet of the Theora stream: false at the end of the file.
    bool NextPacket(ogg_packet& packet) {
        for (;;) {
            const int result = ogg_stream_packetout(&stream, &packet);
            if (result == 1) return true;
            if (result < 0) continue;  // a hole in the data
            ogg_page page;
            if (!NextPage(page)) return false;
            if (ogg_page_serialno(&page) == serial) ogg_stream_pagein(&stream, &page);
        }
    }

    void Rewind() {
        ogg_sync_reset(&sync);
        read_position = 0;
        if (stream_made) ogg_stream_reset_serialno(&stream, serial);
    }

    bool SizesAcceptable() const {
        const th_info& i = info;
        if (i.frame_width == 0 || i.frame_height == 0 || i.frame_width > kTheoraMaxFrameSide ||
            i.frame_height > kTheoraMaxFrameSide)
            return false;
        if (i.pic_width == 0 || i.pic_height == 0) return false;
        if (uint64_t(i.pic_x) + i.pic_width > i.frame_width || uint64_t(i.pic_y) + i.pic_height > i.frame_height)
            return false;
        return i.pixel_fmt == TH_PF_420 || i.pixel_fmt == TH_PF_422 || i.pixel_fmt == TH_PF_444;
    }

    // Finds the first Theora stream and reads its three headers.
    bool ReadHeaders() {
        ogg_page page;
        while (NextPage(page)) {
            if (!ogg_page_bos(&page)) {
                if (stream_made && ogg_page_serialno(&page) == serial) ogg_stream_pagein(&stream, &page);
                if (stream_made) break;
                continue;
            }
            if (stream_made) {
                continue;  // another stream's first page
            }
            ogg_stream_state probe;
            if (ogg_stream_init(&probe, ogg_page_serialno(&page)) != 0) return false;
            ogg_stream_pagein(&probe, &page);
            ogg_packet packet;
            const bool theora = ogg_stream_packetout(&probe, &packet) == 1 && packet.bytes >= 7 &&
                                std::memcmp(packet.packet, "\x80theora", 7) == 0;
            ogg_stream_clear(&probe);
            if (!theora) continue;
            serial = ogg_page_serialno(&page);
            if (ogg_stream_init(&stream, serial) != 0) return false;
            stream_made = true;
            ogg_stream_pagein(&stream, &page);
        }
        if (!stream_made) return false;
        // The headers: the pages after the first ones join as they come.
        for (int headers = 0; headers < 3;) {
            ogg_packet packet;
            if (!NextPacket(packet)) return false;
            const int result = th_decode_headerin(&info, &comment, &setup, &packet);
            if (result <= 0) return false;  // not a header, or a damaged one
            ++headers;
        }
        return setup != nullptr;
    }

    // The granule position of the stream's last page that ends a packet.
    int64_t LastGranule() {
        Rewind();
        int64_t last = -1;
        ogg_page page;
        while (NextPage(page)) {
            if (ogg_page_serialno(&page) != serial) continue;
            const int64_t granule = ogg_page_granulepos(&page);
            if (granule >= 0) last = granule;
        }
        return last;
    }

    bool Restart() {
        Rewind();
        if (decoder != nullptr) th_decode_free(decoder);
        decoder = th_decode_alloc(&info, setup);
        decoded = -1;
        return decoder != nullptr;
    }

    void WriteFrame() {
        th_ycbcr_buffer planes;
        if (th_decode_ycbcr_out(decoder, planes) != 0) return;
        const int xdec = info.pixel_fmt == TH_PF_444 ? 0 : 1;
        const int ydec = info.pixel_fmt == TH_PF_420 ? 1 : 0;
        const uint32_t width = info.pic_width, height = info.pic_height;
        // The planes hold the whole frame; the checks at load keep the
        // picture inside it. A plane of another size than the header's
        // would be the library's fault: nothing is written then.
        if (planes[0].width < int(info.frame_width) || planes[0].height < int(info.frame_height) ||
            planes[1].width < int(info.frame_width >> xdec) || planes[1].height < int(info.frame_height >> ydec) ||
            planes[2].width < planes[1].width || planes[2].height < planes[1].height)
            return;
        for (uint32_t r = 0; r < height; ++r) {
            const int32_t out_row = reverse ? int32_t(r) : int32_t(height - 1 - r);
            uint8_t* out = callbacks.row != nullptr ? callbacks.row(callbacks.user, out_row) : nullptr;
            if (out == nullptr) continue;
            const uint32_t yr = info.pic_y + r, cr = yr >> ydec;
            const uint8_t* y = planes[0].data + ptrdiff_t(yr) * planes[0].stride + info.pic_x;
            const uint8_t* u = planes[1].data + ptrdiff_t(cr) * planes[1].stride;
            const uint8_t* v = planes[2].data + ptrdiff_t(cr) * planes[2].stride;
            ConvertRow(out, y, u, v, info.pic_x, width, xdec);
        }
    }
};

TheoraVideoDecoder::TheoraVideoDecoder() : state_(std::make_unique<State>()) {}
TheoraVideoDecoder::~TheoraVideoDecoder() = default;

void TheoraVideoDecoder::SetVerticalReverse(int32_t reverse) { state_->reverse = reverse != 0; }

int32_t TheoraVideoDecoder::Load(const TheoraMovieCallbacks& callbacks) {
    // A decoder loads one file.
    if (state_->ready || state_->stream_made) return -1;
    State& s = *state_;
    s.callbacks = callbacks;
    s.file_size = callbacks.size != nullptr ? callbacks.size(callbacks.user) : 0;
    if (!s.ReadHeaders() || !s.SizesAcceptable()) return -1;
    if (!s.Restart()) return -1;
    const int64_t last = s.LastGranule();
    const int64_t frame = last >= 0 ? th_granule_frame(s.decoder, last) : -1;
    if (frame < 0) return -1;
    if (!s.Restart()) return -1;
    if (callbacks.resize == nullptr ||
        callbacks.resize(callbacks.user, int32_t(s.info.pic_width), int32_t(s.info.pic_height)) < 0)
        return -1;
    s.total_frames = int32_t(std::min<int64_t>(frame + 1, INT32_MAX));
    s.ready = true;
    return 0;
}

int32_t TheoraVideoDecoder::TotalFrames() const { return state_->ready ? state_->total_frames : 0; }

int32_t TheoraVideoDecoder::PictureWidth() const { return state_->ready ? int32_t(state_->info.pic_width) : 0; }
int32_t TheoraVideoDecoder::PictureHeight() const { return state_->ready ? int32_t(state_->info.pic_height) : 0; }

int32_t TheoraVideoDecoder::DecodeFrame(int32_t index) {
    State& s = *state_;
    if (!s.ready || index < 0 || index >= s.total_frames) return 0;
    if (index < s.decoded && !s.Restart()) {
        s.ready = false;
        return 0;
    }
    while (s.decoded < index) {
        ogg_packet packet;
        if (!s.NextPacket(packet)) return 0;  // the file ends before the frame
        if (packet.bytes > 0 && (packet.packet[0] & 0x80) != 0) continue;  // a header again
        // A packet that fails to decode is passed over: the frame before
        // it stays the decoder's output.
        th_decode_packetin(s.decoder, &packet, nullptr);
        ++s.decoded;
    }
    s.WriteFrame();
    return 1;
}

int32_t TheoraAudioDecoder::Load(const TheoraMovieCallbacks&) { return 0; }

}  // namespace zk::platform
