#include "sound/layer_movie.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "base/sjis.h"
#include "base/system_text.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/layer_command.h"
#include "layers/pixel_kernels.h"
#include "platform/clock.h"
#include "platform/codec_registry.h"
#include "script/arg_decoder.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/variables.h"
#include "sound/window_movie_state.h"
#include "storage/file_source.h"

namespace zk {

namespace {

using platform::CodecLibraryId;

// Keyword numbers.
constexpr uint8_t kPlayFile = 2;
constexpr uint8_t kPlayWidth = 4;
constexpr uint8_t kPlayHeight = 5;
constexpr uint8_t kQueryPlaying = 0;
constexpr uint8_t kQuerySample = 1;
constexpr uint8_t kQueryHeight = 2;
constexpr uint8_t kQueryVolume = 3;
constexpr uint8_t kQueryProbe = 4;
constexpr uint8_t kQueryResult = 6;

// The movie runs at 30 frames a second.
constexpr uint32_t kMovieFramesPerSecond = 30;

// ---- the library's callbacks ----------------------------------------------------

size_t ReadCallback(void* user, uint8_t* destination, uint64_t position, size_t count) {
    const std::vector<uint8_t>& file = static_cast<LayerMovie*>(user)->file;
    if (position >= file.size()) return 0;
    const size_t n = size_t(std::min<uint64_t>(count, file.size() - position));
    std::memcpy(destination, file.data() + position, n);
    return n;
}

uint64_t SizeCallback(void* user) { return static_cast<LayerMovie*>(user)->file.size(); }

uint8_t* RowCallback(void* user, int32_t row) {
    LayerMovie& movie = *static_cast<LayerMovie*>(user);
    if (row < 0 || size_t(row) >= movie.rows.size()) return nullptr;
    return movie.rows[size_t(row)];
}

// The frame buffer for width x height, with its row table; false after the
// failure box (the buffer is then empty).
bool MakeFrameBuffer(LayerMovie& movie, int32_t width, int32_t height) {
    movie.rows.clear();
    movie.frame.clear();
    movie.width = width;
    movie.height = height;
    // A leftover of the library's development that no player should see:
    // a trace line for developers (ZORVEK_TRACE set), not a box.
    if (const char* trace = std::getenv("ZORVEK_TRACE"); trace != nullptr && trace[0] != '\0')
        std::fprintf(stderr, "movie: frame buffer %d x %d\n", width, height);
    try {
        movie.frame.assign(size_t(width) * 4 * size_t(height), 0);
        movie.rows.resize(size_t(height));
    } catch (const std::bad_alloc&) {
        movie.frame.clear();
        movie.rows.clear();
        ShowMessageBox("", Sjis("メモリ確保失敗. OGV_SX = %d, OGV_SY = %d"), {int64_t{width}, int64_t{height}});
        return false;
    }
    for (int32_t y = 0; y < height; ++y) movie.rows[size_t(y)] = movie.frame.data() + size_t(y) * size_t(width) * 4;
    return true;
}

int32_t ResizeCallback(void* user, int32_t width, int32_t height) {
    LayerMovie& movie = *static_cast<LayerMovie*>(user);
    if (width == movie.width && height == movie.height && !movie.frame.empty()) return 0;
    if (width <= 0 || height <= 0) return -1;
    return MakeFrameBuffer(movie, width, height) ? 0 : -1;
}

platform::TheoraMovieCallbacks Callbacks(LayerMovie& movie) {
    platform::TheoraMovieCallbacks c;
    c.user = &movie;
    c.read = ReadCallback;
    c.size = SizeCallback;
    c.row = RowCallback;
    c.resize = ResizeCallback;
    return c;
}

// ---- the library ---------------------------------------------------------------

void UnloadMovieDecoderDll() {
    if (platform::CodecLibrary(CodecLibraryId::kTheoraLib).loaded)
        platform::UnloadCodecLibrary(CodecLibraryId::kTheoraLib);
}

int32_t LoadMovieDecoderDll() {
    UnloadMovieDecoderDll();
    if (!platform::LoadCodecLibrary(CodecLibraryId::kTheoraLib)) {
        ShowMessageBox("", Sjis("DLLの読み込みに失敗しました。"));
        return -1;
    }
    return 0;
}

// The layer's own block holds width x height pixels.
bool HoldsPixels(const CgImage& image) {
    if (image.owned_block.empty() || image.width <= 0 || image.height <= 0) return false;
    return image.owned_block.size() / 4 / uint64_t(image.width) >= uint64_t(image.height);
}

void EndPlaying(LayerMovie& movie) {
    movie.target = nullptr;
    movie.playing = false;
}

}  // namespace

LayerMovie& TheLayerMovie() {
    static LayerMovie movie;
    return movie;
}

int32_t OpenLayerMovie(std::string_view name) {
    LayerMovie& movie = TheLayerMovie();
    if (LoadMovieDecoderDll() != 0) return -1;
    if (!MakeFrameBuffer(movie, 1, 1)) return -1;
    FileSource source;
    if (ReadGameFileReported(source, name) != 0) return -1;
    movie.file = std::move(source.data);
    movie.video = std::make_unique<platform::TheoraVideoDecoder>();
    movie.video->SetVerticalReverse(1);
    movie.video->Load(Callbacks(movie));  // a file it cannot decode has no frames
    movie.audio = std::make_unique<platform::TheoraAudioDecoder>();
    movie.audio->Load(Callbacks(movie));
    movie.total_frames = movie.video->TotalFrames();
    return 0;
}

void DecodeMovieFrameToLayer(NamedTreeNode* target) {
    LayerMovie& movie = TheLayerMovie();
    if (!movie.video || movie.video->DecodeFrame(movie.frame_index) != 1) return;
    CgImage* image = LayerImage(target);
    if (image == nullptr || !HoldsPixels(*image) || movie.frame.empty()) return;
    // The frame goes into the layer's own block; a toned copy of the old
    // frame would hide it, so the compositor makes that again.
    image->derived_copy.Reset();
    image->derived_copy_frame = 0;
    image->current_pixels = image->owned_block.data();
    const int32_t rows = std::min(movie.height, image->height);
    const int64_t bytes = int64_t(std::min(movie.width, image->width)) * 4;
    const size_t stride = size_t(image->width) * 4;
    for (int32_t y = 0; y < rows; ++y)
        PixelKernels.copy_bytes(image->owned_block.data() + size_t(y) * stride, movie.rows[size_t(y)], bytes);
    InvalidateLayer(target);
}

int32_t CloseLayerMovie() {
    LayerMovie& movie = TheLayerMovie();
    movie.video.reset();
    movie.audio.reset();
    movie.rows.clear();
    movie.rows.shrink_to_fit();
    movie.frame.clear();
    movie.frame.shrink_to_fit();
    movie.file.clear();
    movie.file.shrink_to_fit();
    UnloadMovieDecoderDll();
    return 0;
}

void AdvanceLayerMovie() {
    LayerMovie& movie = TheLayerMovie();
    if (!movie.playing) return;
    movie.elapsed_ms = platform::TimeGetTime() - movie.start_ms;  // wraps with the clock
    movie.frame_index = int32_t((movie.elapsed_ms * kMovieFramesPerSecond) / 1000u);  // uint32 product, as timed
    if (movie.frame_index < 0 || movie.frame_index >= movie.total_frames) {
        CloseLayerMovie();
        EndPlaying(movie);
        return;
    }
    DecodeMovieFrameToLayer(movie.target);
}

void ForgetLayerMovieTarget(NamedTreeNode* node) {
    LayerMovie& movie = TheLayerMovie();
    if (node != nullptr && movie.target == node) movie.target = nullptr;
}

void ResetLayerMovie() {
    CloseLayerMovie();
    LayerMovie& movie = TheLayerMovie();
    movie = LayerMovie{};
}

int32_t CmdPlayLayerMovie() {
    if (DecodeCommandArgs(kCmdPlayLayerMovie) != 0) return -1;
    const CommandArgBlock& args = Args();
    // Read before anything decodes again.
    std::string layer_name;
    BuildLayerName(args, layer_name);
    const CommandArgSlot* file = args.Find(kPlayFile);
    std::string name = file != nullptr ? std::string(file->Text()) : std::string();
    const CommandArgSlot* width = args.Find(kPlayWidth);
    const CommandArgSlot* height = args.Find(kPlayHeight);

    const RootTrees& trees = TheRootTrees();
    std::string path;
    if (NormaliseNodePath(path, layer_name, trees.layer_folder, false) < 0) return -1;
    NamedTreeNode* node = trees.layers != nullptr ? FindNodeByPath(trees.layers, path, kFindLeaf) : nullptr;
    if (node == nullptr) {
        ReportScriptErrorF(kErrLayerNotFound, true, {CommandName(kCmdPlayLayerMovie), std::string_view(path)});
        return -1;
    }
    WindowMovieState& window = TheWindowMovieState();
    if (width != nullptr) window.w = int32_t(ApplyArgOperator(uint8_t(width->op), window.w, width->value));
    if (height != nullptr) window.h = int32_t(ApplyArgOperator(uint8_t(height->op), window.h, height->value));
    if (file == nullptr) return 0;
    if (width == nullptr) window.w = Settings().screen_width;
    if (height == nullptr) window.h = Settings().screen_height;

    name = SjisReplaceByte(SjisLowerAscii(name), '/', '\\');
    if (ProbeLooseFile(name) != 1) return 0;
    // A movie that plays is closed before the next one opens: its
    // decoders, bytes and buffer would otherwise outlive the library.
    LayerMovie& movie = TheLayerMovie();
    if (movie.video) {
        CloseLayerMovie();
        EndPlaying(movie);
    }
    if (OpenLayerMovie(name) != 0) {
        CloseLayerMovie();
        EndPlaying(movie);
        return 0;
    }
    movie.target = node;
    movie.frame_index = 0;
    movie.start_ms = platform::TimeGetTime();
    DecodeMovieFrameToLayer(node);
    movie.playing = true;
    return 0;
}

int32_t CmdStopLayerMovie() {
    if (DecodeCommandArgs(kCmdStopLayerMovie) != 0) return -1;
    CloseLayerMovie();
    EndPlaying(TheLayerMovie());
    return 0;
}

int32_t CmdQueryLayerMovie() {
    if (DecodeCommandArgs(kCmdQueryLayerMovie) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* result = args.Find(kQueryResult);
    const LayerMovie& movie = TheLayerMovie();
    const WindowMovieState& window = TheWindowMovieState();
    int64_t answer = 0;
    if (args.Given(kQueryPlaying)) {
        answer = window.playing.load();
    } else if (args.Given(kQuerySample)) {
        // Without an open movie there is no sound decoder to ask.
        answer = movie.audio ? movie.audio->NowSample() : 0;
    } else if (args.Given(kQueryHeight)) {
        answer = window.h;
    } else if (args.Given(kQueryVolume)) {
        answer = window.volume;
    } else if (const CommandArgSlot* probe = args.Find(kQueryProbe)) {
        answer = ProbeMovieFile(probe->Text());
    } else {
        return 0;
    }
    if (result != nullptr) SetNumberElement(result->var_number, result->var_element, answer);
    return 0;
}

int32_t CmdLayerMovie76() { return DecodeCommandArgs(kCmdLayerMovie76) != 0 ? -1 : 0; }

void RegisterLayerMovieCommands() {
    RegisterCommandHandler(kCmdPlayLayerMovie, CmdPlayLayerMovie);
    RegisterCommandHandler(kCmdStopLayerMovie, CmdStopLayerMovie);
    RegisterCommandHandler(kCmdQueryLayerMovie, CmdQueryLayerMovie);
    RegisterCommandHandler(kCmdLayerMovie76, CmdLayerMovie76);
}

}  // namespace zk
