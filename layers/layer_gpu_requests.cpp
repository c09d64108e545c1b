#include "layers/layer_gpu_requests.h"

#include "core/named_tree.h"

namespace zk {

LayerGpuRequests& TheLayerGpuRequests() {
    static LayerGpuRequests requests;
    return requests;
}

bool InDirect3DLayerMode() {
    const LayerGpuRequests& gpu = TheLayerGpuRequests();
    return gpu.direct3d_layer_mode != nullptr && gpu.direct3d_layer_mode();
}

bool InOffScreenMode() {
    const LayerGpuRequests& gpu = TheLayerGpuRequests();
    return gpu.off_screen_mode != nullptr && gpu.off_screen_mode();
}

void ForgetCaptureLayerIn(const NamedTreeNode* top) {
    LayerGpuRequests& gpu = TheLayerGpuRequests();
    if (top == nullptr) return;
    for (const NamedTreeNode* node = gpu.capture_layer; node != nullptr; node = node->parent) {
        if (node == top) {
            gpu.capture_layer = nullptr;
            return;
        }
    }
}

}  // namespace zk
