// WebP decoding: lossless files give back the very pixels written, lossy
// ones what libwebp's own decoder gives; damaged files and a missing
// library fail with their messages.
#include <webp/decode.h>
#include <webp/encode.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "layers/cg_image.h"
#include "images/image_decoders.h"
#include "platform/codec_registry.h"
#include "platform/game_path.h"
#include "tests/layers/decoder_test_support.h"
#include "base/text_encoding.h"

namespace zk {
namespace {

using testing_support::DecoderTest;
using testing_support::PixelBytes;
using testing_support::SeenReport;

std::vector<uint8_t> Pattern(int width, int height) {
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.insert(pixels.end(), {uint8_t(x * 19), uint8_t(y * 23), uint8_t(x * y + 7), uint8_t((x + y) * 31)});
        }
    }
    return pixels;
}

// Lossless files are exact: a transparent pixel keeps its colour too.
std::vector<uint8_t> Encode(const std::vector<uint8_t>& bgra, int width, int height, bool lossless) {
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = lossless ? 1 : 0;
    config.exact = 1;
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.use_argb = lossless ? 1 : 0;
    picture.width = width;
    picture.height = height;
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    std::vector<uint8_t> file;
    if (WebPPictureImportBGRA(&picture, bgra.data(), width * 4) && WebPEncode(&config, &picture)) {
        file.assign(writer.mem, writer.mem + writer.size);
    }
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    EXPECT_FALSE(file.empty());
    return file;
}

TEST_F(DecoderTest, WebpLosslessGivesBackItsPixels) {
    std::vector<uint8_t> pixels = Pattern(13, 7);
    CgImage image;
    ASSERT_EQ(DecodeWebpBytes(Encode(pixels, 13, 7, true), image, "a.webp"), 0);
    EXPECT_EQ(image.width, 13);
    EXPECT_EQ(image.height, 7);
    EXPECT_EQ(image.alpha_in_use, 1);
    EXPECT_EQ(PixelBytes(image), pixels);
}

TEST_F(DecoderTest, WebpLossyMatchesLibwebp) {
    std::vector<uint8_t> file = Encode(Pattern(21, 10), 21, 10, false);
    int width = 0, height = 0;
    uint8_t* expected = WebPDecodeBGRA(file.data(), file.size(), &width, &height);
    ASSERT_NE(expected, nullptr);
    std::vector<uint8_t> reference(expected, expected + size_t(width) * height * 4);
    WebPFree(expected);
    CgImage image;
    ASSERT_EQ(DecodeWebpBytes(file, image, "a.webp"), 0);
    EXPECT_EQ(PixelBytes(image), reference);
}

struct BadCase {
    const char* name;
    std::function<std::vector<uint8_t>()> file;
    std::vector<std::string> boxes;  // UTF-8
    std::vector<SeenReport> reports;
};

class WebpBadTest : public DecoderTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(WebpBadTest, Fails) {
    const BadCase& c = GetParam();
    CgImage image;
    EXPECT_EQ(DecodeWebpBytes(c.file(), image, "bad.webp"), -1);
    std::vector<std::string> boxes;
    for (const std::string& text : c.boxes) boxes.push_back(Utf8ToCp932(text));
    EXPECT_EQ(Boxes(), boxes);
    EXPECT_EQ(Reports(), c.reports);
}

std::vector<uint8_t> Damaged(size_t keep, size_t flip_from) {
    std::vector<uint8_t> file = Encode(Pattern(40, 40), 40, 40, true);
    for (size_t i = flip_from; i < file.size(); ++i) file[i] ^= 0xA5;
    file.resize(std::min(keep, file.size()));
    return file;
}

INSTANTIATE_TEST_SUITE_P(
    Files, WebpBadTest,
    ::testing::Values(
        BadCase{"not_riff", [] { return std::vector<uint8_t>(40, 'x'); }, {"File Check Error."}, {}},
        BadCase{"shorter_than_the_signature", [] { return std::vector<uint8_t>{'R', 'I', 'F', 'F'}; },
                {"File Check Error."}, {}},
        // The signature is right; what follows is not.
        BadCase{"damaged_header", [] { return Damaged(10000, 12); }, {"File Check Error."}, {}},
        BadCase{"damaged_data", [] { return Damaged(10000, 40); }, {"File Check Error."}, {}},
        BadCase{"cut_short", [] { return Damaged(60, 100000); }, {"File Check Error."}, {}},
        BadCase{"width_8193", [] { return Encode(Pattern(8193, 1), 8193, 1, true); }, {}, {{100091, true, "bad.webp"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecoderTest, WebpWithoutTheLibrarySaysSo) {
    std::vector<uint8_t> file = Encode(Pattern(2, 2), 2, 2, true);
    platform::UnloadCodecLibrary(platform::CodecLibraryId::kZkwbp);
    CgImage image;
    EXPECT_EQ(DecodeWebpBytes(file, image, "a.webp"), -1);
    EXPECT_EQ(Boxes(), std::vector<std::string>{Utf8ToCp932("WebP の読込に対応していません。")});
}

}  // namespace
}  // namespace zk
