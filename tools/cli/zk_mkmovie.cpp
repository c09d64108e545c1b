// zk_mkmovie: writes a movie made of generated frames and tones, for trying
// the movie commands by hand.
//
//   zk_mkmovie theora OUT.ogv [WIDTH HEIGHT FRAMES] [--sound] [--444]
//   zk_mkmovie mpeg OUT.mpg [WIDTH HEIGHT FRAMES] [--silent]
//
// Theora movies (Ogg, 30 frames a second, 4:2:0 unless --444; --sound adds
// a Vorbis tone) play into layers (commands 73..76); MPEG-1 program streams
// (mpeg1video with an mp2 tone unless --silent) play in the window
// (commands 70..72). The defaults: 160 x 120, 60 frames.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/lib/byte_writer.h"
#include "tools/lib/movie_writer.h"

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    bool sound = false, silent = false, full_chroma = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--sound") sound = true;
        else if (arg == "--silent") silent = true;
        else if (arg == "--444") full_chroma = true;
        else positional.push_back(arg);
    }
    if ((positional.size() != 2 && positional.size() != 5) ||
        (positional[0] != "theora" && positional[0] != "mpeg")) {
        std::fprintf(stderr, "usage: zk_mkmovie theora|mpeg OUT [WIDTH HEIGHT FRAMES] [--sound|--silent] [--444]\n");
        return 2;
    }
    uint32_t width = 160, height = 120, frames = 60;
    if (positional.size() == 5) {
        width = uint32_t(std::strtoul(positional[2].c_str(), nullptr, 10));
        height = uint32_t(std::strtoul(positional[3].c_str(), nullptr, 10));
        frames = uint32_t(std::strtoul(positional[4].c_str(), nullptr, 10));
    }
    std::vector<uint8_t> bytes;
    if (positional[0] == "theora") {
        zk::tools::TheoraSpec spec;
        spec.pic_width = width;
        spec.pic_height = height;
        spec.frames = frames;
        spec.layout = full_chroma ? zk::tools::ChromaLayout::k444 : zk::tools::ChromaLayout::k420;
        spec.with_sound = sound;
        bytes = zk::tools::TheoraMovieFile(spec);
    } else {
        zk::tools::MpegSpec spec;
        spec.width = width;
        spec.height = height;
        spec.frames = frames;
        spec.with_sound = !silent;
        bytes = zk::tools::MpegMovieFile(spec);
    }
    if (bytes.empty() || !zk::tools::WriteFile(positional[1], bytes)) {
        std::fprintf(stderr, "zk_mkmovie: cannot make %s\n", positional[1].c_str());
        return 1;
    }
    return 0;
}
