// .zcg decoding: every band kind gives back the pixels written, and with
// 1, 2 and 4 workers every file, sound or damaged, gives the same result,
// the same messages and the same pixels.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/system_facts.h"
#include "layers/cg_image.h"
#include "images/image_decoders.h"
#include "layers/worker_pool.h"
#include "platform/codec_registry.h"
#include "platform/game_path.h"
#include "tests/layers/decoder_test_support.h"
#include "tools/lib/zcg_writer.h"
#include "base/text_encoding.h"

namespace zk {
namespace {

using testing_support::DecoderTest;
using testing_support::PixelBytes;
using testing_support::SeenReport;
using tools::ZcgBandKind;

constexpr int kWorkerCounts[] = {1, 2, 4};

std::vector<uint8_t> Pattern(int width, int height) {
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.insert(pixels.end(), {uint8_t(x * 41 + 3), uint8_t(y * 17), uint8_t(x ^ (y * 5)), uint8_t(x * y * 13)});
        }
    }
    return pixels;
}

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

Picture MakePicture(int width, int height) { return {width, height, Pattern(width, height)}; }

std::vector<uint8_t> Zcg(const Picture& picture, ZcgBandKind kind, std::optional<int32_t> top_rows = std::nullopt) {
    std::vector<uint8_t> file = tools::BuildZcg({picture.width, picture.height, picture.pixels, kind, top_rows});
    EXPECT_FALSE(file.empty());
    return file;
}

uint32_t GetU32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}
void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}
void AddU32(std::vector<uint8_t>& bytes, size_t at, int32_t delta) { PutU32(bytes, at, GetU32(bytes, at) + delta); }

// Flips the bytes of one stored part from `skip` bytes into it.
std::vector<uint8_t> DamagePart(std::vector<uint8_t> file, int part, size_t skip = 8) {
    uint32_t stored1 = GetU32(file, tools::kZcgPart1StoredField);
    uint32_t stored2 = GetU32(file, tools::kZcgPart2StoredField);
    size_t begin = tools::kZcgHeaderBytes + (part == 1 ? 0 : stored1);
    size_t end = begin + (part == 1 ? stored1 : stored2);
    for (size_t i = begin + skip; i < end; ++i) file[i] ^= 0x5C;
    return file;
}

struct Outcome {
    int32_t result = 0;
    std::vector<std::string> boxes;
    std::vector<SeenReport> reports;
    std::vector<uint8_t> pixels;  // when decoded
    uint8_t alpha_in_use = 0;
    bool operator==(const Outcome&) const = default;
};

class ZcgTest : public DecoderTest {
protected:
    void SetUp() override {
        DecoderTest::SetUp();
        RegisterZcgJobs();
    }
    void TearDown() override {
        StopWorkerThreads();
        DecoderTest::TearDown();
    }

    // A fresh engine state and pool of `workers` for each decode: a fatal
    // report raises the quit flag, which would send the workers home.
    Outcome DecodeWith(int workers, const std::vector<uint8_t>& file) {
        ForgetReports();
        StopWorkerThreads();
        TheSystemFacts().worker_count = static_cast<int8_t>(workers);
        EXPECT_EQ(StartWorkerThreads(), 0);
        EXPECT_EQ(WorkerCount(), workers);
        CgImage image;
        Outcome outcome;
        outcome.result = DecodeZcgBytes(file, image, "a.zcg");
        outcome.boxes = Boxes();
        outcome.reports = Reports();
        if (outcome.result == 0) {
            outcome.pixels = PixelBytes(image);
            outcome.alpha_in_use = image.alpha_in_use;
        }
        return outcome;
    }

    // The outcome with one worker, after checking that 2 and 4 give it too.
    Outcome SameForEveryWorkerCount(const std::vector<uint8_t>& file) {
        Outcome first = DecodeWith(kWorkerCounts[0], file);
        for (int workers : kWorkerCounts) {
            EXPECT_EQ(DecodeWith(workers, file), first) << workers << " workers";
        }
        return first;
    }
};

struct BandCase {
    const char* name;
    ZcgBandKind kind;
    int width, height;
    std::optional<int32_t> top_rows;
};

class ZcgBandTest : public ZcgTest, public ::testing::WithParamInterface<BandCase> {};

TEST_P(ZcgBandTest, GivesBackThePixels) {
    const BandCase& c = GetParam();
    Picture picture = MakePicture(c.width, c.height);
    Outcome outcome = SameForEveryWorkerCount(Zcg(picture, c.kind, c.top_rows));
    ASSERT_EQ(outcome.result, 0);
    EXPECT_TRUE(outcome.boxes.empty());
    EXPECT_EQ(outcome.pixels, picture.pixels);
    EXPECT_EQ(outcome.alpha_in_use, 1) << "every .zcg image has alpha";
}

INSTANTIATE_TEST_SUITE_P(Bands, ZcgBandTest,
                         ::testing::Values(
                             // The first part is the top row (8 bytes), the second the bottom row.
                             BandCase{"raw_2x2", ZcgBandKind::kRaw, 2, 2, 1},
                             BandCase{"raw", ZcgBandKind::kRaw, 7, 5, std::nullopt},
                             BandCase{"raw_empty_top_band", ZcgBandKind::kRaw, 3, 3, 0},
                             BandCase{"zlib", ZcgBandKind::kZlib, 16, 9, std::nullopt},
                             BandCase{"zlib_empty_bottom_band", ZcgBandKind::kZlib, 5, 4, 4},
                             BandCase{"snappy", ZcgBandKind::kSnappy, 16, 9, std::nullopt},
                             BandCase{"webp", ZcgBandKind::kWebp, 16, 9, std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ZcgTest, WrongMagicIsPointedOutAndDecoded) {
    Picture picture = MakePicture(4, 4);
    std::vector<uint8_t> file = Zcg(picture, ZcgBandKind::kZlib);
    file[0] = 'X';
    Outcome outcome = SameForEveryWorkerCount(file);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.boxes, std::vector<std::string>{"File Check Error."});
    EXPECT_EQ(outcome.pixels, picture.pixels);
}

TEST_F(ZcgTest, UnknownCompressionUnpacksNothing) {
    std::vector<uint8_t> file = Zcg(MakePicture(3, 2), ZcgBandKind::kRaw);
    PutU32(file, tools::kZcgCompressionField, 7);
    Outcome outcome = SameForEveryWorkerCount(file);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.pixels, std::vector<uint8_t>(3 * 2 * 4, 0));
}

// ---- damaged files -----------------------------------------------------------

struct DamagedCase {
    const char* name;
    std::function<std::vector<uint8_t>()> file;
    std::vector<std::string> boxes;  // UTF-8
    std::vector<SeenReport> reports;
};

class ZcgDamagedTest : public ZcgTest, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(ZcgDamagedTest, FailsTheSameWithEveryWorkerCount) {
    const DamagedCase& c = GetParam();
    Outcome outcome = SameForEveryWorkerCount(c.file());
    EXPECT_EQ(outcome.result, -1);
    std::vector<std::string> boxes;
    for (const std::string& text : c.boxes) boxes.push_back(Utf8ToCp932(text));
    EXPECT_EQ(outcome.boxes, boxes);
    EXPECT_EQ(outcome.reports, c.reports);
}

std::vector<uint8_t> Changed(ZcgBandKind kind, const std::function<void(std::vector<uint8_t>&)>& change) {
    std::vector<uint8_t> file = Zcg(MakePicture(12, 8), kind);
    change(file);
    return file;
}

const char* const kCheck = "File Check Error.";
const char* const kPart1 = "Uncompress Status Error 1.";
const char* const kPart2 = "Uncompress Status Error 2.";
const SeenReport kBadSize{100091, true, "a.zcg"};

INSTANTIATE_TEST_SUITE_P(
    Files, ZcgDamagedTest,
    ::testing::Values(
        DamagedCase{"header_cut_short",
                    [] { return Changed(ZcgBandKind::kRaw, [](auto& f) { f.resize(40); }); }, {kCheck}, {}},
        DamagedCase{"width_8193",
                    [] { return Changed(ZcgBandKind::kRaw, [](auto& f) { PutU32(f, tools::kZcgWidthField, 8193); }); },
                    {}, {kBadSize}},
        DamagedCase{"height_8193",
                    [] { return Changed(ZcgBandKind::kRaw, [](auto& f) { PutU32(f, tools::kZcgHeightField, 8193); }); },
                    {}, {kBadSize}},
        DamagedCase{"width_0",
                    [] { return Changed(ZcgBandKind::kRaw, [](auto& f) { PutU32(f, tools::kZcgWidthField, 0); }); },
                    {}, {kBadSize}},
        DamagedCase{"negative_height",
                    [] { return Changed(ZcgBandKind::kRaw, [](auto& f) { PutU32(f, tools::kZcgHeightField, -8); }); },
                    {}, {kBadSize}},
        DamagedCase{"parts_smaller_than_the_image",
                    [] {
                        return Changed(ZcgBandKind::kZlib, [](auto& f) { AddU32(f, tools::kZcgPart2UnpackedField, -4); });
                    },
                    {kCheck}, {}},
        DamagedCase{"parts_larger_than_the_image",
                    [] {
                        return Changed(ZcgBandKind::kRaw, [](auto& f) {
                            AddU32(f, tools::kZcgPart1UnpackedField, 0x7FFFFFFF);
                            AddU32(f, tools::kZcgPart1StoredField, 0x7FFFFFFF);
                        });
                    },
                    {kCheck}, {}},
        DamagedCase{"stored_part_beyond_the_file",
                    [] {
                        return Changed(ZcgBandKind::kSnappy, [](auto& f) { AddU32(f, tools::kZcgPart2StoredField, 1); });
                    },
                    {kCheck}, {}},
        DamagedCase{"raw_part_stored_and_unpacked_differ",
                    [] {
                        return Changed(ZcgBandKind::kRaw, [](auto& f) {
                            AddU32(f, tools::kZcgPart1StoredField, -4);
                            AddU32(f, tools::kZcgPart2StoredField, 4);
                        });
                    },
                    {kCheck}, {}},
        DamagedCase{"zlib_part_1_damaged",
                    [] { return DamagePart(Zcg(MakePicture(12, 8), ZcgBandKind::kZlib), 1, 2); }, {kPart1}, {}},
        DamagedCase{"zlib_part_2_damaged",
                    [] { return DamagePart(Zcg(MakePicture(12, 8), ZcgBandKind::kZlib), 2, 2); }, {kPart2}, {}},
        // The first part unpacks to fewer bytes than its share: the second would land
        // in the wrong place.
        DamagedCase{"zlib_part_1_shorter_than_its_share",
                    [] {
                        return Changed(ZcgBandKind::kZlib, [](auto& f) {
                            AddU32(f, tools::kZcgPart1UnpackedField, 4);
                            AddU32(f, tools::kZcgPart2UnpackedField, -4);
                        });
                    },
                    {kPart1}, {}},
        DamagedCase{"snappy_part_2_damaged",
                    [] { return DamagePart(Zcg(MakePicture(12, 8), ZcgBandKind::kSnappy), 2, 0); }, {kPart2}, {}},
        DamagedCase{"webp_part_2_damaged",
                    [] { return DamagePart(Zcg(MakePicture(12, 8), ZcgBandKind::kWebp), 2, 30); }, {kPart2}, {}},
        // A band of 3 rows where the header gives the first part four rows.
        DamagedCase{"webp_band_of_another_size",
                    [] {
                        return Changed(ZcgBandKind::kWebp, [](auto& f) {
                            AddU32(f, tools::kZcgPart1UnpackedField, 12 * 4);
                            AddU32(f, tools::kZcgPart2UnpackedField, -12 * 4);
                        });
                    },
                    {kPart1}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ZcgTest, MissingCodecsFailTheSameWithEveryWorkerCount) {
    std::vector<uint8_t> zlib = Zcg(MakePicture(6, 6), ZcgBandKind::kZlib);
    std::vector<uint8_t> webp = Zcg(MakePicture(6, 6), ZcgBandKind::kWebp);
    platform::UnloadCodecLibrary(platform::CodecLibraryId::kDevod);
    platform::UnloadCodecLibrary(platform::CodecLibraryId::kZkwbp);
    Outcome no_zlib = SameForEveryWorkerCount(zlib);
    EXPECT_EQ(no_zlib.result, -1);
    EXPECT_EQ(no_zlib.boxes, std::vector<std::string>{kPart1});
    Outcome no_webp = SameForEveryWorkerCount(webp);
    EXPECT_EQ(no_webp.result, -1);
    EXPECT_EQ(no_webp.boxes, std::vector<std::string>{Utf8ToCp932("WebP の読込に対応していません。")});
}

}  // namespace
}  // namespace zk
