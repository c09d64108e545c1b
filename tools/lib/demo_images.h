// The demo game's pictures, drawn by code so that the game needs no binary
// files in the source tree and a test can recompute any of their pixels
// from the formulas written here:
//
//   image/bg.bmp     640 x 480, 24 bits: R = 40 + 150x/639, G = 30 + 120y/479,
//                    B = 200 - 100y/479 (a dusk gradient)
//   image/tile.bmp   100 x 100, 24 bits: R = 64 + 128x/99, G = 64 + 128y/99,
//                    B = 160 (one tile, shown in several blend modes)
//   image/ball.bmp   64 x 64, 32 bits: R = 255, G = 120 + 2x, B = 40 + 2y;
//                    alpha 255 within 28 pixels of the centre, fading to 0
//                    at 32 (a soft-edged ball)
//   image/photo.bmp  200 x 150, 24 bits: 25-pixel checks, light (240, 230,
//                    200) where (x/25 + y/25) is even, else dark (60, 90, 150)
//   image/wipe.bmp   200 x 150, 24 bits: grey x * 255 / 199 (a left-to-right
//                    wipe for the photo's mask)
//   image/title.bmp  320 x 60, 24 bits: R = 255 - y, G = 200 - x/2,
//                    B = 60 + x/4
//   image/spark.seq  a frame sequence of 8 frames of 48 x 48 (alpha flag 1):
//                    frame f is the flat colour R = 255, G = 120 + 15f,
//                    B = 40 + 20f (JPEG) with the alpha of a disc of radius
//                    r = 14 + 3 min(f, 8 - f) around (23.5, 23.5): 255 within
//                    r - 4, 0 from r on, linear in between (JPEG, grey)
//   image/screen.bmp 96 x 32, 24 bits, black: the layer the opening movie
//                    (tools/lib/demo_movies.h) plays into
//
// All divisions are integer divisions; x and y count from the top-left.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk::tools {

struct DemoImage {
    std::string name;  // relative to the game folder, '/' separated
    std::vector<uint8_t> bytes;
};

// Every picture of the demo as a BMP file, and the spark sequence.
std::vector<DemoImage> DemoImages();

inline constexpr int kDemoMovieWidth = 96;
inline constexpr int kDemoMovieHeight = 32;
inline constexpr int kDemoSparkFrames = 8;
inline constexpr int kDemoSparkSide = 48;
// The spark's colour (0xRRGGBB) and alpha of a frame.
uint32_t DemoSparkColour(int frame);
uint8_t DemoSparkAlpha(int frame, int x, int y);

// The ball's alpha at a pixel: 255 inside the 28-pixel radius, 0 from 32
// pixels on, linear in between (distances from the centre (31.5, 31.5)).
uint8_t DemoBallAlpha(int x, int y);

}  // namespace zk::tools
