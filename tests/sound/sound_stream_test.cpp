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
        // The stream runs to its last frame (the length's whole
        // milliseconds would cut the last fraction of one), then silence.
        const size_t end_bytes = oracle.size();
        ASSERT_EQ(end_bytes, (44100u * 3 + 1234) * channel.block_align);
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

// A loop wraps from its end frame straight to its start frame, every pass:
// the stream of an endless loop is the first pass (start of the sound to
// end) followed by copies of the loop (loop start to end), frame for frame.
// A loop whose end is the length plays every frame of the sound, also when
// the sound is not a whole number of milliseconds long.
class SoundLoopTest : public SoundFixture {
protected:
    struct Loop {
        uint16_t channels;
        uint32_t rate;
        uint32_t frames;
        int32_t loop_start_ms;
        int32_t end_ms;  // -1: the length
    };

    // Loads `file`, sets the loop, and streams halves from the start until
    // at least `frames` frames are produced.
    std::vector<uint8_t> StreamLoop(const std::string& name, uint8_t format, const Loop& loop, uint64_t frames) {
        NamedTreeNode* node = Make("loop" + std::to_string(++loads_), format);
        EXPECT_EQ(Request(node, kSoundLoad, 0, name), 0);
        EXPECT_EQ(Request(node, kSoundLoopStart, loop.loop_start_ms), 0);
        if (loop.end_ms >= 0) {
            EXPECT_EQ(Request(node, kSoundEndTime, loop.end_ms), 0);
        }
        std::lock_guard lock(EngineLock);
        SoundChannel& channel = Of(node);
        std::vector<uint8_t> streamed;
        if (channel.state != kSoundLoaded) return streamed;
        EXPECT_EQ(channel.loop_counter, 0);  // endless
        EXPECT_EQ(SeekSound(channel, 0), 0);
        const int32_t half = channel.buffer_bytes / 2;
        while (streamed.size() < frames * channel.block_align) {
            const int32_t result = FillSoundHalf(channel);
            EXPECT_EQ(result, half);
            if (result != half) break;
            streamed.insert(streamed.end(), channel.staging.begin(), channel.staging.begin() + half);
        }
        ReleaseSoundChannel(channel);
        channel.state = kSoundIdle;
        return streamed;
    }

    // The frames an endless loop plays, as indexes into the sound.
    static std::vector<uint32_t> ExpectedFrames(const Loop& loop, uint64_t count) {
        const uint32_t end = loop.end_ms < 0 ? loop.frames : static_cast<uint32_t>(uint64_t{loop.rate} * loop.end_ms / 1000);
        const uint32_t start = static_cast<uint32_t>(uint64_t{loop.rate} * loop.loop_start_ms / 1000);
        std::vector<uint32_t> frames;
        for (uint32_t f = 0; frames.size() < count; f = f + 1 == end ? start : f + 1) frames.push_back(f);
        return frames;
    }

    int loads_ = 0;
};

TEST_F(SoundLoopTest, WaveLoopsAreSampleExact) {
    const std::vector<Loop> loops = {
        {1, 44100, 44200, 0, -1},  // 1002.27 ms: 12 frames past the whole milliseconds
        {2, 8000, 8003, 0, -1},
        {1, 8000, 10403, 300, -1},
        {2, 11025, 11030, 250, 700},  // an end time inside the sound
    };
    for (const Loop& loop : loops) {
        // Each sample names its frame (the right channel mirrored).
        tools::WaveSpec spec;
        spec.channels = loop.channels;
        spec.rate = loop.rate;
        spec.frames = loop.frames;
        spec.samples = [](uint32_t f, uint16_t c) { return static_cast<int16_t>(c == 0 ? f : ~f); };
        WriteFile("ramp.wav", tools::WaveFile(spec));
        const uint64_t count = uint64_t{loop.frames} * 3 + loop.rate;  // three wraps or more
        const std::vector<uint8_t> streamed = StreamLoop("ramp.wav", kSoundFormatWave, loop, count);
        ASSERT_GE(streamed.size(), count * 2 * loop.channels) << loop.frames << " frames";
        const std::vector<uint32_t> expected = ExpectedFrames(loop, count);
        for (size_t i = 0; i < count; ++i) {
            const size_t at = i * 2 * loop.channels;
            const uint16_t left = static_cast<uint16_t>(streamed[at] | (streamed[at + 1] << 8));
            ASSERT_EQ(left, static_cast<uint16_t>(expected[i]))
                << loop.frames << " frames at " << loop.rate << " Hz: output frame " << i;
            if (loop.channels == 2) {
                const uint16_t right = static_cast<uint16_t>(streamed[at + 2] | (streamed[at + 3] << 8));
                ASSERT_EQ(right, static_cast<uint16_t>(~expected[i])) << "output frame " << i;
            }
        }
    }
}

TEST_F(SoundLoopTest, OggLoopsAreSampleExact) {
    const std::vector<Loop> loops = {
        {2, 44100, 44200, 0, -1},
        {1, 22050, 22050 + 777, 250, -1},
        {1, 44100, 44100, 100, 700},
    };
    for (const Loop& loop : loops) {
        const std::vector<uint8_t> file =
            tools::OggVorbisFile(loop.channels, loop.rate, loop.frames, tools::SineTone(441, loop.rate, 9000));
        ASSERT_FALSE(file.empty());
        const std::vector<uint8_t> oracle = DecodeSequentially(file);
        const size_t frame_bytes = 2u * loop.channels;
        ASSERT_EQ(oracle.size(), loop.frames * frame_bytes);
        WriteFile("loop.ogg", file);
        const uint64_t count = uint64_t{loop.frames} * 3 + loop.rate;
        const std::vector<uint8_t> streamed = StreamLoop("loop.ogg", kSoundFormatOgg, loop, count);
        ASSERT_GE(streamed.size(), count * frame_bytes) << loop.frames << " frames";
        const std::vector<uint32_t> expected = ExpectedFrames(loop, count);
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(std::memcmp(streamed.data() + i * frame_bytes, oracle.data() + expected[i] * frame_bytes, frame_bytes), 0)
                << loop.frames << " frames at " << loop.rate << " Hz: output frame " << i << " should be sound frame "
                << expected[i];
        }
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

// What the mixer plays of an endless loop of 8003 frames at 8000 Hz (not a
// whole number of milliseconds) is the ramp without a jump at any wrap.
TEST_F(WavePlaybackTest, EndlessLoopIsHeardWithoutAJump) {
    PlayCounting(8003, {});
    ASSERT_EQ(Steps(200, 20), 0);  // 4 s: three wraps
    ASSERT_GE(heard.size(), 32000u);
    for (size_t i = 0; i < 32000; ++i) ASSERT_EQ(FrameAt(i), static_cast<int32_t>(i % 8003)) << i;
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
