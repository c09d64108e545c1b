#include "core/root_trees.h"

#include <new>

#include "core/engine_hooks.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "base/system_text.h"
#include "core/window_proc.h"
#include "core/window_record.h"
#include "layers/cg_image.h"

namespace zk {

namespace {
RootTrees root_trees;
CpuBackBuffer cpu_back_buffer;

void FreeCgImagePayload(void* payload) {
    auto* image = static_cast<CgImage*>(payload);
    if (--image->reference_count <= 0) delete image;
}

// A root with a zero layer record of the game screen's size.
NamedTreeNode* CreateLayerRoot(int32_t width, int32_t height) {
    NamedTreeNode* root = CreateRootNode();
    if (root == nullptr) return nullptr;
    auto image = NewCgImageRecord();
    image->width = width;
    image->height = height;
    image->allocated_width = width;
    image->allocated_height = height;
    root->payload = image.release();
    root->payload_free = FreeCgImagePayload;
    return root;
}

void CreateWindowLayerSet(NamedTreeNode* layers, int32_t width, int32_t height) {
    NamedTreeNode* w0 = CreateTreeNode(layers, "W0", true, 1);
    if (w0 == nullptr) return;
    auto image = NewCgImageRecord();
    image->width = width;
    image->height = height;
    image->allocated_width = width;
    image->allocated_height = height;
    CgImage* raw = image.release();
    w0->payload = raw;
    w0->payload_free = FreeCgImagePayload;
    if (AllocCgPixels(*raw, width, height)) {
        raw->changed = 1;
        raw->whole_dirty = 1;
        raw->dirty_valid = 1;
        raw->dirty_rect = {0, 0, int64_t{width} - 1, int64_t{height} - 1};
        if (Hooks().propagate_dirty_rect != nullptr) Hooks().propagate_dirty_rect(w0);
    }
    if (WindowRecord* main_record = MainWindowRecord()) main_record->shown_layer_set = w0;
}
}  // namespace

RootTrees& TheRootTrees() { return root_trees; }
CpuBackBuffer& TheCpuBackBuffer() { return cpu_back_buffer; }

bool AllocateCpuBackBuffer(int32_t width, int32_t height) {
    cpu_back_buffer = {};
    if (width > kMaxCgWidth) {
        ReportCgTooWide(width, height);
        return false;
    }
    uint64_t bytes = CgPixelBlockBytes(width, height);
    try {
        if (bytes == 0) throw std::bad_alloc();
        cpu_back_buffer.pixels.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        cpu_back_buffer.pixels.clear();
        ReportEngineErrorF(kErrFileNoMemory, true, {int64_t{0}});
        return false;
    }
    cpu_back_buffer.width = width;
    cpu_back_buffer.height = height;
    return true;
}

void CreateRootTrees() {
    WindowRecord* main_record = MainWindowRecord();
    int32_t width = main_record != nullptr ? main_record->client_width : 0;
    int32_t height = main_record != nullptr ? main_record->client_height : 0;

    root_trees.layers = CreateLayerRoot(width, height);
    root_trees.layer_folder = "W0";
    if (root_trees.layers != nullptr) CreateWindowLayerSet(root_trees.layers, width, height);

    root_trees.tasks = CreateRootNode();
    root_trees.task_folder = "";
    if (root_trees.tasks != nullptr) {
        NamedTreeNode* group = CreateTreeNode(root_trees.tasks, "", true, 100);
        NamedTreeNode* system = CreateTreeNode(root_trees.tasks, "SYSTEM", false, 100);
        if (Hooks().create_script_task != nullptr) {
            if (group != nullptr) Hooks().create_script_task(group, false);
            if (system != nullptr) Hooks().create_script_task(system, true);
        }
    }

    root_trees.sounds = CreateRootNode();
    root_trees.sound_folder = "S0";
    if (root_trees.sounds != nullptr) {
        NamedTreeNode* s0 = CreateTreeNode(root_trees.sounds, "S0", true, 1);
        if (s0 != nullptr && Hooks().create_sound_channel != nullptr) Hooks().create_sound_channel(s0);
    }

    root_trees.menus = CreateRootNode();
    root_trees.menu_folder = "M0";
    if (root_trees.menus != nullptr) {
        NamedTreeNode* m0 = CreateTreeNode(root_trees.menus, "M0", true, 0);
        if (m0 != nullptr && Hooks().create_menu_item != nullptr) Hooks().create_menu_item(m0, "M0");
    }
}

void FreeRootTrees() {
    SetDragLayer(nullptr);  // its layer goes with the layer tree
    for (NamedTreeNode** root : {&root_trees.layers, &root_trees.tasks, &root_trees.sounds, &root_trees.menus}) {
        FreeTreeNode(*root);
        *root = nullptr;
    }
    if (WindowRecord* main_record = MainWindowRecord()) main_record->shown_layer_set = nullptr;
}

}  // namespace zk
