// A movie played in the window, over FFmpeg (libavformat, libavcodec,
// libswscale, libswresample): a decoder thread reads the file, scales each
// video frame to the output size as B, G, R, A rows (top row first) and
// queues it with its presentation time, and streams the sound, converted to
// 16-bit stereo at the file's rate, into one looping buffer of the mixer.
// The main thread takes the frame that is due (TakeDueFrame) against the
// play position of that buffer, or against the engine clock for a silent
// movie; frames whose time has passed are dropped.
//
// A file that cannot be read, or that holds no stream FFmpeg can decode,
// does not open. A read or decoding error part-way ends the movie as its end
// would. Only local files are opened (the "file" protocol alone).
//
// Threading: Open, Start, Stop, SetVolume, SetOutputSize and the destructor
// on one thread (the script's); TakeDueFrame, Ended and AcknowledgeNotify on
// the main thread. The decoder thread waits only with a time-out and ends
// when Stop or the destructor asks; `notify` is called on the decoder
// thread (at most one call outstanding until AcknowledgeNotify).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zk::platform {

class AudioMixer;

inline constexpr int32_t kMovieMaxOutputSide = 8192;

struct MovieFrame {
    int64_t time_ms = 0;  // presentation time from the movie's start
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;  // width x height x 4, top row first
};

class MoviePlayer {
public:
    // Opens a movie file (a host path). Null, with the reason in `error`,
    // when it cannot be opened or holds no stream that can be decoded.
    static std::unique_ptr<MoviePlayer> Open(const std::string& host_path, std::string* error = nullptr);
    ~MoviePlayer();
    MoviePlayer(const MoviePlayer&) = delete;
    MoviePlayer& operator=(const MoviePlayer&) = delete;

    bool HasVideo() const;
    bool HasSound() const;

    // Frames are scaled to width x height; a side of 0 or less (or above
    // kMovieMaxOutputSide) makes no frames, while the timing runs on.
    void SetOutputSize(int32_t width, int32_t height);
    // Starts decoding and, with a mixer and a sound stream, the sound at
    // `volume` hundredths of a decibel. False when the thread or the sound
    // buffer cannot be had (nothing runs then).
    bool Start(AudioMixer* mixer, int32_t volume, std::function<void()> notify);
    // Decoding and sound stop; nothing more is due.
    void Stop();
    void SetVolume(int32_t volume);

    // The newest frame whose time has come, dropping the older ones: false
    // when no new frame is due.
    bool TakeDueFrame(MovieFrame& out);
    // Decoding has ended (the file's end, or an error), every frame has
    // been due and the sound has played out.
    bool Ended();
    // The main thread took the notification: the next may come.
    void AcknowledgeNotify();
    // The play position in ms (the sound buffer's, or the clock's).
    int64_t PositionMs();
    // The mixer buffer's volume (hundredths of a decibel), for tests.
    int32_t Volume() const;

    struct State;

private:
    explicit MoviePlayer(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace zk::platform
