// The Theora movie library: decodes the video of an Ogg Theora file that
// the engine holds in memory into a BGRA frame buffer the engine owns, and
// stands for the movie library's sound decoder, which loads nothing (the
// engine never asks it for samples). It is one library of the codec
// registry (CodecLibraryId::kTheoraLib): the engine loads it before a movie
// opens and unloads it when the movie closes, so its "available" flag
// drives the engine's missing-library path.
//
// The library reads the file only through the engine's callbacks, never
// past the size they report, and writes pixels only into the rows the row
// callback hands out, after the resize callback has accepted the picture
// size. Every byte of the file is untrusted: a stream whose frame or picture
// size is 0, above kTheoraMaxFrameSide or outside its frame is refused
// (frame total 0, nothing written); a packet that fails to decode is
// skipped and the frame shown before it stays.
//
// Pixels: the picture region (pic_x, pic_y, pic_width x pic_height) of the
// decoded frame, converted from BT.601 video range with the integer formula
// below (chroma of the sample covering the pixel, 4:2:0, 4:2:2 or 4:4:4),
// bytes B, G, R, A with A = 255. With the vertical reverse set (the engine
// always sets it) row 0 of the buffer is the picture's top row; otherwise
// its bottom row.
//
//   C = Y - 16, D = U - 128, E = V - 128
//   R = clamp((298C + 409E + 128) >> 8)
//   G = clamp((298C - 100D - 208E + 128) >> 8)
//   B = clamp((298C + 516D + 128) >> 8)
//
// Threading: a decoder is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zk::platform {

inline constexpr uint32_t kTheoraMaxFrameSide = 8192;

// What the library reads the file through, and writes the frames into. Each
// callback receives `user` first.
struct TheoraMovieCallbacks {
    void* user = nullptr;
    // Copies up to `count` bytes from `position` to `destination`: the number
    // copied (0 at or past the end).
    size_t (*read)(void* user, uint8_t* destination, uint64_t position, size_t count) = nullptr;
    uint64_t (*size)(void* user) = nullptr;
    // The address of row `row` of the frame buffer (width x 4 bytes), or null
    // for a row that is not there.
    uint8_t* (*row)(void* user, int32_t row) = nullptr;
    // The picture is width x height: the buffer is made to fit. Negative when
    // it could not be (the library then writes nothing).
    int32_t (*resize)(void* user, int32_t width, int32_t height) = nullptr;
};

// One BT.601 video-range sample converted as above: 0xAARRGGBB, A = 255.
uint32_t TheoraPixel(uint8_t y, uint8_t u, uint8_t v);

class TheoraVideoDecoder {
public:
    TheoraVideoDecoder();
    ~TheoraVideoDecoder();
    TheoraVideoDecoder(const TheoraVideoDecoder&) = delete;
    TheoraVideoDecoder& operator=(const TheoraVideoDecoder&) = delete;

    // 1: row 0 of the buffer is the picture's top row.
    void SetVerticalReverse(int32_t reverse);
    // Reads the headers of the first Theora stream and the granule position
    // of its last page, then gives the picture size to the resize callback.
    // 0 when a stream can be decoded, -1 otherwise (the frame total is then
    // 0). The callbacks must stay valid until the decoder is freed.
    int32_t Load(const TheoraMovieCallbacks& callbacks);
    // th_granule_frame of the last Theora page's granule position + 1; 0
    // without a decodable stream.
    int32_t TotalFrames() const;
    // Decodes forward to frame `index` (an earlier frame restarts from the
    // first page; the frames between are decoded, not written) and writes it
    // into the rows. 1 when that frame was written, else 0.
    int32_t DecodeFrame(int32_t index);
    // The picture size (0 x 0 before a successful load).
    int32_t PictureWidth() const;
    int32_t PictureHeight() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// The library's sound decoder: loads nothing and answers sample 0.
class TheoraAudioDecoder {
public:
    int32_t Load(const TheoraMovieCallbacks& callbacks);
    int32_t NowSample() const { return 0; }
};

}  // namespace zk::platform
