// Rotation against a reference that computes each source position from
// the formula directly (no incremental sums).
#include <cmath>
#include <vector>

#include "effects/cg_operations.h"
#include "effects/rotation.h"
#include "tests/effects/effects_test_support.h"

namespace zk::effects_test {
namespace {

// method 11 fill, 12 keep (outside: `before`), 0 bilinear.
Pixels RotateReference(const Pixels& s, int64_t value, int method, const Pixels& before) {
    const int64_t a = ((value % 360) + 360) % 360;
    const double theta = double(a) * 3.1415926535 / 180;
    const int64_t c = int64_t(std::cos(theta) * 65536), sn = int64_t(std::sin(theta) * 65536);
    const int64_t w = s.width, h = s.height, hx = w / 2, my = h / 2;
    Pixels out = before;
    if (a == 0) return s;
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x) {
            const int64_t sx = hx * 65536 + c * (x - hx) - sn * (y - my);
            const int64_t sy = my * 65536 + sn * (x - hx) + c * (y - my);
            const bool inside = sx >= 0 && sy >= 0 && sx / 65536 < w && sy / 65536 < h;
            if (method != 0 || a % 90 == 0) {
                if (inside) out.At(x, y) = s.At(sx / 65536, sy / 65536);
                else if (method != 12 || a % 90 == 0) out.At(x, y) = 0;
                continue;
            }
            const int64_t x0 = sx >> 16, x1 = (sx + c) >> 16, y0 = sy >> 16, y1 = (sy + sn) >> 16;
            auto in = [&](int64_t cx, int64_t cy) { return cx >= 0 && cy >= 0 && cx < w && cy < h; };
            if (!in(x0, y0) || !in(x1, y0) || !in(x0, y1) || !in(x1, y1)) {
                out.At(x, y) = 0;
                continue;
            }
            const int64_t fx = (sx >> 8) & 255, fy = (sy >> 8) & 255;
            int b[4];
            for (int ch = 0; ch < 4; ++ch) {
                const int64_t p00 = s.Byte(x0, y0, ch), p10 = s.Byte(x1, y0, ch);
                const int64_t p01 = s.Byte(x0, y1, ch), p11 = s.Byte(x1, y1, ch);
                const int64_t top = p00 + (((p10 - p00) * fx) >> 8);
                const int64_t bottom = p01 + (((p11 - p01) * fx) >> 8);
                b[ch] = int(top + (((bottom - top) * fy) >> 8));
            }
            out.At(x, y) = Bgra(b[0], b[1], b[2], b[3]);
        }
    return out;
}

class RotationTest : public EffectsTest {};

int32_t RunRotation(int method, NamedTreeNode* target, NamedTreeNode* other, int64_t value, int32_t count) {
    if (method == 0) return RotateCgBilinear(target, other, 0, 0, 0, 0, value, count, 10);
    return RotateCg(target, other, 0, 0, 0, 0, value, count, method);
}

TEST_F(RotationTest, EveryMethodMatchesTheFormulaInPlaceAndIntoAnotherLayer) {
    // Rotation runs on the calling thread: a running worker pool changes nothing.
    for (int workers : {1, 4}) {
        UseWorkers(workers);
        for (const auto& [w, h] : std::vector<std::pair<int32_t, int32_t>>{{13, 9}, {12, 8}, {1, 1}, {7, 20}}) {
            const Pixels source = RandomPixels(w, h, uint32_t(w * 100 + h));
            const Pixels zero{w, h, std::vector<uint32_t>(size_t(w * h), 0)};
            const Pixels previous = RandomPixels(w, h, 77);
            for (int64_t value : {0, 360, 37, -37, 90, -90, 180, 270, 45, 359, 1, 123, 720 + 200, -1000000007}) {
                for (int method : {11, 12, 0}) {
                    SCOPED_TRACE(::testing::Message() << w << "x" << h << " value " << value << " method " << method);
                    NamedTreeNode* target = Layer("t", source, 0);
                    ASSERT_EQ(RunRotation(method, target, nullptr, value, 0), 0);
                    EXPECT_TRUE(Read(target) == RotateReference(source, value, method, zero));
                    EXPECT_EQ(Image(target).alpha_in_use, value % 180 != 0 ? 1 : 0);

                    // Into another layer of the same size: its block is written,
                    // so the keeping method leaves its pixels around the picture.
                    target = Layer("t", source, 0);
                    NamedTreeNode* other = Layer("o", previous, 0);
                    const uint8_t* block = Image(other).owned_block.data();
                    ASSERT_EQ(RunRotation(method, target, other, value, 1), 0);
                    EXPECT_TRUE(Read(other) == RotateReference(source, value, method, previous));
                    EXPECT_EQ(Image(other).owned_block.data(), block);
                    EXPECT_TRUE(Read(target) == source);

                    // Into another layer of another size: a new block.
                    other = Layer("o", RandomPixels(3, 2, 5), 1);
                    ASSERT_EQ(RunRotation(method, target, other, value, 1), 0);
                    EXPECT_TRUE(Read(other) == RotateReference(source, value, method, zero));
                    EXPECT_EQ(Image(other).alpha_in_use, value % 180 != 0 ? 1 : 0);
                }
            }
        }
    }
    ExpectClean();
}

TEST_F(RotationTest, QuarterTurns) {
    // 180 twice is the identity on odd sizes.
    const Pixels odd = RandomPixels(15, 11, 3);
    NamedTreeNode* target = Layer("t", odd, 0);
    ASSERT_EQ(RotateCg(target, nullptr, 0, 0, 0, 0, 180, 0, 11), 0);
    EXPECT_FALSE(Read(target) == odd);
    ASSERT_EQ(RotateCg(target, nullptr, 0, 0, 0, 0, 180, 0, 11), 0);
    EXPECT_TRUE(Read(target) == odd);
    EXPECT_EQ(Image(target).alpha_in_use, 0);

    // 90 on 200 x 100: the picture stands 100 wide in the middle, transparent black beside it.
    const Pixels wide = PicturePixels(200, 100, 8);
    target = Layer("t", wide, 0);
    ASSERT_EQ(RotateCgBilinear(target, nullptr, 0, 0, 0, 0, 90, 0, 0), 0);
    const Pixels got = Read(target);
    for (int64_t y = 0; y < 100; ++y)
        for (int64_t x = 0; x < 200; ++x) {
            const bool beside = x < 50 || x >= 150;
            if (beside) {
                EXPECT_EQ(got.At(x, y), 0u) << x << "," << y;
            }
        }
    EXPECT_EQ(got.At(100, 50), wide.At(100, 50)) << "the centre stays";
    EXPECT_EQ(Image(target).alpha_in_use, 1);
    // -90 turns as 270.
    NamedTreeNode* a = Layer("a", wide, 0);
    NamedTreeNode* b = Layer("b", wide, 0);
    ASSERT_EQ(RotateCg(a, nullptr, 0, 0, 0, 0, -90, 0, 12), 0);
    ASSERT_EQ(RotateCg(b, nullptr, 0, 0, 0, 0, 270, 0, 12), 0);
    EXPECT_TRUE(Read(a) == Read(b));
}

TEST_F(RotationTest, BlocksNoKernelWritesAreTransparentBlack) {
    const Pixels source = RandomPixels(11, 9, 4);
    const Pixels zero{11, 9, std::vector<uint32_t>(99, 0)};
    // The keeping method into a new block: the corners are transparent black.
    NamedTreeNode* target = Layer("t", source, 0);
    ASSERT_EQ(RotateCg(target, nullptr, 0, 0, 0, 0, 30, 0, 12), 0);
    EXPECT_TRUE(Read(target) == RotateReference(source, 30, 11, zero));
    // A method without a kernel: transparent black, also in a reused block.
    for (int32_t method : {0, 13, -5}) {
        target = Layer("t", source, 0);
        ASSERT_EQ(RotateCg(target, nullptr, 0, 0, 0, 0, 30, 0, method), 0);
        EXPECT_TRUE(Read(target) == zero);
        target = Layer("t", source, 0);
        NamedTreeNode* other = Layer("o", RandomPixels(11, 9, 1), 0);
        ASSERT_EQ(RotateCg(target, other, 0, 0, 0, 0, 30, 1, method), 0);
        EXPECT_TRUE(Read(other) == zero);
    }
}

TEST_F(RotationTest, IntoALayerSharingTheTargetsImageReadsTheImageAsItWas) {
    const Pixels source = RandomPixels(11, 9, 6);
    const Pixels zero{11, 9, std::vector<uint32_t>(99, 0)};
    for (int method : {11, 12, 0}) {
        NamedTreeNode* target = Layer("t", source, 0);
        NamedTreeNode* other = CreateTreeNode(root_, "shared", false, 1);
        ShareCgImage(other, &Image(target));
        ASSERT_EQ(RunRotation(method, target, other, 37, 1), 0);
        EXPECT_TRUE(Read(other) == RotateReference(source, 37, method, zero)) << method;
        FreeTreeNode(other);
    }
}

}  // namespace
}  // namespace zk::effects_test
