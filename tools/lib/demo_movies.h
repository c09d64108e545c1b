// The demo game's movie, made by code like its pictures:
//
//   movie/opening.ogv  Ogg Theora, 96 x 32 (image/screen.bmp's size), 60
//                      frames at 30 a second: stripes moving to the left
//                      over a colour that turns from blue to orange
//
// It stays a loose file of the game folder (a movie only in a pack does not
// play).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk::tools {

struct DemoMovie {
    std::string name;  // relative to the game folder, '/' separated
    std::vector<uint8_t> bytes;
};

inline constexpr int kDemoMovieFrames = 60;

std::vector<DemoMovie> DemoMovies();

}  // namespace zk::tools
