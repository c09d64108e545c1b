// MT19937, the engine's random generator. Kept as a plain record so the
// script's random commands and save data can hold and restore its state.
#pragma once

#include <array>
#include <cstdint>

namespace zk {

struct Mt19937 {
    std::array<uint32_t, 624> state{};
    int index = 625;  // 625: not seeded yet; the first draw seeds with 5489

    void Seed(uint32_t seed);
    uint32_t Next();
};

}  // namespace zk

namespace zk {
// The engine's one generator, seeded at start-up.
Mt19937& EngineRandom();
// Start-up seeds the engine's generator once (with the timer's milliseconds);
// nothing reseeds it later. The script's random numbers are its outputs.
void SeedRandom(uint32_t seed);
uint32_t NextRandom();
}  // namespace zk
