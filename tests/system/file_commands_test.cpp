// Commands 20 and 21 and the image writers: exports read back with the
// reference libraries, folders, copies and deletes on a mixed-case tree,
// paths that try to leave the reachable folders, preload groups, programs
// started with and without waiting, and the questions of command 21.
#include <png.h>
#include <sys/stat.h>
#include <webp/decode.h>

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <thread>

#include <jpeglib.h>

#include "base/sjis.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "images/image_writers.h"
#include "layers/cg_image.h"
#include "system/file_commands.h"
#include "system/preload_groups.h"
#include "system/script_paths.h"
#include "core/startup_paths.h"
#include "platform/game_path.h"
#include "tests/platform/scoped_env.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A width x height image whose pixel (x, y) is B = x * 16, G = y * 16,
// R = 200, A = 128 + x.
void FillTestPixels(CgImage& image) {
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            uint8_t* p = image.current_pixels + (size_t(y) * size_t(image.width) + size_t(x)) * 4;
            p[0] = static_cast<uint8_t>(x * 16);
            p[1] = static_cast<uint8_t>(y * 16);
            p[2] = 200;
            p[3] = static_cast<uint8_t>(128 + x);
        }
    }
}

TEST(BmpWriterTest, HeaderRowsAndPadding) {
    struct Case {
        int32_t width, height;
        size_t row;
    };
    for (const Case c : {Case{1, 1, 4}, Case{4, 2, 12}, Case{5, 3, 16}}) {
        std::vector<uint8_t> pixels(size_t(c.width) * size_t(c.height) * 4);
        for (int32_t y = 0; y < c.height; ++y)
            for (int32_t x = 0; x < c.width; ++x) {
                uint8_t* p = &pixels[(size_t(y) * size_t(c.width) + size_t(x)) * 4];
                p[0] = uint8_t(x + 1), p[1] = uint8_t(y + 1), p[2] = 0x77, p[3] = 0x55;
            }
        const std::string bmp = EncodeBmp(pixels, c.width, c.height);
        auto u32 = [&](size_t at) {
            return uint32_t(uint8_t(bmp[at])) | uint32_t(uint8_t(bmp[at + 1])) << 8 | uint32_t(uint8_t(bmp[at + 2])) << 16 |
                   uint32_t(uint8_t(bmp[at + 3])) << 24;
        };
        ASSERT_EQ(bmp.size(), 54 + c.row * size_t(c.height));
        EXPECT_EQ(bmp.substr(0, 2), "BM");
        EXPECT_EQ(u32(2), bmp.size());
        EXPECT_EQ(u32(10), 54u);
        EXPECT_EQ(u32(14), 40u);
        EXPECT_EQ(u32(18), uint32_t(c.width));
        EXPECT_EQ(u32(22), uint32_t(c.height));
        EXPECT_EQ(bmp[26], 1);
        EXPECT_EQ(bmp[28], 24);
        // The first stored row is the bottom row; padding is zero.
        EXPECT_EQ(uint8_t(bmp[54 + 1]), uint8_t(c.height)) << "G of the bottom row";
        for (size_t pad = size_t(c.width) * 3; pad < c.row; ++pad) EXPECT_EQ(bmp[54 + pad], 0);
    }
}

class FileCommandsTest : public script_test::RunOnceTest {
protected:
    void SetUp() override {
        RunOnceTest::SetUp();
        RegisterFileCommands();
        before_pass = [this] {
            MakeLayer();
            Settings().image_extension_order = {1, 2, 0, 0, 0, 0, 0, 0};
            Settings().sound_extension_order = {1, 2, 0, 0};
        };
    }
    // Layer "pic" (6 x 4) under W0, and "empty" without pixels.
    void MakeLayer() {
        InitPathCharTable();
        TheRootTrees().layers = CreateRootNode();
        TheRootTrees().layer_folder = "W0";
        NamedTreeNode* w0 = CreateTreeNode(TheRootTrees().layers, "W0", true, 1);
        CgImage* image = CreateCgImage(CreateTreeNode(w0, "pic", false, 1));
        image->width = 6;
        image->height = 4;
        ASSERT_TRUE(AllocCgPixels(*image, 6, 4));
        FillTestPixels(*image);
        image->alpha_in_use = with_alpha ? 1 : 0;
        CgImage* empty = CreateCgImage(CreateTreeNode(w0, "empty", false, 2));
        empty->current_pixels = nullptr;
    }
    int RunLine(const std::string& line) { return Run("int n = -7\nreal r = -7.0\nstr s = \"unset\"\n", line); }
    bool with_alpha = false;
};

// The zlib header of the first IDAT chunk: its FLEVEL bits.
int PngFlevel(const std::vector<uint8_t>& png) {
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | uint32_t(png[at + 2]) << 8 | png[at + 3];
        if (std::string(png.begin() + at + 4, png.begin() + at + 8) == "IDAT") return png[at + 9] >> 6;
        at += 12 + length;
    }
    return -1;
}

struct DecodedPng {
    uint32_t width = 0, height = 0;
    int colour_type = -1;
    std::vector<uint8_t> rgba;
};
DecodedPng DecodePng(const fs::path& path) {
    DecodedPng out;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return out;
    out.colour_type = (image.format & PNG_FORMAT_FLAG_ALPHA) ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    image.format = PNG_FORMAT_RGBA;
    out.width = image.width;
    out.height = image.height;
    out.rgba.resize(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr);
    return out;
}

struct DecodedJpeg {
    int width = 0, height = 0, components = 0;
    std::vector<uint8_t> rgb;
};
DecodedJpeg DecodeJpeg(const fs::path& path) {
    DecodedJpeg out;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return out;
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    out.width = int(info.output_width), out.height = int(info.output_height), out.components = info.output_components;
    out.rgb.resize(size_t(out.width) * size_t(out.height) * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.rgb.data() + size_t(info.output_scanline) * size_t(out.width) * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return out;
}

TEST_F(FileCommandsTest, ExportsReadBackWithTheReferenceLibraries) {
    fs::create_directories(game_ / "save");
    // No format keyword: PNG at level 5 (FLEVEL 1), RGB without alpha in use.
    ASSERT_EQ(RunLine("fileop path=\"Save/Shot\", layer=\"pic\""), 0);
    const fs::path png = game_ / "save" / "shot.png";
    ASSERT_TRUE(fs::exists(png));
    EXPECT_EQ(PngFlevel(ReadAll(png)), 1);
    DecodedPng decoded = DecodePng(png);
    ASSERT_EQ(decoded.width, 6u);
    ASSERT_EQ(decoded.height, 4u);
    EXPECT_EQ(decoded.colour_type, PNG_COLOR_TYPE_RGB);
    // Pixel (3, 2): R 200, G 32, B 48.
    const uint8_t* p = &decoded.rgba[(2 * 6 + 3) * 4];
    EXPECT_EQ(p[0], 200);
    EXPECT_EQ(p[1], 32);
    EXPECT_EQ(p[2], 48);
    EXPECT_EQ(p[3], 255);

    // JPEG at quality 0 -> 1, then level 250 -> 9 (FLEVEL 3) with alpha kept.
    ASSERT_EQ(RunLine("fileop path=\"save/shot\", layer=\"pic\", jpeg=1, quality=0"), 0);
    DecodedJpeg jpeg = DecodeJpeg(game_ / "save" / "shot.jpg");
    EXPECT_EQ(jpeg.width, 6);
    EXPECT_EQ(jpeg.components, 3);
    with_alpha = true;
    ASSERT_EQ(RunLine("fileop path=\"save/shot.PNG\", layer=\"pic\", quality=250"), 0);
    EXPECT_FALSE(fs::exists(game_ / "save" / "shot.png.png")) << "no second suffix";
    EXPECT_EQ(PngFlevel(ReadAll(png)), 3);
    decoded = DecodePng(png);
    EXPECT_EQ(decoded.colour_type, PNG_COLOR_TYPE_RGB_ALPHA);
    EXPECT_EQ(decoded.rgba[(2 * 6 + 3) * 4 + 3], 128 + 3);

    // format=1 then webp=1: WebP; 250 -> 101, lossless: the pixels exact.
    ASSERT_EQ(RunLine("fileop path=\"save/w\", layer=\"pic\", format=1, webp=1, quality=250"), 0);
    const std::vector<uint8_t> webp = ReadAll(game_ / "save" / "w.webp");
    int width = 0, height = 0;
    uint8_t* bgra = WebPDecodeBGRA(webp.data(), webp.size(), &width, &height);
    ASSERT_NE(bgra, nullptr);
    EXPECT_EQ(width, 6);
    EXPECT_EQ(bgra[(2 * 6 + 3) * 4 + 0], 48);
    EXPECT_EQ(bgra[(2 * 6 + 3) * 4 + 1], 32);
    WebPFree(bgra);
    // format=1 alone: BMP; format=2 alone: PNG.
    ASSERT_EQ(RunLine("fileop path=\"save/b\", layer=\"pic\", format=1"), 0);
    EXPECT_EQ(ReadAll(game_ / "save" / "b.bmp").size(), 54u + 20u * 4u);
    ASSERT_EQ(RunLine("fileop path=\"save/c\", layer=\"pic\", format=2"), 0);
    EXPECT_TRUE(fs::exists(game_ / "save" / "c.png"));
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(FileCommandsTest, FailedExportsSkipTheLaterSteps) {
    // No such layer: 101250, fatal, and the folder is not made.
    EXPECT_EQ(RunLine("fileop path=\"x\", layer=\"nothing\", folder=\"made\", mkdir=1"), 1);
    ASSERT_FALSE(ui_.ErrorNumbers().empty());
    EXPECT_EQ(ui_.ErrorNumbers().back(), kErrLayerNotFound);
    EXPECT_FALSE(fs::exists(game_ / "made"));
    // A layer without pixels writes nothing and fails (-1 without a report).
    EXPECT_EQ(RunLine("fileop path=\"e\", layer=\"empty\", folder=\"made\", mkdir=1"), 0);
    EXPECT_FALSE(fs::exists(game_ / "e.png"));
    EXPECT_FALSE(fs::exists(game_ / "made"));
    // A path that leaves the game folder is a failed write.
    const fs::path outside = game_.parent_path() / (game_.filename().string() + "-outside.png");
    for (const std::string& path : {"../" + game_.filename().string() + "-outside", outside.string().substr(0, outside.string().size() - 4)}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(RunLine("fileop path=\"" + path + "\", layer=\"pic\", folder=\"made\", mkdir=1"), 0);
        EXPECT_FALSE(fs::exists(game_ / "made"));
        EXPECT_FALSE(fs::exists(outside));
    }
    // A disk that fills up: every writer sees its failed write, removes the
    // partial file and fails, so the later steps do not run.
    for (const char* format : {"format=1", "png=1", "jpeg=1", "webp=1"}) {
        SCOPED_TRACE(format);
        const std::string suffix = format[0] == 'f' ? ".bmp" : format[0] == 'p' ? ".png" : format[0] == 'j' ? ".jpg" : ".webp";
        fs::create_symlink("/dev/full", game_ / ("full" + suffix));
        EXPECT_EQ(RunLine("fileop path=\"full\", layer=\"pic\", " + std::string(format) + ", folder=\"made\", mkdir=1"), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(game_ / ("full" + suffix))));
        EXPECT_FALSE(fs::exists(game_ / "made"));
    }
    // A directory where the file should go: the file cannot be created.
    fs::create_directories(game_ / "dir.png");
    EXPECT_EQ(RunLine("fileop path=\"dir\", layer=\"pic\", folder=\"made\", mkdir=1"), 0);
    EXPECT_FALSE(fs::exists(game_ / "made"));
    EXPECT_TRUE(fs::is_directory(game_ / "dir.png"));
}

TEST_F(FileCommandsTest, FoldersCopiesAndDeletes) {
    fs::create_directories(game_ / "Data" / "Old");
    {
        std::ofstream(game_ / "Data" / "Note.TXT") << "hello";
    }
    // a/b/c: each level made; an existing folder is reused whatever its case.
    ASSERT_EQ(RunLine("fileop folder=\"a/b/c\", mkdir=1\nfileop folder=\"DATA/new\", mkdir=1"), 0);
    EXPECT_TRUE(fs::is_directory(game_ / "a" / "b" / "c"));
    EXPECT_TRUE(fs::is_directory(game_ / "Data" / "new"));
    EXPECT_FALSE(fs::exists(game_ / "data"));
    // Copy over an existing file, then delete it and remove an empty folder.
    {
        std::ofstream(game_ / "a" / "copy.txt") << "old contents";
    }
    ASSERT_EQ(RunLine("fileop path=\"data/note.txt\", dest=\"A/copy.txt\", copy=1"), 0);
    EXPECT_EQ(ReadAll(game_ / "a" / "copy.txt").size(), 5u);
    ASSERT_EQ(RunLine("fileop path=\"a/copy.txt\", folder=\"data/old\", delete=1"), 0);
    EXPECT_FALSE(fs::exists(game_ / "a" / "copy.txt"));
    EXPECT_FALSE(fs::exists(game_ / "Data" / "Old"));
    // A folder with contents stays.
    ASSERT_EQ(RunLine("fileop folder=\"a\", delete=1"), 0);
    EXPECT_TRUE(fs::exists(game_ / "a"));
    // Out of the game folder: nothing made, copied or deleted.
    const std::string escape = "../" + game_.filename().string() + "-x";
    ASSERT_EQ(RunLine("fileop folder=\"" + escape + "/\", mkdir=1\nfileop path=\"data/note.txt\", dest=\"" + escape +
                      "\", copy=1\nfileop path=\"/etc/hostname\", delete=1\nfileop folder=\"c:/tmp/zk\", mkdir=1"),
              0);
    EXPECT_FALSE(fs::exists(game_.parent_path() / (game_.filename().string() + "-x")));
    EXPECT_EQ(Reports(), 0u);
}

// Windows-style absolute paths are taken under the folders scripts are
// shown (here the game folder, as system variable 10 shows it), in any
// case and with a drive letter; anything else absolute finds nothing.
TEST_F(FileCommandsTest, AbsolutePathsUnderShownFolders) {
    const std::string game = platform::HostPathToEnginePath(game_.string());
    Paths().game_folder = game;
    std::string upper = game;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_EQ(RunLine("fileop folder=\"" + SjisReplaceByte(game, '\\', '/') + "Made/\", mkdir=1\n"
                      "fileop path=\"C:" + SjisReplaceByte(upper, '\\', '/') + "made/pic\", layer=\"pic\", format=1"),
              0);
    EXPECT_TRUE(fs::exists(game_ / "made" / "pic.bmp"));
    EXPECT_FALSE(fs::exists(game_ / "Made"));
    const struct {
        std::string path;
        bool reachable;
    } cases[] = {
        {game + "x", true},
        {"c:" + game + "sub\\..\\x", true},
        {game + "..\\x", false},
        {"\\etc\\passwd", false},
        {"c:x", false},
        {"d:\\x", false},
        {"", true},
    };
    for (const auto& c : cases) EXPECT_EQ(ScriptPathToHost(c.path).has_value(), c.reachable) << c.path;
    Paths().game_folder.clear();
    EXPECT_FALSE(ScriptPathToHost(game + "x").has_value());
    for (const auto& [text, url] : std::vector<std::pair<std::string, bool>>{
             {"http:\\\\x.org", true}, {"mailto:a@b", true}, {"c:\\x", false}, {"x.png", false}, {"a+b:", true}}) {
        EXPECT_EQ(IsUrlText(text), url) << text;
    }
}

TEST_F(FileCommandsTest, PreloadGroupsKeepTheNewest512) {
    Write("a.png", {1, 2, 3});
    Write("s.ogg", {1, 2, 3, 4, 5});
    ASSERT_EQ(RunLine("fileop path=\"s.ogg\", sound=4\nfileop path=\"s.ogg\", sound=0\nfileop path=\"s.ogg\", sound=5\n"
                      "fileop path=\"a.png\", image=1"),
              0);
    ASSERT_NE(FindPreloadGroup(3), nullptr);
    EXPECT_EQ(FindPreloadGroup(3)->entries.size(), 1u);
    EXPECT_EQ(FindPreloadGroup(3)->total, 5u);
    ASSERT_EQ(FindPreloadGroup(0)->entries.size(), 1u);
    EXPECT_EQ(FindPreloadGroup(0)->entries[0].name, "a.png");
    for (int i = 0; i < 512; ++i) PreloadFile(0, "s.ogg", 1);
    const PreloadGroup& group = *FindPreloadGroup(0);
    EXPECT_EQ(group.entries.size(), kPreloadGroupCapacity);
    EXPECT_EQ(group.entries[0].name, "s.ogg") << "the first entry was pushed out";
    EXPECT_EQ(group.total, 512u * 5u);
    EXPECT_EQ(FindPreloadGroup(4), nullptr);
}

// Programs started by command 20: a small shell script that records its
// arguments, waited for with run=1; with open=1 the command returns while
// the program still waits for a file that only the test creates.
TEST_F(FileCommandsTest, ProgramsStartWithAndWithoutWaiting) {
    const std::string script =
        "#!/bin/sh\n"
        "for a in \"$@\"; do printf '%s\\n' \"$a\" >> args.tmp; done\n"
        "if [ \"$1\" = hold ]; then while [ ! -f go ]; do sleep 0.01; done; fi\n"
        "mv args.tmp args.txt\n";
    Write("tool.sh", std::vector<uint8_t>(script.begin(), script.end()));
    fs::permissions(game_ / "tool.sh", fs::perms::owner_all);
    ASSERT_EQ(RunLine("fileop path=\"Tool.sh\", run=1, params=\"\\\"a b\\\" c\\\\\\\"d\""), 0);
    std::ifstream args(game_ / "args.txt");
    std::string all((std::istreambuf_iterator<char>(args)), {});
    EXPECT_EQ(all, "a b\nc\"d\n");
    fs::remove(game_ / "args.txt");

    // open=1 wins over run=1 and does not wait.
    ASSERT_EQ(RunLine("fileop path=\"tool.sh\", open=1, run=1, params=\"hold\""), 0);
    EXPECT_FALSE(fs::exists(game_ / "args.txt")) << "the program still waits for go";
    {
        std::ofstream(game_ / "go") << "";
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(game_ / "args.txt") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(fs::exists(game_ / "args.txt"));
    // A Windows program cannot run here: nothing happens.
    Write("setup.exe", std::vector<uint8_t>(script.begin(), script.end()));
    fs::permissions(game_ / "setup.exe", fs::perms::owner_all);
    fs::remove(game_ / "args.txt");
    ASSERT_EQ(RunLine("fileop path=\"setup.exe\", run=1"), 0);
    EXPECT_FALSE(fs::exists(game_ / "args.txt"));
}

TEST_F(FileCommandsTest, QueriesOfCommand21) {
    fs::create_directories(game_ / "Saves");
    Write("bg.png", {1, 2, 3, 4});
    Write("doc.zkx", {1, 2, 3, 4, 5, 6});
    const std::string decl = "int n = -7\nreal r = -7.0\nstr s = \"unset\"\nint arr[2]\n";
    struct Case {
        std::string line;
        int64_t expected;
    };
    const Case cases[] = {
        {"filequery folder=\"saves\", exists=1, result=n", 1},
        {"filequery folder=\"bg.png\", exists=1, result=n", 0},
        {"filequery file=\"BG.png\", exists=1, result=n", 1},
        {"filequery file=\"bg\", exists=1, result=n", 0},
        {"filequery image=\"bg\", exists=1, result=n", 1},
        {"filequery file=\"bg\", image=\"bg\", exists=1, result=n", 1},  // the highest keyword wins
        {"filequery sound=\"bg\", exists=1, result=n", 0},
        {"filequery file=\"doc.zkx\", size=1, result=n", 6},
        {"filequery image=\"doc.zkx\", size=1, result=n", 0},
        {"filequery file=\"saves\", size=1, result=n", 0},
        {"filequery folder=\"saves\", program=1, result=n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(Run(decl, c.line), 0);
        EXPECT_EQ(Int("n"), c.expected);
    }
    ASSERT_EQ(Run(decl, "filequery folder=\"saves\", exists=1, result=r"), 0);
    EXPECT_EQ(Real("r"), 1.0);
    // Out of range: nothing stored; a text element for "exists": 101140.
    ASSERT_EQ(Run(decl, "filequery folder=\"saves\", exists=1, result=arr[1]"), 0);
    EXPECT_EQ(Int("arr", 1), 1);
    EXPECT_EQ(Run(decl, "filequery folder=\"saves\", exists=1, result=s"), 1);
    EXPECT_EQ(LastCode(), kErrWrongVariableType);

    // The associated program from an XDG MIME fixture.
    const fs::path xdg = game_ / "xdg";
    fs::create_directories(xdg / "data" / "mime");
    fs::create_directories(xdg / "data" / "applications");
    fs::create_directories(xdg / "config");
    std::ofstream(xdg / "data" / "mime" / "globs2") << "# comment\n50:application/x-zk-doc:*.zkx\n";
    std::ofstream(xdg / "config" / "mimeapps.list") << "[Default Applications]\napplication/x-zk-doc=zkview.desktop;\n";
    std::ofstream(xdg / "data" / "applications" / "zkview.desktop")
        << "[Desktop Entry]\nName=Viewer\nExec=zk-no-such-viewer --open %f\n";
    test::ScopedEnv data_home("XDG_DATA_HOME", (xdg / "data").string());
    test::ScopedEnv data_dirs("XDG_DATA_DIRS", (xdg / "none").string());
    test::ScopedEnv config_home("XDG_CONFIG_HOME", (xdg / "config").string());
    test::ScopedEnv config_dirs("XDG_CONFIG_DIRS", (xdg / "none").string());
    ASSERT_EQ(Run(decl, "filequery file=\"DOC.zkx\", program=1, result=s"), 0);
    EXPECT_EQ(Text("s"), "zk-no-such-viewer");
    ASSERT_EQ(Run(decl, "filequery file=\"bg.png\", program=1, result=s"), 0);
    EXPECT_EQ(Text("s"), "") << "no program for PNG in the fixture";
    ASSERT_EQ(Run(decl, "filequery file=\"doc.zkx\", program=1, result=n"), 0);
    EXPECT_EQ(Int("n"), 0);
}

}  // namespace
}  // namespace zk
