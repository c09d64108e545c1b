// WAVE files: the chunk walk over good layouts and the refusals of damaged
// ones, and the conversion of ADPCM to PCM.
#include "sound/wave_file.h"

#include <gtest/gtest.h>

#include <cmath>

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

}  // namespace
}  // namespace zk
