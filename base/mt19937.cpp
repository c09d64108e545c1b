#include "base/mt19937.h"

namespace zk {

void Mt19937::Seed(uint32_t seed) {
    state[0] = seed;
    for (int i = 1; i < 624; ++i)
        state[i] = 1812433253u * (state[i - 1] ^ (state[i - 1] >> 30)) + static_cast<uint32_t>(i);
    index = 624;
}

uint32_t Mt19937::Next() {
    constexpr uint32_t upper = 0x80000000u, lower = 0x7FFFFFFFu, matrix = 0x9908B0DFu;
    if (index >= 624) {
        if (index > 624) Seed(5489);
        for (int i = 0; i < 624; ++i) {
            uint32_t y = (state[i] & upper) | (state[(i + 1) % 624] & lower);
            state[i] = state[(i + 397) % 624] ^ (y >> 1) ^ ((y & 1) ? matrix : 0);
        }
        index = 0;
    }
    uint32_t y = state[index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
}

}  // namespace zk

namespace zk {
Mt19937& EngineRandom() {
    static Mt19937 generator;
    return generator;
}

void SeedRandom(uint32_t seed) { EngineRandom().Seed(seed); }

uint32_t NextRandom() { return EngineRandom().Next(); }
}  // namespace zk
