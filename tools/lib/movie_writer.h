// Writers of the movie files the engine plays, for tests, benchmarks and the
// demo: Ogg Theora (libtheoraenc, with or without a Vorbis stream, any
// picture size and offset inside the 16-aligned frame, 4:2:0, 4:2:2 or
// 4:4:4) and MPEG-1 program streams (libavcodec's mpeg1video and mp2).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "tools/lib/sound_writer.h"

namespace zk::tools {

// Sample (x, y) of plane p (0 Y', 1 Cb, 2 Cr) of frame f, in the plane's own
// (possibly decimated) coordinates, the frame's top-left corner at (0, 0).
using PlaneSource = std::function<uint8_t(uint32_t frame, int plane, uint32_t x, uint32_t y)>;

// Moving stripes and a frame-numbered block: frames differ from each other.
PlaneSource TestPattern();

enum class ChromaLayout : uint8_t { k420, k422, k444 };

struct TheoraSpec {
    uint32_t pic_width = 64, pic_height = 48;
    uint32_t pic_x = 0, pic_y = 0;  // the frame is the picture plus these, rounded up to 16
    uint32_t frames = 30;
    uint32_t fps = 30;
    ChromaLayout layout = ChromaLayout::k420;
    int quality = 48;              // 0..63
    uint32_t keyframe_every = 64;  // the most frames between key frames
    PlaneSource planes = TestPattern();
    // A Vorbis stream beside the video: `sound_rate` samples a second of
    // `sound_channels`, as long as the video, from `sound`.
    bool with_sound = false;
    uint16_t sound_channels = 2;
    uint32_t sound_rate = 22050;
    SampleSource sound = SineTone(440.0, 22050, 8000);
};

// An Ogg Theora file; empty on failure.
std::vector<uint8_t> TheoraMovieFile(const TheoraSpec& spec);

struct MpegSpec {
    uint32_t width = 160, height = 120;  // even
    uint32_t frames = 30;
    uint32_t fps = 30;  // 24, 25 or 30
    PlaneSource planes = TestPattern();
    bool with_sound = true;
    uint32_t sound_rate = 44100;  // an MPEG-1 layer II rate
    SampleSource sound = SineTone(440.0, 44100, 8000);  // stereo
};

// An MPEG-1 program stream (pack headers 00 00 01 BA 2x); empty on failure.
std::vector<uint8_t> MpegMovieFile(const MpegSpec& spec);

}  // namespace zk::tools
