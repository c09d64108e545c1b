#include "tools/lib/movie_writer.h"

#include <ogg/ogg.h>
#include <theora/theoraenc.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <memory>

namespace zk::tools {

namespace {

void PutPage(std::vector<uint8_t>& out, const ogg_page& page) {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
}

// The pages of an Ogg file, each as its bytes.
std::vector<std::vector<uint8_t>> SplitPages(const std::vector<uint8_t>& file) {
    std::vector<std::vector<uint8_t>> pages;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, long(file.size()));
    std::copy(file.begin(), file.end(), buffer);
    ogg_sync_wrote(&sync, long(file.size()));
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        std::vector<uint8_t> bytes;
        PutPage(bytes, page);
        pages.push_back(std::move(bytes));
    }
    ogg_sync_clear(&sync);
    return pages;
}

}  // namespace

PlaneSource TestPattern() {
    return [](uint32_t frame, int plane, uint32_t x, uint32_t y) -> uint8_t {
        if (plane == 0) {
            const uint32_t block = (x / 8 + y / 8 + frame) % 4;
            return uint8_t(32 + ((x * 3 + y * 2 + frame * 5) % 160) + block * 10);
        }
        if (plane == 1) return uint8_t(64 + (x * 4 + frame * 3) % 128);
        return uint8_t(64 + (y * 4 + frame * 7) % 128);
    };
}

std::vector<uint8_t> TheoraMovieFile(const TheoraSpec& spec) {
    if (spec.pic_width == 0 || spec.pic_height == 0 || spec.fps == 0) return {};
    th_info info;
    th_info_init(&info);
    info.pic_width = spec.pic_width;
    info.pic_height = spec.pic_height;
    info.pic_x = spec.pic_x;
    info.pic_y = spec.pic_y;
    info.frame_width = (spec.pic_x + spec.pic_width + 15) & ~15u;
    info.frame_height = (spec.pic_y + spec.pic_height + 15) & ~15u;
    info.fps_numerator = spec.fps;
    info.fps_denominator = 1;
    info.aspect_numerator = 1;
    info.aspect_denominator = 1;
    info.colorspace = TH_CS_UNSPECIFIED;
    info.pixel_fmt = spec.layout == ChromaLayout::k420   ? TH_PF_420
                     : spec.layout == ChromaLayout::k422 ? TH_PF_422
                                                         : TH_PF_444;
    info.quality = spec.quality;
    info.target_bitrate = 0;
    info.keyframe_granule_shift = 6;
    th_enc_ctx* encoder = th_encode_alloc(&info);
    if (encoder == nullptr) {
        th_info_clear(&info);
        return {};
    }
    int keyframe_frequency = int(std::max<uint32_t>(spec.keyframe_every, 1));
    th_encode_ctl(encoder, TH_ENCCTL_SET_KEYFRAME_FREQUENCY_FORCE, &keyframe_frequency, sizeof keyframe_frequency);

    ogg_stream_state stream;
    ogg_stream_init(&stream, 0x7e01);
    th_comment comment;
    th_comment_init(&comment);
    ogg_packet packet;
    std::vector<std::vector<uint8_t>> header_pages;
    std::vector<uint8_t> data;
    ogg_page page;
    while (th_encode_flushheader(encoder, &comment, &packet) > 0) {
        ogg_stream_packetin(&stream, &packet);
        // The first header alone on the first page, the others after it.
        if (header_pages.empty()) {
            while (ogg_stream_flush(&stream, &page) != 0) {
                header_pages.emplace_back();
                PutPage(header_pages.back(), page);
            }
        }
    }
    std::vector<uint8_t> rest_of_headers;
    while (ogg_stream_flush(&stream, &page) != 0) PutPage(rest_of_headers, page);

    const int xdec = spec.layout == ChromaLayout::k444 ? 0 : 1;
    const int ydec = spec.layout == ChromaLayout::k420 ? 1 : 0;
    std::vector<uint8_t> planes[3];
    th_ycbcr_buffer buffer;
    for (int p = 0; p < 3; ++p) {
        const uint32_t w = p == 0 ? info.frame_width : info.frame_width >> xdec;
        const uint32_t h = p == 0 ? info.frame_height : info.frame_height >> ydec;
        planes[p].assign(size_t(w) * h, 0);
        buffer[p].width = int(w);
        buffer[p].height = int(h);
        buffer[p].stride = int(w);
        buffer[p].data = planes[p].data();
    }
    for (uint32_t f = 0; f < spec.frames; ++f) {
        for (int p = 0; p < 3; ++p) {
            for (int y = 0; y < buffer[p].height; ++y) {
                for (int x = 0; x < buffer[p].width; ++x)
                    planes[p][size_t(y) * size_t(buffer[p].stride) + size_t(x)] = spec.planes(f, p, uint32_t(x), uint32_t(y));
            }
        }
        if (th_encode_ycbcr_in(encoder, buffer) != 0) break;
        while (th_encode_packetout(encoder, f + 1 == spec.frames ? 1 : 0, &packet) > 0) {
            ogg_stream_packetin(&stream, &packet);
            while (ogg_stream_pageout(&stream, &page) != 0) PutPage(data, page);
        }
    }
    while (ogg_stream_flush(&stream, &page) != 0) PutPage(data, page);
    ogg_stream_clear(&stream);
    th_comment_clear(&comment);
    th_encode_free(encoder);
    th_info_clear(&info);
    if (header_pages.empty()) return {};

    std::vector<uint8_t> out = header_pages.front();
    std::vector<std::vector<uint8_t>> sound_pages;
    if (spec.with_sound) {
        const auto sound_frames = uint32_t(uint64_t(spec.frames) * spec.sound_rate / spec.fps);
        sound_pages = SplitPages(OggVorbisFile(spec.sound_channels, spec.sound_rate, sound_frames, spec.sound, 0x50d1));
        if (sound_pages.empty()) return {};
        // Every stream's first page before any other page.
        out.insert(out.end(), sound_pages.front().begin(), sound_pages.front().end());
    }
    for (size_t i = 1; i < header_pages.size(); ++i) out.insert(out.end(), header_pages[i].begin(), header_pages[i].end());
    out.insert(out.end(), rest_of_headers.begin(), rest_of_headers.end());
    for (size_t i = 1; i < sound_pages.size(); ++i) out.insert(out.end(), sound_pages[i].begin(), sound_pages[i].end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

namespace {

struct AvioOutput {
    std::vector<uint8_t> bytes;
    static int Write(void* opaque, uint8_t* data, int size) {
        auto* self = static_cast<AvioOutput*>(opaque);
        self->bytes.insert(self->bytes.end(), data, data + size);
        return size;
    }
};

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// Sends one frame (null: the end) and writes every packet that comes out.
bool Encode(AVFormatContext* format, AVCodecContext* codec, AVStream* stream, AVFrame* frame, AVPacket* packet) {
    if (avcodec_send_frame(codec, frame) < 0) return false;
    for (;;) {
        const int result = avcodec_receive_packet(codec, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
        if (result < 0) return false;
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (av_interleaved_write_frame(format, packet) < 0) return false;
    }
}

}  // namespace

std::vector<uint8_t> MpegMovieFile(const MpegSpec& spec) {
    if (spec.width == 0 || spec.height == 0 || spec.width % 2 != 0 || spec.height % 2 != 0 || spec.fps == 0) return {};
    av_log_set_level(AV_LOG_ERROR);  // the muxer's notes on buffer sizes are no failure
    AVFormatContext* format = nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, "mpeg", nullptr) < 0 || format == nullptr) return {};
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> format_owner(format, [](AVFormatContext* f) {
        if (f->pb != nullptr) {
            av_freep(&f->pb->buffer);
            avio_context_free(&f->pb);
        }
        avformat_free_context(f);
    });
    AvioOutput output;
    constexpr int kBufferSize = 4096;
    auto* io_buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
    format->pb = avio_alloc_context(io_buffer, kBufferSize, 1, &output, nullptr, &AvioOutput::Write, nullptr);
    if (format->pb == nullptr) {
        av_free(io_buffer);
        return {};
    }

    const AVCodec* video_codec = avcodec_find_encoder(AV_CODEC_ID_MPEG1VIDEO);
    if (video_codec == nullptr) return {};
    std::unique_ptr<AVCodecContext, CodecContextFree> video(avcodec_alloc_context3(video_codec));
    video->width = int(spec.width);
    video->height = int(spec.height);
    video->time_base = AVRational{1, int(spec.fps)};
    video->framerate = AVRational{int(spec.fps), 1};
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->gop_size = 12;
    video->bit_rate = 800000;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(video.get(), video_codec, nullptr) < 0) return {};
    AVStream* video_stream = avformat_new_stream(format, nullptr);
    if (video_stream == nullptr) return {};
    video_stream->time_base = video->time_base;
    avcodec_parameters_from_context(video_stream->codecpar, video.get());

    std::unique_ptr<AVCodecContext, CodecContextFree> audio;
    AVStream* audio_stream = nullptr;
    if (spec.with_sound) {
        const AVCodec* audio_codec = avcodec_find_encoder(AV_CODEC_ID_MP2);
        if (audio_codec == nullptr) return {};
        audio.reset(avcodec_alloc_context3(audio_codec));
        audio->sample_fmt = AV_SAMPLE_FMT_S16;
        audio->sample_rate = int(spec.sound_rate);
        av_channel_layout_default(&audio->ch_layout, 2);
        audio->bit_rate = 128000;
        audio->time_base = AVRational{1, int(spec.sound_rate)};
        if (avcodec_open2(audio.get(), audio_codec, nullptr) < 0) return {};
        audio_stream = avformat_new_stream(format, nullptr);
        if (audio_stream == nullptr) return {};
        audio_stream->time_base = audio->time_base;
        avcodec_parameters_from_context(audio_stream->codecpar, audio.get());
    }
    if (avformat_write_header(format, nullptr) < 0) return {};

    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = video->width;
    frame->height = video->height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return {};

    std::unique_ptr<AVFrame, FrameFree> sound_frame;
    int64_t sound_done = 0;
    const int64_t sound_total = int64_t(spec.frames) * spec.sound_rate / spec.fps;
    if (audio) {
        sound_frame.reset(av_frame_alloc());
        sound_frame->format = AV_SAMPLE_FMT_S16;
        sound_frame->sample_rate = audio->sample_rate;
        sound_frame->nb_samples = audio->frame_size;
        av_channel_layout_copy(&sound_frame->ch_layout, &audio->ch_layout);
        if (av_frame_get_buffer(sound_frame.get(), 0) < 0) return {};
    }
    auto write_sound_until = [&](int64_t until) {
        while (audio && sound_done < until && sound_done < sound_total) {
            if (av_frame_make_writable(sound_frame.get()) < 0) return false;
            auto* samples = reinterpret_cast<int16_t*>(sound_frame->data[0]);
            for (int i = 0; i < sound_frame->nb_samples; ++i) {
                for (uint16_t c = 0; c < 2; ++c) samples[2 * i + c] = spec.sound(uint32_t(sound_done + i), c);
            }
            sound_frame->pts = sound_done;
            sound_done += sound_frame->nb_samples;
            if (!Encode(format, audio.get(), audio_stream, sound_frame.get(), packet.get())) return false;
        }
        return true;
    };
    for (uint32_t f = 0; f < spec.frames; ++f) {
        if (av_frame_make_writable(frame.get()) < 0) return {};
        for (int p = 0; p < 3; ++p) {
            const int w = p == 0 ? frame->width : frame->width / 2;
            const int h = p == 0 ? frame->height : frame->height / 2;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) frame->data[p][y * frame->linesize[p] + x] = spec.planes(f, p, uint32_t(x), uint32_t(y));
            }
        }
        frame->pts = f;
        if (!Encode(format, video.get(), video_stream, frame.get(), packet.get())) return {};
        if (!write_sound_until(int64_t(f + 1) * spec.sound_rate / spec.fps)) return {};
    }
    if (!Encode(format, video.get(), video_stream, nullptr, packet.get())) return {};
    if (audio && !write_sound_until(sound_total)) return {};
    if (audio && !Encode(format, audio.get(), audio_stream, nullptr, packet.get())) return {};
    if (av_write_trailer(format) < 0) return {};
    avio_flush(format->pb);
    return output.bytes;
}

}  // namespace zk::tools
