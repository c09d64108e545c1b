#include "core/window_requests.h"

namespace zk {

std::atomic<uint8_t> ExitBoxOpen{0};
std::atomic<uint8_t> ModalBoxOpen{0};
std::atomic<uint8_t> CaptionDragPause{0};

namespace {
WindowRequests window_requests;
DragLayer drag_layer;
}  // namespace

WindowRequests& TheWindowRequests() { return window_requests; }

DragLayer& TheDragLayer() { return drag_layer; }

void SetDragLayer(NamedTreeNode* node) {
    drag_layer.node = node;
    drag_layer.on = node != nullptr ? 1 : 0;
}

void ForgetDragLayer(const NamedTreeNode* node) {
    if (node == nullptr || drag_layer.node.load() != node) return;
    drag_layer.on = 0;
    drag_layer.node = nullptr;
}

void ClearWindowRequests() {
    window_requests.last_key_code = 0;
    window_requests.last_mouse_button = 0;
    window_requests.menu_command = 0;
    window_requests.maximize_request = 0;
    window_requests.minimize_request = 0;
    window_requests.caption_double_click_request = 0;
    window_requests.close_request = 0;
    ExitBoxOpen = 0;
    ModalBoxOpen = 0;
    CaptionDragPause = 0;
    SetDragLayer(nullptr);
}

}  // namespace zk
