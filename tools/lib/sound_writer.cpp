#include "tools/lib/sound_writer.h"

#include <sndfile.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zk::tools {

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutChunk(std::vector<uint8_t>& out, const std::string& id, const std::vector<uint8_t>& body) {
    out.insert(out.end(), id.begin(), id.begin() + 4);
    Put32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) out.push_back(0);
}

}  // namespace

SampleSource SineTone(double hertz, uint32_t rate, int16_t level) {
    return [=](uint32_t frame, uint16_t channel) {
        const double phase = 2.0 * M_PI * hertz * frame / rate + channel * 0.5;
        return static_cast<int16_t>(std::lrint(level * std::sin(phase)));
    };
}

std::vector<uint8_t> WaveFile(const WaveSpec& spec) {
    std::vector<uint8_t> format;
    const uint16_t block = static_cast<uint16_t>(spec.channels * spec.bits / 8);
    Put16(format, 1);
    Put16(format, spec.channels);
    Put32(format, spec.rate);
    Put32(format, spec.rate * block);
    Put16(format, block);
    Put16(format, spec.bits);
    std::vector<uint8_t> data;
    for (uint32_t f = 0; f < spec.frames; ++f) {
        for (uint16_t c = 0; c < spec.channels; ++c) {
            const int16_t v = spec.samples ? spec.samples(f, c) : 0;
            if (spec.bits == 8) data.push_back(static_cast<uint8_t>((v >> 8) + 128));
            else Put16(data, static_cast<uint16_t>(v));
        }
    }
    std::vector<uint8_t> body;
    body.insert(body.end(), {'W', 'A', 'V', 'E'});
    for (const WaveChunk& chunk : spec.before_format) PutChunk(body, chunk.id, chunk.body);
    PutChunk(body, "fmt ", format);
    for (const WaveChunk& chunk : spec.before_data) PutChunk(body, chunk.id, chunk.body);
    PutChunk(body, "data", data);
    std::vector<uint8_t> file;
    PutChunk(file, "RIFF", body);
    return file;
}

namespace {

struct MemoryOut {
    std::vector<uint8_t> bytes;
    sf_count_t position = 0;
};

sf_count_t OutLength(void* user) { return static_cast<sf_count_t>(static_cast<MemoryOut*>(user)->bytes.size()); }
sf_count_t OutSeek(sf_count_t offset, int whence, void* user) {
    auto* out = static_cast<MemoryOut*>(user);
    sf_count_t base = whence == SEEK_CUR ? out->position : whence == SEEK_END ? OutLength(user) : 0;
    out->position = std::max<sf_count_t>(base + offset, 0);
    return out->position;
}
sf_count_t OutRead(void* destination, sf_count_t count, void* user) {
    auto* out = static_cast<MemoryOut*>(user);
    const sf_count_t left = std::max<sf_count_t>(OutLength(user) - out->position, 0);
    const sf_count_t taken = std::min(count, left);
    if (taken > 0) std::memcpy(destination, out->bytes.data() + out->position, static_cast<size_t>(taken));
    out->position += taken;
    return taken;
}
sf_count_t OutWrite(const void* source, sf_count_t count, void* user) {
    auto* out = static_cast<MemoryOut*>(user);
    const size_t end = static_cast<size_t>(out->position + count);
    if (end > out->bytes.size()) out->bytes.resize(end);
    std::memcpy(out->bytes.data() + out->position, source, static_cast<size_t>(count));
    out->position += count;
    return count;
}
sf_count_t OutTell(void* user) { return static_cast<MemoryOut*>(user)->position; }

}  // namespace

std::vector<uint8_t> AdpcmWaveFile(uint16_t channels, uint32_t rate, uint32_t frames, const SampleSource& samples) {
    MemoryOut out;
    SF_VIRTUAL_IO io{OutLength, OutSeek, OutRead, OutWrite, OutTell};
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = static_cast<int>(rate);
    info.format = SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &out);
    if (file == nullptr) return {};
    std::vector<int16_t> all(static_cast<size_t>(frames) * channels);
    for (uint32_t f = 0; f < frames; ++f) {
        for (uint16_t c = 0; c < channels; ++c) all[static_cast<size_t>(f) * channels + c] = samples(f, c);
    }
    sf_writef_short(file, all.data(), frames);
    sf_close(file);
    return out.bytes;
}

std::vector<uint8_t> OggVorbisFile(uint16_t channels, uint32_t rate, uint32_t frames, const SampleSource& samples,
                                   int serial) {
    std::vector<uint8_t> out;
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, channels, static_cast<long>(rate), 0.3f) != 0) {
        vorbis_info_clear(&info);
        return {};
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, serial);
    ogg_packet header, header_comment, header_code;
    vorbis_analysis_headerout(&dsp, &comment, &header, &header_comment, &header_code);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &header_comment);
    ogg_stream_packetin(&stream, &header_code);
    ogg_page page;
    auto put_page = [&] {
        out.insert(out.end(), page.header, page.header + page.header_len);
        out.insert(out.end(), page.body, page.body + page.body_len);
    };
    while (ogg_stream_flush(&stream, &page) != 0) put_page();

    uint32_t done = 0;
    bool end = false;
    while (!end) {
        const uint32_t count = std::min<uint32_t>(1024, frames - done);
        if (count == 0) {
            vorbis_analysis_wrote(&dsp, 0);
        } else {
            float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(count));
            for (uint32_t i = 0; i < count; ++i) {
                for (uint16_t c = 0; c < channels; ++c) buffer[c][i] = samples(done + i, c) / 32768.0f;
            }
            vorbis_analysis_wrote(&dsp, static_cast<int>(count));
            done += count;
        }
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet) != 0) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page) != 0) {
                    put_page();
                    if (ogg_page_eos(&page) != 0) end = true;
                }
            }
        }
        if (count == 0 && !end) {
            while (ogg_stream_flush(&stream, &page) != 0) put_page();
            end = true;
        }
    }
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return out;
}

}  // namespace zk::tools
