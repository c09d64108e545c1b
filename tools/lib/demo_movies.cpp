#include "tools/lib/demo_movies.h"

#include "tools/lib/demo_images.h"
#include "tools/lib/movie_writer.h"

namespace zk::tools {

std::vector<DemoMovie> DemoMovies() {
    TheoraSpec spec;
    spec.pic_width = kDemoMovieWidth;
    spec.pic_height = kDemoMovieHeight;
    spec.frames = kDemoMovieFrames;
    spec.keyframe_every = 30;
    spec.planes = [](uint32_t frame, int plane, uint32_t x, uint32_t) -> uint8_t {
        if (plane == 0) return uint8_t(((x + frame * 2) / 8) % 2 != 0 ? 180 : 90);
        // Cb falls and Cr rises over the movie: blue to orange.
        const uint32_t t = frame * 255 / (kDemoMovieFrames - 1);
        return uint8_t(plane == 1 ? 200 - t * 140 / 255 : 60 + t * 150 / 255);
    };
    return {{"movie/opening.ogv", TheoraMovieFile(spec)}};
}

}  // namespace zk::tools
