// The engine end to end on a damaged sound file: the demo game built loose,
// its music (sound\bgm.ogg, loaded in frame 30 while the script waits for
// the load) damaged the ways a bad disk or a bad download damages it, run
// headless by the zorvek executable in both threading modes (the frame step
// on the main thread, and on the game-loop thread).
//
// Every run must end by itself, in order: the sound thread's box on stderr,
// the last frame written (--png), exit code 1 and the error's number on the
// closing line. A run that hangs is killed by the watchdog and fails.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "storage/asset_name.h"
#include "tests/storage/run_program.h"
#include "tools/lib/pack_writer.h"
#include "tools/lib/sound_writer.h"

namespace zk {
namespace {

namespace fs = std::filesystem;
using storage_test::RunProgram;
using storage_test::RunResult;
using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// Where the Ogg pages of a file begin (each "OggS", 27 header bytes, the
// segment table, the body). Page 0 holds the identification header, page 1
// the comment and setup headers, the pages after them the audio.
std::vector<size_t> OggPageStarts(const Bytes& ogg) {
    std::vector<size_t> starts;
    size_t at = 0;
    while (at + 27 <= ogg.size() && std::equal(ogg.begin() + at, ogg.begin() + at + 4, "OggS")) {
        starts.push_back(at);
        const size_t segments = ogg[at + 26];
        if (at + 27 + segments > ogg.size()) break;
        size_t body = 0;
        for (size_t s = 0; s < segments; ++s) body += ogg[at + 27 + s];
        at += 27 + segments + body;
    }
    return starts;
}

std::string ClosingLine(const std::string& output) {
    if (output.empty() || output.back() != '\n') return {};
    const size_t start = output.find_last_of('\n', output.size() - 2);
    return output.substr(start == std::string::npos ? 0 : start + 1,
                         output.size() - 1 - (start == std::string::npos ? 0 : start + 1));
}

struct Damage {
    const char* what;
    // The damaged music from the demo's own.
    std::function<Bytes(const Bytes&)> damage;
    bool in_a_pack_with_a_wrong_checksum = false;
    int frames = 30;
    // What stderr must hold, in this order (UTF-8): the error lines and the
    // boxes the run shows.
    std::vector<std::string> shown;
    // The closing line's end.
    std::string ends;
};

// The parameter: the game configuration's game-loop thread switch.
class DamagedSoundRunTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info->name();
        std::replace(name.begin(), name.end(), '/', '-');
        root = fs::temp_directory_path() / ("zorvek-damaged-sound-" + std::to_string(getpid()) + "-" + name);
        fs::remove_all(root);
        fs::create_directories(root);
        const fs::path source = root / "demo";
        fs::copy(fs::path(ZORVEK_SOURCE_DIR) / "demo", source, fs::copy_options::recursive);
        std::stringstream text;
        text << std::ifstream(source / "game.cfg", std::ios::binary).rdbuf();
        std::string config = text.str();
        const std::string shipped = "game_loop_thread = 0\n";
        const size_t at = config.find(shipped);
        ASSERT_NE(at, std::string::npos) << "demo/game.cfg names its threading mode";
        config.replace(at, shipped.size(), "game_loop_thread = " + std::to_string(GetParam()) + "\n");
        std::ofstream(source / "game.cfg", std::ios::binary) << config;
        // Every picture and sound a loose file of its own (the tables packed).
        game = root / "game";
        const RunResult tool = RunProgram(
            {(fs::path(ZORVEK_BINARY_DIR) / "zk_mkgame").string(), source.string(), game.string()}, root / "mkgame.txt");
        ASSERT_EQ(tool.exit_code, 0) << tool.output;
        music = ReadBytes(game / "sound" / "bgm.ogg");
        ASSERT_GE(OggPageStarts(music).size(), 5u) << "headers and at least three pages of audio";
    }
    void TearDown() override { fs::remove_all(root); }

    // The demo with its music damaged, run; checks how the run ended.
    void Check(const Damage& c) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root / "run");
        const fs::path run_game = root / "run";
        fs::copy(game, run_game, fs::copy_options::recursive);
        const Bytes damaged = c.damage(music);
        if (c.in_a_pack_with_a_wrong_checksum) {
            // The sounds in a pack of their own, the music's entry with a
            // checksum its bytes do not have (the repair data cannot help).
            tools::PackFileSpec bgm("sound\\bgm.ogg", damaged);
            bgm.kind = kFileKindOgg;
            tools::PackFileSpec click("sound\\click.wav", ReadBytes(run_game / "sound" / "click.wav"));
            click.kind = kFileKindWav;
            tools::BuiltPack pack = tools::BuildPack({bgm, click});
            tools::CorruptChecksumField(pack, 0);
            ASSERT_TRUE(tools::WritePack((run_game / "sound.zpf").string(), pack));
            fs::remove_all(run_game / "sound");
        } else {
            WriteBytes(run_game / "sound" / "bgm.ogg", damaged);
        }
        const fs::path png = root / "last.png";
        fs::remove(png);
        const RunResult run =
            RunProgram({(fs::path(ZORVEK_BINARY_DIR) / "zorvek").string(), "--game", run_game.string(), "--headless",
                        "--frames", std::to_string(c.frames), "--png", png.string()},
                       root / "run.txt", {}, std::chrono::seconds(120));
        ASSERT_NE(run.exit_code, -2) << "hung; its output:\n" << run.output;
        EXPECT_EQ(run.exit_code, 1) << run.output;
        size_t from = 0;
        for (const std::string& text : c.shown) {
            const size_t at = run.output.find(text, from);
            EXPECT_NE(at, std::string::npos) << "not shown (in order): " << text << "\n" << run.output;
            if (at != std::string::npos) from = at + text.size();
        }
        EXPECT_TRUE(ClosingLine(run.output).ends_with(c.ends)) << run.output;
        EXPECT_TRUE(fs::is_regular_file(png)) << "shutdown wrote the last frame\n" << run.output;
    }

    fs::path root, game;
    Bytes music;
};

const std::string kNotOgg = "[DEBUG Message]\nエラー番号：1030\n\noggファイルとして正しく認識できませんでした。\n";

TEST_P(DamagedSoundRunTest, EndsWithTheSoundThreadsBoxAndItsErrorNumber) {
    const Damage cases[] = {
        {"emptied", [](const Bytes&) { return Bytes(); }, false, 30,
         {"error 001030\n", kNotOgg}, "zorvek: 30 frames, stopped by fatal error 001030"},
        {"cut inside its identification header", [](const Bytes& b) { return Bytes(b.begin(), b.begin() + 40); },
         false, 30, {"error 001030\n", kNotOgg}, "zorvek: 30 frames, stopped by fatal error 001030"},
        {"cut after its headers: no audio at all",
         [](const Bytes& b) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(OggPageStarts(b)[2])); },
         false, 30,
         {"error 002020\n", "[DEBUG Message]\nエラー番号：2020\n\noggファイルをシークできませんでした。\n"},
         "zorvek: 30 frames, stopped by fatal error 002020"},
        {"a bit flipped in its identification header",
         [](const Bytes& b) {
             Bytes d = b;
             d[50] ^= 0x10;
             return d;
         },
         false, 30, {"error 001030\n", kNotOgg}, "zorvek: 30 frames, stopped by fatal error 001030"},
        // The page fails its check and is dropped: a hole in the stream,
        // met when the decoding reaches it, seconds after the load, between
        // two frames of the script's.
        {"a bit flipped in its second page of audio",
         [](const Bytes& b) {
             Bytes d = b;
             const std::vector<size_t> pages = OggPageStarts(b);
             d[(pages[3] + pages[4]) / 2] ^= 0x10;
             return d;
         },
         false, 600, {"error 090001\n", "[DEBUG Message]\nエラー番号：90001\n\noggデコードエラーです。\n"},
         ", stopped by fatal error 090001"},
        {"chained: a second stream follows the first",
         [](const Bytes& b) {
             Bytes d = b;
             const Bytes second = tools::OggVorbisFile(1, 22050, 2205, tools::SineTone(440, 22050, 3000), 77);
             d.insert(d.end(), second.begin(), second.end());
             return d;
         },
         false, 30, {"error 001045\n", "[DEBUG Message]\n複数曲連結OGGには対応していません。\n"},
         "zorvek: 30 frames, stopped by fatal error 001045"},
        // The pack's report comes first (and is the run's error), then the
        // box of the load it failed.
        {"in a pack, its entry's checksum wrong", [](const Bytes& b) { return b; }, true, 30,
         {"error 104100\n", "パックファイル中に破損ファイルが見つかりました。\n\nPacFile = .\\sound.zpf\nFile = sound\\bgm.ogg\n",
          "error 001020\n", "[DEBUG Message]\nエラー番号：1020\n\nファイルが開けませんでした。\n"},
         "zorvek: 30 frames, stopped by fatal error 104100"},
    };
    for (const Damage& c : cases) Check(c);
}

INSTANTIATE_TEST_SUITE_P(ThreadingModes, DamagedSoundRunTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 0 ? std::string("MainThread") : std::string("GameLoopThread");
                         });

}  // namespace
}  // namespace zk
