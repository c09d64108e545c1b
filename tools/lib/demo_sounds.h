// The demo game's sounds, made by code like its pictures:
//
//   sound/bgm.ogg    Ogg Vorbis, 22050 Hz mono, 8 s: an arpeggio of C, E, G
//                    and C, a quarter second a note, each note rising in
//                    10 ms and dying away (loops seamlessly)
//   sound/click.wav  WAVE, 22050 Hz mono 16-bit, 40 ms: a 1.5 kHz tick
//                    that decays in 5 ms
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk::tools {

struct DemoSound {
    std::string name;  // relative to the game folder, '/' separated
    std::vector<uint8_t> bytes;
};

std::vector<DemoSound> DemoSounds();

}  // namespace zk::tools
