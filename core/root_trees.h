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

// The CPU back buffer the presentation scales from.
struct CpuBackBuffer {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};
CpuBackBuffer& TheCpuBackBuffer();
// Allocates (or reallocates) the back buffer; reports and leaves it empty on
// failure. True when it exists.
bool AllocateCpuBackBuffer(int32_t width, int32_t height);

}  // namespace zk
