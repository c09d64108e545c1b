// Dirty rectangles and the compositor on small layer trees. Expected pixels
// come from the mode formulas or from values every kernel set agrees on
// (opaque copies, alpha 0 and 255); the dirty-rectangle bookkeeping is
// checked against a full recomposition of the same tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/system_facts.h"
#include "core/window_record.h"
#include "layers/blend_jobs.h"
#include "layers/blend_lookup_tables.h"
#include "layers/blend_tables.h"
#include "layers/cg_image.h"
#include "layers/colour_tone.h"
#include "layers/compositor.h"
#include "layers/dirty_rect.h"
#include "layers/pixel_kernels.h"
#include "layers/worker_pool.h"
#include "platform/ui.h"
#include "tests/layers/blend_formulas.h"
#include "tests/layers/cg_pixels.h"
#include "tests/layers/window_layer_set.h"

namespace zk {
namespace {

using layer_test::Paint;
using layer_test::PixelFn;
using layer_test::ReadPixel;

uint32_t Channel(uint32_t pixel, int c) { return (pixel >> (8 * c)) & 0xFF; }

// One window (window 0) showing "W0" of kWidth x kHeight, over a layer root
// of its own, with the recording UI installed.
class CompositorTest : public ::testing::Test {
protected:
    static constexpr int32_t kWidth = 64;
    static constexpr int32_t kHeight = 48;

    void SetUp() override {
        platform::InstallUi(&ui_);
        const auto [width, height] = WindowSize();
        layer_test::WindowLayerSet set = layer_test::MakeWindowLayerSet(width, height, false);
        root_ = set.root;
        w0_ = set.w0;
    }
    void TearDown() override {
        layer_test::ReleaseWindowLayerSet();
        platform::InstallUi(nullptr);
    }

    virtual std::pair<int32_t, int32_t> WindowSize() const { return {kWidth, kHeight}; }
    CgImage& Window() { return *LayerImage(w0_); }

    NamedTreeNode* AddLayer(NamedTreeNode* parent, const std::string& name, int64_t order, int64_t x, int64_t y,
                            int32_t width, int32_t height, const PixelFn& pixel, bool group = false) {
        NamedTreeNode* node = CreateTreeNode(parent, name, group, order);
        EXPECT_NE(node, nullptr);
        CgImage* image = CreateCgImage(node);
        image->x = x;
        image->y = y;
        image->width = width;
        image->height = height;
        EXPECT_TRUE(AllocCgPixels(*image, width, height));
        if (width > 0 && height > 0) Paint(*image, pixel);
        InvalidateLayer(node);
        return node;
    }
    NamedTreeNode* AddSolid(const std::string& name, int64_t order, int64_t x, int64_t y, int32_t w, int32_t h,
                            uint32_t colour) {
        return AddLayer(w0_, name, order, x, y, w, h, [colour](int64_t, int64_t) { return colour; });
    }

    // The whole window dirty, as at start-up.
    void DirtyWholeWindow() {
        CgImage& w = Window();
        w.dirty_valid = 1;
        w.dirty_count = 1;
        w.changed = 1;
        w.dirty_rect = {0, 0, int64_t{w.width} - 1, int64_t{w.height} - 1};
    }

    // One frame's draw stage and end.
    int Frame() {
        int result = ComposeWindow(0);
        ResetDirtyRects(root_->first_child);
        TheFrameCounters.frame_count += 1;
        return result;
    }

    std::vector<uint8_t> WindowPixels() {
        const CgImage& w = Window();
        return std::vector<uint8_t>(w.current_pixels, w.current_pixels + size_t(w.width) * w.height * 4);
    }

    platform::RecordingUi ui_;
    NamedTreeNode* root_ = nullptr;
    NamedTreeNode* w0_ = nullptr;
};

// ---------------------------------------------------------------- dirty rectangles

TEST_F(CompositorTest, MergeClipsToTheImageAndRefusesWhatLiesOutside) {
    NamedTreeNode* small = AddSolid("small", 1, 0, 0, 4, 4, 0);
    CgImage& image = *LayerImage(small);
    image.dirty_valid = 0;
    image.changed = 0;
    LayerRect r = {-5, -5, 10, 10};
    EXPECT_EQ(MergeDirtyRect(small, r), 0);
    EXPECT_EQ(r, (LayerRect{0, 0, 3, 3}));
    EXPECT_EQ(image.dirty_rect, (LayerRect{0, 0, 3, 3}));

    ResetDirtyRects(small);  // a leaf: its dirty state stays
    image.dirty_valid = 0;
    image.changed = 0;
    LayerRect outside = {4, 0, 9, 3};
    EXPECT_EQ(MergeDirtyRect(small, outside), -1);
    EXPECT_EQ(outside, (LayerRect{-999999999, -999999999, -999999999, -999999999}));
    EXPECT_EQ(image.changed, 0);
    EXPECT_EQ(image.dirty_valid, 0);
}

TEST_F(CompositorTest, MovedLayerLeavesOldAndNewAreaDirtyInEveryAncestor) {
    NamedTreeNode* group = AddLayer(w0_, "g", 1, 10, 10, 40, 30, [](int64_t, int64_t) { return 0u; }, true);
    NamedTreeNode* sprite = AddLayer(group, "s", 1, 2, 3, 5, 5, [](int64_t, int64_t) { return 0u; });
    ResetDirtyRects(root_->first_child);

    InvalidateLayer(sprite);
    LayerImage(sprite)->x = 20;
    LayerImage(sprite)->y = 13;
    InvalidateLayer(sprite);
    EXPECT_EQ(LayerImage(group)->dirty_rect, (LayerRect{2, 3, 24, 17}));
    EXPECT_EQ(Window().dirty_rect, (LayerRect{12, 13, 34, 27}));
    EXPECT_EQ(Window().changed, 1);

    // Moved wholly outside its group: nothing changes in the group or above.
    ResetDirtyRects(root_->first_child);
    LayerImage(sprite)->x = 100;
    InvalidateLayer(sprite);
    EXPECT_EQ(LayerImage(group)->dirty_valid, 0);
    EXPECT_EQ(Window().dirty_valid, 0);
    EXPECT_EQ(Window().changed, 0);
}

TEST_F(CompositorTest, InvalidationStopsAtAParentWithoutAnImage) {
    NamedTreeNode* bare = CreateTreeNode(w0_, "bare", true, 1);
    NamedTreeNode* child = AddLayer(bare, "c", 1, 0, 0, 4, 4, [](int64_t, int64_t) { return 0u; });
    ResetDirtyRects(root_->first_child);
    EXPECT_EQ(InvalidateLayer(child), 0);
    EXPECT_EQ(PropagateDirtyRect(child), 0);
    EXPECT_EQ(Window().dirty_valid, 0);
    EXPECT_EQ(InvalidateLayer(bare), -1);
    EXPECT_EQ(InvalidateLayer(nullptr), -1);
}

TEST_F(CompositorTest, PropagationUnitesOnlyDrawableLeaves) {
    NamedTreeNode* group = AddLayer(w0_, "g", 1, 0, 0, 60, 40, [](int64_t, int64_t) { return 0u; }, true);
    AddLayer(group, "shown", 1, 5, 5, 4, 4, [](int64_t, int64_t) { return 0u; });
    LayerImage(AddLayer(group, "hidden", 2, 30, 30, 4, 4, [](int64_t, int64_t) { return 0u; }))->visible = 0;
    CgImage* masked_off = LayerImage(AddLayer(group, "off", 3, 40, 2, 4, 4, [](int64_t, int64_t) { return 0u; }));
    masked_off->mask_layer_name = "shown";
    masked_off->mask_level = 0;
    LayerImage(AddLayer(group, "clear", 4, 50, 2, 4, 4, [](int64_t, int64_t) { return 0u; }))->opacity = 0;
    CgImage* gpu = LayerImage(AddLayer(group, "gpu", 5, 50, 30, 4, 4, [](int64_t, int64_t) { return 0u; }));
    gpu->texture_kind = kTextureKindGrid;
    ResetDirtyRects(root_->first_child);

    CgImage& g = *LayerImage(group);
    g.dirty_rect = {10, 10, 12, 12};
    g.dirty_valid = 1;
    g.dirty_count = 1;
    EXPECT_EQ(PropagateDirtyRect(group), 0);
    EXPECT_EQ(g.dirty_rect, (LayerRect{5, 5, 12, 12}));
    EXPECT_EQ(Window().dirty_rect, (LayerRect{5, 5, 12, 12}));
}

TEST_F(CompositorTest, FrameEndResetsGroupsAndCanvasesButNotLeaves) {
    NamedTreeNode* group = AddLayer(w0_, "g", 1, 0, 0, 8, 8, [](int64_t, int64_t) { return 0u; }, true);
    NamedTreeNode* leaf = AddLayer(group, "s", 1, 0, 0, 2, 2, [](int64_t, int64_t) { return 0u; });
    CgImage& l = *LayerImage(leaf);
    l.dirty_valid = 1;
    l.dirty_count = 3;
    l.changed = 1;
    GetWindowRecord(0)->canvas->dirty_count = 2;
    Window().presented_rect = {0, 0, 5, 5};
    const int32_t window_count = Window().dirty_count;

    ResetDirtyRects(root_->first_child);
    for (CgImage* g : {&Window(), LayerImage(group), GetWindowRecord(0)->canvas.get()}) {
        EXPECT_EQ(g->dirty_valid, 0);
        EXPECT_EQ(g->dirty_count, 0);
        EXPECT_EQ(g->changed, 0);
        EXPECT_EQ(g->presented_rect, kEmptyPresentedRect);
    }
    EXPECT_EQ(Window().previous_dirty_count, window_count);
    EXPECT_EQ(GetWindowRecord(0)->canvas->previous_dirty_count, 2);
    EXPECT_EQ(l.dirty_valid, 1);
    EXPECT_EQ(l.dirty_count, 3);
    EXPECT_EQ(l.changed, 1);
}

TEST(BlitRectTest, IntersectionRelationsInSixtyFourBits) {
    struct Case {
        int64_t a, p, b, q;
        uint8_t relation;
        int64_t overlap, start, offset;
    };
    const Case cases[] = {
        {5, 10, 0, 100, 0, 10, 5, 0},     // inside
        {95, 10, 0, 100, 1, 5, 95, 0},    // runs past the end
        {-3, 10, 0, 100, 2, 7, 0, 3},     // starts before
        {-3, 200, 0, 100, 3, 100, 0, 3},  // covers
        {150, 10, 0, 100, 1, -50, 150, 0},
        // A position past 32 bits must not wrap onto the canvas.
        {(int64_t{1} << 32) + 5, 10, 0, 100, 1, -(int64_t{1} << 32) + 95, (int64_t{1} << 32) + 5, 0},
        {INT64_MAX - 5, 100, 0, 100, 1, INT64_MIN + 106, INT64_MAX - 5, 0},
    };
    for (const Case& c : cases) {
        BlitRect blit;
        blit.a_x = c.a;
        blit.a_width = c.p;
        blit.b_x = c.b;
        blit.b_width = c.q;
        blit.a_y = 0;
        blit.a_height = 1;
        blit.b_y = 0;
        blit.b_height = 1;
        IntersectBlitRects(blit);
        EXPECT_EQ(blit.x_relation, c.relation) << c.a;
        EXPECT_EQ(blit.overlap_width, c.overlap) << c.a;
        EXPECT_EQ(blit.start_x, c.start) << c.a;
        EXPECT_EQ(blit.offset_x, c.offset) << c.a;
        EXPECT_EQ(blit.overlap_height, 1);
    }
}

// ---------------------------------------------------------------- composition

TEST_F(CompositorTest, UncoveredDirtyAreaIsClearedToTransparentBlack) {
    CgImage& w = Window();
    Paint(w, [](int64_t, int64_t) { return 0xFFFFFFFFu; });
    w.dirty_valid = 1;
    w.dirty_count = 1;
    w.changed = 1;
    w.dirty_rect = {10, 5, 19, 14};
    EXPECT_EQ(Frame(), 0);
    EXPECT_EQ(ReadPixel(w, 10, 5), 0u);
    EXPECT_EQ(ReadPixel(w, 19, 14), 0u);
    EXPECT_EQ(ReadPixel(w, 9, 5), 0xFFFFFFFFu);
    EXPECT_EQ(ReadPixel(w, 20, 14), 0xFFFFFFFFu);
    EXPECT_EQ(ReadPixel(w, 10, 15), 0xFFFFFFFFu);
    EXPECT_EQ(w.presented_rect, kEmptyPresentedRect);  // reset at frame end
}

TEST_F(CompositorTest, OpaqueCoverHidesEverythingUnderIt) {
    // Drawing the layer under the cover would stop the frame: its mask is
    // of another size.
    AddSolid("m", 1, 0, 0, 3, 3, 0xFFFFFFFF);
    CgImage* under = LayerImage(AddSolid("under", 2, 0, 0, kWidth, kHeight, 0xFF0000FF));
    under->mask_layer_name = "m";
    under->mask_level = 100;
    AddSolid("cover", 3, -2, -2, kWidth + 4, kHeight + 4, 0xFF00FF00);
    DirtyWholeWindow();
    EXPECT_EQ(Frame(), 0);
    EXPECT_EQ(ErrorReporter().reports, 0u);
    EXPECT_EQ(ReadPixel(Window(), 0, 0), 0xFF00FF00u);
    EXPECT_EQ(ReadPixel(Window(), kWidth - 1, kHeight - 1), 0xFF00FF00u);

    // A cover that shows its alpha, or is not quite opaque, hides nothing.
    LayerImage(w0_->last_child)->alpha_in_use = 1;
    DirtyWholeWindow();
    EXPECT_EQ(Frame(), -1);
    EXPECT_EQ(ErrorReporter().fatal_reports, 1u);
}

TEST_F(CompositorTest, ModesOverAnOpaqueBackground) {
    // Values every kernel set computes alike: full-opacity add, multiply,
    // difference, and alpha 0 / 255 pixels.
    const uint32_t bg = 0xFF604020;
    const uint32_t fg = 0xFFA0C0E0;
    AddSolid("bg", 1, 0, 0, kWidth, kHeight, bg);
    CgImage* layer = LayerImage(AddSolid("fg", 2, 8, 8, 16, 16, fg));
    struct Case {
        uint8_t mode;
        uint8_t alpha_in_use;
    };
    for (Case c : {Case{1, 0}, Case{3, 0}, Case{8, 0}, Case{8, 1}, Case{12, 0}, Case{15, 1}}) {
        layer->blend_mode = c.mode;
        layer->alpha_in_use = c.alpha_in_use;
        InvalidateLayer(w0_->last_child);
        ASSERT_EQ(Frame(), 0);
        const uint32_t got = ReadPixel(Window(), 10, 10);
        for (int ch = 0; ch < 3; ++ch) {
            const int s = int(Channel(fg, ch)), d = int(Channel(bg, ch));
            int want = test::BlendFormula(c.mode, s, d);
            if (c.mode == 3) want = (d * (s + 1)) >> 8;  // the multiply slot's product
            if (c.alpha_in_use) want = test::Toward(d, test::BlendFormula(c.mode, s, d), 256, 8);
            EXPECT_EQ(int(Channel(got, ch)), want) << "mode " << int(c.mode) << " channel " << ch;
        }
        EXPECT_EQ(ReadPixel(Window(), 7, 10), bg);
    }
}

TEST_F(CompositorTest, SourceAlphaExtremes) {
    AddSolid("bg", 1, 0, 0, kWidth, kHeight, 0xFF336699);
    CgImage* sprite = LayerImage(AddLayer(w0_, "sprite", 2, 0, 0, 2, 1, [](int64_t x, int64_t) {
        return x == 0 ? 0xFFAABBCCu : 0x00AABBCCu;
    }));
    sprite->alpha_in_use = 1;
    InvalidateLayer(w0_->last_child);
    DirtyWholeWindow();
    ASSERT_EQ(Frame(), 0);
    EXPECT_EQ(ReadPixel(Window(), 0, 0) & 0xFFFFFF, 0xAABBCCu);
    EXPECT_EQ(ReadPixel(Window(), 1, 0) & 0xFFFFFF, 0x336699u);
}

TEST_F(CompositorTest, OpacityOutsideItsRangeIsClamped) {
    AddSolid("bg", 1, 0, 0, kWidth, kHeight, 0xFF102030);
    CgImage* fg = LayerImage(AddSolid("fg", 2, 0, 0, 8, 8, 0xFFF0E0D0));
    fg->blend_mode = 8;  // difference, through its lookup table
    for (int16_t opacity : {int16_t{1000}, int16_t{256}, int16_t{-20}, int16_t{0}}) {
        fg->opacity = opacity;
        InvalidateLayer(w0_->last_child);
        ASSERT_EQ(Frame(), 0);
        // Without alpha in use every byte blends, alpha too: |FF - FF| = 0.
        const uint32_t want = opacity > 0 ? 0x00E0C0A0u : 0xFF102030u;
        EXPECT_EQ(ReadPixel(Window(), 3, 3), want) << opacity;
    }
}

TEST_F(CompositorTest, ModeBytePastTheLastModeDrawsNormalAndIsKept) {
    AddSolid("bg", 1, 0, 0, kWidth, kHeight, 0xFF102030);
    CgImage* fg = LayerImage(AddSolid("fg", 2, 0, 0, 8, 8, 0xFF405060));
    fg->blend_mode = 200;
    DirtyWholeWindow();
    ASSERT_EQ(Frame(), 0);
    EXPECT_EQ(ReadPixel(Window(), 1, 1), 0xFF405060u);
    EXPECT_EQ(fg->blend_mode, 200);
}

TEST_F(CompositorTest, LayersTheCompositorDoesNotDraw) {
    AddSolid("bg", 1, 0, 0, kWidth, kHeight, 0xFF000000);
    CgImage* gpu = LayerImage(AddSolid("gpu", 2, 0, 0, 4, 4, 0xFFFFFFFF));
    gpu->texture_kind = kTextureKindEmote;
    CgImage* hidden = LayerImage(AddSolid("hidden", 3, 4, 0, 4, 4, 0xFFFFFFFF));
    hidden->visible = 0;
    // Far beyond 32 bits: wrapping would put it at x = 8.
    AddSolid("far", 4, (int64_t{1} << 32) + 8, 0, 4, 4, 0xFFFFFFFF);
    DirtyWholeWindow();
    ASSERT_EQ(Frame(), 0);
    for (int64_t x : {0, 4, 8}) EXPECT_EQ(ReadPixel(Window(), x, 0), 0xFF000000u) << x;
}

TEST_F(CompositorTest, WindowNotToBeShownIsLeftAlone) {
    AddSolid("bg", 1, 0, 0, kWidth, kHeight, 0xFF123456);
    GetWindowRecord(0)->shown = 0;
    EXPECT_EQ(Frame(), 0);
    EXPECT_EQ(GetWindowRecord(0)->drawn, 0);
    EXPECT_EQ(ReadPixel(Window(), 0, 0), 0u);
    GetWindowRecord(0)->shown = 1;
    InvalidateLayer(w0_->first_child);
    EXPECT_EQ(Frame(), 0);
    EXPECT_EQ(GetWindowRecord(0)->drawn, 1);
    EXPECT_EQ(ReadPixel(Window(), 0, 0), 0xFF123456u);
    // Windows without a record, a layer set or a canvas are skipped.
    EXPECT_EQ(ComposeWindow(1), 0);
    EXPECT_EQ(ComposeWindow(7), 0);
}

TEST_F(CompositorTest, MaskLevelsAndMissingMasks) {
    const uint32_t bg = 0xFF000000, fg = 0xFFFFFFFF;
    AddSolid("bg", 1, 0, 0, kWidth, kHeight, bg);
    // The mask's blue byte is x * 16: left half below 128, right half above.
    AddLayer(w0_, "mask", 0, 0, 0, 16, 1, [](int64_t x, int64_t) { return uint32_t(x * 16); });
    CgImage* layer = LayerImage(AddSolid("fg", 2, 0, 0, 16, 1, fg));
    layer->mask_layer_name = "mask";
    layer->mask_softness = 256;  // hard edge

    struct Case {
        const char* name;
        int16_t level;
        uint32_t at_x2, at_x12;
    };
    const Case cases[] = {
        {"mask", 128, bg, fg},   // edge at 256 - level: blue >= 128 shows
        {"mask", 256, fg, fg},   // full level: the mask is ignored
        {"mask", 0, bg, bg},     // level 0: not drawn at all
        {"nothing", 128, fg, fg},  // a mask that does not exist: drawn unmasked
    };
    for (const Case& c : cases) {
        layer->mask_layer_name = c.name;
        layer->mask_level = c.level;
        InvalidateLayer(w0_->last_child);
        ASSERT_EQ(Frame(), 0) << c.name << " " << c.level;
        EXPECT_EQ(ReadPixel(Window(), 2, 0), c.at_x2) << c.name << " " << c.level;
        EXPECT_EQ(ReadPixel(Window(), 12, 0), c.at_x12) << c.name << " " << c.level;
    }
}

TEST_F(CompositorTest, MaskOfAnotherSizeStopsTheFrame) {
    AddSolid("mask", 0, 0, 0, 8, 8, 0xFFFFFFFF);
    CgImage* layer = LayerImage(AddSolid("fg", 1, 0, 0, 9, 8, 0xFFFFFFFF));
    layer->mask_layer_name = "mask";
    layer->mask_level = 128;
    DirtyWholeWindow();
    EXPECT_EQ(ComposeWindow(0), -1);
    EXPECT_EQ(ErrorReporter().fatal_reports, 1u);
    EXPECT_NE(QuitFlag.load(), 0);
    // A name that cannot be normalised stops it as well (reported by the
    // normaliser).
    ResetErrorReporter();
    layer->width = 8;
    layer->mask_layer_name = "a b/.";
    EXPECT_EQ(ComposeWindow(0), -1);
    EXPECT_EQ(ErrorReporter().fatal_reports, 1u);
}

TEST_F(CompositorTest, NestedGroupsInWindowModeAreClippedToTheirArea) {
    AddSolid("bg", 1, 0, 0, kWidth, kHeight, 0xFF000000);
    NamedTreeNode* group = AddLayer(w0_, "g", 2, 10, 10, 8, 8, [](int64_t, int64_t) { return 0u; }, true);
    AddLayer(group, "big", 1, -4, -4, 20, 20, [](int64_t, int64_t) { return 0xFF0000FFu; });
    // A group of size 0 is a folder: it places its children unclipped.
    NamedTreeNode* folder = AddLayer(w0_, "f", 3, 40, 30, 0, 0, [](int64_t, int64_t) { return 0u; }, true);
    AddLayer(folder, "dot", 1, 5, 5, 2, 2, [](int64_t, int64_t) { return 0xFF00FF00u; });
    DirtyWholeWindow();
    ASSERT_EQ(Frame(), 0);
    EXPECT_EQ(ReadPixel(Window(), 10, 10), 0xFF0000FFu);
    EXPECT_EQ(ReadPixel(Window(), 17, 17), 0xFF0000FFu);
    EXPECT_EQ(ReadPixel(Window(), 9, 10), 0xFF000000u);
    EXPECT_EQ(ReadPixel(Window(), 18, 17), 0xFF000000u);
    EXPECT_EQ(ReadPixel(Window(), 45, 35), 0xFF00FF00u);
    EXPECT_EQ(ReadPixel(Window(), 44, 35), 0xFF000000u);
}

TEST_F(CompositorTest, GroupLayerKeepsItsOwnCanvas) {
    NamedTreeNode* group = AddLayer(w0_, "g", 1, 0, 0, 8, 4, [](int64_t, int64_t) { return 0x7F7F7F7Fu; }, true);
    AddLayer(group, "a", 1, 0, 0, 4, 4, [](int64_t, int64_t) { return 0xFF112233u; });
    NamedTreeNode* inner = AddLayer(group, "in", 2, 4, 0, 4, 4, [](int64_t, int64_t) { return 0u; }, true);
    AddLayer(inner, "b", 1, 1, 1, 2, 2, [](int64_t, int64_t) { return 0x80445566u; });
    CgImage& g = *LayerImage(group);
    g.dirty_rect = {0, 0, 7, 3};
    g.dirty_valid = 1;
    g.dirty_count = 1;
    ASSERT_EQ(ComposeGroupLayer(group), 0);
    EXPECT_EQ(ReadPixel(g, 0, 0), 0xFF112233u);
    // The inner group was composed into its own canvas (cleared, then "b"
    // copied in without its alpha) and then copied into the group.
    EXPECT_EQ(ReadPixel(g, 4, 0), 0u);
    EXPECT_EQ(ReadPixel(g, 5, 1), 0x80445566u);
    EXPECT_EQ(ReadPixel(*LayerImage(inner), 1, 1), 0x80445566u);
    EXPECT_EQ(g.alpha_in_use, 1);
    EXPECT_EQ(LayerImage(inner)->alpha_in_use, 0);
    EXPECT_EQ(ComposeGroupLayer(nullptr), 0);
}

TEST_F(CompositorTest, ToneAndSaturationDrawACopyMadeOncePerFrame) {
    CgImage* layer = LayerImage(AddSolid("fg", 1, 0, 0, 4, 4, 0xFF406080));
    layer->tone = 0xFF8000;  // R up by 127/128 of the way, G unchanged, B to 0
    ASSERT_EQ(PrepareDrawnPixels(*layer), 0);
    EXPECT_NE(layer->current_pixels, layer->owned_block.data());
    const uint32_t toned = ReadPixel(*layer, 0, 0);
    EXPECT_EQ(toned, 0xFF000000u | uint32_t(0x40 + (((255 - 0x40) * 127) >> 7)) << 16 | 0x6000u);
    // Composed again in the same frame: the same copy, not toned twice.
    ASSERT_EQ(PrepareDrawnPixels(*layer), 0);
    EXPECT_EQ(ReadPixel(*layer, 0, 0), toned);
    // Settings changed within the frame: derived again from the owned pixels.
    layer->tone = kNeutralTone;
    layer->saturation = 0;
    ASSERT_EQ(PrepareDrawnPixels(*layer), 0);
    const uint32_t grey = (0x40 + 0x60 + 0x80) / 3;
    EXPECT_EQ(ReadPixel(*layer, 0, 0), 0xFF000000u | grey << 16 | grey << 8 | grey);
    EXPECT_EQ(layer->derived_copy_frame, int64_t(TheFrameCounters.frame_count));
    // Back to neutral: the layer's own pixels again.
    layer->saturation = kNeutralSaturation;
    ASSERT_EQ(PrepareDrawnPixels(*layer), 0);
    EXPECT_EQ(layer->current_pixels, layer->owned_block.data());
    EXPECT_EQ(ReadPixel(*layer, 0, 0), 0xFF406080u);
}

TEST_F(CompositorTest, SharedImageIsTonedOnceWhenDrawnTwiceInAFrame) {
    AddSolid("bg", 1, 0, 0, kWidth, kHeight, 0xFF000000);
    NamedTreeNode* first = AddSolid("first", 2, 0, 0, 4, 4, 0xFF406080);
    CgImage* image = LayerImage(first);
    image->tone = 0x808000;  // blue to 0 on each toning; red and green stay
    image->saturation = 0;
    NamedTreeNode* second = CreateTreeNode(w0_, "second", false, 3);
    ShareCgImage(second, image);
    // Drawn once per node, and the window composed twice in the frame: the
    // copy is derived once from the owned pixels, never toned again.
    DirtyWholeWindow();
    ASSERT_EQ(ComposeWindow(0), 0);
    const uint32_t grey = (0x40 + 0x60 + 0x00) / 3;
    const uint32_t want = 0xFF000000u | grey << 16 | grey << 8 | grey;
    EXPECT_EQ(ReadPixel(Window(), 0, 0), want);
    ASSERT_EQ(ComposeWindow(0), 0);
    EXPECT_EQ(ReadPixel(Window(), 0, 0), want);
    EXPECT_EQ(ReadPixel(*image, 3, 3), want);
}

TEST(ColourToneTest, SaturationStaysInsideTheByteRange) {
    const int32_t w = 256, h = 4;
    std::vector<uint8_t> src(size_t(w) * h * 4), dst(src.size());
    std::mt19937 rng(7);
    for (uint8_t& b : src) b = static_cast<uint8_t>(rng());
    ApplySaturation(dst, src, {0, 0, w - 1, h - 1}, w, h, w, h, 256);
    for (size_t i = 0; i < src.size(); i += 4) {
        const int c[3] = {src[i], src[i + 1], src[i + 2]};
        const int g = (c[0] + c[1] + c[2]) / 3;
        for (int k = 0; k < 3; ++k) {
            // Never further from grey than twice, never past the other side.
            const int moved = dst[i + k] - g, before = c[k] - g;
            EXPECT_LE(std::abs(moved), 2 * std::abs(before) + 1);
            EXPECT_GE(moved * before, 0);
        }
        EXPECT_EQ(dst[i + 3], src[i + 3]);
    }
    ApplySaturation(dst, src, {0, 0, w - 1, h - 1}, w, h, w, h, -400);  // clamped to 0: grey
    EXPECT_EQ(dst[0], (src[0] + src[1] + src[2]) / 3);
    EXPECT_EQ(dst[1], dst[0]);
    // A rectangle past the images is clipped; too small a span is refused.
    std::vector<uint8_t> tiny(8, 1);
    ApplyColourTone(tiny, src, {-5, -5, 100, 100}, 2, 1, w, h, 0x000000);
    EXPECT_EQ(tiny[0], 0);
    EXPECT_EQ(tiny[3], src[3]);
    ApplyColourTone(tiny, src, {0, 0, 1, 0}, 3, 1, w, h, 0xFFFFFF);
    EXPECT_EQ(tiny[0], 0);
}

// ---------------------------------------------------------------- dirty vs full

// Some pixel kernels round a row's two-pixel groups differently from its
// last odd pixel, so a pixel's result depends on where a dirty rectangle
// cuts the row (README-blend.md). The bookkeeping test below swaps those
// slots for versions that use the group formula on every pixel.
namespace uniform {
void Crossfade(uint8_t* d, const uint8_t* s, int32_t t, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        if (t == 128) d[i] = uint8_t((d[i] >> 1) + (s[i] >> 1));
        else if (t > 128) d[i] = uint8_t(s[i] + (((d[i] - s[i]) * (256 - t)) >> 8));
        else d[i] = uint8_t(d[i] + (((s[i] - d[i]) * t) >> 8));
    }
}
void AlphaOverBy(uint8_t* d, const uint8_t* s, int32_t o, int64_t count) {
    for (int64_t i = 0; i + 4 <= count; i += 4) {
        const int a = (o * s[i + 3]) >> 8;
        for (int c = 0; c < 4; ++c) d[i + c] = uint8_t((d[i + c] * (256 - a) + s[i + c] * (a + 1)) >> 8);
    }
}
void AlphaOver(uint8_t* d, const uint8_t* s, int64_t count) { AlphaOverBy(d, s, 256, count); }
void AddOpacity(uint8_t* d, const uint8_t* s, int32_t o, int64_t count) {
    for (int64_t i = 0; i < count; ++i) d[i] = uint8_t(std::min(d[i] + ((s[i] * o) >> 8), 255));
}
void Screen(uint8_t* d, const uint8_t* s, int64_t count) {
    for (int64_t i = 0; i < count; ++i) d[i] = uint8_t(std::clamp(d[i] + s[i] - ((d[i] * (s[i] + 1)) >> 8), 0, 255));
}
}  // namespace uniform

// Random scenes under random edits: each frame the incremental result must
// equal a recomposition of the whole window, for every worker count, and
// the final pictures of all worker counts must be identical.
class CompositorPropertyTest : public CompositorTest {
protected:
    static constexpr int32_t kSceneWidth = 384;
    static constexpr int32_t kSceneHeight = 256;
    std::pair<int32_t, int32_t> WindowSize() const override { return {kSceneWidth, kSceneHeight}; }

    std::vector<uint8_t> Run(int workers, uint32_t seed, int frames) {
        TheSystemFacts().worker_count = static_cast<int8_t>(workers);
        EXPECT_EQ(StartWorkerThreads(), 0);
        BlendInlinePixels = 0;  // every blit split over the workers
        EXPECT_EQ(WorkerCount(), workers);
        std::mt19937 rng(seed);
        auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
        auto noise = [&](bool alpha) {
            uint32_t salt = rng();
            return [salt, alpha](int64_t x, int64_t y) {
                uint32_t v = uint32_t(x * 73856093) ^ uint32_t(y * 19349663) ^ salt;
                v *= 2654435761u;
                if (!alpha) v |= 0xFF000000u;
                return v;
            };
        };

        std::vector<NamedTreeNode*> layers;
        std::vector<NamedTreeNode*> parents = {w0_};
        parents.push_back(AddLayer(w0_, "g", 50, 30, 20, 300, 220, noise(false), true));
        parents.push_back(AddLayer(w0_, "f", 60, -5, 8, 0, 0, noise(false), true));
        layers.push_back(AddLayer(w0_, "bg", 0, 0, 0, kSceneWidth, kSceneHeight, noise(false)));
        AddLayer(w0_, "mask", -1, 0, 0, 12, 10, noise(false));
        int serial = 0;
        auto add = [&]() {
            NamedTreeNode* parent = parents[size_t(pick(int(parents.size())))];
            const bool alpha = pick(2) == 0;
            const bool large = pick(3) == 0;
            NamedTreeNode* node =
                AddLayer(parent, "l" + std::to_string(serial++), pick(100) - 10, pick(440) - 40, pick(300) - 30,
                         large ? 200 + pick(150) : 1 + pick(40), large ? 200 + pick(80) : 1 + pick(30), noise(alpha));
            CgImage* image = LayerImage(node);
            image->alpha_in_use = alpha ? 1 : 0;
            image->blend_mode = static_cast<uint8_t>(pick(4) == 0 ? pick(21) : 0);
            if (pick(6) == 0) {
                image->width = 12;
                image->height = 10;
                ASSERT_TRUE(AllocCgPixels(*image, 12, 10));
                Paint(*image, noise(alpha));
                image->mask_layer_name = "mask";
                image->mask_level = static_cast<int16_t>(pick(257));
                image->mask_softness = static_cast<int16_t>(pick(3) == 0 ? 256 : pick(600));
            }
            if (pick(8) == 0) image->tone = rng() & 0xFFFFFF;
            if (pick(8) == 0) image->saturation = pick(257);
            InvalidateLayer(node);
            layers.push_back(node);
        };
        for (int i = 0; i < 10; ++i) add();
        DirtyWholeWindow();

        for (int frame = 0; frame < frames; ++frame) {
            for (int edits = 1 + pick(3); edits > 0; --edits) {
                if (layers.empty() || pick(10) == 0) {
                    add();
                    continue;
                }
                const size_t which = size_t(pick(int(layers.size())));
                NamedTreeNode* node = layers[which];
                CgImage* image = LayerImage(node);
                switch (pick(6)) {
                case 0:  // move
                    InvalidateLayer(node);
                    image->x = pick(460) - 60;
                    image->y = pick(320) - 50;
                    InvalidateLayer(node);
                    break;
                case 1: image->visible = 1; InvalidateLayer(node); break;
                case 2: image->visible = 0; InvalidateLayer(node); break;
                case 3: {
                    const int16_t opacities[] = {0, 1, 60, 128, 255, 256, 400, -3};
                    image->opacity = opacities[pick(8)];
                    InvalidateLayer(node);
                    break;
                }
                case 4: image->blend_mode = static_cast<uint8_t>(pick(21)); InvalidateLayer(node); break;
                case 5:  // delete
                    InvalidateLayer(node);
                    FreeTreeNode(node);
                    layers.erase(layers.begin() + std::ptrdiff_t(which));
                    break;
                }
            }
            if (ComposeWindow(0) != 0) {
                ADD_FAILURE() << "composition failed";
                break;
            }
            std::vector<uint8_t> incremental = WindowPixels();
            DirtyWholeWindow();
            EXPECT_EQ(ComposeWindow(0), 0);
            if (WindowPixels() != incremental) {
                ADD_FAILURE() << "workers " << workers << " frame " << frame
                              << ": dirty-rectangle result differs from full recomposition";
                break;
            }
            ResetDirtyRects(root_->first_child);
            TheFrameCounters.frame_count += 1;
        }
        StopWorkerThreads();
        BlendInlinePixels = kDefaultBlendInlinePixels;
        return WindowPixels();
    }
};

TEST_F(CompositorPropertyTest, DirtyRectanglesMatchFullRecompositionForEveryWorkerCount) {
    const PixelKernelTable saved = PixelKernels;
    PixelKernels.crossfade = uniform::Crossfade;
    PixelKernels.alpha_over = uniform::AlphaOver;
    PixelKernels.alpha_over_opacity = uniform::AlphaOverBy;
    PixelKernels.add_opacity = uniform::AddOpacity;
    PixelKernels.screen = uniform::Screen;
    std::vector<std::vector<uint8_t>> results;
    for (int workers = 1; workers <= 4; ++workers) {
        TearDown();
        SetUp();
        results.push_back(Run(workers, 20240611u, 100));
    }
    for (size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i], results[0]) << "workers " << i + 1;
    PixelKernels = saved;
}

}  // namespace
}  // namespace zk
