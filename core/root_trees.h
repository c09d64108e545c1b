// The four named trees every script-visible object lives in: layers, tasks,
// sounds and menu items, each with its current folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk {

struct NamedTreeNode;

struct RootTrees {
    NamedTreeNode* layers = nullptr;
    NamedTreeNode* tasks = nullptr;
    NamedTreeNode* sounds = nullptr;
    NamedTreeNode* menus = nullptr;
    std::string layer_folder;  // "W0"
    std::string task_folder;   // ""
    std::string sound_folder;  // "S0"
    std::string menu_folder;   // "M0"
};
RootTrees& TheRootTrees();

void CreateRootTrees();
void FreeRootTrees();

}  // namespace zk
