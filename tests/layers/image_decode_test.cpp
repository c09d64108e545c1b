// The decoder dispatch: the decoder of each file kind reached through a
// file source, the errors the dispatch adds, and a whole load through
// LoadCgFile with the transparent fill.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "layers/cg_image.h"
#include "images/image_decode.h"
#include "platform/game_path.h"
#include "storage/asset_name.h"
#include "storage/file_source.h"
#include "tests/layers/decoder_test_support.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/gif_writer.h"
#include "tools/lib/zcg_writer.h"

namespace zk {
namespace {

namespace fs = std::filesystem;
using testing_support::PixelAt;
using testing_support::SeenReport;

// Each test runs in its own game folder, the current folder.
class DispatchTest : public testing_support::DecoderTest {
protected:
    void SetUp() override {
        DecoderTest::SetUp();
        static int counter = 0;
        old_cwd_ = fs::current_path();
        game_ = fs::temp_directory_path() /
                ("zk_image_decode_test_" + fs::read_symlink("/proc/self").string() + "_" + std::to_string(counter++));
        fs::remove_all(game_);
        fs::create_directories(game_);
        fs::current_path(game_);
        platform::ClearPathCache();
        RegisterImageDecoders();
    }
    void TearDown() override {
        fs::current_path(old_cwd_);
        std::error_code ec;
        fs::remove_all(game_, ec);
        platform::ClearPathCache();
        TheCgFileLoaders() = CgFileLoaders{ResolveImageName, nullptr};
        DecoderTest::TearDown();
    }

    void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(tools::WriteFile((game_ / name).string(), bytes));
        platform::ClearPathCache();
    }

    // A loose file of the given kind, decoded through the dispatch.
    int32_t Decode(const std::string& name, uint8_t kind, CgImage& image) {
        FileSource source;
        source.state = 1;
        source.kind = kind;
        return DecodeImageFile(source, image, name);
    }

    fs::path game_;
    fs::path old_cwd_;
};

std::vector<uint8_t> SmallBmp() {
    tools::BmpImage bmp;
    bmp.width = 2;
    bmp.height = 2;
    bmp.values = {0x112233, 0x445566, 0x778899, 0xAABBCC};
    return tools::BuildBmp(bmp);
}

TEST_F(DispatchTest, KindsWithoutADecoder) {
    Write("a.tga", SmallBmp());
    for (uint8_t kind : {0, 5, 6, 11, 255}) {
        ForgetReports();
        CgImage image;
        EXPECT_EQ(Decode("a.tga", kind, image), -1) << int(kind);
        // The name of command 1 (none without a command table) and the file.
        EXPECT_EQ(Reports(), (std::vector<SeenReport>{{100030, false, "|a.tga"}})) << int(kind);
    }
}

TEST_F(DispatchTest, ClearsAlphaInUseBeforeTheDecoder) {
    Write("a.bmp", SmallBmp());
    CgImage image;
    image.alpha_in_use = 1;
    ASSERT_EQ(Decode("a.bmp", kFileKindBmp, image), 0);
    EXPECT_EQ(image.alpha_in_use, 0);
    EXPECT_EQ(PixelAt(image, 0, 0), 0xFF112233u);
}

TEST_F(DispatchTest, AddsTheErrorOfTheKind) {
    // A JPEG of 8193 x 1 (start of image, frame, scan: enough for its
    // header) and a GIF screen of 8193 x 1: the decoder's report, then the
    // dispatch's.
    std::vector<uint8_t> wide_jpeg{0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x01, 0x20, 0x01, 0x01,
                                   0x01, 0x11, 0x00, 0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00};
    Write("wide.jpg", wide_jpeg);
    Write("garbage.jpg", std::vector<uint8_t>(64, 0x33));
    tools::GifWriter gif;
    Write("wide.gif", gif.Header(8193, 1).Trailer().Take());
    Write("open.gif", tools::GifWriter().Header(2, 2).Take());
    Write("bad.bmp", std::vector<uint8_t>(60, 'x'));

    struct Row {
        const char* name;
        uint8_t kind;
        std::vector<SeenReport> reports;
    };
    for (const Row& row : std::vector<Row>{
             {"wide.jpg", kFileKindJpg, {{100091, true, "wide.jpg"}, {100210, false, ""}}},
             {"garbage.jpg", kFileKindJpg, {{100210, false, ""}}},
             {"wide.gif", kFileKindGif, {{100091, true, "wide.gif"}, {100215, false, ""}}},
             {"open.gif", kFileKindGif, {{100215, false, ""}}},
             {"bad.bmp", kFileKindBmp, {{100070, true, "bad.bmp"}}},
         }) {
        ForgetReports();
        CgImage image;
        EXPECT_EQ(Decode(row.name, row.kind, image), -1) << row.name;
        EXPECT_EQ(Reports(), row.reports) << row.name;
    }
}

TEST_F(DispatchTest, PsdIsAlwaysRefused) {
    Write("a.psd", SmallBmp());
    CgImage image;
    EXPECT_EQ(Decode("a.psd", kFileKindPsd, image), -1);
    EXPECT_EQ(Reports(), (std::vector<SeenReport>{{100220, true, "a.psd"}}));
}

TEST_F(DispatchTest, AFileThatCannotBeLoadedFailsWithTheLoadersReport) {
    CgImage image;
    EXPECT_EQ(Decode("missing.jpg", kFileKindJpg, image), -1);
    EXPECT_EQ(ErrorReporter().reports, 2u) << "the loader's 104010, then 100210";
    EXPECT_EQ(Reports().back(), (SeenReport{100210, false, ""}));
}

TEST_F(DispatchTest, LoadFillsTransparentPixels) {
    // Through the whole load: the found name's kind picks the decoder, and
    // every pixel with alpha 0 becomes 0x00808080 afterwards.
    TheCgFileLoaders().resolve_image_name = [](FileSource& source, std::string& found, std::string_view name) {
        found = std::string(name);
        source.state = 1;
        source.kind = KindByExtension(name);
        return int32_t{0};
    };
    tools::BmpImage bmp;
    bmp.bit_count = 32;
    bmp.width = 2;
    bmp.height = 1;
    bmp.values = {0x00FF0000, 0x01FF0000};
    Write("a.bmp", tools::BuildBmp(bmp));
    std::vector<uint8_t> zcg_pixels{1, 2, 3, 0, 4, 5, 6, 255};
    Write("b.zcg", tools::BuildZcg({2, 1, zcg_pixels, tools::ZcgBandKind::kRaw, 1}));
    Write("c.psb", std::vector<uint8_t>(16, 0));

    CgImage image;
    ASSERT_EQ(LoadCgFile(image, "a.bmp"), 0);
    EXPECT_EQ(image.alpha_in_use, 1);
    EXPECT_EQ(PixelAt(image, 0, 0), 0x00808080u);
    EXPECT_EQ(PixelAt(image, 1, 0), 0x01FF0000u);

    ASSERT_EQ(LoadCgFile(image, "b.zcg"), 0);
    EXPECT_EQ(image.alpha_in_use, 1);
    EXPECT_EQ(PixelAt(image, 0, 0), 0x00808080u);
    EXPECT_EQ(PixelAt(image, 1, 0), 0xFF060504u);

    // Without a model library a model file is a 2 x 2 transparent image.
    ASSERT_EQ(LoadCgFile(image, "c.psb"), 0);
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(PixelAt(image, 1, 1), 0x00808080u);
}

}  // namespace
}  // namespace zk
