#include "system/menus.h"

#include <mutex>

#include "base/format.h"
#include "base/nul_text.h"
#include "core/engine_hooks.h"
#include "core/error_codes.h"
#include "core/error_report.h"
#include "core/main_thread_calls.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/window_record.h"
#include "core/window_requests.h"
#include "platform/window_system.h"
#include "script/arg_decoder.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/variables.h"

namespace zk {

namespace {

std::array<MenuSet, kMenuSetCount> menu_sets;
int fill_counter = 0;
// The bar each window shows, copied out of set 0 when it was built: set 0
// is rebuilt for the next window that gets a bar, and the bar of the first
// must not go with it.
std::mutex bars_lock;
std::array<std::vector<platform::PopupMenuItem>, kWindowCount> window_bars;

// The popup request comes from the frame step (command 63) and from the
// main thread (the tray icon's right button).
std::mutex popup_lock;
int popup_request = 0;
int32_t popup_x = 0, popup_y = 0;

void FreeMenuItem(void* payload) { delete static_cast<MenuItem*>(payload); }

std::string CutCaption(std::string_view caption) {
    caption = UpToNul(caption);
    return std::string(caption.substr(0, CutLength(caption, kMenuCaptionBuffer - 1)));
}

// The node a command's path names: `group` tells the path's form. False
// after NormaliseNodePath reported a bad path.
bool FindMenuNode(std::string_view text, std::string& path, bool& group, NamedTreeNode*& node) {
    const int32_t form = NormaliseNodePath(path, text, TheRootTrees().menu_folder, false);
    if (form < 0) return false;
    group = form == 1;
    node = FindNodeByPath(TheRootTrees().menus, path, group ? kFindGroup : kFindLeaf);
    return true;
}

}  // namespace

int32_t ApplyMenuOrder(uint8_t op, int32_t old_value, int64_t argument) {
    const uint32_t a = static_cast<uint32_t>(old_value);
    const uint32_t b = static_cast<uint32_t>(argument);
    switch (op) {
        case kArgSet: return static_cast<int32_t>(b);
        case kArgAdd: return static_cast<int32_t>(a + b);
        case kArgSubtract: {
            const int32_t v = static_cast<int32_t>(a - b);
            return v < 1 ? 1 : v;
        }
        case kArgMultiply: return static_cast<int32_t>(a * b);
        case kArgDivide: {
            const int32_t divisor = static_cast<int32_t>(b);
            if (divisor == 0) return old_value;
            if (old_value == INT32_MIN && divisor == -1) return INT32_MIN;  // wraps
            return old_value / divisor;
        }
        default: return old_value;
    }
}

namespace {

// Creates the menu of entry `index` in the set; false when the set has no
// such entry.
BuiltMenu* NewMenu(int set, int index) {
    if (index < 0 || index >= kMenusPerSet) return nullptr;
    std::unique_ptr<BuiltMenu>& slot = menu_sets[static_cast<size_t>(set)][static_cast<size_t>(index)];
    slot = std::make_unique<BuiltMenu>();
    return slot.get();
}

BuiltMenu* MenuAt(int set, int index) {
    if (set < 0 || set >= kMenuSetCount || index < 0 || index >= kMenusPerSet) return nullptr;
    return menu_sets[static_cast<size_t>(set)][static_cast<size_t>(index)].get();
}

void DescribeInto(int set, int entry, std::vector<platform::PopupMenuItem>& out, int depth) {
    const BuiltMenu* menu = MenuAt(set, entry);
    if (menu == nullptr || depth > kMenusPerSet) return;
    for (const BuiltMenuEntry& built : menu->entries) {
        platform::PopupMenuItem item;
        item.text = built.caption;
        item.id = built.id;
        item.enabled = !built.grayed;
        item.checked = built.checked;
        if (built.separator) {
            item.kind = platform::PopupMenuItem::Kind::kSeparator;
        } else if (built.submenu >= 0) {
            item.kind = platform::PopupMenuItem::Kind::kSubmenu;
            DescribeInto(set, built.submenu, item.children, depth + 1);
        }
        out.push_back(std::move(item));
    }
}

void StoreMenuCommand(uint32_t id) { TheWindowRequests().menu_command = static_cast<int64_t>(id & 0xFFFF); }

}  // namespace

MenuItem* MenuItemOf(const NamedTreeNode* node) {
    return node != nullptr ? static_cast<MenuItem*>(node->payload) : nullptr;
}

MenuItem* CreateMenuItem(NamedTreeNode* node, std::string_view caption) {
    if (node == nullptr) return nullptr;
    std::unique_ptr<MenuItem> item = AllocZeroed<MenuItem>();
    if (item == nullptr) {
        ReportEngineError(kErrOutOfMemory, true);
        return nullptr;
    }
    item->caption = CutCaption(caption);
    item->shown = 1;
    item->enabled = 256;
    if (node->payload != nullptr && node->payload_free != nullptr) node->payload_free(node->payload);
    node->payload = item.release();
    node->payload_free = FreeMenuItem;
    return static_cast<MenuItem*>(node->payload);
}

MenuSet& TheMenuSet(int set) { return menu_sets[static_cast<size_t>(set)]; }
int& MenuFillCounter() { return fill_counter; }

void DestroyMenuSet(int set) {
    if (set < 0 || set >= kMenuSetCount) return;
    for (std::unique_ptr<BuiltMenu>& menu : menu_sets[static_cast<size_t>(set)]) menu.reset();
}

int BuildMenuSet(int set, const NamedTreeNode* node) {
    const int entry = fill_counter++;
    if (fill_counter >= kMenusPerSet) return -1;
    BuiltMenu* menu = MenuAt(set, entry);
    if (menu == nullptr) menu = NewMenu(set, entry);
    if (menu == nullptr || node == nullptr) return menu != nullptr ? 0 : -1;
    for (int64_t n = 1; n <= node->child_count; ++n) {
        const NamedTreeNode* child = FindNthChild(const_cast<NamedTreeNode*>(node), n);
        const MenuItem* item = MenuItemOf(child);
        if (item == nullptr || item->shown == 0) continue;
        BuiltMenuEntry built;
        built.id = static_cast<uint32_t>(item->id);
        built.grayed = item->enabled == 0;
        built.checked = static_cast<int8_t>(item->checked & 0xFF) == 1;
        if (item->caption.empty()) {
            built.separator = true;
            built.grayed = true;
            menu->entries.push_back(std::move(built));
            continue;
        }
        built.caption = item->caption;
        const bool opens = child->group != 0 && child->child_count > 0;
        if (!opens) {
            menu->entries.push_back(std::move(built));
            continue;
        }
        // The submenu goes into the next entry, which its build takes.
        built.submenu = fill_counter;
        if (NewMenu(set, fill_counter) == nullptr) return -1;
        menu->entries.push_back(std::move(built));
        if (BuildMenuSet(set, child) != 0) return -1;
    }
    return 0;
}

int BuildWrappedMenuSet(int set, const NamedTreeNode* node) {
    DestroyMenuSet(set);
    BuiltMenu* root = NewMenu(set, 0);
    BuiltMenu* content = NewMenu(set, 1);
    BuiltMenuEntry wrapper;
    wrapper.id = 1;
    wrapper.caption = "MENUSET";
    wrapper.submenu = 1;
    root->entries.push_back(std::move(wrapper));
    (void)content;
    fill_counter = 1;
    return BuildMenuSet(set, node);
}

std::vector<platform::PopupMenuItem> MenuDescription(int set, int entry) {
    std::vector<platform::PopupMenuItem> out;
    DescribeInto(set, entry, out, 0);
    return out;
}

std::vector<platform::PopupMenuItem> PopupDescription(int set) {
    const BuiltMenu* root = MenuAt(set, 0);
    if (root == nullptr) return {};
    for (const BuiltMenuEntry& entry : root->entries) {
        if (entry.submenu >= 0) return MenuDescription(set, entry.submenu);
    }
    return {};
}

// ---- The menu bar ------------------------------------------------------------

bool SetWindowMenuBar(WindowRecord& record, const std::string& name) {
    const size_t number = static_cast<size_t>(record.number);
    if (number >= window_bars.size()) return false;
    const NamedTreeNode* node = nullptr;
    if (!name.empty()) {
        node = FindNodeByPath(TheRootTrees().menus, name, kFindGroup);
        if (node == nullptr) {
            ReportScriptErrorF(kErrLayerNotFound, true, {CommandName(105), std::string_view(name)});
            return false;
        }
    }
    DestroyMenuSet(kMenuBarSet);
    if (node == nullptr) {
        std::lock_guard lock(bars_lock);
        window_bars[number].clear();
        return true;
    }
    NewMenu(kMenuBarSet, 0);
    fill_counter = 0;
    if (BuildMenuSet(kMenuBarSet, node) != 0) return true;  // the window keeps no new bar
    std::vector<platform::PopupMenuItem> bar = MenuDescription(kMenuBarSet, 0);
    std::lock_guard lock(bars_lock);
    window_bars[number] = std::move(bar);
    return true;
}

std::vector<platform::PopupMenuItem> WindowMenuBar(int window_number) {
    if (window_number < 0 || static_cast<size_t>(window_number) >= window_bars.size()) return {};
    std::lock_guard lock(bars_lock);
    return window_bars[static_cast<size_t>(window_number)];
}

// ---- Popup requests ----------------------------------------------------------

void RequestPopupMenu(int set, int32_t x, int32_t y) {
    std::lock_guard lock(popup_lock);
    popup_request = set;
    popup_x = x;
    popup_y = y;
}

int PendingPopupRequest() {
    std::lock_guard lock(popup_lock);
    return popup_request;
}

void DeliverMenuCommand(uint32_t id) {
    const WindowRecord* main_record = MainWindowRecord();
    if (main_record != nullptr && main_record->window != platform::kNoWindow && platform::HasWindowSystem() &&
        platform::GetWindowSystem().PostMessage(main_record->window, platform::WM_COMMAND, id, 0)) {
        return;
    }
    StoreMenuCommand(id);
}

void ShowRequestedPopupMenu() {
    int set = 0;
    {
        std::lock_guard lock(popup_lock);
        set = popup_request;
        popup_request = 0;
    }
    if (set != kPopupMenuSet && set != kTrayMenuSet) return;
    platform::PopupMenuRequest request;
    const WindowRecord* main_record = MainWindowRecord();
    if (main_record != nullptr) request.owner = main_record->window;
    request.items = PopupDescription(set);
    uint32_t chosen = 0;
    CallOnMainThread([&] { chosen = platform::GetUi().PopupMenu(request); });
    DeliverMenuCommand(chosen);
}

// ---- Commands ----------------------------------------------------------------

int32_t CmdDefineMenuItem() {
    if (DecodeCommandArgs(kCmdDefineMenuItem) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* path_slot = args.Find(0);
    if (path_slot == nullptr) return 0;
    std::string path;
    bool group = false;
    NamedTreeNode* node = nullptr;
    if (!FindMenuNode(path_slot->Text(), path, group, node)) return -1;

    const CommandArgSlot* order = args.Find(2);
    int32_t order_key = 1;
    if (order != nullptr) {
        const int32_t start = node != nullptr ? static_cast<int32_t>(node->order_key) : 1;
        order_key = ApplyMenuOrder(static_cast<uint8_t>(order->op), start, order->value);
        if (node != nullptr) SetNodePriority(node, order_key);
    }
    const CommandArgSlot* caption = args.Find(1);
    MenuItem* item = MenuItemOf(node);
    if (node == nullptr) {
        if (caption == nullptr) {
            ReportScriptErrorF(kErrMenuWithoutCaption, true,
                               {CommandName(kCmdDefineMenuItem), std::string_view(path)});
            return -1;
        }
        if (order == nullptr) {
            ReportScriptErrorF(kErrLayerWithoutOrder, true, {CommandName(kCmdDefineMenuItem)});
            return -1;
        }
        node = CreateTreeNode(TheRootTrees().menus, path, group, order_key);
        if (node == nullptr) return -1;
        item = CreateMenuItem(node, caption->Text());
        if (item == nullptr) {
            FreeTreeNode(node);
            return -1;
        }
    } else if (item == nullptr) {
        // A folder made some other way (the base folder): it gets its item now.
        item = CreateMenuItem(node, caption != nullptr ? caption->Text() : std::string_view());
        if (item == nullptr) return -1;
    } else if (caption != nullptr) {
        item->caption = CutCaption(caption->Text());
    }
    if (const CommandArgSlot* shown = args.Find(3)) item->shown = static_cast<uint8_t>(shown->value);
    if (const CommandArgSlot* enabled = args.Find(4)) item->enabled = static_cast<int16_t>(enabled->value);
    if (const CommandArgSlot* checked = args.Find(5)) item->checked = static_cast<int32_t>(checked->value);
    if (const CommandArgSlot* id = args.Find(6)) item->id = id->value;
    return 0;
}

int32_t CmdShowPopupMenu() {
    if (DecodeCommandArgs(kCmdShowPopupMenu) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* name = args.Find(0);
    const CommandArgSlot* show = args.Find(1);
    if (name == nullptr) return 0;
    std::string path;
    if (NormaliseNodePath(path, name->Text(), TheRootTrees().menu_folder, false) < 0) return -1;
    const NamedTreeNode* node = FindNodeByPath(TheRootTrees().menus, path, kFindGroup);
    if (node == nullptr || show == nullptr || show->value != 1) return 0;
    // An incomplete build still shows what it made. The menu opens at the
    // pointer wherever it is then, so no position is taken here.
    BuildWrappedMenuSet(kPopupMenuSet, node);
    RequestPopupMenu(kPopupMenuSet, 0, 0);
    return 0;
}

int32_t CmdDeleteMenuItem() {
    if (DecodeCommandArgs(kCmdDeleteMenuItem) != 0) return -1;
    const CommandArgSlot* path_slot = Args().Find(0);
    if (path_slot == nullptr) return 0;
    std::string path;
    bool group = false;
    NamedTreeNode* node = nullptr;
    if (!FindMenuNode(path_slot->Text(), path, group, node)) return -1;
    // A group goes with its whole subtree; built menus keep their copies.
    if (node != nullptr) FreeTreeNode(node);
    return 0;
}

int32_t CmdQueryMenuItem() {
    if (DecodeCommandArgs(kCmdQueryMenuItem) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* result = args.Find(0);
    const CommandArgSlot* path_slot = args.Find(1);
    if (result == nullptr || path_slot == nullptr) return 0;
    const uint32_t number = result->var_number;
    const int64_t element = result->var_element;
    std::string path;
    bool group = false;
    NamedTreeNode* node = nullptr;
    if (!FindMenuNode(path_slot->Text(), path, group, node)) return -1;
    const MenuItem* item = MenuItemOf(node);
    if (item == nullptr) {
        ClearAnswerElement(number, element);
        return 0;
    }
    if (args.Given(3)) return SetNumberElement(number, element, 1) == 0 ? 0 : -1;
    if (args.Given(5)) return SetNumberElement(number, element, item->shown) == 0 ? 0 : -1;
    if (args.Given(6)) return SetNumberElement(number, element, item->enabled) == 0 ? 0 : -1;
    if (args.Given(4)) return SetNumberElement(number, element, node->order_key) == 0 ? 0 : -1;
    if (args.Given(7)) return SetNumberElement(number, element, static_cast<int8_t>(item->checked & 0xFF)) == 0 ? 0 : -1;
    if (args.Given(8)) return SetNumberElement(number, element, item->id) == 0 ? 0 : -1;
    if (args.Given(2)) {
        const ScriptVariable* variable = FindVariable(number);
        if (variable != nullptr && variable->type == kVariableText) SetStringElement(number, element, item->caption);
    }
    return 0;
}

namespace {

template <uint8_t kCode>
int32_t CmdMenuCheckArgs() {
    return DecodeCommandArgs(kCode) != 0 ? -1 : 0;
}

bool CreateMenuItemHook(NamedTreeNode* node, const char* caption) {
    return CreateMenuItem(node, caption != nullptr ? std::string_view(caption) : std::string_view()) != nullptr;
}

void DestroyAllMenuSets() {
    for (int set = 0; set < kMenuSetCount; ++set) DestroyMenuSet(set);
}

}  // namespace

void RegisterMenuCommands() {
    RegisterCommandHandler(kCmdDefineMenuItem, CmdDefineMenuItem);
    RegisterCommandHandler(kCmdShowPopupMenu, CmdShowPopupMenu);
    RegisterCommandHandler(kCmdDeleteMenuItem, CmdDeleteMenuItem);
    RegisterCommandHandler(kCmdQueryMenuItem, CmdQueryMenuItem);
    RegisterCommandHandler(kCmdMenuCheckArgs66, CmdMenuCheckArgs<kCmdMenuCheckArgs66>);
    RegisterCommandHandler(kCmdMenuCheckArgs67, CmdMenuCheckArgs<kCmdMenuCheckArgs67>);
    RegisterCommandHandler(kCmdMenuCheckArgs68, CmdMenuCheckArgs<kCmdMenuCheckArgs68>);
    EngineHooks& hooks = Hooks();
    hooks.create_menu_item = CreateMenuItemHook;
    hooks.destroy_menus = DestroyAllMenuSets;
    hooks.request_popup_menu = RequestPopupMenu;
    hooks.show_requested_popup_menu = ShowRequestedPopupMenu;
}

void ResetMenus() {
    for (int set = 0; set < kMenuSetCount; ++set) DestroyMenuSet(set);
    fill_counter = 0;
    {
        std::lock_guard lock(bars_lock);
        for (auto& bar : window_bars) bar.clear();
    }
    std::lock_guard lock(popup_lock);
    popup_request = 0;
    popup_x = popup_y = 0;
}

}  // namespace zk
