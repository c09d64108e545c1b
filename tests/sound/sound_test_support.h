// The sound system on a virtual clock: a mixer that only moves when the
// test renders, the engine clock a ManualClock, the sound tree made, the
// sound passes run by the test (no thread), and a game folder for files.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "platform/audio_mixer.h"
#include "platform/clock.h"
#include "sound/sound_system.h"
#include "tests/storage/temp_game_folder.h"

namespace zk::sound_test {

class SoundFixture : public ::testing::Test {
protected:
    explicit SoundFixture(uint32_t output_rate = 8000) : mixer(output_rate, 256) {}

    void SetUp() override {
        InitPathCharTable();
        platform::InstallClock(&clock);
        Hooks().create_sound_channel = CreateSoundChannel;
        CreateRootTrees();
        InstallSoundMixer(&mixer);
        ASSERT_EQ(InitSound(false), 0);
    }
    void TearDown() override {
        QuitFlag = 1;  // a sound thread a test started ends
        ResetSoundSystem();
        FreeRootTrees();
        Hooks().create_sound_channel = nullptr;
        platform::InstallClock(nullptr);
        QuitFlag = 0;
    }

    // A channel (or, with a path ending in '/', a group) under "S0".
    NamedTreeNode* Make(const std::string& path, uint8_t format = kSoundFormatWave) {
        std::lock_guard lock(EngineLock);
        const bool group = !path.empty() && path.back() == '/';
        const std::string full = "S0/" + (group ? path.substr(0, path.size() - 1) : path);
        NamedTreeNode* node = CreateTreeNode(TheRootTrees().sounds, full, group, 1);
        if (node == nullptr || !CreateSoundChannel(node)) return nullptr;
        ChannelOf(node)->format = format;
        return node;
    }
    static SoundChannel& Of(NamedTreeNode* node) { return *ChannelOf(node); }

    void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        folder.Write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }

    // Posts a request and runs passes until it is done; the result of the
    // last pass.
    int32_t Request(NamedTreeNode* node, uint8_t code, int32_t value = 0, std::string_view name = {}) {
        const int32_t slot = PostSoundRequest(node, code, value, name);
        int32_t result = 0;
        for (int pass = 0; pass < 10 && TheSoundQueue().done[static_cast<size_t>(slot)].load() == 0; ++pass) {
            result = RunSoundPass();
            if (result < 0) break;
        }
        return result;
    }

    // Moves time on by `ms`: the mixer renders it (kept in `heard`, left
    // channel), the clock advances, and one sound pass runs.
    int32_t Step(uint32_t ms) {
        std::vector<int16_t> out(static_cast<size_t>(mixer.OutputRate()) * ms / 1000 * 2);
        mixer.Render(out);
        for (size_t i = 0; i < out.size(); i += 2) {
            heard.push_back(out[i]);
            heard_right.push_back(out[i + 1]);
        }
        clock.Advance(ms);
        return RunSoundPass();
    }
    int32_t Steps(int count, uint32_t ms) {
        for (int i = 0; i < count; ++i) {
            if (const int32_t result = Step(ms); result < 0) return result;
        }
        return 0;
    }

    storage_test::TempGameFolder folder{"sound"};
    platform::ManualClock clock{1000};
    platform::AudioMixer mixer;
    std::vector<int16_t> heard;
    std::vector<int16_t> heard_right;
};

}  // namespace zk::sound_test
