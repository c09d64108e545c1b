#pragma once

#include <cstdint>

namespace zk {

struct NamedTreeNode;

// Makes the layer tree's root and the main window's layer set "W0";
// null when the root cannot be made.
NamedTreeNode* CreateLayerTree(int32_t width, int32_t height);

}  // namespace zk
