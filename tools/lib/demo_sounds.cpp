#include "tools/lib/demo_sounds.h"

#include <cmath>

#include "tools/lib/sound_writer.h"

namespace zk::tools {

std::vector<DemoSound> DemoSounds() {
    constexpr uint32_t kRate = 22050;
    constexpr uint32_t kNote = kRate / 4;
    const double notes[] = {261.63, 329.63, 392.00, 523.25};
    const SampleSource tune = [&notes](uint32_t frame, uint16_t) {
        const uint32_t index = frame / kNote;
        const double t = static_cast<double>(frame % kNote) / kRate;
        const double hertz = notes[index % 4] * ((index / 16) % 2 == 0 ? 1.0 : 0.75);
        const double envelope = std::min(t / 0.01, 1.0) * std::exp(-t * 6.0);
        return static_cast<int16_t>(std::lrint(9000.0 * envelope * std::sin(2 * M_PI * hertz * t)));
    };
    const SampleSource click = [](uint32_t frame, uint16_t) {
        const double t = static_cast<double>(frame) / kRate;
        return static_cast<int16_t>(std::lrint(14000.0 * std::exp(-t / 0.005) * std::sin(2 * M_PI * 1500 * t)));
    };
    WaveSpec spec;
    spec.channels = 1;
    spec.rate = kRate;
    spec.bits = 16;
    spec.frames = kRate * 40 / 1000;
    spec.samples = click;
    return {{"sound/bgm.ogg", OggVorbisFile(1, kRate, kRate * 8, tune, 1)}, {"sound/click.wav", WaveFile(spec)}};
}

}  // namespace zk::tools
