// A game shipped as a screen saver: the switch table, the preview picture
// read from the appended block and checked, and screen-saver builds made by
// the appended-data writer run with each switch.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/engine_reset.h"
#include "engine/screen_saver.h"
#include "platform/headless_window_system.h"
#include "storage/preview_picture.h"
#include "tests/storage/run_program.h"
#include "tools/lib/appended_writer.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/byte_writer.h"

namespace zk {
namespace {

namespace fs = std::filesystem;

TEST(ScreenSaverSwitches, TheTable) {
    using Args = std::vector<std::string>;
    struct Case {
        Args argv;
        ScreenSaverRun run;
        long parent = 0;
    };
    const Case cases[] = {
        {{"saver", "/p", "1234"}, ScreenSaverRun::kPreview, 1234},
        {{"saver", "/P", "77"}, ScreenSaverRun::kPreview, 77},
        {{"saver", "-p", "12x"}, ScreenSaverRun::kPreview, 12},
        {{"saver", "/pfoo", "5"}, ScreenSaverRun::kPreview, 5},
        {{"saver", "/c"}, ScreenSaverRun::kAbout},
        {{"saver", "/c:5"}, ScreenSaverRun::kAbout},
        {{"saver", "-C"}, ScreenSaverRun::kAbout},
        {{"saver"}, ScreenSaverRun::kAbout},
        {{}, ScreenSaverRun::kAbout},
        {{"saver", "/a", "9"}, ScreenSaverRun::kPassword},
        {{"saver", "/A", "9"}, ScreenSaverRun::kPassword},
        {{"saver", "/s"}, ScreenSaverRun::kStartGame},
        {{"saver", "/c", "5"}, ScreenSaverRun::kStartGame},
        {{"saver", "/p"}, ScreenSaverRun::kStartGame},
        {{"saver", "/a"}, ScreenSaverRun::kStartGame},
        {{"saver", "/p", "1", "2"}, ScreenSaverRun::kStartGame},
        {{"saver", "c"}, ScreenSaverRun::kStartGame},
        {{"saver", "/"}, ScreenSaverRun::kStartGame},
        {{"saver", "+c"}, ScreenSaverRun::kStartGame},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.argv) shown += "[" + a + "]";
        const ScreenSaverDecision decision = DecideScreenSaverRun(c.argv);
        EXPECT_EQ(decision.run, c.run) << shown;
        EXPECT_EQ(decision.parent, c.parent) << shown;
    }
}

std::vector<uint8_t> Bmp(int32_t width, int32_t height, uint16_t bits = 24, uint32_t compression = 0) {
    tools::BmpImage image;
    image.width = width;
    image.height = height;
    image.bit_count = bits == 24 || bits == 32 ? bits : 24;
    image.compression = compression;
    const int64_t rows = height < 0 ? -int64_t{height} : height;
    for (int64_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < width; ++x) image.values.push_back(0xFF000000u | uint32_t(y) << 16 | uint32_t(x));
    std::vector<uint8_t> bytes = tools::BuildBmp(image);
    if (bits != image.bit_count) bytes[tools::kBmpBitCountField] = uint8_t(bits);
    return bytes;
}

TEST(PreviewPicture, OnlyPicturesThePreviewCanShow) {
    // Bottom-up and top-down give the same rows, top first; odd widths have
    // padded rows.
    for (int32_t height : {3, -3}) {
        std::optional<PreviewPicture> picture = ParsePreviewPicture(Bmp(5, height));
        ASSERT_TRUE(picture.has_value()) << height;
        EXPECT_EQ(picture->width, 5);
        EXPECT_EQ(picture->height, 3);
        EXPECT_EQ(picture->pixels[0], 0x000000u);
        EXPECT_EQ(picture->pixels[2 * 5 + 4], 0x020004u);
    }
    std::vector<uint8_t> short_one = Bmp(4, 2);
    short_one.pop_back();
    std::vector<uint8_t> big_header = Bmp(4, 2);
    big_header[14] = 108;
    std::vector<uint8_t> zero_height = Bmp(4, 2);
    std::fill(zero_height.begin() + tools::kBmpHeightField, zero_height.begin() + tools::kBmpHeightField + 4, 0);
    std::vector<uint8_t> huge = Bmp(4, 2);
    huge[tools::kBmpWidthField + 3] = 0x7F;
    std::vector<uint8_t> headers_alone = Bmp(4, 2);
    headers_alone.resize(54);
    const std::pair<const char*, std::vector<uint8_t>> refused[] = {
        {"a short file", short_one},
        {"32 bits", Bmp(4, 2, 32)},
        {"8 bits", Bmp(4, 2, 8)},
        {"compressed", Bmp(4, 2, 24, 1)},
        {"another header", big_header},
        {"no rows", zero_height},
        {"a width past the bytes", huge},
        {"the headers alone", headers_alone},
        {"nothing", {}},
    };
    for (const auto& [what, bytes] : refused) EXPECT_FALSE(ParsePreviewPicture(bytes).has_value()) << what;
}

TEST(ScreenSaverMainWindow, NoCompositionAndTheDesktopsScreenSaverAllowed) {
    ResetEngine();
    platform::HeadlessWindowSystem windows;
    platform::InstallWindowSystem(&windows);
    const std::string name = "zktest-saver-" + std::to_string(getpid());
    ASSERT_TRUE(windows.RegisterClass(name, [](platform::WindowHandle w, uint32_t m, uint64_t wp, int64_t lp) {
        return platform::GetWindowSystem().DefWindowProc(w, m, wp, lp);
    }));
    platform::WindowCreateParams params;
    params.class_name = name;
    params.width = params.height = 32;
    const platform::WindowHandle main = windows.CreateWindow(params);
    ASSERT_NE(main, platform::kNoWindow);
    windows.ShowWindow(main, 1);
    auto typed = [&](platform::InputEvent::Kind kind) {
        platform::InputEvent event;
        event.kind = kind;
        event.files = {"か"};
        windows.InjectInput(event);
        std::vector<uint32_t> seen;
        platform::Message message;
        while (windows.PeekMessage(message, true))
            if (message.message == platform::WM_TEXT_INPUT || message.message == platform::WM_TEXT_COMPOSITION)
                seen.push_back(message.message);
        return seen;
    };
    using Kind = platform::InputEvent::Kind;
    EXPECT_EQ(typed(Kind::kCompose), std::vector<uint32_t>{platform::WM_TEXT_COMPOSITION}) << "a game composes";
    EXPECT_FALSE(windows.HostScreenSaverAllowed());
    ApplyScreenSaverToMainWindow(main);
    EXPECT_TRUE(typed(Kind::kCompose).empty()) << "no composition in a screen saver";
    EXPECT_EQ(typed(Kind::kText), std::vector<uint32_t>{platform::WM_TEXT_INPUT}) << "typed characters still arrive";
    EXPECT_TRUE(windows.HostScreenSaverAllowed());
    windows.DestroyWindow(main);
    platform::InstallWindowSystem(nullptr);
}

class ScreenSaverBuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = fs::temp_directory_path() / ("zorvek-saver-" + std::to_string(getpid()) + "-" + info->name());
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }

    std::vector<uint8_t> Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path path = root / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    fs::path root;
};

TEST_F(ScreenSaverBuildTest, ReadPreviewPictureChecksTheSizeAgainstTheFile) {
    auto block = [](uint32_t preview_size, const std::vector<uint8_t>& preview) {
        tools::ByteWriter out;
        out.Bytes("filler..");
        out.Bytes("ZKER");
        out.U32(16 + preview_size);
        out.U32(preview_size);
        out.U32(0);
        out.Bytes(std::span<const uint8_t>(preview));
        return out.Take();
    };
    const std::vector<uint8_t> picture = Bmp(4, 2);
    std::optional<std::vector<uint8_t>> read = ReadPreviewPicture(Write("good", block(uint32_t(picture.size()), picture)).string(), 8);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, picture);
    // S past the end of the file: nothing is allocated or read.
    EXPECT_FALSE(ReadPreviewPicture(Write("past", block(0xFFFFFFF0u, picture)).string(), 8).has_value());
    EXPECT_FALSE(ReadPreviewPicture(Write("one more", block(uint32_t(picture.size()) + 1, picture)).string(), 8));
    EXPECT_FALSE(ReadPreviewPicture((root / "missing").string(), 8).has_value());
    EXPECT_FALSE(ReadPreviewPicture(Write("cut", std::vector<uint8_t>(20, 0)).string(), 8).has_value());
}

TEST_F(ScreenSaverBuildTest, EachSwitchOfABuiltScreenSaver) {
    // The engine with the demo's pack and a preview, as zk_append --preview
    // builds it.
    std::string why;
    std::optional<std::vector<uint8_t>> saver = tools::BuildAppendedExecutable(
        Read(fs::path(ZORVEK_BINARY_DIR) / "zorvek"), Read(fs::path(ZORVEK_BINARY_DIR) / "demo-game" / "data.zpf"),
        Bmp(8, 4), &why);
    ASSERT_TRUE(saver.has_value()) << why;
    const fs::path program = Write("saver", *saver);
    fs::permissions(program, fs::perms::owner_all);

    struct Case {
        std::vector<std::string> args;
        bool box;
        bool game_runs;
    };
    const Case cases[] = {
        {{"/c"}, true, false},  {{}, true, false},          {{"-C:5"}, true, false},
        {{"/a", "3"}, false, false}, {{"/p", "4711"}, false, false}, {{"-P", "0"}, false, false},
        {{"/s"}, false, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::vector<std::string> command = {program.string(), "--headless", "--frames", "5"};
        command.push_back("--");  // the rest are the game's arguments, '-' switches too
        command.insert(command.end(), c.args.begin(), c.args.end());
        const storage_test::RunResult run = storage_test::RunProgram(command, root / ("run" + std::to_string(n++)));
        std::string shown;
        for (const std::string& a : c.args) shown += " " + a;
        EXPECT_EQ(run.exit_code, 0) << shown << "\n" << run.output;
        EXPECT_EQ(run.output.find("スクリーンセーバー\n\nVersion 1.00") != std::string::npos, c.box) << shown << "\n" << run.output;
        EXPECT_EQ(run.output.find("frame limit reached") != std::string::npos, c.game_runs) << shown << "\n" << run.output;
    }
}

}  // namespace
}  // namespace zk
