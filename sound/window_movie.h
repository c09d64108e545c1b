// A movie played in the window (commands 70 play, 71 stop, 72 questions):
// the movie player (platform/movie_player.h) decodes it on a thread of its
// own and plays its sound through the mixer; the main thread draws its
// frames over window 0's client area, on an area of the game screen scaled
// like the picture, whenever the player's notification (WM_MOVIE_NOTIFY)
// arrives. The end of the movie releases it and clears the playing byte.
// A movie that was stopped (command 70 with the play switch 0) keeps its
// last frame over the window until it is released: the frame is drawn
// again after every paint of window 0, as a video window on top would be.
//
// Threading: the commands run on the script's thread (main or game-loop);
// the drawing and the notification on the main thread. The player and the
// frame shown are kept under the movie's own lock, which nothing holds
// while it waits for another thread other than the decoder thread's join.
#pragma once

#include <cstdint>
#include <string_view>

namespace zk {

struct WindowRecord;

inline constexpr uint8_t kCmdPlayWindowMovie = 70;
inline constexpr uint8_t kCmdStopWindowMovie = 71;
inline constexpr uint8_t kCmdQueryWindowMovie = 72;

// What the placement needs of the presentation: filled at start-up by the
// layer that owns the back buffer (tests fill it themselves).
struct MovieScreenGeometry {
    int32_t letterbox_x = 0, letterbox_y = 0;
    int32_t back_width = 0, back_height = 0;  // the back buffer
};
using MovieScreenGeometrySource = MovieScreenGeometry (*)();
void SetMovieScreenGeometrySource(MovieScreenGeometrySource source);

struct MovieArea {
    int32_t x = 0, y = 0, w = 0, h = 0;
};
// The client area that game-screen area (x, y, w, h) covers: X = trunc(
// letterbox x + sx * x), W = w * back width / game width (in 64 bits),
// likewise Y and H; unscaled when a game size is 0.
MovieArea WindowMovieArea(int32_t x, int32_t y, int32_t w, int32_t h);

// The player's volume for a script volume 0..256 (hundredths of a
// decibel): -10000 for 0 or less, else 4000 * log10(v / 256) rounded to
// the nearest integer, clamped to -10000..0.
int32_t MovieVolumeMillibels(int32_t volume);

// 0 playing; -1 an empty path; -100 a path longer than 520 UTF-16 units, a
// file that cannot be opened or has no stream that can be decoded; -108 a
// start that failed. Any movie before is released first.
int32_t PlayMovieDirectShow(std::string_view path, int32_t x, int32_t y, int32_t w, int32_t h, int32_t volume,
                            uint8_t use_vmr9);
// A new area for the playing movie (client pixels); the window sizing calls
// it with the rescaled area. 0.
int32_t PlaceMovieVideoWindow(int32_t x, int32_t y, int32_t w, int32_t h);
void SetMovieVolume(int32_t volume);
void StopMovieGraph();
void ReleaseMovieGraph();
// The notification: draws the frame that is due; 1 once the movie has
// ended (it is then released), else 0.
int32_t HandleMovieGraphEvents();
// Draws the frame shown last over window 0 again (after its paint).
void RedrawWindowMovie(WindowRecord& record);
// Whether a player exists (tests).
bool WindowMovieGraphExists();

int32_t CmdPlayWindowMovie();
int32_t CmdStopWindowMovie();
int32_t CmdQueryWindowMovie();

void RegisterWindowMovieCommands();
// The movie released and its state back to the start (tests).
void ResetWindowMovie();

}  // namespace zk
