// The image operations of command 2 over arbitrary arguments: which
// operation, the sizes of up to three small images, their pixels and
// flags, and every rectangle, value and count taken from the input. Sizes
// a script can ask for but that only cost time (canvas margins and scaled
// sizes in the thousands) are kept within a few hundred pixels; everything
// else, including extreme values and inverted rectangles, reaches the
// operations as given.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/named_tree.h"
#include "core/root_trees.h"
#include "effects/cg_operations.h"
#include "effects/scaling.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/worker_pool.h"
#include "renderer/cpu_scalers.h"
#include "tests/fuzz/decoder_fuzz_support.h"

namespace {

// Reads the input front to back; 0 past its end.
struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t U8() { return at < size ? data[at++] : 0; }
    int32_t I32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(U8()) << (8 * i);
        return int32_t(v);
    }
    int64_t I64() { return int64_t(uint64_t(uint32_t(I32())) | uint64_t(uint32_t(I32())) << 32); }
    // A small signed number: -range..range.
    int32_t Small(int32_t range) { return int32_t(I32() % (range + 1)); }
};

zk::NamedTreeNode* MakeLayer(zk::NamedTreeNode* root, const char* name, Reader& in) {
    zk::NamedTreeNode* node = zk::CreateTreeNode(root, name, false, 1);
    zk::CgImage* image = zk::CreateCgImage(node);
    if (image == nullptr) return node;
    const int32_t w = 1 + in.U8() % 24, h = 1 + in.U8() % 24;
    image->width = w;
    image->height = h;
    if (!zk::AllocCgPixels(*image, w, h)) return node;
    uint8_t* p = image->owned_block.data();
    for (int64_t i = 0; i < int64_t{w} * h * 4; ++i) p[i] = uint8_t(in.U8() * 37 + i);
    image->alpha_in_use = in.U8() & 1;
    image->opacity = int16_t(in.U8() % 3 == 0 ? in.Small(300) : 256);
    image->keep_block = in.U8() & 1;
    return node;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::fuzzing::SetUpDecoderFuzzing();
    static bool jobs = [] {
        zk::RegisterScalerJobs();
        zk::RegisterEffectJobs();
        zk::InitPathCharTable();
        return true;
    }();
    (void)jobs;
    Reader in{data, size};
    zk::NamedTreeNode* root = zk::CreateRootNode();
    zk::TheRootTrees().layers = root;
    zk::NamedTreeNode* target = MakeLayer(root, "t", in);
    zk::NamedTreeNode* other = MakeLayer(root, "o", in);
    zk::NamedTreeNode* third = MakeLayer(root, "p", in);
    // Another layer that shows the target's own image.
    if (in.U8() % 4 == 0) zk::ShareCgImage(other, zk::LayerImage(target));

    const uint8_t operation = in.U8();
    const int32_t count = in.U8() % 4;
    auto coordinate = [&in] { return in.U8() % 8 == 0 ? in.I32() : in.I32() % 64; };
    const int32_t x1 = coordinate(), y1 = coordinate(), x2 = coordinate(), y2 = coordinate();
    const int64_t value = in.U8() % 2 == 0 ? in.I64() : in.Small(300);
    const int32_t value2 = in.I32();
    switch (operation % 12) {
        case 0:
        case 1: {
            static const int32_t kOps[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 19, 20, 21, 22,
                                           23, 24, 27, 28, 30, 38, 39, 40, 0, 13, 99};
            const int32_t op = kOps[in.U8() % (sizeof(kOps) / sizeof(kOps[0]))];
            zk::RunCgFilter(op, target, count != 0 ? other : nullptr, x1, y1, x2, y2, value, value2, count,
                            in.U8() % 5);
            break;
        }
        case 2: {
            static const int32_t kKinds[] = {10, 21, 31, 41, 51, 20, 0};
            const int32_t kind = kKinds[in.U8() % 7];
            const int32_t w100 = 100 + int32_t(uint32_t(in.I32()) % 25600);
            const int32_t h100 = 100 + int32_t(uint32_t(in.I32()) % 25600);
            // Corners in 1/100 pixel; extreme ones wrap to any 32-bit value.
            auto corner = [&] { return int32_t(int64_t{coordinate()} * 100 + in.U8() % 100); };
            const int32_t c1 = corner(), c2 = corner(), c3 = corner(), c4 = corner();
            zk::ScaleCg(target, count != 0 ? other : nullptr, c1, c2, c3, c4, w100, h100, count, kind);
            break;
        }
        case 3: zk::RotateCg(target, count != 0 ? other : nullptr, 0, 0, 0, 0, value, count, 10 + in.U8() % 4); break;
        case 4: zk::RotateCgBilinear(target, count != 0 ? other : nullptr, 0, 0, 0, 0, value, count, 10); break;
        case 5: zk::DrawCgOver(target, other, x1, y1, x2, y2, 1); break;
        case 6: zk::DrawCgOverWithOpacity(target, other, x1, y1, x2, y2, 1); break;
        case 7: zk::KeepDifferentPixels(target, in.U8() & 1 ? target : other, x1, y1, x2, y2, 1, 0); break;
        case 8: zk::KeepEqualPixels(target, other, x1, y1, x2, y2, 1, 0); break;
        case 9: zk::MixCgsIntoThird(target, other, in.U8() & 1 ? third : nullptr, x1, y1, x2, y2, value, 2); break;
        case 10: zk::TrimCgToAlpha(target, count != 0 ? other : nullptr, count, in.U8(), in.U8()); break;
        default:
            zk::ResizeCgCanvas(target, count != 0 ? other : nullptr, count, in.Small(200), in.Small(200),
                               in.Small(200), in.Small(200));
            break;
    }
    zk::FreeTreeNode(root);
    zk::TheRootTrees() = zk::RootTrees{};
    return 0;
}
