// The blend mode formulas written out independently of the engine's
// tables, in floating point, for the layer tests to check against.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zk::test {

// Truncating quotient, computed in doubles (exact for these magnitudes).
inline int Div(double numerator, double denominator) {
    return static_cast<int>(std::trunc(numerator / denominator));
}
inline int Clamp255(int v) { return std::min(std::max(v, 0), 255); }

// F(s, d) of blend mode `mode` (0..18).
inline int BlendFormula(int mode, int s, int d) {
    switch (mode) {
    case 0: return s;
    case 1: return std::min(s + d, 255);
    case 2: return std::max(s - d, 0);
    case 3: return Div(s * d, 255);
    case 4: return d == 0 ? (s > 0 ? 255 : 0) : std::min(Div(255 * s, d), 255);
    case 5: return s + d - Div(s * d, 255);
    case 6: return std::max(s, d);
    case 7: return std::min(s, d);
    case 8: return std::abs(s - d);
    case 9: return s + d - 2 * Div(s * d, 255);
    case 10: return d < 128 ? Div(2 * s * d, 255) : d == 128 ? s : 2 * d - 257 + Div(s * (512 - 2 * d), 255);
    case 11: return std::min(Div(256 * d, 256 - s), 255);
    case 12: return std::max(255 - Div(256 * (255 - d), s + 1), 0);
    case 13: return std::max(s + d - 255, 0);
    case 14: return s < 128 ? Div(2 * s * d, 255) : s == 128 ? d : 2 * s - 257 + Div(d * (512 - 2 * s), 255);
    case 15: {
        // The shifts of the engine's formula are floors of a division.
        const double k = 16384.0;
        const double root = std::sqrt(256.0 - d);
        auto shifted = [&](double v, double by) { return static_cast<int>(std::floor((s - 128) * std::trunc(v) / by)); };
        if (s < 128) return Clamp255(d + shifted(k - root, 32768.0));
        if (d <= 32) return Clamp255(d + shifted(k - (768 - 8 * d) * root, 32768.0));
        return Clamp255(d + shifted(k - root, 65536.0));
    }
    case 16:
        if (s == 0) return 0;
        if (s < 128) return std::max(Div(510 * s - 65025 + 255 * d, 2 * s), 0);
        if (s < 255) return std::min(Div(255 * d, 510 - 2 * s), 255);
        return 255;
    case 17: return Clamp255(2 * s + d - 256);
    case 18: return s < 128 ? std::min(d, 2 * s) : std::max(d, 2 * s - 255);
    }
    return -1;
}

// d moved (f - d) * w / 2^shift of the way, the shift flooring.
inline int Toward(int d, int f, long long w, int shift) {
    return d + static_cast<int>(std::floor(static_cast<double>((f - d) * w) / static_cast<double>(1LL << shift)));
}

}  // namespace zk::test
