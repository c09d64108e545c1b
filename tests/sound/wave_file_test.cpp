// WAVE files: the chunk walk over good layouts and the refusals of damaged
// ones, and the conversion of ADPCM to PCM.
#include "sound/wave_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/lib/sound_writer.h"

namespace zk {
namespace {

using tools::WaveChunk;
using tools::WaveSpec;

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
size_t Find(const std::vector<uint8_t>& bytes, const char* tag) {
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
        if (std::equal(tag, tag + 4, bytes.begin() + static_cast<std::ptrdiff_t>(i))) return i;
    }
    return std::string::npos;
}

TEST(WaveFile, FindsFormatAndDataInEveryLayout) {
    struct Case {
        uint16_t channels, bits;
        uint32_t rate;
        std::vector<WaveChunk> before_format, before_data;
    };
    const std::vector<Case> cases = {
        {1, 8, 8000, {}, {}},
        {2, 8, 22050, {}, {}},
        {1, 16, 44100, {}, {}},
        {2, 16, 48000, {}, {}},
        // A LIST chunk first, and chunks of odd size with their pad byte.
        {2, 16, 11025, {{"LIST", std::vector<uint8_t>(27, 'x')}}, {{"junk", std::vector<uint8_t>(5, 1)}}},
        {1, 8, 8000, {{"odd ", std::vector<uint8_t>(1, 9)}}, {{"fact", std::vector<uint8_t>(4, 0)}}},
    };
    for (const Case& c : cases) {
        WaveSpec spec;
        spec.channels = c.channels;
        spec.bits = c.bits;
        spec.rate = c.rate;
        spec.frames = 101;
        spec.samples = [](uint32_t f, uint16_t ch) { return static_cast<int16_t>(f * 300 + ch); };
        spec.before_format = c.before_format;
        spec.before_data = c.before_data;
        const std::vector<uint8_t> file = tools::WaveFile(spec);
        WaveInfo info;
        ASSERT_EQ(ParseWaveFile(file, info), 0) << c.channels << "ch " << c.bits << "bit " << c.rate;
        EXPECT_EQ(info.format_tag, 1);
        EXPECT_EQ(info.channels, c.channels);
        EXPECT_EQ(info.rate, c.rate);
        EXPECT_EQ(info.bits, c.bits);
        EXPECT_EQ(info.block_align, c.channels * c.bits / 8);
        EXPECT_EQ(info.data_size, 101u * info.block_align);
        EXPECT_EQ(info.data_offset, Find(file, "data") + 8);
    }
}

TEST(WaveFile, RefusesDamagedFiles) {
    WaveSpec spec;
    spec.frames = 100;
    const std::vector<uint8_t> good = tools::WaveFile(spec);
    const size_t data = Find(good, "data");
    const size_t format = Find(good, "fmt ");

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int32_t result;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, kWaveNoRiff});
    {
        auto bytes = good;
        bytes[0] = 'X';
        cases.push_back({"no RIFF", bytes, kWaveNoRiff});
    }
    {
        auto bytes = good;
        bytes[8] = 'A';
        cases.push_back({"no WAVE", bytes, kWaveNotWave});
    }
    cases.push_back({"truncated in the data", {good.begin(), good.end() - 10}, kWaveNoData});
    cases.push_back({"cut before the data", {good.begin(), good.begin() + static_cast<std::ptrdiff_t>(data)}, kWaveNoData});
    cases.push_back({"cut in the format", {good.begin(), good.begin() + static_cast<std::ptrdiff_t>(format + 12)}, kWaveNoFormat});
    {
        auto bytes = good;
        Put32(bytes, data + 4, 1000000);
        cases.push_back({"data longer than the file", bytes, kWaveNoData});
    }
    {
        auto bytes = good;
        Put32(bytes, data + 4, 0);
        bytes.resize(data + 8);
        cases.push_back({"empty data", bytes, kWaveNoData});
    }
    {
        // A 12-byte format: the rest of the chunk walk stays in step.
        std::vector<uint8_t> bytes = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 12, 0, 0, 0};
        bytes.insert(bytes.end(), good.begin() + static_cast<std::ptrdiff_t>(format + 8),
                     good.begin() + static_cast<std::ptrdiff_t>(format + 20));
        bytes.insert(bytes.end(), good.begin() + static_cast<std::ptrdiff_t>(data), good.end());
        cases.push_back({"short fmt", bytes, kWaveBadFormat});
    }
    {
        auto bytes = good;
        bytes[format + 8 + 12] = 0;  // block align
        bytes[format + 8 + 13] = 0;
        cases.push_back({"block align 0", bytes, kWaveBadFormat});
    }
    {
        auto bytes = good;
        Put32(bytes, format + 8 + 4, 0);  // rate
        cases.push_back({"rate 0", bytes, kWaveBadFormat});
    }
    {
        auto bytes = good;
        bytes[format + 8 + 2] = 0;  // channels
        cases.push_back({"channels 0", bytes, kWaveBadFormat});
    }
    {
        auto bytes = good;
        bytes[format] = 'F';
        cases.push_back({"no fmt chunk", bytes, kWaveNoFormat});
    }
    for (const Case& c : cases) {
        WaveInfo info;
        EXPECT_EQ(ParseWaveFile(c.bytes, info), c.result) << c.what;
    }
}

TEST(WaveFile, AdpcmConvertsToPcm) {
    const auto tone = tools::SineTone(440, 22050, 12000);
    const std::vector<uint8_t> file = tools::AdpcmWaveFile(2, 22050, 22050, tone);
    ASSERT_FALSE(file.empty());
    WaveInfo info;
    ASSERT_EQ(ParseWaveFile(file, info), 0);
    EXPECT_NE(info.format_tag, 1) << "IMA ADPCM";
    std::vector<uint8_t> pcm;
    ASSERT_EQ(ConvertWaveToPcm(file, pcm, info), 0);
    EXPECT_EQ(info.format_tag, 1);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.rate, 22050u);
    EXPECT_EQ(info.bits, 16);
    EXPECT_EQ(info.block_align, 4);
    ASSERT_GE(pcm.size(), 22000u * 4);
    // ADPCM is lossy: the tone comes back close, not exact.
    double error = 0;
    for (uint32_t f = 1000; f < 2000; ++f) {
        const int16_t left = static_cast<int16_t>(pcm[4 * f] | (pcm[4 * f + 1] << 8));
        error += std::abs(left - tone(f, 0));
    }
    EXPECT_LT(error / 1000, 600);

    std::vector<uint8_t> garbage(200, 0x55);
    EXPECT_EQ(ConvertWaveToPcm(garbage, pcm, info), kWaveConvertOpen);
}

// A WAVE file with an ADPCM format of the given fields (20-byte format
// with the samples per block), then `chunks` after the format.
struct AdpcmFields {
    uint16_t tag = kWaveTagImaAdpcm;
    uint16_t channels = 1;
    uint16_t block_align = 256;
    uint16_t bits = 4;
    uint16_t samples_per_block = 505;
};
std::vector<uint8_t> AdpcmWave(const AdpcmFields& f, const std::vector<WaveChunk>& chunks) {
    std::vector<uint8_t> format;
    auto put16 = [&](uint16_t v) {
        format.push_back(static_cast<uint8_t>(v));
        format.push_back(static_cast<uint8_t>(v >> 8));
    };
    put16(f.tag);
    put16(f.channels);
    put16(8000);  // rate
    put16(0);
    put16(4000);  // bytes per second
    put16(0);
    put16(f.block_align);
    put16(f.bits);
    put16(2);  // extension size
    put16(f.samples_per_block);
    static constexpr uint8_t kHead[20] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 20, 0, 0, 0};
    std::vector<uint8_t> file(sizeof kHead + format.size());
    std::copy(std::begin(kHead), std::end(kHead), file.begin());
    std::copy(format.begin(), format.end(), file.begin() + sizeof kHead);
    for (const WaveChunk& chunk : chunks) {
        file.insert(file.end(), chunk.id.begin(), chunk.id.begin() + 4);
        for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(chunk.body.size() >> (8 * i)));
        file.insert(file.end(), chunk.body.begin(), chunk.body.end());
        if (chunk.body.size() % 2 != 0) file.push_back(0);
    }
    Put32(file, 4, static_cast<uint32_t>(file.size() - 8));
    return file;
}
std::vector<uint8_t> Noise(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    return bytes;
}

// An INFO list whose one entry claims 2 GB.
std::vector<uint8_t> ListWithLongEntry() {
    std::vector<uint8_t> body = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 0, 0, 0, 0, 'a', 'b'};
    Put32(body, 8, 0x7FFFFFF0);
    return body;
}

// Block align, samples per block and channels must describe one block
// shape; a decoder handed a header where they disagree works on a block
// that is not there.
TEST(WaveFile, AdpcmFieldsThatDisagreeAreRefusedBeforeDecoding) {
    struct Case {
        const char* what;
        AdpcmFields fields;
        int32_t result;
        uint64_t frames;  // converted frames when accepted
    };
    const std::vector<Case> cases = {
        // 1000 bytes: whole blocks, then a cut one of what its bytes hold.
        {"IMA mono, 256-byte blocks", {}, 0, 3 * 505 + 1 + (1000 - 3 * 256 - 4) / 4 * 8},
        {"IMA stereo, 512-byte blocks", {kWaveTagImaAdpcm, 2, 512, 4, 505}, 0, 505 + 1 + (1000 - 512 - 8) / 8 * 8},
        {"IMA samples per block one short", {kWaveTagImaAdpcm, 1, 256, 4, 504}, kWaveConvertOpen, 0},
        {"IMA samples per block of another block size", {kWaveTagImaAdpcm, 1, 256, 4, 1017}, kWaveConvertOpen, 0},
        {"IMA block align below its header", {kWaveTagImaAdpcm, 2, 6, 4, 1}, kWaveConvertOpen, 0},
        // The decoder's own check passes these (its formula rounds), but
        // the block ends inside a group of samples.
        {"IMA mono block of 257 bytes", {kWaveTagImaAdpcm, 1, 257, 4, 507}, kWaveConvertOpen, 0},
        {"IMA stereo block of 9 bytes", {kWaveTagImaAdpcm, 2, 9, 4, 2}, kWaveConvertOpen, 0},
        {"IMA three channels", {kWaveTagImaAdpcm, 3, 36, 4, 17}, kWaveConvertOpen, 0},
        {"IMA 3 bits a sample", {kWaveTagImaAdpcm, 1, 256, 3, 505}, kWaveConvertOpen, 0},
        {"IMA no samples per block", {kWaveTagImaAdpcm, 1, 256, 4, 0}, kWaveConvertOpen, 0},
        {"MS ADPCM samples per block that disagree", {kWaveTagMsAdpcm, 1, 256, 4, 100}, kWaveConvertOpen, 0},
        {"MS ADPCM block align below its header", {kWaveTagMsAdpcm, 2, 13, 4, 2}, kWaveConvertOpen, 0},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> file = AdpcmWave(c.fields, {{"data", Noise(1000)}});
        std::vector<uint8_t> pcm;
        WaveInfo info;
        ASSERT_EQ(ParseWaveFile(file, info), 0) << c.what;
        EXPECT_EQ(WaveFramesHeld(info).has_value(), c.result == 0) << c.what;
        EXPECT_EQ(ConvertWaveToPcm(file, pcm, info), c.result) << c.what;
        if (c.result == 0) {
            EXPECT_EQ(pcm.size(), c.frames * c.fields.channels * 2) << c.what;
        }
    }
}

// The conversion yields what the data chunk holds and no more: a block cut
// short by the end of the data gives the frames its bytes encode, not a
// whole block of made-up samples; and the decoder reads the chunks the walk
// found, whatever else the file holds.
TEST(WaveFile, ConversionYieldsWhatTheDataHolds) {
    struct Case {
        const char* what;
        AdpcmFields fields;
        std::vector<WaveChunk> chunks;
        uint64_t frames;
    };
    const std::vector<Case> cases = {
        // One block of 32768 bytes would be 65529 frames; 40 bytes hold 73.
        {"one long block cut to 40 bytes", {kWaveTagImaAdpcm, 1, 32768, 4, 65529}, {{"data", Noise(40)}}, 73},
        {"cut inside the block header", {kWaveTagImaAdpcm, 2, 32768, 4, 32761}, {{"data", Noise(6)}}, 0},
        {"a second data chunk", {}, {{"data", Noise(512)}, {"data", Noise(3000)}}, 2 * 505},
        {"a LIST entry that runs past the end", {}, {{"data", Noise(256)}, {"LIST", ListWithLongEntry()}}, 505},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> file = AdpcmWave(c.fields, c.chunks);
        WaveInfo info;
        ASSERT_EQ(ParseWaveFile(file, info), 0) << c.what;
        ASSERT_EQ(WaveFramesHeld(info), c.frames) << c.what;
        std::vector<uint8_t> pcm;
        const int32_t result = ConvertWaveToPcm(file, pcm, info);
        if (c.frames == 0) {
            EXPECT_TRUE(result != 0 || pcm.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(result, 0) << c.what;
        EXPECT_EQ(pcm.size(), c.frames * c.fields.channels * 2) << c.what;
    }
}

// Inputs kept for the sound file fuzzer, replayed as the sound loader
// takes them (a first byte 0 is Ogg, anything else WAVE): each converts
// within what its data holds, and ends (two of them once kept the decoder
// reading their data bytes as chunks for ever; a hang here fails by the
// suite's time limit).
TEST(WaveFile, FuzzRegressionsConvertWithinTheirData) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(ZORVEK_SOURCE_DIR) / "tests" / "fuzz" / "regressions" / "sound_file";
    ASSERT_TRUE(fs::is_directory(folder));
    int replayed = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.empty() || bytes[0] == 0) continue;
        const std::span<const uint8_t> image = std::span<const uint8_t>(bytes).subspan(1);
        WaveInfo info;
        if (ParseWaveFile(image, info) != 0 || info.format_tag == kWaveTagPcm) continue;
        ++replayed;
        const std::optional<uint64_t> held = WaveFramesHeld(info);
        std::vector<uint8_t> pcm;
        const int32_t result = ConvertWaveToPcm(image, pcm, info);
        if (!held) {
            EXPECT_EQ(result, kWaveConvertOpen) << entry.path();
            continue;
        }
        if (result != 0) continue;
        EXPECT_LE(pcm.size() / info.block_align, *held) << entry.path();
    }
    EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace zk
