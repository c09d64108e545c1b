// The sound commands on readable scripts: 89 loads, plays, fades, pauses
// and loops; 90 deletes channels and whole groups; 91 answers every
// question. No sound thread runs: a command that waits runs the sound
// passes itself, and the test moves the mixer and the clock between frames.
#include <fstream>

#include "core/error_codes.h"
#include "core/settings.h"
#include "sound/sound_commands.h"
#include "sound/sound_system.h"
#include "tests/script/runner_test_support.h"
#include "tools/lib/sound_writer.h"

namespace zk {
namespace {

class SoundCommandsTest : public script_test::ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        RegisterSoundCommands();
        Settings().sound = 1;
        InstallSoundMixer(&mixer);
    }
    void TearDown() override {
        QuitFlag = 1;
        ResetSoundSystem();
        QuitFlag = 0;
        Hooks().create_sound_channel = nullptr;
        ScriptRunTest::TearDown();
    }

    void WriteGameFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(game_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // Boots the script with the sound texts among the errors, then the
    // sound system as start-up makes it.
    bool BootSound(std::string_view text) {
        tools::ScriptText script = tools::ScriptGame(text);
        script.game.error_texts = script_test::RunnerErrorTexts();
        for (uint32_t code : {100030u, 101292u, 110200u})
            script.game.error_texts.push_back({code, "E" + std::to_string(code) + " %s %s"});
        symbols = script.Symbols();
        if (!script.game.Write(game_)) return false;
        platform::ClearPathCache();
        Hooks().create_script_task = CreateScriptTaskHook;
        Hooks().create_sound_channel = CreateSoundChannel;
        CreateRootTrees();
        if (BootScriptSystem() != 0) return false;
        return InitSound(false) == 0;
    }

    // One frame: the script's passes, then `ms` of sound.
    int Frame(uint32_t ms = 20) {
        if (Pass() != 0) return 1;
        mixer.Render(static_cast<size_t>(mixer.OutputRate()) * ms / 1000);
        clock.Advance(ms);
        return RunSoundPass() < 0 ? 1 : 0;
    }
    int Frames(int n, uint32_t ms = 20) {
        for (int i = 0; i < n; ++i) {
            if (Frame(ms) != 0) return 1;
        }
        return 0;
    }

    NamedTreeNode* Node(std::string_view path, int32_t mode = kFindLeaf) {
        return FindNodeByPath(TheRootTrees().sounds, path, mode);
    }

    platform::AudioMixer mixer{22050, 512};
};

// Left 1000, right -2000 throughout: the peaks are known at any cursor.
std::vector<uint8_t> SteadyStereo(uint32_t seconds) {
    tools::WaveSpec spec;
    spec.channels = 2;
    spec.rate = 22050;
    spec.frames = 22050 * seconds;
    spec.samples = [](uint32_t, uint16_t c) { return static_cast<int16_t>(c == 0 ? 1000 : -2000); };
    return tools::WaveFile(spec);
}

TEST_F(SoundCommandsTest, EveryQuery) {
    WriteGameFile("steady.wav", SteadyStereo(4));
    ASSERT_TRUE(BootSound(R"(int v[24]
int first
int last
str name
label SYSTEM_START
sound name="bgm", file="steady.wav", play=1
wait 10
soundinfo name="bgm", result=v[1], loaded=1
soundinfo name="bgm", result=v[2], audible=1
soundinfo name="bgm", result=v[3], playing=1
soundinfo name="bgm", result=v[4], paused=1
soundinfo name="bgm", result=v[5], volume=1
soundinfo name="bgm", result=v[6], pan=1
soundinfo name="bgm", result=v[7], speed=1
soundinfo name="bgm", result=name, file=1
soundinfo name="bgm", result=v[9], format=1
soundinfo name="bgm", result=v[10], start=1
soundinfo name="bgm", result=v[11], loopstart=1
soundinfo name="bgm", result=v[12], end=1
soundinfo name="bgm", result=v[13], loop=1
soundinfo name="bgm", result=v[14], plays=1
soundinfo name="bgm", result=v[15], position=1
soundinfo name="bgm", result=v[16], length=1
soundinfo name="bgm", result=v[17], channels=1
soundinfo name="bgm", result=v[18], bits=1
soundinfo name="bgm", result=v[19], rate=1
soundinfo name="bgm", result=v[20], peakleft=1
soundinfo name="bgm", result=v[21], peakright=1
soundinfo name="bgm", result=v[22], datakind=1
soundinfo name="bgm", result=first, rate=1, pan=1, volume=1
soundinfo name="bgm", result=last, rate=1, channels=1, length=1
label IDLE
wait 1
jump IDLE
)"));
    ASSERT_EQ(Frames(12), 0);
    const int64_t expected[23] = {0, 1, 1, 1, 0, 256, 256, 256, 0, 2, 0, 0, 4000, 0, 0, -1, 4000, 2, 16, 22050, 1000, 2000, 0};
    for (int k = 1; k <= 22; ++k) {
        if (k == 8 || k == 15) continue;
        EXPECT_EQ(Int("v", k), expected[k]) << "query " << k;
    }
    // Ten frames of 20 ms were heard, less the mixer's period.
    EXPECT_NEAR(Int("v", 15), 200 - 23, 25);
    EXPECT_EQ(Text("name"), "steady.wav");
    EXPECT_EQ(Int("first"), 256) << "of 1..7 the first given (volume before pan)";
    EXPECT_EQ(Int("last"), 22050) << "of the others the last in answer order (rate after length)";
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(SoundCommandsTest, MissingFileAndMissingChannel) {
    ASSERT_TRUE(BootSound(R"(int v = 5
str s = "x"
label SYSTEM_START
sound name="se", file="nothing.wav", play=1
soundinfo name="se", result=v, loaded=1
soundinfo name="ghost", result=s, file=1
label IDLE
wait 1
jump IDLE
)"));
    ASSERT_EQ(Frame(), 0);
    EXPECT_NE(Node("S0/se"), nullptr) << "the channel is made, the file not found: nothing more";
    EXPECT_EQ(Int("v"), 0);
    EXPECT_EQ(Text("s"), "");
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(SoundCommandsTest, FadeToANewVolumeThenFadeOut) {
    WriteGameFile("steady.wav", SteadyStereo(5));
    ASSERT_TRUE(BootSound(R"(int v[4]
label SYSTEM_START
sound name="bgm", file="steady.wav", volume=200
sound name="bgm", play=1
wait 5
sound name="bgm", volume=100, play=1, fade=1000
wait 30
soundinfo name="bgm", result=v[0], volume=1
wait 30
soundinfo name="bgm", result=v[1], volume=1
sound name="bgm", play=0, fade=500
wait 40
soundinfo name="bgm", result=v[2], playing=1
soundinfo name="bgm", result=v[3], loaded=1
label IDLE
wait 1
jump IDLE
)"));
    ASSERT_EQ(Frames(120), 0);
    EXPECT_NEAR(Int("v", 0), 200 - 60, 6) << "600 ms into a 1 s fade from 200 to 100";
    EXPECT_EQ(Int("v", 1), 100);
    EXPECT_EQ(Int("v", 2), 0) << "faded out and unloaded";
    EXPECT_EQ(Int("v", 3), 1) << "it keeps its format";
}

TEST_F(SoundCommandsTest, PauseResumeAndPlayCountLimit) {
    WriteGameFile("short.wav", SteadyStereo(1));
    ASSERT_TRUE(BootSound(R"(int v[6]
label SYSTEM_START
sound name="se", file="short.wav", loop=2, play=1
wait 10
sound name="se", pause=1
soundinfo name="se", result=v[0], paused=1
soundinfo name="se", result=v[1], position=1
wait 50
soundinfo name="se", result=v[2], position=1
sound name="se", pause=0
wait 150
soundinfo name="se", result=v[3], playing=1
soundinfo name="se", result=v[4], loop=1
label IDLE
wait 1
jump IDLE
)"));
    ASSERT_EQ(Frames(220), 0);
    EXPECT_EQ(Int("v", 0), 1);
    EXPECT_EQ(Int("v", 1), Int("v", 2)) << "time stands still while paused";
    EXPECT_EQ(Int("v", 3), 0) << "stopped after its second pass";
    EXPECT_EQ(Int("v", 4), 0) << "the limit is cleared when reached";
}

TEST_F(SoundCommandsTest, DeleteAGroupDepthFirst) {
    WriteGameFile("steady.wav", SteadyStereo(1));
    ASSERT_TRUE(BootSound(R"(int v = 9
label SYSTEM_START
sound name="g/"
sound name="g/sub/"
sound name="g/a", file="steady.wav", play=1
sound name="g/sub/b", file="steady.wav", play=1
wait 3
delsound name="g/"
soundinfo name="g/sub/b", result=v, loaded=1
label IDLE
wait 1
jump IDLE
)"));
    ASSERT_EQ(Frame(), 0);
    ASSERT_NE(Node("S0/g/sub/b"), nullptr);
    ASSERT_NE(Node("S0/g", kFindGroup), nullptr);
    ASSERT_EQ(Frames(4), 0);
    EXPECT_EQ(Node("S0/g/sub/b"), nullptr);
    EXPECT_EQ(Node("S0/g/a"), nullptr);
    EXPECT_EQ(Node("S0/g", kFindGroup), nullptr);
    EXPECT_EQ(Int("v"), 0);
    EXPECT_EQ(Reports(), 0u);
    for (int32_t slot = TheSoundQueue().read_index; slot != TheSoundQueue().write_index; slot = (slot + 1) % 1024)
        EXPECT_EQ(TheSoundQueue().channel[static_cast<size_t>(slot)], nullptr);
}

TEST_F(SoundCommandsTest, NewGroupWithAFileIsRefused) {
    ASSERT_TRUE(BootSound("label SYSTEM_START\nsound name=\"newgroup/\", file=\"x.wav\"\nlabel IDLE\nwait 1\njump IDLE\n"));
    EXPECT_EQ(Pass(), 1);
    EXPECT_EQ(LastCode(), kErrSoundGroupWithFile);
    EXPECT_EQ(Node("S0/newgroup", kFindGroup), nullptr);
}

TEST_F(SoundCommandsTest, SoundOffDoesNothing) {
    WriteGameFile("steady.wav", SteadyStereo(1));
    ASSERT_TRUE(BootSound(R"(label SYSTEM_START
sound name="bgm", file="steady.wav", play=1
label IDLE
wait 1
jump IDLE
)"));
    Settings().sound = 0;
    ASSERT_EQ(Frame(), 0);
    EXPECT_EQ(Node("S0/bgm"), nullptr);
}

}  // namespace
}  // namespace zk
