// Sixteen channels streaming Ogg Vorbis at 44.1 kHz with volume, pan and
// speed: the mixer's CPU per second of audio and the sound passes' cost
// (decoding in refills), against libvorbisfile decoding the same sixteen
// streams bare, measured in the same run; and the longest hold of the
// engine-wide lock by one sound pass (the frame step waits on that lock).
// Informational only: it never fails.
#include <vorbis/vorbisfile.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "platform/audio_mixer.h"
#include "platform/clock.h"
#include "platform/game_path.h"
#include "sound/sound_system.h"
#include "tools/lib/sound_writer.h"
#include "layers/layer_tree_root.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

constexpr int kChannels = 16;
constexpr uint32_t kRate = 44100;
constexpr int kSeconds = 10;

double DecodeBare(const std::vector<uint8_t>& file) {
    struct Reader {
        const std::vector<uint8_t>* bytes;
        size_t at;
    };
    ov_callbacks callbacks{
        [](void* out, size_t size, size_t count, void* source) -> size_t {
            auto* r = static_cast<Reader*>(source);
            const size_t n = std::min(size * count, r->bytes->size() - r->at);
            std::memcpy(out, r->bytes->data() + r->at, n);
            r->at += n;
            return n / size;
        },
        [](void* source, ogg_int64_t offset, int whence) -> int {
            auto* r = static_cast<Reader*>(source);
            const int64_t base = whence == SEEK_CUR ? static_cast<int64_t>(r->at)
                                 : whence == SEEK_END ? static_cast<int64_t>(r->bytes->size())
                                                      : 0;
            r->at = static_cast<size_t>(base + offset);
            return 0;
        },
        nullptr, [](void* source) -> long { return static_cast<long>(static_cast<Reader*>(source)->at); }};
    const auto start = Clock::now();
    char piece[4096];
    for (int c = 0; c < kChannels; ++c) {
        Reader reader{&file, 0};
        OggVorbis_File vf;
        if (ov_open_callbacks(&reader, &vf, nullptr, 0, callbacks) != 0) return 0;
        int bitstream = 0;
        while (ov_read(&vf, piece, sizeof piece, 0, 2, 1, &bitstream) > 0) {
        }
        ov_clear(&vf);
    }
    return Seconds(Clock::now() - start);
}

}  // namespace

int main() {
    using namespace zk;
    const std::vector<uint8_t> file =
        tools::OggVorbisFile(2, kRate, kRate * kSeconds, tools::SineTone(440, kRate, 8000), 1);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("zorvek-bench-sound-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "tune.ogg", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    platform::ClearPathCache();

    platform::ManualClock clock(1000);
    platform::InstallClock(&clock);
    InitPathCharTable();
    Hooks().create_sound_channel = CreateSoundChannel;
    zk::Hooks().create_layer_tree = zk::CreateLayerTree;
    CreateRootTrees();
    platform::AudioMixer mixer(kRate, 1024);
    InstallSoundMixer(&mixer);
    InitSound(false);
    std::vector<NamedTreeNode*> nodes;
    for (int c = 0; c < kChannels; ++c) {
        NamedTreeNode* node = nullptr;
        {
            std::lock_guard lock(EngineLock);
            node = CreateTreeNode(TheRootTrees().sounds, "S0/ch" + std::to_string(c), false, 1);
            CreateSoundChannel(node);
            ChannelOf(node)->format = kSoundFormatOgg;
        }
        WaitSoundRequest(PostSoundRequest(node, kSoundLoad, 0, "tune.ogg"));
        WaitSoundRequest(PostSoundRequest(node, kSoundVolume, 100 + c * 9));
        WaitSoundRequest(PostSoundRequest(node, kSoundPan, c * 32));
        WaitSoundRequest(PostSoundRequest(node, kSoundSpeed, 200 + c * 7));
        WaitSoundRequest(PostSoundRequest(node, kSoundPlay, 0));
        nodes.push_back(node);
    }

    // Ten seconds of audio: a 20 ms pass after each 20 ms of output.
    std::vector<int16_t> out(static_cast<size_t>(kRate) / 50 * 2);
    double mixing = 0, passes = 0, longest_pass = 0;
    for (int step = 0; step < kSeconds * 50; ++step) {
        auto start = Clock::now();
        mixer.Render(out);
        mixing += Seconds(Clock::now() - start);
        clock.Advance(20);
        start = Clock::now();
        RunSoundPass();
        const double pass = Seconds(Clock::now() - start);
        passes += pass;
        longest_pass = std::max(longest_pass, pass);
    }
    const double bare = DecodeBare(file);

    std::printf("sound: %d Ogg Vorbis channels, 44.1 kHz stereo, volume, pan and speed, %d s of audio\n", kChannels,
                kSeconds);
    std::printf("  mixer                 %8.3f ms per second of audio (%.2f%% of one core)\n",
                mixing * 1000 / kSeconds, mixing * 100 / kSeconds);
    std::printf("  sound passes          %8.3f ms per second of audio (decoding in refills)\n",
                passes * 1000 / kSeconds);
    std::printf("  bare libvorbisfile    %8.3f ms per second of audio (the same 16 streams, sequential ov_read)\n",
                bare * 1000 / kSeconds);
    std::printf("  passes / bare decoding: %.2fx\n", bare > 0 ? passes / bare : 0.0);
    std::printf("  longest pass under the engine lock: %.3f ms\n", longest_pass * 1000);

    ResetSoundSystem();
    FreeRootTrees();
    platform::InstallClock(nullptr);
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
    return 0;
}
