// RunCgFilter: runs one filter of the image operation command over a
// rectangle of the target layer's image, in place or into another layer,
// and owns the blocks the filters write.
#include <cstring>
#include <span>

#include "effects/blur_filters.h"
#include "effects/cg_operations.h"
#include "effects/cg_result_block.h"
#include "effects/pixel_filters.h"
#include "layers/cg_image.h"
#include "layers/colour_tone.h"
#include "layers/dirty_rect.h"
#include "layers/emote_players.h"
#include "layers/pixel_kernels.h"

namespace zk {

namespace {

enum CgFilterOp : int32_t {
    kFilterBrightness = 1,
    kFilterBlur = 2,
    kFilterBoxBlurRows = 3,
    kFilterBoxBlurColumns = 4,
    kFilterBoxBlur = 5,
    kFilterSoftShadow = 6,
    kFilterShadow = 7,
    kFilterCopyWithAttributes = 8,
    kFilterCopy = 9,
    kFilterShuffle = 10,
    kFilterMirror = 11,
    kFilterTone = 12,
    kFilterThreshold = 19,
    kFilterMosaic = 20,
    kFilterWaveRows = 21,
    kFilterWaveColumns = 22,
    kFilterWaveBoth = 23,
    kFilterFill = 24,
    kFilterAlphaFade = 27,
    kFilterNegate = 28,
    kFilterSaturation = 30,
    kFilterFlip = 38,
    kFilterSepia = 39,
    kFilterSwirl = 40,
};

// The modifiers change the rectangle of a whole image; every other op
// makes a rectangle-sized image.
bool IsModifier(int32_t op) { return op == kFilterThreshold || op == kFilterFill || op == kFilterAlphaFade; }

bool IsKnownOp(int32_t op) {
    switch (op) {
        case kFilterBrightness: case kFilterBlur: case kFilterBoxBlurRows: case kFilterBoxBlurColumns:
        case kFilterBoxBlur: case kFilterSoftShadow: case kFilterShadow: case kFilterCopyWithAttributes:
        case kFilterCopy: case kFilterShuffle: case kFilterMirror: case kFilterTone: case kFilterThreshold:
        case kFilterMosaic: case kFilterWaveRows: case kFilterWaveColumns: case kFilterWaveBoth: case kFilterFill:
        case kFilterAlphaFade: case kFilterNegate: case kFilterSaturation: case kFilterFlip: case kFilterSepia:
        case kFilterSwirl:
            return true;
        default: return false;
    }
}

// Runs a modifier on a whole image; returns the image's alpha-in-use flag
// afterwards.
uint8_t RunModifier(int32_t op, uint8_t* pixels, const CgArea& area, int32_t value, int32_t value2,
                    int32_t sub_operation, uint8_t flag) {
    switch (op) {
        case kFilterThreshold: ThresholdCg(pixels, area, value); return flag;
        case kFilterFill: return FillCgRect(pixels, area, sub_operation, uint32_t(value), flag);
        case kFilterAlphaFade: return FadeCgAlphaColumns(pixels, area, value, value2);
        default: return flag;
    }
}

// Tone and saturation: the rectangle is copied, then changed in place.
void RunToneFilter(int32_t op, uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value) {
    CopyRectRows(out, source, area);
    const int32_t rw = area.Columns(), rh = area.Rows();
    const size_t bytes = size_t(rw) * size_t(rh) * 4;
    const LayerRect whole = {0, 0, int64_t{rw} - 1, int64_t{rh} - 1};
    std::span<uint8_t> pixels(out, bytes);
    if (op == kFilterTone) {
        ApplyColourTone(pixels, pixels, whole, rw, rh, rw, rh, uint32_t(value) & 0xFFFFFF);
    } else {
        ApplySaturation(pixels, pixels, whole, rw, rh, rw, rh, value);
    }
}

// Runs a rectangle-sized filter into `out`.
void RunRectFilter(int32_t op, uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value,
                   int32_t value2, uint8_t alpha_in_use) {
    switch (op) {
        case kFilterBrightness: AdjustCgBrightness(out, source, area, value); break;
        case kFilterBlur: BlurCg(out, source, area, value, alpha_in_use); break;
        case kFilterBoxBlurRows: BoxBlurCgRows(out, source, area, value, alpha_in_use); break;
        case kFilterBoxBlurColumns: BoxBlurCgColumns(out, source, area, value, alpha_in_use); break;
        case kFilterBoxBlur: BoxBlurCg(out, source, area, value, alpha_in_use); break;
        case kFilterSoftShadow: SoftShadowCg(out, source, area, value); break;
        case kFilterShadow: ShadowCg(out, source, area, value, alpha_in_use); break;
        case kFilterCopyWithAttributes:
        case kFilterCopy: CopyRectRows(out, source, area); break;
        case kFilterShuffle: ShuffleCgBlocks(out, source, area, value, ShuffleRandom()); break;
        case kFilterMirror: MirrorCg(out, source, area); break;
        case kFilterTone:
        case kFilterSaturation: RunToneFilter(op, out, source, area, value); break;
        case kFilterMosaic: MosaicCg(out, source, area, value); break;
        case kFilterWaveRows:
        case kFilterWaveColumns:
        case kFilterWaveBoth: WaveDistortCg(out, source, area, op, value, value2); break;
        case kFilterNegate: NegateCg(out, source, area); break;
        case kFilterFlip: FlipCg(out, source, area); break;
        case kFilterSepia: SepiaCg(out, source, area); break;
        case kFilterSwirl: SwirlCg(out, source, area, value); break;
        default: break;
    }
}

}  // namespace

int32_t RunCgFilter(int32_t op, NamedTreeNode* target, NamedTreeNode* other, int32_t x1, int32_t y1, int32_t x2,
                    int32_t y2, int64_t value, int32_t value2, int32_t count, int32_t sub_operation) {
    CgImage* image = ImageWithPixels(target);
    if (image == nullptr) return 0;
    if (!IsKnownOp(op)) return 0;
    const int32_t w = image->width, h = image->height;
    if (w <= 0 || h <= 0) return 0;
    // The command clamps the rectangle; clamping again keeps every filter
    // inside the image whoever calls.
    const CgArea area = ClampedArea(x1, y1, x2, y2, w, h);
    // An empty rectangle changes nothing. The fade uses the rows only.
    if (area.y2 < area.y1 || (op != kFilterAlphaFade && area.x2 < area.x1)) return 0;
    const int32_t v = int32_t(value);  // the filters take the value's low 32 bits
    const uint8_t* source = image->owned_block.data();

    if (count == 0) {
        if (IsModifier(op)) {
            image->alpha_in_use =
                RunModifier(op, image->owned_block.data(), area, v, value2, sub_operation, image->alpha_in_use);
            InvalidateLayer(target);
            return 0;
        }
        PixelBlock block = AllocCgResultBlock(area.Columns(), area.Rows());
        if (block.empty()) return -1;
        RunRectFilter(op, block.data(), source, area, v, value2, image->alpha_in_use);
        InvalidateLayer(target);
        InstallCgPixels(*image, std::move(block), area.Columns(), area.Rows());
        InvalidateLayer(target);
        return 0;
    }

    CgImage* receiver = LayerImage(other);
    if (receiver == nullptr) return 0;
    const bool modifier = IsModifier(op);
    const int32_t out_w = modifier ? w : area.Columns();
    const int32_t out_h = modifier ? h : area.Rows();
    PixelBlock block = AllocCgResultBlock(out_w, out_h);
    if (block.empty()) return -1;
    uint8_t flag = image->alpha_in_use;
    if (modifier) {
        PixelKernels.copy_bytes(block.data(), source, int64_t{w} * h * 4);
        const uint8_t computed = RunModifier(op, block.data(), area, v, value2, sub_operation, receiver->alpha_in_use);
        if (op == kFilterAlphaFade || (op == kFilterFill && (sub_operation == 2 || sub_operation == 3))) {
            flag = computed;
        }
    } else {
        RunRectFilter(op, block.data(), source, area, v, value2, image->alpha_in_use);
    }
    if (op == kFilterCopyWithAttributes || op == kFilterCopy) HandOverEmotePlayer(*image, *receiver);
    InstallCgPixels(*receiver, std::move(block), out_w, out_h);
    InvalidateLayer(other);
    if (op == kFilterCopyWithAttributes) CopyLayerAttributes(target, other);
    receiver->alpha_in_use = flag;
    return 0;
}

}  // namespace zk
