// Asset names: kinds by extension, and the resolution of a
// script's name through the file sources in the three modes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/settings.h"
#include "platform/game_path.h"
#include "platform/ui.h"
#include "storage/asset_name.h"
#include "storage/file_source.h"
#include "storage/pack_index.h"
#include "base/text_encoding.h"
#include "tests/platform/fifo_watchdog.h"
#include "tests/storage/temp_game_folder.h"

namespace zk {
namespace {

namespace fs = std::filesystem;

// CP932 bytes of a few double-byte characters. 表 and ソ end in 0x5C ('\').
const std::string kHyou = "\x95\x5C";       // 表
const std::string kSo = "\x83\x5C";         // ソ
const std::string kFullWidthA = "\x82\x60";  // Ａ
const std::string kKatakanaA = "\x83\x41";   // ア (trail byte 'A')

TEST(KindByExtensionTest, KindsByEnding) {
    struct Case {
        const char* name;
        FileKind kind;
    };
    const std::vector<Case> cases = {
        {"a.bmp", kFileKindBmp},   {"a.PNG", kFileKindPng},  {"a.jpg", kFileKindJpg},
        {"a.Gif", kFileKindGif},   {"se\\a.wav", kFileKindWav}, {"a.ogg", kFileKindOgg},
        {"a.psd", kFileKindPsd},   {"a.ZCG", kFileKindZcg},  {"a.psb", kFileKindPsb},
        {"a.WebP", kFileKindWebp}, {"a.jpeg", kFileKindOther}, {"a.tga", kFileKindOther},
        {"png", kFileKindOther},   {".png", kFileKindPng},   {"", kFileKindOther},
        {"a.png.txt", kFileKindOther},
    };
    for (const Case& c : cases) EXPECT_EQ(KindByExtension(c.name), c.kind) << c.name;
}

// A game folder in a temp directory, made the current folder, with every
// probe a resolution makes recorded.
class AssetNameTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitPathCharTable();
        ResetSettings();
        ResetErrorReporter();
        ResetPackIndex();
        platform::InstallUi(&ui_);
        hooks_saved_ = TheFileSourceHooks();
        TheFileSourceHooks() = FileSourceHooks{};
        TheFileSourceHooks().kind_by_extension = [](std::string_view n) -> uint8_t { return KindByExtension(n); };
        // The compiler list stands last-but-one in the probe order: recording
        // there sees every candidate that no loose file answered.
        TheFileSourceHooks().probe_compiler_list = &RecordCompilerProbe;
        probed().clear();
        compiler_names().clear();
    }
    void TearDown() override {
        TheFileSourceHooks() = hooks_saved_;
        platform::InstallUi(nullptr);
        ResetErrorReporter();
        ResetSettings();
    }

    static std::vector<std::string>& probed() {
        static std::vector<std::string> names;
        return names;
    }
    static std::vector<std::string>& compiler_names() {
        static std::vector<std::string> names;
        return names;
    }
    static int32_t RecordCompilerProbe(FileSource& source, std::string_view name) {
        probed().emplace_back(name);
        for (size_t i = 0; i < compiler_names().size(); ++i) {
            if (compiler_names()[i] == name) {
                source.state = 3;
                source.compiler_list_index = static_cast<int32_t>(i);
                return 3;
            }
        }
        return 0;
    }

    // A loose file; `path` uses '/' and CP932 bytes.
    void Touch(const std::string& path) { game_.Write(path, "x"); }

    void SetImageOrder(std::array<uint8_t, 8> order) { Settings().image_extension_order = order; }
    void SetSoundOrder(std::array<uint8_t, 4> order) { Settings().sound_extension_order = order; }

    struct Result {
        int32_t code;
        std::string out;
        FileSource source;
    };
    Result Resolve(std::string name, uint8_t mode) {
        Result r;
        r.code = ResolveAssetName(r.source, r.out, name, mode);
        return r;
    }

    storage_test::TempGameFolder game_{"assets"};
    platform::RecordingUi ui_;
    FileSourceHooks hooks_saved_;
};

TEST_F(AssetNameTest, ModesAndExtensionOrder) {
    SetImageOrder({1, 3, 0, 0, 0, 0, 0, 0});  // .png, then .jpg
    SetSoundOrder({2, 1, 0, 0});              // .wav, then .ogg
    Touch("bg/title.png");
    Touch("bg/title.jpg");
    Touch("ev/photo.jpg");
    Touch("voice/a01.wav");
    Touch("voice/a01.ogg");
    Touch("voice/b02.ogg");
    Touch("data/Text.txt");

    struct Case {
        const char* name;
        uint8_t mode;
        int32_t code;
        const char* out;
        int8_t state;
        uint8_t kind;
    };
    const std::vector<Case> cases = {
        {"BG\\Title", kAssetModeImage, 0, "bg\\title.png", 1, kFileKindPng},
        {"ev/photo", kAssetModeImage, 0, "ev\\photo.jpg", 1, kFileKindJpg},
        // A known extension is looked up alone, whatever else exists.
        {"bg/title.JPG", kAssetModeImage, 0, "bg\\title.jpg", 1, kFileKindJpg},
        {"ev/photo.PNG", kAssetModeImage, 1, "ev\\photo.png", 0, 0},
        {"bg/title.bmp", kAssetModeImage, 1, "bg\\title.bmp", 0, 0},
        // Not found: the output holds the last candidate tried.
        {"bg/none", kAssetModeImage, 1, "bg\\none.jpg", 0, 0},
        {"voice\\a01", kAssetModeSound, 0, "voice\\a01.wav", 1, kFileKindWav},
        {"voice\\b02", kAssetModeSound, 0, "voice\\b02.ogg", 1, kFileKindOgg},
        {"voice\\a01.ogg", kAssetModeSound, 0, "voice\\a01.ogg", 1, kFileKindOgg},
        // An image ending means nothing to sound mode, and the reverse.
        {"bg/title.png", kAssetModeSound, 1, "bg\\title.png.ogg", 0, 0},
        {"voice/a01.wav", kAssetModeImage, 1, "voice\\a01.wav.jpg", 0, 0},
        // Exact mode: the normalised name, never extended.
        {"DATA/Text.TXT", kAssetModeExact, 0, "data\\text.txt", 1, kFileKindOther},
        {"bg/title", kAssetModeExact, 1, "bg\\title", 0, 0},
        // Normalisation: "..", an absolute ':' name.
        {"ev/../bg/Title", kAssetModeImage, 0, "bg\\title.png", 1, kFileKindPng},
        {":bg/title.png", kAssetModeExact, 0, "bg\\title.png", 1, kFileKindPng},
    };
    for (const Case& c : cases) {
        Result r = Resolve(c.name, c.mode);
        EXPECT_EQ(r.code, c.code) << c.name;
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.source.state, c.state) << c.name;
        EXPECT_EQ(r.source.kind, c.kind) << c.name;
    }
    EXPECT_TRUE(ui_.dialogs.empty());
}

TEST_F(AssetNameTest, OrderListSlotsAreWalkedInOrder) {
    // Slots: png, (9: empty), jpg, png again, (0: empty), webp, bmp; the
    // eighth byte is not a slot. Sound: the third and fourth bytes are not.
    SetImageOrder({1, 9, 3, 1, 0, 6, 2, 5});
    SetSoundOrder({1, 0, 2, 2});
    Result image = Resolve("cg/x", kAssetModeImage);
    EXPECT_EQ(image.code, 1);
    EXPECT_EQ(probed(), (std::vector<std::string>{"cg\\x.png", "cg\\x.jpg", "cg\\x.png", "cg\\x.webp", "cg\\x.bmp"}));

    probed().clear();
    Result sound = Resolve("se/x", kAssetModeSound);
    EXPECT_EQ(sound.code, 1);
    EXPECT_EQ(probed(), std::vector<std::string>{"se\\x.ogg"});

    // An empty order list tries nothing.
    probed().clear();
    SetImageOrder({});
    Result none = Resolve("cg/x", kAssetModeImage);
    EXPECT_EQ(none.code, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_TRUE(probed().empty());
}

TEST_F(AssetNameTest, LooseFileWinsOverCompilerListAndFolderIsNoFile) {
    SetImageOrder({1, 2, 0, 0, 0, 0, 0, 0});
    compiler_names() = {"a\\b.png", "c\\d.png", "e\\f.bmp"};
    Touch("a/b.png");
    fs::create_directories(game_.Root() / "c" / "d.png");  // a folder with the file's name
    Result loose = Resolve("A/B", kAssetModeImage);
    EXPECT_EQ(loose.code, 0);
    EXPECT_EQ(loose.source.state, 1);
    EXPECT_EQ(loose.source.kind, kFileKindPng);

    Result listed = Resolve("C/D", kAssetModeImage);
    EXPECT_EQ(listed.code, 0);
    EXPECT_EQ(listed.out, "c\\d.png");
    EXPECT_EQ(listed.source.state, 3);
    EXPECT_EQ(listed.source.kind, 0);  // a compiler-list file has no kind
    EXPECT_EQ(listed.source.compiler_list_index, 1);

    // The second extension, from the list, after the first missed everywhere.
    Result second = Resolve("e/f", kAssetModeImage);
    EXPECT_EQ(second.code, 0);
    EXPECT_EQ(second.out, "e\\f.bmp");
    EXPECT_EQ(second.source.state, 3);
}

TEST_F(AssetNameTest, ShiftJisNamesKeepTrailBytes) {
    SetImageOrder({1, 0, 0, 0, 0, 0, 0, 0});
    // 表\ソ\Title: both characters end in 0x5C; only the real separators
    // become '/' in the caller's name and '\' in the result.
    Touch(kHyou + "/" + kSo + "/title.png");
    std::string name = kHyou + "\\" + kSo + "\\Title";
    std::string out;
    FileSource source;
    EXPECT_EQ(ResolveAssetName(source, out, name, kAssetModeImage), 0);
    EXPECT_EQ(name, kHyou + "/" + kSo + "/Title");
    EXPECT_EQ(out, kHyou + "\\" + kSo + "\\title.png");
    EXPECT_EQ(source.state, 1);

    // A trail byte that is a capital letter is not lower-cased.
    Touch(kKatakanaA + "/bg.png");
    Result katakana = Resolve(kKatakanaA + "\\BG", kAssetModeImage);
    EXPECT_EQ(katakana.code, 0);
    EXPECT_EQ(katakana.out, kKatakanaA + "\\bg.png");
}

TEST_F(AssetNameTest, SpacesAreAllowed) {
    SetImageOrder({1, 0, 0, 0, 0, 0, 0, 0});
    Touch("my bg/a title.png");
    Result r = Resolve("My BG/A Title", kAssetModeImage);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "my bg\\a title.png");
    EXPECT_TRUE(ui_.dialogs.empty());
}

TEST_F(AssetNameTest, OverLongNamesAreNotFoundWithoutAReport) {
    SetImageOrder({6, 0, 0, 0, 0, 0, 0, 0});  // .webp, the longest extension
    // 255 bytes normalise; with ".webp" the candidate is 260 bytes.
    std::string longest(255, 'a');
    Result fits = Resolve(longest, kAssetModeImage);
    EXPECT_EQ(fits.code, 1);
    EXPECT_EQ(fits.out, longest + ".webp");

    for (size_t length : {256u, 263u, 264u, 5000u}) {
        for (uint8_t mode : {kAssetModeImage, kAssetModeSound, kAssetModeExact}) {
            probed().clear();
            std::string name = "bg/" + std::string(length - 3, 'b');
            Result r = Resolve(name, mode);
            EXPECT_EQ(r.code, 1) << length;
            EXPECT_EQ(r.out, "") << length;
            EXPECT_EQ(r.source.state, 0);
            EXPECT_TRUE(probed().empty());
        }
    }
    // A leading '/' or ':' is not part of the measured name.
    Result slash = Resolve("/" + longest, kAssetModeExact);
    EXPECT_EQ(slash.out, longest);
    EXPECT_EQ(ErrorReporter().reports, 0u);
}

TEST_F(AssetNameTest, ProbeFailureIsReportedAndBadModeRefused) {
    SetImageOrder({1, 2, 0, 0, 0, 0, 0, 0});
    TheFileSourceHooks().probe_pack_index = [](FileSource&, std::string_view) -> int32_t { return -2; };
    Result r = Resolve("bg/title", kAssetModeImage);
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(probed(), std::vector<std::string>{"bg\\title.png"});  // the walk stops at the failure
    ASSERT_EQ(ErrorReporter().reports, 1u);
    EXPECT_EQ(ErrorReporter().fatal_reports, 1u);
    EXPECT_NE(ErrorReporter().message.find("bg\\title.png"), std::string::npos);

    ResetErrorReporter();
    for (uint8_t mode : {2, 8, 10, 255}) EXPECT_EQ(Resolve("bg/title.png", mode).code, -1);
    EXPECT_EQ(ErrorReporter().reports, 0u);
}

TEST_F(AssetNameTest, NamesFromScriptsStayInsideTheGameFolder) {
    SetImageOrder({1, 0, 0, 0, 0, 0, 0, 0});
    // A folder beside the game folder stands for everything outside it.
    const fs::path outside = game_.Root().string() + "-outside";
    fs::create_directories(outside);
    std::ofstream(outside / "secret.png") << "outside";
    struct RemoveOutside {
        fs::path path;
        ~RemoveOutside() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } remove_outside{outside};
    const std::string sibling = outside.filename().string();
    std::string outside_game = outside.string() + "/secret";  // "\tmp\...-outside\secret"
    for (char& c : outside_game)
        if (c == '/') c = '\\';
    Touch("a/b.png");
    Touch("etc/passwd");  // inside: "etc\passwd" may be found here, nowhere else

    struct Case {
        std::string name;
        uint8_t mode;
    };
    const std::vector<Case> hostile = {
        {"\\\\etc\\passwd", kAssetModeExact},
        {"c:/etc/passwd", kAssetModeExact},
        {"C:\\etc\\passwd", kAssetModeExact},
        {"C:\\x", kAssetModeExact},
        {"c:" + outside_game, kAssetModeImage},
        {"C:" + outside_game + ".png", kAssetModeExact},
        {"\\\\" + outside_game.substr(1), kAssetModeImage},
        {"..\\..\\" + sibling + "\\secret", kAssetModeImage},
        {"../" + sibling + "/secret.png", kAssetModeExact},
        {kHyou + "\\..\\..\\" + sibling + "\\secret", kAssetModeImage},
        {kSo + "/../../" + sibling + "/secret.png", kAssetModeImage},
    };
    for (const Case& c : hostile) {
        SCOPED_TRACE(testing::PrintToString(c.name));
        Result r = Resolve(c.name, c.mode);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.source.state, 0);
        if (r.source.state == 1) {
            EXPECT_NE(LoadFromSource(r.source, r.out), 0);
        }
    }
    // The forms that stay relative land inside the game folder: a doubled
    // separator is one, and the tree path drops a single leading '/'.
    for (const char* name : {"a\\\\b", "a//b.png", "/etc/passwd", "\\etc\\passwd"}) {
        SCOPED_TRACE(testing::PrintToString(name));
        Result r = Resolve(name, kAssetModeImage);
        if (r.code == 1) r = Resolve(name, kAssetModeExact);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.source.state, 1);
        ASSERT_EQ(LoadFromSource(r.source, r.out), 0);
        EXPECT_EQ(r.source.data, std::vector<uint8_t>{'x'});  // the game's own file
    }

    // Readers that pass their names straight to the file sources (the table
    // loaders and the text-file commands) get "not found" for the same forms.
    for (const std::string& name : {"..\\" + sibling + "\\secret.png", "\\" + outside_game + ".png",
                                    "c:" + outside_game + ".png", std::string("c:/etc/passwd"),
                                    std::string("//etc/passwd")}) {
        SCOPED_TRACE(testing::PrintToString(name));
        FileSource source;
        EXPECT_EQ(ResolveFileSource(source, name), 0);
        ResetErrorReporter();
        EXPECT_EQ(ReadGameFileReported(source, name), -1);
        EXPECT_NE(ErrorReporter().message.find(Utf8ToCp932("ファイルが\n存在しません。")), std::string::npos);
    }
}

TEST_F(AssetNameTest, AFifoNamedLikeAnAssetIsNotFoundAtOnce) {
    SetImageOrder({1, 0, 0, 0, 0, 0, 0, 0});
    fs::create_directories(game_.Root() / "bg");
    const std::string fifo = (game_.Root() / "bg" / "pipe.png").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Result r;
    int32_t read = 0;
    EXPECT_TRUE(testing_support::FinishesWithoutWaitingOn({fifo}, [&] {
        r = Resolve("BG/Pipe", kAssetModeImage);
        FileSource source;
        read = ReadGameFileReported(source, "bg\\pipe.png");
    }));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.source.state, 0);
    EXPECT_EQ(read, -1);
}

}  // namespace
}  // namespace zk
