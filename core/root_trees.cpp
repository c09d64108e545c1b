#include "core/root_trees.h"

#include "core/engine_hooks.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "base/system_text.h"
#include "core/window_requests.h"
#include "core/window_record.h"

namespace zk {

namespace {
RootTrees root_trees;

}  // namespace

RootTrees& TheRootTrees() { return root_trees; }

void CreateRootTrees() {
    WindowRecord* main_record = MainWindowRecord();
    int32_t width = main_record != nullptr ? main_record->client_width : 0;
    int32_t height = main_record != nullptr ? main_record->client_height : 0;

    root_trees.layers = Hooks().create_layer_tree != nullptr ? Hooks().create_layer_tree(width, height) : nullptr;
    root_trees.layer_folder = "W0";

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
