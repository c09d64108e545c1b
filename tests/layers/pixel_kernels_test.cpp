// The pixel kernel table: both sets against models written here from the
// kernels' formulas (the plain set's, and the SSE set's where it rounds
// differently), for 0 to 17 pixels at aligned and unaligned addresses, a
// seeded random run of every slot hashed per set, the edge cases of single
// slots, and how the set is chosen.
#include "layers/pixel_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/settings.h"
#include "layers/cpu_features.h"
#include "layers/mask_opacity_ramp.h"

namespace zk {
namespace {

// ---- Models: each slot as its formula, byte by byte ----

int Floor8(int64_t v) { return int(v >> 8); }  // arithmetic shift: floor(v / 256)
uint8_t B(int64_t v) { return uint8_t(v); }
int SatAdd(int d, int s) { return std::min(d + s, 255); }
int64_t P(int x, int y) { return int64_t{x} * y / 255; }
int64_t R(int c, int k) { return c == 0 ? 0 : int64_t{k} * 256 / c; }

struct Args {
    int64_t count = 0;
    int32_t t = 0;  // t or o
    int32_t p = 0;  // slot 32's source opacity
    uint8_t fill_byte = 0;
    uint32_t fill_value = 0;
};

// dst changes in place (out for slot 15, with `first` as the first source).
void Model(int slot, bool sse, std::vector<uint8_t>& dst, const std::vector<uint8_t>& first,
           const std::vector<uint8_t>& src, const std::vector<uint8_t>& mask, const Args& a) {
    const int64_t n = a.count;
    const int64_t groups = n / 8 * 8, pixels = n / 4 * 4;
    const int32_t t = a.t;
    auto crossfade = [&](int d, int s, int64_t k) -> uint8_t {
        if (t == 128) return sse ? B((d + s + 1) / 2) : B(d / 2 + s / 2);
        if (t > 128 && k < groups) return B(s + Floor8(int64_t(d - s) * (256 - t)));
        return B(d + Floor8(int64_t(s - d) * t));
    };
    auto over_group = [&](int d, int s, int alpha) -> uint8_t {
        if (sse) return B(std::min(Floor8(int64_t{s} * (alpha + 1)) + Floor8(int64_t{d} * (256 - alpha)), 255));
        return B(Floor8(int64_t{d} * (256 - alpha) + int64_t{s} * (alpha + 1)));
    };
    switch (slot) {
    case 7: for (int64_t k = 0; k < n; ++k) dst[k] = 0; break;
    case 8: for (int64_t k = 0; k < n; ++k) dst[k] = a.fill_byte; break;
    case 9:
        for (int64_t k = 0; k + 4 <= n; k += 4)
            for (int c = 0; c < 4; ++c) dst[k + c] = B(a.fill_value >> (8 * c));
        break;
    case 10: for (int64_t k = 0; k < n; ++k) dst[k] = src[k]; break;
    case 11: for (int64_t k = 0; k < n; ++k) dst[k] = crossfade(dst[k], src[k], k); break;
    case 15: for (int64_t k = 0; k < n; ++k) dst[k] = crossfade(first[k], src[k], k); break;
    case 12:
    case 13:
        for (int64_t k = 0; k < pixels; k += 4) {
            int alpha = src[k + 3];
            if (slot == 13) alpha = (t * alpha) >> 8;
            if (k < groups) {
                for (int c = 0; c < 4; ++c) dst[k + c] = over_group(dst[k + c], src[k + c], alpha);
            } else {
                for (int c = 0; c < 3; ++c) {
                    int d = dst[k + c], s = src[k + c];
                    dst[k + c] = slot == 12 ? B(d + Floor8(int64_t(s - d) * (alpha + 1)))
                                            : B(Floor8(int64_t{d} * (256 - alpha)) + Floor8(int64_t{alpha + 1} * s));
                }
            }
        }
        break;
    case 14:
        for (int64_t k = 0; k < pixels; k += 4) {
            int w = MaskOpacityRamp[mask[k]];
            if (w <= 1) continue;
            for (int c = 0; c < 3; ++c) dst[k + c] = B(dst[k + c] - Floor8(int64_t{w} * (dst[k + c] - src[k + c])));
        }
        break;
    case 16: for (int64_t k = 0; k < n; ++k) dst[k] = B(SatAdd(dst[k], src[k])); break;
    case 17:
        for (int64_t k = 0; k < n; ++k) {
            int d = dst[k], s = src[k];
            dst[k] = k < groups ? B(std::min(d + Floor8(int64_t{s} * t), 255)) : B(d + Floor8(int64_t{t} * (SatAdd(d, s) - d)));
        }
        break;
    case 18:
    case 19:
        for (int64_t k = 0; k < pixels; k += 4) {
            int w = src[k + 3] + 1;
            if (sse) w = std::min(w, 255);
            if (slot == 19) w = (t * w) >> 8;
            for (int c = 0; c < 3; ++c) dst[k + c] = B(dst[k + c] + Floor8(int64_t(SatAdd(dst[k + c], src[k + c]) - dst[k + c]) * w));
        }
        break;
    case 20: for (int64_t k = 0; k < n; ++k) dst[k] = B(std::max(src[k] - dst[k], 0)); break;
    case 21:
        for (int64_t k = 0; k < n; ++k) dst[k] = k < pixels ? B((dst[k] * (src[k] + 1)) >> 8) : B(P(src[k], dst[k]));
        break;
    case 22:
        for (int64_t k = 0; k < n; ++k) {
            int d = dst[k], s = src[k];
            dst[k] = k < groups ? B(std::clamp(d + s - ((d * (s + 1)) >> 8), 0, 255)) : B(s + d - P(s, d));
        }
        break;
    case 23:
        for (int64_t k = 0; k < n; ++k) {
            int d = dst[k], s = src[k];
            dst[k] = B(d + Floor8((s + d - P(s, d) - d) * int64_t{t}));
        }
        break;
    case 24: for (int64_t k = 0; k < n; ++k) dst[k] = std::max(dst[k], src[k]); break;
    case 25: for (int64_t k = 0; k < n; ++k) dst[k] = std::min(dst[k], src[k]); break;
    case 26: for (int64_t k = 0; k < n; ++k) dst[k] = B(std::max(dst[k] + src[k] - 255, 0)); break;
    case 27: for (int64_t k = 0; k < n; ++k) dst[k] = B(std::clamp(dst[k] + 2 * src[k] - 256, 0, 255)); break;
    case 28: break;
    case 29:
    case 31:
        for (int64_t k = 0; k < pixels; k += 4) {
            if (slot == 31) dst[k + 3] = B((int64_t{t} * dst[k + 3]) >> 8);
            int da = dst[k + 3], sa = src[k + 3];
            uint8_t da2 = B(da + sa - P(da, sa));
            int64_t r = R(da2, sa);
            for (int c = 0; c < 3; ++c) dst[k + c] = B(dst[k + c] + Floor8((src[k + c] - dst[k + c]) * r));
            dst[k + 3] = da2;
        }
        break;
    case 30:
        for (int64_t k = 0; k < pixels; k += 4) {
            int da = dst[k + 3], sa = src[k + 3];
            uint8_t da2 = B(da + Floor8((sa - P(da, sa)) * t));
            int64_t f = int64_t{t} * R(da2, sa);
            // Saturated: the colour may overshoot the source when the opacity thins the alpha.
            for (int c = 0; c < 3; ++c)
                dst[k + c] = uint8_t(std::clamp<int64_t>(dst[k + c] + (((src[k + c] - dst[k + c]) * f) >> 16), 0, 255));
            dst[k + 3] = da2;
        }
        break;
    case 32:
        for (int64_t k = 0; k < pixels; k += 4) {
            int64_t sa = src[k + 3];
            int64_t da = (int64_t{t} * dst[k + 3]) >> 8;
            int64_t da2 = da + Floor8(a.p * (sa - ((da * (sa + 1)) >> 8)));
            for (int c = 0; c < 3; ++c)
                dst[k + c] = B(dst[k + c] + (Floor8(int64_t(src[k + c] - dst[k + c]) * a.p) * sa) / (da2 + 1));
            dst[k + 3] = B(da2);
        }
        break;
    default: FAIL() << "no model for slot " << slot;
    }
}

// The slots where the SSE set computes something else than the plain set.
bool SetsDiffer(int slot) { return slot == 11 || slot == 12 || slot == 13 || slot == 15 || slot == 18 || slot == 19; }

// Calls slot `slot` of `table`.
void Call(const PixelKernelTable& k, int slot, uint8_t* dst, const uint8_t* first, const uint8_t* src,
          const uint8_t* mask, const Args& a) {
    switch (slot) {
    case 7: k.zero_bytes(dst, a.count); break;
    case 8: k.fill_bytes(dst, a.count, a.fill_byte); break;
    case 9: k.fill_cells(dst, a.count, a.fill_value); break;
    case 10: k.copy_bytes(dst, src, a.count); break;
    case 11: k.crossfade(dst, src, a.t, a.count); break;
    case 12: k.alpha_over(dst, src, a.count); break;
    case 13: k.alpha_over_opacity(dst, src, a.t, a.count); break;
    case 14: k.masked_over(dst, src, mask, 256, 256, a.count); break;
    case 15: k.mix(dst, first, src, a.t, a.count); break;
    case 16: k.add(dst, src, a.count); break;
    case 17: k.add_opacity(dst, src, a.t, a.count); break;
    case 18: k.add_alpha(dst, src, a.count); break;
    case 19: k.add_alpha_opacity(dst, src, a.t, a.count); break;
    case 20: k.reverse_subtract(dst, src, a.count); break;
    case 21: k.multiply(dst, src, a.count); break;
    case 22: k.screen(dst, src, a.count); break;
    case 23: k.screen_opacity(dst, src, a.t, a.count); break;
    case 24: k.lighten(dst, src, a.count); break;
    case 25: k.darken(dst, src, a.count); break;
    case 26: k.linear_burn(dst, src, a.count); break;
    case 27: k.linear_light(dst, src, a.count); break;
    case 28: k.reserved(); break;
    case 29: k.alpha_over_alpha(dst, src, a.count); break;
    case 30: k.alpha_over_alpha_source_opacity(dst, src, a.t, a.count); break;
    case 31: k.alpha_over_alpha_destination_opacity(dst, src, a.t, a.count); break;
    case 32: k.alpha_over_alpha_both_opacity(dst, src, a.t, a.p, a.count); break;
    default: FAIL() << "no slot " << slot;
    }
}

// Bytes that often sit on a rounding edge.
uint8_t EdgyByte(std::mt19937& rng) {
    static constexpr uint8_t kEdges[] = {0, 1, 2, 127, 128, 129, 254, 255};
    return (rng() % 4 == 0) ? kEdges[rng() % std::size(kEdges)] : uint8_t(rng());
}
int32_t EdgyOpacity(std::mt19937& rng) {
    static constexpr int32_t kEdges[] = {0, 1, 127, 128, 129, 255, 256};
    return (rng() % 3 == 0) ? kEdges[rng() % std::size(kEdges)] : int32_t(rng() % 257);
}

void FillRamp(std::mt19937& rng) {
    for (auto& w : MaskOpacityRamp) w = int32_t(rng() % 520) - 260;  // below 2 leaves the pixel
}

// Row buffers placed at a chosen distance from a 16-byte boundary, with
// guard bytes around them that no kernel may touch.
class Rows {
public:
    static constexpr size_t kGuard = 32;
    Rows(int64_t count, size_t phase, uint8_t guard) : storage_(size_t(count) + 2 * kGuard + 32, guard) {
        uintptr_t base = reinterpret_cast<uintptr_t>(storage_.data()) + kGuard;
        offset_ = kGuard + ((16 - base % 16) % 16) + phase;
        count_ = size_t(count);
    }
    uint8_t* data() { return storage_.data() + offset_; }
    std::vector<uint8_t> Bytes() const { return {storage_.begin() + ptrdiff_t(offset_), storage_.begin() + ptrdiff_t(offset_ + count_)}; }
    void Set(const std::vector<uint8_t>& bytes) { std::copy(bytes.begin(), bytes.end(), storage_.begin() + ptrdiff_t(offset_)); }
    bool GuardsIntact(uint8_t guard) const {
        for (size_t i = 0; i < storage_.size(); ++i)
            if ((i < offset_ || i >= offset_ + count_) && storage_[i] != guard) return false;
        return true;
    }

private:
    std::vector<uint8_t> storage_;
    size_t offset_ = 0;
    size_t count_ = 0;
};

struct RunResult {
    std::vector<uint8_t> bytes;
    bool guards_intact = true;
};

RunResult RunSlot(const PixelKernelTable& table, int slot, const std::vector<uint8_t>& dst,
                  const std::vector<uint8_t>& first, const std::vector<uint8_t>& src,
                  const std::vector<uint8_t>& mask, const Args& a, size_t dst_phase, size_t src_phase) {
    constexpr uint8_t kGuard = 0xA5;
    Rows d(a.count, dst_phase, kGuard), f(a.count, src_phase, kGuard), s(a.count, src_phase, kGuard),
        m(a.count, src_phase, kGuard);
    d.Set(dst);
    f.Set(first);
    s.Set(src);
    m.Set(mask);
    Call(table, slot, d.data(), f.data(), s.data(), m.data(), a);
    return {d.Bytes(), d.GuardsIntact(kGuard) && f.GuardsIntact(kGuard) && s.GuardsIntact(kGuard)};
}

constexpr bool IsPixelSlot(int slot) {
    return slot == 9 || slot == 12 || slot == 13 || slot == 14 || slot == 18 || slot == 19 || slot >= 29;
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, int64_t count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    for (auto& b : bytes) b = EdgyByte(rng);
    return bytes;
}

class PixelKernelsTest : public ::testing::Test {
protected:
    void TearDown() override { ForcePlainPixelKernels(false); }
};

// Every slot, 0..17 pixels (and stray bytes for the byte kernels), the
// destination 16-byte aligned and one pixel off, against the models.
TEST_F(PixelKernelsTest, BothSetsMatchTheirFormulasForShortRowsAtBothPhases) {
    std::mt19937 rng(20240611);
    FillRamp(rng);
    for (int slot = kFirstPixelKernelSlot; slot <= kLastPixelKernelSlot; ++slot) {
        for (int64_t pixels = 0; pixels <= 17; ++pixels) {
            for (int64_t stray : {0, 3}) {
                if (stray != 0 && IsPixelSlot(slot)) continue;
                for (size_t phase : {size_t{0}, size_t{4}}) {
                    Args a;
                    a.count = pixels * 4 + stray;
                    a.t = EdgyOpacity(rng);
                    a.p = EdgyOpacity(rng);
                    a.fill_byte = EdgyByte(rng);
                    a.fill_value = uint32_t(rng());
                    auto dst = RandomBytes(rng, a.count), first = RandomBytes(rng, a.count),
                         src = RandomBytes(rng, a.count), mask = RandomBytes(rng, a.count);
                    for (bool sse : {false, true}) {
                        std::vector<uint8_t> expected = dst;
                        Model(slot, sse, expected, first, src, mask, a);
                        const PixelKernelTable& table = sse ? SsePixelKernelSet() : PlainPixelKernelSet();
                        RunResult got = RunSlot(table, slot, dst, first, src, mask, a, phase, 4 - phase);
                        ASSERT_EQ(got.bytes, expected) << (sse ? "SSE" : "plain") << " slot " << slot << ", "
                                                       << a.count << " bytes, phase " << phase << ", t " << a.t;
                        ASSERT_TRUE(got.guards_intact) << "slot " << slot << " touched bytes outside its row";
                    }
                }
            }
        }
    }
}

// Sprite-like rows: the alpha bytes come in runs of 1..12 pixels that are
// all 0, all 255 or random, so the runs the fast kernels skip or copy start
// and end at every position of their vector bodies.
std::vector<uint8_t> RunsOfAlpha(std::mt19937& rng, int64_t count) {
    std::vector<uint8_t> bytes = RandomBytes(rng, count);
    for (int64_t pixel = 0; pixel + 4 <= count;) {
        const int kind = int(rng() % 3);
        const int64_t run = 1 + int64_t(rng() % 12);
        for (int64_t k = 0; k < run && pixel + 4 <= count; ++k, pixel += 4) {
            bytes[size_t(pixel + 3)] = kind == 0 ? 0 : kind == 1 ? 255 : EdgyByte(rng);
        }
    }
    return bytes;
}

// The SSE set with SSE2 code only against its model, and the set this
// processor installs (AVX2 variants where it has AVX2) against the SSE2 set:
// every slot, 0..67 pixels (and stray bytes for the byte kernels), every
// destination phase, sources with runs of transparent and opaque pixels.
TEST_F(PixelKernelsTest, Avx2AndSse2SetsAgreeOnEverySlotLengthAndPhase) {
    std::mt19937 rng(20261211);
    FillRamp(rng);
    const PixelKernelTable& sse2 = Sse2PixelKernelSet();
    const PixelKernelTable& fast = SsePixelKernelSet();
    for (int slot = kFirstPixelKernelSlot; slot <= kLastPixelKernelSlot; ++slot) {
        for (int64_t pixels = 0; pixels <= 67; ++pixels) {
            for (int64_t stray : {0, 3}) {
                if (stray != 0 && IsPixelSlot(slot)) continue;
                for (size_t phase = 0; phase < 16; phase += IsPixelSlot(slot) ? 4 : 1) {
                    Args a;
                    a.count = pixels * 4 + stray;
                    a.t = EdgyOpacity(rng);
                    a.p = EdgyOpacity(rng);
                    a.fill_byte = EdgyByte(rng);
                    a.fill_value = uint32_t(rng());
                    auto dst = RandomBytes(rng, a.count), first = RunsOfAlpha(rng, a.count),
                         src = RunsOfAlpha(rng, a.count), mask = RandomBytes(rng, a.count);
                    const size_t src_phase = rng() % 16;
                    std::vector<uint8_t> expected = dst;
                    Model(slot, true, expected, first, src, mask, a);
                    RunResult reference = RunSlot(sse2, slot, dst, first, src, mask, a, phase, src_phase);
                    ASSERT_EQ(reference.bytes, expected) << "SSE2 slot " << slot << ", " << a.count << " bytes, phase "
                                                         << phase << ", t " << a.t;
                    RunResult got = RunSlot(fast, slot, dst, first, src, mask, a, phase, src_phase);
                    ASSERT_EQ(got.bytes, reference.bytes) << "AVX2 slot " << slot << ", " << a.count
                                                          << " bytes, phase " << phase << ", t " << a.t;
                    ASSERT_TRUE(got.guards_intact && reference.guards_intact)
                        << "slot " << slot << " touched bytes outside its row";
                }
            }
        }
    }
}

uint64_t Fnv1a(uint64_t hash, const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) hash = (hash ^ b) * 0x100000001b3ull;
    return hash;
}

// A seeded run of long random rows through every slot: one hash per slot
// and set. Where the sets agree the two hashes are equal; where they differ
// by design each matches the hash of its own model.
TEST_F(PixelKernelsTest, SeededRandomRowsHashAlikeAcrossSets) {
    std::mt19937 rng(7);
    FillRamp(rng);
    std::string drifted;
    for (int slot = kFirstPixelKernelSlot; slot <= kLastPixelKernelSlot; ++slot) {
        uint64_t plain = 14695981039346656037ull, sse = plain, model_plain = plain, model_sse = plain;
        for (int round = 0; round < 60; ++round) {
            Args a;
            a.count = int64_t(rng() % 700);
            if (IsPixelSlot(slot)) a.count &= ~int64_t{3};
            a.t = EdgyOpacity(rng);
            a.p = EdgyOpacity(rng);
            a.fill_byte = EdgyByte(rng);
            a.fill_value = uint32_t(rng());
            auto dst = RandomBytes(rng, a.count), first = RandomBytes(rng, a.count), src = RandomBytes(rng, a.count),
                 mask = RandomBytes(rng, a.count);
            size_t dst_phase = IsPixelSlot(slot) ? 4 * (rng() % 4) : rng() % 16;
            size_t src_phase = rng() % 16;
            plain = Fnv1a(plain, RunSlot(PlainPixelKernelSet(), slot, dst, first, src, mask, a, dst_phase, src_phase).bytes);
            sse = Fnv1a(sse, RunSlot(SsePixelKernelSet(), slot, dst, first, src, mask, a, dst_phase, src_phase).bytes);
            if (SetsDiffer(slot)) {
                std::vector<uint8_t> expected = dst;
                Model(slot, false, expected, first, src, mask, a);
                model_plain = Fnv1a(model_plain, expected);
                expected = dst;
                Model(slot, true, expected, first, src, mask, a);
                model_sse = Fnv1a(model_sse, expected);
            }
        }
        bool ok = SetsDiffer(slot) ? (plain == model_plain && sse == model_sse) : plain == sse;
        if (!ok) drifted += " " + std::to_string(slot);
    }
    EXPECT_EQ(drifted, "") << "slots whose fast path drifted";
}

// A row one pixel into the table so that the behaviour of single bytes is
// easy to read: plain and SSE alike unless said.
struct Pixel {
    uint8_t b, g, r, a;
};
std::vector<uint8_t> Row(std::initializer_list<Pixel> pixels) {
    std::vector<uint8_t> row;
    for (const Pixel& p : pixels) row.insert(row.end(), {p.b, p.g, p.r, p.a});
    return row;
}

TEST_F(PixelKernelsTest, EdgeCasesOfSingleSlots) {
    for (const PixelKernelTable* table : {&PlainPixelKernelSet(), &SsePixelKernelSet()}) {
        const PixelKernelTable& k = *table;
        std::vector<uint8_t> d0 = Row({{10, 20, 30, 40}, {200, 100, 0, 255}});
        std::vector<uint8_t> s0 = Row({{250, 0, 128, 9}, {1, 2, 3, 0}});

        std::vector<uint8_t> d = d0;
        k.crossfade(d.data(), s0.data(), 0, 8);
        EXPECT_EQ(d, d0) << "crossfade with t = 0 leaves the destination";
        k.crossfade(d.data(), s0.data(), 256, 8);
        EXPECT_EQ(d, s0) << "crossfade with t = 256 gives the source in the groups";

        d = d0;
        std::vector<uint8_t> transparent = Row({{255, 255, 255, 0}, {0, 0, 0, 0}});
        k.alpha_over(d.data(), transparent.data(), 8);
        EXPECT_EQ(d, Row({{10, 20, 30, 40}, {200, 100, 0, 255}})) << "a transparent source leaves the destination";

        std::vector<uint8_t> cells(8, 0xEE);
        k.fill_cells(cells.data(), 6, 0x11223344);
        EXPECT_EQ(cells, std::vector<uint8_t>({0x44, 0x33, 0x22, 0x11, 0xEE, 0xEE, 0xEE, 0xEE})) << "count 6 writes one cell";

        // White over a transparent destination at half opacity stays white:
        // the colour saturates instead of wrapping past 255 to black.
        std::vector<uint8_t> empty = Row({{0, 0, 0, 0}}), white = Row({{255, 255, 255, 255}});
        k.alpha_over_alpha_source_opacity(empty.data(), white.data(), 128, 4);
        EXPECT_EQ(empty, Row({{255, 255, 255, 127}}));

        std::vector<uint8_t> sub_d = {200, 50}, sub_s = {50, 200};
        k.reverse_subtract(sub_d.data(), sub_s.data(), 2);
        EXPECT_EQ(sub_d, std::vector<uint8_t>({0, 150}));

        // The mask ramp decides per pixel: 0 and 1 leave it, alpha never changes.
        MaskOpacityRamp.fill(0);
        MaskOpacityRamp[7] = 1;
        MaskOpacityRamp[9] = 256;
        std::vector<uint8_t> mask = Row({{7, 0, 0, 0}, {9, 0, 0, 0}});
        d = d0;
        k.masked_over(d.data(), s0.data(), mask.data(), 0, 0, 8);
        EXPECT_EQ(d, Row({{10, 20, 30, 40}, {1, 2, 3, 255}}));
    }
}

TEST_F(PixelKernelsTest, WhereTheSetsRoundDifferently) {
    const PixelKernelTable& plain = PlainPixelKernelSet();
    const PixelKernelTable& sse = SsePixelKernelSet();
    if (&plain == &sse) GTEST_SKIP() << "no SSE set on this processor";
    // Half-way crossfade of 1 and 2: halves first (0 + 1) or the rounded average.
    std::vector<uint8_t> d = {1, 1, 1, 1, 1, 1, 1, 1}, s = {2, 2, 2, 2, 2, 2, 2, 2};
    std::vector<uint8_t> a = d;
    plain.crossfade(a.data(), s.data(), 128, 8);
    EXPECT_EQ(a[0], 1);
    a = d;
    sse.crossfade(a.data(), s.data(), 128, 8);
    EXPECT_EQ(a[0], 2);
    // Add by alpha with an opaque source: weight 256 in the plain set, 255 in the SSE set.
    std::vector<uint8_t> dst = Row({{0, 0, 0, 0}}), src = Row({{255, 255, 255, 255}});
    std::vector<uint8_t> out = dst;
    plain.add_alpha(out.data(), src.data(), 4);
    EXPECT_EQ(out[0], 255);
    out = dst;
    sse.add_alpha(out.data(), src.data(), 4);
    EXPECT_EQ(out[0], 254);
}

TEST_F(PixelKernelsTest, CpuidBitsMapToTheirFlags) {
    struct Case {
        uint32_t leaf1_edx, leaf1_ecx, ext_edx, ext_ecx;
        uint8_t CpuFeatureFlags::*flag;
    };
    const Case cases[] = {
        {1u << 23, 0, 0, 0, &CpuFeatureFlags::mmx},       {1u << 25, 0, 0, 0, &CpuFeatureFlags::sse},
        {1u << 26, 0, 0, 0, &CpuFeatureFlags::sse2},      {0, 1u << 0, 0, 0, &CpuFeatureFlags::sse3},
        {0, 1u << 9, 0, 0, &CpuFeatureFlags::ssse3},      {0, 1u << 19, 0, 0, &CpuFeatureFlags::sse41},
        {0, 1u << 20, 0, 0, &CpuFeatureFlags::sse42},     {0, 0, 1u << 31, 0, &CpuFeatureFlags::amd_3dnow},
        {0, 0, 1u << 30, 0, &CpuFeatureFlags::amd_3dnow_ext}, {0, 0, 0, 1u << 6, &CpuFeatureFlags::sse4a},
        {0, 0, 0, 1u << 11, &CpuFeatureFlags::xop},
    };
    for (const Case& c : cases) {
        CpuFeatureFlags flags = CpuFeaturesFromCpuid(c.leaf1_edx, c.leaf1_ecx, c.ext_edx, c.ext_ecx);
        int set = flags.mmx + flags.amd_3dnow + flags.amd_3dnow_ext + flags.sse + flags.sse2 + flags.sse3 +
                  flags.ssse3 + flags.sse41 + flags.sse42 + flags.sse4a + flags.xop;
        EXPECT_EQ(flags.*c.flag, 1);
        EXPECT_EQ(set, 1) << "one bit sets one flag";
    }
}

TEST_F(PixelKernelsTest, KernelLevelFollowsFlagsAndSwitches) {
    CpuFeatureFlags none{};
    CpuFeatureFlags sse_only{};
    sse_only.sse = 1;
    CpuFeatureFlags sse2 = sse_only;
    sse2.sse2 = 1;
    struct Case {
        const CpuFeatureFlags* flags;
        uint8_t sse_switch, sse2_switch;
        int level;
    };
    const Case cases[] = {
        {&none, 1, 1, 1},      // no CPUID answers: the plain set
        {&sse_only, 1, 1, 2},  {&sse_only, 0, 1, 1}, {&sse2, 1, 1, 3},
        {&sse2, 0, 1, 3},      // the SSE2 switch alone still reaches level 3
        {&sse2, 1, 0, 2},      {&sse2, 0, 0, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(KernelLevelFor(*c.flags, c.sse_switch, c.sse2_switch), c.level);
}

TEST_F(PixelKernelsTest, InstallChoosesBySettingsAndTheSwitchForcesPlain) {
    ResetSettings();
    Settings().sse_switch = 0;
    Settings().sse2_switch = 0;
    InstallPixelKernels();
    EXPECT_EQ(InstalledKernelLevel(), 1);
    EXPECT_EQ(PixelKernels.alpha_over, PlainPixelKernelSet().alpha_over);

    ResetSettings();
    InstallPixelKernels();
    if (TheCpuFeatureFlags().sse2 != 0 && std::getenv("ZORVEK_PLAIN_KERNELS") == nullptr) {
        EXPECT_EQ(InstalledKernelLevel(), 3);
        EXPECT_EQ(PixelKernels.alpha_over, SsePixelKernelSet().alpha_over);
    }
    ForcePlainPixelKernels(true);
    EXPECT_EQ(PixelKernels.alpha_over, PlainPixelKernelSet().alpha_over);
    ForcePlainPixelKernels(false);
    if (InstalledKernelLevel() >= 2 && std::getenv("ZORVEK_PLAIN_KERNELS") == nullptr) {
        EXPECT_EQ(PixelKernels.alpha_over, SsePixelKernelSet().alpha_over);
    }
}

}  // namespace
}  // namespace zk
