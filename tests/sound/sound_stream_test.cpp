// Loading and streaming: the reopen-and-seek Ogg stream against
// libvorbisfile's own sequential decoding, Ogg refusals, and WAVE playback
// heard through the mixer on the virtual clock (loops, leading silence,
// play-count limits, the silent "ROOT").
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstring>

#include "core/named_tree.h"
#include "core/root_trees.h"
#include "sound/sound_system.h"
#include "sound/wave_file.h"
#include "tests/sound/sound_test_support.h"
#include "tools/lib/sound_writer.h"

namespace zk {
namespace {

using sound_test::SoundFixture;

// libvorbisfile's sequential decoding of a whole file, the oracle.
std::vector<uint8_t> DecodeSequentially(const std::vector<uint8_t>& file) {
    struct Reader {
        const std::vector<uint8_t>* bytes;
        size_t at = 0;
    } reader{&file};
    ov_callbacks callbacks{
        [](void* out, size_t size, size_t count, void* source) -> size_t {
            auto* r = static_cast<Reader*>(source);
            const size_t n = std::min(size * count, r->bytes->size() - r->at);
            std::memcpy(out, r->bytes->data() + r->at, n);
            r->at += n;
            return n / size;
        },
        [](void* source, ogg_int64_t offset, int whence) -> int {
            auto* r = static_cast<Reader*>(source);
            const int64_t base = whence == SEEK_CUR ? static_cast<int64_t>(r->at)
                                 : whence == SEEK_END ? static_cast<int64_t>(r->bytes->size())
                                                      : 0;
            r->at = static_cast<size_t>(base + offset);
            return 0;
        },
        nullptr, [](void* source) -> long { return static_cast<long>(static_cast<Reader*>(source)->at); }};
    OggVorbis_File vf;
    if (ov_open_callbacks(&reader, &vf, nullptr, 0, callbacks) != 0) return {};
    std::vector<uint8_t> pcm;
    char piece[4096];
    int bitstream = 0;
    for (;;) {
        const long got = ov_read(&vf, piece, sizeof piece, 0, 2, 1, &bitstream);
        if (got <= 0) break;
        pcm.insert(pcm.end(), piece, piece + got);
    }
    ov_clear(&vf);
    return pcm;
}

class SoundStreamTest : public SoundFixture {};

TEST_F(SoundStreamTest, OggStreamEqualsSequentialDecoding) {
    for (uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
        const std::vector<uint8_t> file =
            tools::OggVorbisFile(channels, 44100, 44100 * 3 + 1234, tools::SineTone(330, 44100, 9000));
        ASSERT_FALSE(file.empty());
        const std::vector<uint8_t> oracle = DecodeSequentially(file);
        WriteFile("tune.ogg", file);
        NamedTreeNode* node = Make("bgm", kSoundFormatOgg);
        ASSERT_EQ(Request(node, kSoundLoad, 0, "tune.ogg"), 0);
        std::lock_guard lock(EngineLock);
        SoundChannel& channel = Of(node);
        ASSERT_EQ(channel.state, kSoundLoaded);
        EXPECT_EQ(channel.data_kind, kSoundDataOgg);
        EXPECT_EQ(channel.length, 3027);  // 3.028 s, truncated
        EXPECT_EQ(channel.bits, 16);
        EXPECT_EQ(channel.channels, channels);
        channel.loop_counter = 1;
        ASSERT_EQ(SeekSound(channel, 0), 0);
        std::vector<uint8_t> streamed;
        const int32_t half = channel.buffer_bytes / 2;
        for (int fill = 0; fill < 8; ++fill) {
            ASSERT_EQ(FillSoundHalf(channel), half);
            streamed.insert(streamed.end(), channel.staging.begin(), channel.staging.begin() + half);
        }
        // The stream ends at the end time (whole milliseconds), then silence.
        size_t end_bytes = static_cast<size_t>(channel.end * channel.bytes_per_second / 1000);
        end_bytes -= end_bytes % channel.block_align;
        ASSERT_LE(end_bytes, oracle.size());
        ASSERT_GE(streamed.size(), end_bytes);
        const auto mismatch = std::mismatch(oracle.begin(), oracle.begin() + static_cast<std::ptrdiff_t>(end_bytes),
                                            streamed.begin());
        EXPECT_EQ(mismatch.first - oracle.begin(), static_cast<std::ptrdiff_t>(end_bytes))
            << channels << " channels: the first difference; half " << half << ", oracle " << oracle.size();
        EXPECT_TRUE(std::all_of(streamed.begin() + static_cast<std::ptrdiff_t>(end_bytes), streamed.end(),
                                [](uint8_t b) { return b == 0; }));
        ReleaseSoundChannel(channel);
        channel.state = kSoundIdle;
    }
}

TEST_F(SoundStreamTest, OggRefusals) {
    const std::vector<uint8_t> a = tools::OggVorbisFile(1, 22050, 22050, tools::SineTone(300, 22050, 5000), 11);
    const std::vector<uint8_t> b = tools::OggVorbisFile(1, 22050, 22050, tools::SineTone(500, 22050, 5000), 12);
    std::vector<uint8_t> chained = a;
    chained.insert(chained.end(), b.begin(), b.end());
    WriteFile("chained.ogg", chained);
    WriteFile("garbage.ogg", std::vector<uint8_t>(5000, 0x42));
    // An Ogg page whose only stream is not Vorbis (a Theora header).
    std::vector<uint8_t> theora;
    {
        ogg_stream_state stream;
        ogg_stream_init(&stream, 7);
        std::vector<unsigned char> header(42, 0);
        header[0] = 0x80;
        std::memcpy(header.data() + 1, "theora", 6);
        ogg_packet packet{};
        packet.packet = header.data();
        packet.bytes = static_cast<long>(header.size());
        packet.b_o_s = 1;
        ogg_stream_packetin(&stream, &packet);
        ogg_page page;
        while (ogg_stream_flush(&stream, &page) != 0) {
            theora.insert(theora.end(), page.header, page.header + page.header_len);
            theora.insert(theora.end(), page.body, page.body + page.body_len);
        }
        ogg_stream_clear(&stream);
    }
    WriteFile("theora.ogg", theora);
    struct Case {
        const char* file;
        int32_t result;
    };
    for (const Case& c : {Case{"chained.ogg", -1045}, Case{"garbage.ogg", -1030}, Case{"theora.ogg", -1030},
                          Case{"missing.ogg", -1020}}) {
        NamedTreeNode* node = Make(std::string("x") + c.file, kSoundFormatOgg);
        std::lock_guard lock(EngineLock);
        Of(node).name = c.file;
        EXPECT_EQ(LoadSoundFile(node), c.result) << c.file;
        EXPECT_EQ(SoundErrorMessage(c.result).empty(), false);
    }
}

// A WAVE whose every sample is its own frame number (mod 30000), so what is
// heard tells which frame it came from.
std::vector<uint8_t> CountingWave(uint32_t frames, uint32_t rate = 8000) {
    tools::WaveSpec spec;
    spec.rate = rate;
    spec.frames = frames;
    spec.samples = [](uint32_t f, uint16_t) { return static_cast<int16_t>(f % 30000); };
    return tools::WaveFile(spec);
}

class WavePlaybackTest : public SoundFixture {
protected:
    // Loads, applies `setup` requests, plays, and runs one more pass so the
    // ramp of a fade-in of 0 ms is at its target before anything is heard.
    NamedTreeNode* PlayCounting(uint32_t frames, const std::vector<std::pair<uint8_t, int32_t>>& setup) {
        WriteFile("count.wav", CountingWave(frames));
        NamedTreeNode* node = Make("se");
        EXPECT_EQ(Request(node, kSoundLoad, 0, "count.wav"), 0);
        for (auto [code, value] : setup) EXPECT_EQ(Request(node, code, value), 0);
        EXPECT_EQ(Request(node, kSoundPlay, 0), 0);
        clock.Advance(1);
        EXPECT_EQ(RunSoundPass(), 0);
        heard.clear();
        return node;
    }
    // The frame numbers heard (the mixer scales by 32767/32768).
    int32_t FrameAt(size_t i) const { return static_cast<int32_t>(std::lround(heard[i] * 32768.0 / 32767.0)); }
};

TEST_F(WavePlaybackTest, LoopCounterPlaysTheLoopOnceMoreThenSilence) {
    // 1.3 s, loop start 300 ms, loop counter 2.
    NamedTreeNode* node = PlayCounting(10400, {{kSoundLoopStart, 300}, {kSoundLoopCount, 2}});
    ASSERT_EQ(Steps(200, 20), 0);  // 4 s
    ASSERT_GE(heard.size(), 32000u);
    for (size_t i = 0; i < 10400; i += 97) ASSERT_EQ(FrameAt(i), static_cast<int32_t>(i)) << i;
    for (size_t i = 0; i < 8000; i += 89) ASSERT_EQ(FrameAt(10400 + i), static_cast<int32_t>(2400 + i)) << i;
    for (size_t i = 18400; i < 32000; i += 101) ASSERT_EQ(heard[i], 0) << i;
    std::lock_guard lock(EngineLock);
    EXPECT_GE(Of(node).plays_done, 2);
}

TEST_F(WavePlaybackTest, NegativeStartPlaysLeadingSilence) {
    PlayCounting(8000, {{kSoundStartTime, -500}});
    ASSERT_EQ(Steps(50, 20), 0);
    for (size_t i = 0; i < 4000; i += 50) ASSERT_EQ(heard[i], 0) << i;
    for (size_t i = 0; i < 4000; i += 53) ASSERT_EQ(FrameAt(4000 + i), static_cast<int32_t>(i)) << i;
}

TEST_F(WavePlaybackTest, PlayCountLimitStopsTheChannel) {
    NamedTreeNode* node = PlayCounting(2000, {});  // 250 ms a pass, endless loop
    {
        std::lock_guard lock(EngineLock);
        Of(node).play_count_limit = 3;
    }
    uint8_t state = kSoundSteady;
    int steps = 0;
    while (state != kSoundIdle && steps < 200) {
        ASSERT_EQ(Step(10), 0);
        ++steps;
        std::lock_guard lock(EngineLock);
        state = Of(node).state;
    }
    EXPECT_EQ(state, kSoundIdle);
    // Three passes of 250 ms, heard one mixer period (32 ms) late.
    EXPECT_NEAR(steps * 10, 750 + 32, 25);
    std::lock_guard lock(EngineLock);
    EXPECT_FALSE(Of(node).holds_image);
    EXPECT_EQ(Of(node).play_count_limit, 0);
}

// A buffer of 11025 Hz stereo 16-bit: 44100 bytes a second, whose half is
// not a whole number of frames. Each half is made of whole frames, so the
// second half starts on a frame and every byte of the buffer is written.
TEST_F(WavePlaybackTest, HalvesAreWholeFrames) {
    tools::WaveSpec spec;
    spec.channels = 2;
    spec.rate = 11025;
    spec.frames = 11025 * 2;
    spec.samples = [](uint32_t f, uint16_t c) { return static_cast<int16_t>(c == 0 ? 1000 + f % 5000 : -1); };
    WriteFile("odd.wav", tools::WaveFile(spec));
    NamedTreeNode* node = Make("odd");
    ASSERT_EQ(Request(node, kSoundLoad, 0, "odd.wav"), 0);
    ASSERT_EQ(Request(node, kSoundPlay, 0), 0);
    std::lock_guard lock(EngineLock);
    SoundChannel& channel = Of(node);
    EXPECT_EQ(channel.buffer_bytes % 4, 0);
    EXPECT_EQ(channel.buffer_bytes / 2 % 4, 0);
    EXPECT_EQ(static_cast<int32_t>(channel.buffer->Size()), channel.buffer_bytes);
    // Both halves filled: frame by frame, the right channel is -1.
    auto lock_all = channel.buffer->LockBytes(0, channel.buffer->Size());
    for (size_t i = 0; i < lock_all.part1.size(); i += 4) {
        ASSERT_EQ(static_cast<int16_t>(lock_all.part1[i + 2] | (lock_all.part1[i + 3] << 8)), -1) << i;
    }
}

// 8-bit sounds are silent at 128: the tail after the last pass and the
// leading silence must not be 0 (full negative), which clicks.
TEST_F(WavePlaybackTest, EightBitSilenceIsTheMidpoint) {
    tools::WaveSpec spec;
    spec.bits = 8;
    spec.frames = 800;
    spec.samples = [](uint32_t, uint16_t) { return int16_t{0}; };
    WriteFile("quiet.wav", tools::WaveFile(spec));
    NamedTreeNode* node = Make("quiet");
    ASSERT_EQ(Request(node, kSoundLoad, 0, "quiet.wav"), 0);
    ASSERT_EQ(Request(node, kSoundLoopCount, 1), 0);
    ASSERT_EQ(Request(node, kSoundStartTime, -200), 0);
    ASSERT_EQ(Request(node, kSoundPlay, 0), 0);
    clock.Advance(1);
    ASSERT_EQ(RunSoundPass(), 0);
    heard.clear();
    ASSERT_EQ(Steps(100, 20), 0);
    for (size_t i = 0; i < heard.size(); i += 7) ASSERT_EQ(heard[i], 0) << i;
}

// An end time of 0 leaves every pass empty: an endless loop counter must
// not wrap forever inside one fill; the half is filled with silence.
TEST_F(WavePlaybackTest, EmptyPassesDoNotLoopForever) {
    PlayCounting(8000, {{kSoundEndTime, 0}});
    ASSERT_EQ(Steps(20, 20), 0);
    for (size_t i = 0; i < heard.size(); i += 13) ASSERT_EQ(heard[i], 0) << i;
}

TEST_F(SoundStreamTest, RootLoopsGeneratedSilence) {
    NamedTreeNode* root = FindNodeByPath(TheRootTrees().sounds, "ROOT", kFindLeaf);
    ASSERT_NE(root, nullptr);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Step(20), 0);
    std::lock_guard lock(EngineLock);
    const SoundChannel& channel = Of(root);
    EXPECT_GE(channel.state, kSoundRamping);
    EXPECT_EQ(channel.rate, 8000u);
    EXPECT_EQ(channel.bits, 8);
    EXPECT_EQ(channel.length, 500);
    EXPECT_EQ(channel.volume, 2);
    ASSERT_TRUE(channel.buffer);
    EXPECT_EQ(channel.buffer->Volume(), MillibelsOfVolume(2));
    EXPECT_TRUE(channel.buffer->Playing());
    EXPECT_EQ(SilentWaveImage().size(), 4044u);
}

TEST_F(SoundStreamTest, AdpcmWaveIsConvertedAtLoad) {
    WriteFile("voice.wav", tools::AdpcmWaveFile(1, 16000, 16000, tools::SineTone(500, 16000, 8000)));
    NamedTreeNode* node = Make("voice");
    ASSERT_EQ(Request(node, kSoundLoad, 0, "voice.wav"), 0);
    ASSERT_EQ(Request(node, kSoundPlay, 0), 0);
    ASSERT_EQ(Steps(10, 20), 0);
    ASSERT_EQ(Request(node, kSoundPause, 1), 0);
    ASSERT_EQ(Request(node, kSoundPause, 0), 0);  // opened again from the converted PCM
    ASSERT_EQ(Steps(5, 20), 0);
    std::lock_guard lock(EngineLock);
    EXPECT_EQ(Of(node).data_kind, kSoundDataConverted);
    EXPECT_EQ(Of(node).bits, 16);
    EXPECT_NEAR(Of(node).length, 1000, 70);  // ADPCM blocks round the length up
    EXPECT_TRUE(Of(node).buffer && Of(node).buffer->Playing());
}

}  // namespace
}  // namespace zk
