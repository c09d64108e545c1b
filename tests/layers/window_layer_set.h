// The layer world the compositor's and the layer commands' tests start
// from: window 0 showing "W0" of a given size over a layer root of its
// own, the blend tables and jobs ready, frame 1. The engine is reset first
// and again by ReleaseWindowLayerSet.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "core/engine_state.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/window_record.h"
#include "engine/engine_reset.h"
#include "layers/blend_jobs.h"
#include "layers/blend_tables.h"
#include "layers/cg_image.h"
#include "layers/worker_pool.h"

namespace zk::layer_test {

struct WindowLayerSet {
    NamedTreeNode* root = nullptr;
    NamedTreeNode* w0 = nullptr;
};

// `whole_dirty`: W0 marked wholly dirty, as start-up leaves it.
inline WindowLayerSet MakeWindowLayerSet(int32_t width, int32_t height, bool whole_dirty) {
    ResetEngine();
    InitPathCharTable();
    BuildBlendTables();
    RegisterBlendJobs();
    CreateWindowRecords();
    WindowLayerSet set;
    set.root = CreateRootNode();
    TheRootTrees().layers = set.root;
    TheRootTrees().layer_folder = "W0";
    set.w0 = CreateTreeNode(set.root, "W0", true, 1);
    CgImage* image = CreateCgImage(set.w0);
    image->width = width;
    image->height = height;
    EXPECT_TRUE(AllocCgPixels(*image, width, height));
    if (whole_dirty) {
        image->whole_dirty = image->dirty_valid = image->changed = 1;
        image->dirty_count = 1;
        image->dirty_rect = {0, 0, int64_t{width} - 1, int64_t{height} - 1};
    }
    WindowRecord* record = GetWindowRecord(0);
    record->shown_layer_set = set.w0;
    record->canvas = OwnCanvas(NewCgImageRecord());
    record->shown = 1;
    TheFrameCounters.frame_count = 1;
    return set;
}

inline void ReleaseWindowLayerSet() {
    StopWorkerThreads();
    ResetEngine();  // the tree goes with the root trees, the records with the windows
}

}  // namespace zk::layer_test
