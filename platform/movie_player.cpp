#include "platform/movie_player.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/audio_mixer.h"
#include "platform/clock.h"

namespace zk::platform {

namespace {

constexpr size_t kMaxQueuedFrames = 6;
constexpr uint32_t kRingSeconds = 2;
constexpr auto kTick = std::chrono::milliseconds(5);

struct FormatClose {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScaleFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct ResampleFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};

std::unique_ptr<AVCodecContext, CodecFree> OpenDecoder(AVFormatContext* format, int stream_index) {
    if (stream_index < 0) return nullptr;
    const AVCodecParameters* parameters = format->streams[stream_index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr) return nullptr;
    std::unique_ptr<AVCodecContext, CodecFree> context(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_to_context(context.get(), parameters) < 0) return nullptr;
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
    return context;
}

}  // namespace

struct MoviePlayer::State {
    std::unique_ptr<AVFormatContext, FormatClose> format;
    int video_index = -1, audio_index = -1;
    std::unique_ptr<AVCodecContext, CodecFree> video;
    std::unique_ptr<AVCodecContext, CodecFree> audio;
    std::unique_ptr<SwsContext, ScaleFree> scale;
    std::unique_ptr<SwrContext, ResampleFree> resample;
    std::unique_ptr<AVFrame, FrameFree> frame{av_frame_alloc()};
    std::unique_ptr<AVPacket, PacketFree> packet{av_packet_alloc()};
    int64_t video_frames = 0;  // decoded, for frames without a time stamp
    double frame_ms = 1000.0 / 30;

    std::atomic<int32_t> out_width{0}, out_height{0};

    // Sound.
    AudioMixer* mixer = nullptr;
    std::shared_ptr<SoundBuffer> buffer;
    uint32_t rate = 0;
    uint32_t ring_frames = 0;
    uint64_t rendered_at_play = 0;
    uint64_t written = 0;            // frames written into the ring since play
    std::atomic<uint64_t> sound_frames{0};  // of them, frames of the movie's sound
    std::vector<int16_t> pending;    // converted sound not yet in the ring
    uint32_t start_ms = 0;           // the clock at play, for a silent movie

    // Shared with the main thread.
    std::mutex lock;
    std::condition_variable wake;
    std::deque<MovieFrame> queue;
    int64_t last_time_ms = 0;  // the last queued frame's time
    std::atomic<bool> decode_done{false};
    std::atomic<bool> stop{false};
    std::atomic<bool> notify_pending{false};
    std::atomic<bool> stopped{false};
    std::function<void()> notify;
    std::thread thread;

    int64_t Position() {
        if (buffer) {
            const uint64_t rendered = mixer->FramesRendered() - rendered_at_play;
            return int64_t(rendered * 1000 / mixer->OutputRate());
        }
        return int64_t(uint32_t(TimeGetTime() - start_ms));
    }

    int64_t SoundEndMs() const { return rate != 0 && buffer ? int64_t(sound_frames.load() * 1000 / rate) : 0; }

    bool EndedNow() {
        if (!decode_done.load()) return false;
        int64_t last = 0;
        {
            std::lock_guard hold(lock);
            if (!queue.empty()) return false;
            last = last_time_ms;
        }
        return Position() >= std::max(last, SoundEndMs());
    }

    // ---- sound ------------------------------------------------------------------

    uint64_t PlayedFrames() {
        const uint64_t rendered = mixer->FramesRendered() - rendered_at_play;
        return rendered * rate / mixer->OutputRate();
    }

    void WriteRing(const int16_t* samples, uint64_t frames) {
        const uint32_t bytes = uint32_t(frames * 4);
        const uint32_t offset = uint32_t((written % ring_frames) * 4);
        SoundBuffer::Lock locked = buffer->LockBytes(offset, bytes);
        if (locked.size() == bytes) {
            const auto* source = reinterpret_cast<const uint8_t*>(samples);
            if (samples != nullptr) {
                std::copy_n(source, locked.part1.size(), locked.part1.begin());
                std::copy_n(source + locked.part1.size(), locked.part2.size(), locked.part2.begin());
            } else {
                std::fill(locked.part1.begin(), locked.part1.end(), uint8_t{0});
                std::fill(locked.part2.begin(), locked.part2.end(), uint8_t{0});
            }
        }
        written += frames;
    }

    // Moves converted sound into the ring as far as it may lead the play
    // position; once decoding has ended, silence follows the sound so that
    // the looping ring never plays old sound again.
    void FeedSound() {
        if (!buffer) return;
        const uint64_t played = PlayedFrames();
        if (written < played) written = played + rate / 50;  // fell behind: skip ahead
        const uint64_t lead_limit = ring_frames - rate / 10;
        uint64_t room = written - played < lead_limit ? lead_limit - (written - played) : 0;
        const uint64_t have = pending.size() / 2;
        const uint64_t take = std::min(room, have);
        if (take > 0) {
            WriteRing(pending.data(), take);
            sound_frames = written;
            pending.erase(pending.begin(), pending.begin() + ptrdiff_t(take * 2));
            room -= take;
        }
        if (decode_done.load() && pending.empty() && room > 0) WriteRing(nullptr, room);
    }

    void ConvertSound(const AVFrame* decoded) {
        if (!resample || !buffer) return;
        const int out_count = swr_get_out_samples(resample.get(), decoded->nb_samples);
        if (out_count <= 0) return;
        const size_t at = pending.size();
        pending.resize(at + size_t(out_count) * 2);
        uint8_t* out[] = {reinterpret_cast<uint8_t*>(pending.data() + at)};
        const int made = swr_convert(resample.get(), out, out_count,
                                     const_cast<const uint8_t**>(decoded->extended_data), decoded->nb_samples);
        pending.resize(at + size_t(std::max(made, 0)) * 2);
    }

    // ---- video -------------------------------------------------------------------

    void QueueVideo(const AVFrame* decoded) {
        const AVStream* stream = format->streams[video_index];
        int64_t time_ms = int64_t(double(video_frames) * frame_ms);
        const int64_t stamp = decoded->best_effort_timestamp;
        if (stamp != AV_NOPTS_VALUE) {
            const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
            time_ms = av_rescale_q(stamp - start, stream->time_base, AVRational{1, 1000});
        }
        ++video_frames;
        MovieFrame out;
        out.time_ms = std::max<int64_t>(time_ms, 0);
        const int32_t w = out_width.load(), h = out_height.load();
        if (w > 0 && h > 0 && w <= kMovieMaxOutputSide && h <= kMovieMaxOutputSide && decoded->width > 0 &&
            decoded->height > 0) {
            scale.reset(sws_getCachedContext(scale.release(), decoded->width, decoded->height,
                                             AVPixelFormat(decoded->format), w, h, AV_PIX_FMT_BGRA, SWS_BILINEAR,
                                             nullptr, nullptr, nullptr));
            if (scale) {
                out.width = w;
                out.height = h;
                out.pixels.assign(size_t(w) * size_t(h) * 4, 0);
                uint8_t* planes[] = {out.pixels.data()};
                const int strides[] = {w * 4};
                if (sws_scale(scale.get(), decoded->data, decoded->linesize, 0, decoded->height, planes, strides) <= 0) {
                    out.width = out.height = 0;
                    out.pixels.clear();
                }
            }
        }
        std::lock_guard hold(lock);
        last_time_ms = std::max(last_time_ms, out.time_ms);
        queue.push_back(std::move(out));
    }

    // Every frame the decoder has ready for `context`.
    void Drain(AVCodecContext* context, bool is_video) {
        while (avcodec_receive_frame(context, frame.get()) == 0) {
            if (is_video) QueueVideo(frame.get());
            else ConvertSound(frame.get());
            av_frame_unref(frame.get());
        }
    }

    // Reads and decodes one packet: false at the end of the file or on an
    // error (the decoders are flushed then).
    bool DecodeStep() {
        const int read = av_read_frame(format.get(), packet.get());
        if (read < 0) {
            if (video) {
                avcodec_send_packet(video.get(), nullptr);
                Drain(video.get(), true);
            }
            if (audio) {
                avcodec_send_packet(audio.get(), nullptr);
                Drain(audio.get(), false);
            }
            return false;
        }
        if (packet->stream_index == video_index && video) {
            if (avcodec_send_packet(video.get(), packet.get()) >= 0) Drain(video.get(), true);
        } else if (packet->stream_index == audio_index && audio) {
            if (avcodec_send_packet(audio.get(), packet.get()) >= 0) Drain(audio.get(), false);
        }
        av_packet_unref(packet.get());
        return true;
    }

    bool MayDecode() {
        if (decode_done.load()) return false;
        if (buffer && pending.size() / 2 > rate) return false;  // a second of sound waits
        std::lock_guard hold(lock);
        return queue.size() < kMaxQueuedFrames;
    }

    void Poke() {
        if (notify && !notify_pending.exchange(true)) notify();
    }

    void Run() {
        while (!stop.load()) {
            FeedSound();
            if (MayDecode()) {
                if (!DecodeStep()) decode_done = true;
                continue;
            }
            Poke();
            if (EndedNow()) break;
            std::unique_lock hold(lock);
            wake.wait_for(hold, kTick, [&] { return stop.load(); });
        }
        decode_done = true;
        notify_pending = false;
        Poke();  // the end, or the stop
    }
};

MoviePlayer::MoviePlayer(std::unique_ptr<State> state) : state_(std::move(state)) {}

MoviePlayer::~MoviePlayer() {
    Stop();
    state_->buffer.reset();
}

std::unique_ptr<MoviePlayer> MoviePlayer::Open(const std::string& host_path, std::string* error) {
    auto state = std::make_unique<State>();
    if (!state->frame || !state->packet) return nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* format = nullptr;
    const std::string url = "file:" + host_path;
    const int opened = avformat_open_input(&format, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        if (error != nullptr) *error = "cannot open";
        return nullptr;
    }
    state->format.reset(format);
    if (avformat_find_stream_info(format, nullptr) < 0) {
        if (error != nullptr) *error = "no stream information";
        return nullptr;
    }
    state->video_index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    state->audio_index = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    state->video = OpenDecoder(format, state->video_index);
    state->audio = OpenDecoder(format, state->audio_index);
    if (!state->video) state->video_index = -1;
    if (!state->audio) state->audio_index = -1;
    if (!state->video && !state->audio) {
        if (error != nullptr) *error = "no stream that can be decoded";
        return nullptr;
    }
    if (state->video) {
        const AVRational rate = av_guess_frame_rate(format, format->streams[state->video_index], nullptr);
        if (rate.num > 0 && rate.den > 0) state->frame_ms = 1000.0 * rate.den / rate.num;
    }
    if (state->audio) {
        AVChannelLayout stereo;
        av_channel_layout_default(&stereo, 2);
        SwrContext* resample = nullptr;
        const int rate = state->audio->sample_rate;
        if (rate >= kMixerMinFrequency && rate <= kMixerMaxFrequency &&
            swr_alloc_set_opts2(&resample, &stereo, AV_SAMPLE_FMT_S16, rate, &state->audio->ch_layout,
                                state->audio->sample_fmt, rate, 0, nullptr) >= 0 &&
            swr_init(resample) >= 0) {
            state->resample.reset(resample);
            state->rate = uint32_t(rate);
        } else {
            swr_free(&resample);
            state->audio.reset();
            state->audio_index = -1;
        }
        av_channel_layout_uninit(&stereo);
    }
    return std::unique_ptr<MoviePlayer>(new MoviePlayer(std::move(state)));
}

bool MoviePlayer::HasVideo() const { return state_->video != nullptr; }
bool MoviePlayer::HasSound() const { return state_->audio != nullptr; }

void MoviePlayer::SetOutputSize(int32_t width, int32_t height) {
    state_->out_width = width;
    state_->out_height = height;
}

bool MoviePlayer::Start(AudioMixer* mixer, int32_t volume, std::function<void()> notify) {
    State& s = *state_;
    if (s.thread.joinable() || s.stopped.load()) return false;
    s.notify = std::move(notify);
    if (mixer != nullptr && s.audio) {
        s.mixer = mixer;
        s.ring_frames = s.rate * kRingSeconds;
        s.buffer = mixer->CreateBuffer(PcmFormat{2, s.rate, 16}, s.ring_frames * 4);
        if (!s.buffer) return false;
        s.buffer->SetVolume(volume);
        s.rendered_at_play = mixer->FramesRendered();
        s.buffer->Play(true);
    }
    s.start_ms = TimeGetTime();
    try {
        s.thread = std::thread([&s] { s.Run(); });
    } catch (const std::system_error&) {
        s.buffer.reset();
        return false;
    }
    return true;
}

void MoviePlayer::Stop() {
    State& s = *state_;
    s.stop = true;
    s.wake.notify_all();
    if (s.thread.joinable()) s.thread.join();
    if (s.buffer) s.buffer->Stop();
    s.stopped = true;
    std::lock_guard hold(s.lock);
    s.queue.clear();
}

void MoviePlayer::SetVolume(int32_t volume) {
    if (state_->buffer) state_->buffer->SetVolume(volume);
}

int32_t MoviePlayer::Volume() const { return state_->buffer ? state_->buffer->Volume() : 0; }

bool MoviePlayer::TakeDueFrame(MovieFrame& out) {
    State& s = *state_;
    if (s.stopped.load()) return false;
    const int64_t now = s.Position();
    bool found = false;
    std::lock_guard hold(s.lock);
    while (!s.queue.empty() && s.queue.front().time_ms <= now) {
        out = std::move(s.queue.front());
        s.queue.pop_front();
        found = true;
    }
    if (found) s.wake.notify_all();
    return found;
}

bool MoviePlayer::Ended() { return state_->stopped.load() ? false : state_->EndedNow(); }

void MoviePlayer::AcknowledgeNotify() { state_->notify_pending = false; }

int64_t MoviePlayer::PositionMs() { return state_->Position(); }

}  // namespace zk::platform
