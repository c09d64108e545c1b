#include "system/tray_command.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "base/format.h"
#include "base/nul_text.h"
#include "base/system_text.h"
#include "core/engine_hooks.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/window_record.h"
#include "core/window_requests.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "platform/tray_icon.h"
#include "platform/window_system.h"
#include "script/command_table.h"
#include "system/menus.h"

namespace zk {

namespace {

// The icon object lives from the first show to the engine's reset; the
// frame step and the window procedure both reach it.
std::mutex tray_lock;
std::unique_ptr<platform::TrayIcon> tray;
bool shown = false;
std::string tip;
// Where the icon's clicks go (the main window when the icon was shown).
std::atomic<platform::WindowHandle> owner{platform::kNoWindow};

void PostToOwner(uint32_t message, uint64_t wparam, int64_t lparam) {
    const platform::WindowHandle window = owner.load();
    if (window != platform::kNoWindow && platform::HasWindowSystem() &&
        platform::GetWindowSystem().PostMessage(window, message, wparam, lparam)) {
        return;
    }
    // No window to tell: a chosen item still reaches the script.
    if (message == platform::WM_COMMAND) TheWindowRequests().menu_command = static_cast<int64_t>(wparam & 0xFFFF);
}

platform::TrayIcon& TrayObject() {
    if (tray == nullptr) {
        platform::TrayCallbacks callbacks;
        callbacks.activate = [] { PostToOwner(platform::WM_TRAY_NOTIFY, kTrayIconId, platform::WM_LBUTTONDOWN); };
        callbacks.context_menu = [] { PostToOwner(platform::WM_TRAY_NOTIFY, kTrayIconId, platform::WM_RBUTTONDOWN); };
        callbacks.menu_clicked = [](uint32_t id) { PostToOwner(platform::WM_COMMAND, id, 0); };
        tray = platform::TrayIcon::Create(std::move(callbacks));
    }
    return *tray;
}

// The picture of a 16 x 16 layer; the built-in icon (after the box that
// names the size wanted) for a layer of another size.
platform::TrayIconPicture PictureOf(const NamedTreeNode* layer) {
    if (layer == nullptr) return platform::BuiltInTrayIcon();
    const CgImage* image = LayerImage(layer);
    if (image != nullptr && image->width == platform::kTrayIconSize && image->height == platform::kTrayIconSize &&
        image->current_pixels != nullptr && image->allocated_width >= platform::kTrayIconSize &&
        image->allocated_height >= platform::kTrayIconSize) {
        return platform::TrayIconFromBgra(image->current_pixels, static_cast<size_t>(image->allocated_width) * 4);
    }
    ShowMessageBox(nullptr, Sjis("ICON ERR.\r\nレイヤサイズが %dx%d ではありません。"),
                   {int64_t{platform::kTrayIconSize}, int64_t{platform::kTrayIconSize}});
    return platform::BuiltInTrayIcon();
}

}  // namespace

int32_t CmdTrayIcon() {
    if (DecodeCommandArgs(kCmdTrayIcon) != 0) return -1;
    const CommandArgBlock& args = Args();
    const NamedTreeNode* layer = nullptr;
    if (const CommandArgSlot* icon = args.Find(2)) {
        std::string path;
        if (NormaliseNodePath(path, icon->Text(), TheRootTrees().layer_folder, false) < 0) return -1;
        layer = FindNodeByPath(TheRootTrees().layers, path, kFindAny);
        if (layer == nullptr) return 0;  // nothing else of the command happens
    }
    if (const CommandArgSlot* text = args.Find(1)) {
        const std::string_view given = UpToNul(text->Text());
        tip = std::string(given.substr(0, CutLength(given, kTrayTipLimit)));
    }
    if (const CommandArgSlot* show = args.Find(0)) {
        if (show->value != 1) {
            RemoveTrayIcon();
        } else {
            const platform::TrayIconPicture picture = PictureOf(layer);
            const WindowRecord* main_record = MainWindowRecord();
            owner = main_record != nullptr ? main_record->window : platform::kNoWindow;
            std::lock_guard lock(tray_lock);
            TrayObject().Show(tip, picture);
            shown = true;
        }
    }
    if (const CommandArgSlot* menu = args.Find(3)) {
        std::string path;
        if (NormaliseNodePath(path, menu->Text(), TheRootTrees().menu_folder, false) < 0) return -1;
        if (const NamedTreeNode* node = FindNodeByPath(TheRootTrees().menus, path, kFindAny)) {
            BuildWrappedMenuSet(kTrayMenuSet, node);
            std::lock_guard lock(tray_lock);
            TrayObject().SetMenu(PopupDescription(kTrayMenuSet));
        }
    }
    return 0;
}

int32_t CmdTrayCheckArgs101() { return DecodeCommandArgs(kCmdTrayCheckArgs101) != 0 ? -1 : 0; }

void RemoveTrayIcon() {
    std::lock_guard lock(tray_lock);
    if (!shown) return;
    shown = false;
    if (tray != nullptr) tray->Remove();
}

bool TrayIconShown() {
    std::lock_guard lock(tray_lock);
    return shown;
}

std::string TrayTip() { return tip; }

void RegisterTrayCommands() {
    RegisterCommandHandler(kCmdTrayIcon, CmdTrayIcon);
    RegisterCommandHandler(kCmdTrayCheckArgs101, CmdTrayCheckArgs101);
    Hooks().remove_tray_icon = RemoveTrayIcon;
}

void ResetTrayIcon() {
    std::unique_ptr<platform::TrayIcon> ending;
    {
        std::lock_guard lock(tray_lock);
        ending = std::move(tray);
        shown = false;
        tip.clear();
    }
    owner = platform::kNoWindow;
    ending.reset();  // outside the lock: it waits for the icon's thread
}

}  // namespace zk
