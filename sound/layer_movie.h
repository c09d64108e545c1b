// A Theora movie played into an existing layer: the movie library
// (platform/theora_movie.h, loaded through the codec registry) decodes the
// frames of the file the engine holds into a BGRA frame buffer, and every
// frame step copies the current frame into the layer's pixels. The movie
// runs on a fixed clock of 30 frames a second from its start and has no
// sound. Commands 73 (start), 74 (stop), 75 (questions) and 76 (nothing).
// One layer movie exists at a time.
//
// The frame buffer's size follows the movie's picture; a layer of another
// size gets the overlap of the two, a layer without pixels nothing. A target
// layer freed while the movie plays is forgotten (ForgetLayerMovieTarget):
// the movie runs on to its end, copying nothing.
//
// Threading: the script's thread (main or game-loop) only: the commands and
// the frame step.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/theora_movie.h"

namespace zk {

struct NamedTreeNode;

inline constexpr uint8_t kCmdPlayLayerMovie = 73;
inline constexpr uint8_t kCmdStopLayerMovie = 74;
inline constexpr uint8_t kCmdQueryLayerMovie = 75;
inline constexpr uint8_t kCmdLayerMovie76 = 76;

struct LayerMovie {
    std::unique_ptr<platform::TheoraVideoDecoder> video;
    std::unique_ptr<platform::TheoraAudioDecoder> audio;
    std::vector<uint8_t> frame;  // width x 4 x height bytes
    std::vector<uint8_t*> rows;  // one per row of `frame`
    int32_t width = 1, height = 1;
    std::vector<uint8_t> file;
    int32_t frame_index = 0;
    int32_t total_frames = 0;
    uint32_t start_ms = 0;
    uint32_t elapsed_ms = 0;
    NamedTreeNode* target = nullptr;
    bool playing = false;
};
LayerMovie& TheLayerMovie();

// Loads the movie library and the file `name` (through the file sources:
// 104060, 104010 or 901040, fatal) and opens its decoders. 0, or -1 (the
// library missing: "DLLの読み込みに失敗しました。"; the file: reported).
int32_t OpenLayerMovie(std::string_view name);
// Decodes the current frame and copies it into the layer: nothing when the
// frame cannot be decoded, the node is null or its layer has no pixels.
void DecodeMovieFrameToLayer(NamedTreeNode* target);
// Frees the decoders, the frame buffer and the file, and unloads the
// library. 0.
int32_t CloseLayerMovie();
// The frame step's part: the frame of the time since the start, or the end.
void AdvanceLayerMovie();
// A layer node is being freed: the movie no longer copies into it.
void ForgetLayerMovieTarget(NamedTreeNode* node);
// Shutdown and tests: the movie closed and its state back to the start.
void ResetLayerMovie();

int32_t CmdPlayLayerMovie();
int32_t CmdStopLayerMovie();
int32_t CmdQueryLayerMovie();
int32_t CmdLayerMovie76();

void RegisterLayerMovieCommands();

}  // namespace zk
