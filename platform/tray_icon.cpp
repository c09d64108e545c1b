#include "platform/tray_icon.h"

#include <gio/gio.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "base/text_encoding.h"
#include "platform/ui_thread.h"

namespace zk::platform {

namespace {

constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";
constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr int kBusTimeoutMs = 5000;

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <method name="Activate"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
    <method name="ContextMenu"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
    <method name="Scroll"><arg type="i" direction="in"/><arg type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg type="s"/></signal>
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
  </interface>
  <interface name="com.canonical.dbusmenu">
    <method name="GetLayout">
      <arg type="i" direction="in"/><arg type="i" direction="in"/><arg type="as" direction="in"/>
      <arg type="u" direction="out"/><arg type="(ia{sv}av)" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" direction="in"/><arg type="as" direction="in"/><arg type="a(ia{sv})" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="in"/>
      <arg type="u" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" direction="in"/><arg type="ai" direction="out"/>
    </method>
    <method name="AboutToShow"><arg type="i" direction="in"/><arg type="b" direction="out"/></method>
    <method name="AboutToShowGroup">
      <arg type="ai" direction="in"/><arg type="ai" direction="out"/><arg type="ai" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated"><arg type="a(ia{sv})"/><arg type="a(ias)"/></signal>
    <signal name="LayoutUpdated"><arg type="u"/><arg type="i"/></signal>
    <signal name="ItemActivationRequested"><arg type="i"/><arg type="u"/></signal>
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
  </interface>
</node>)xml";

// GLib objects released by their own functions.
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;

// '&' marks a mnemonic for the engine, '_' for the bus's menus.
std::string MenuLabel(const std::string& cp932) {
    const std::string utf8 = Cp932ToUtf8(cp932);
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (c == '&') {
            if (i + 1 < utf8.size() && utf8[i + 1] == '&') {
                out += '&';
                ++i;
            } else {
                out += '_';
            }
        } else if (c == '_') {
            out += "__";
        } else {
            out += c;
        }
    }
    return out;
}

// The session bus's address; empty when there is none to reach.
std::string SessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address != nullptr && *address != '\0')
        return address;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        std::error_code error;
        const std::filesystem::path socket = std::filesystem::path(runtime) / "bus";
        if (std::filesystem::exists(socket, error)) return "unix:path=" + socket.string();
    }
    return {};
}

struct FlatItem {
    std::string label;  // UTF-8
    bool enabled = true;
    bool separator = false;
    bool checked = false;
    bool submenu = false;
    uint32_t command = 0;
    std::vector<int32_t> children;
};

class GdbusTrayIcon final : public TrayIcon {
public:
    GdbusTrayIcon(TrayCallbacks callbacks, std::string address)
        : callbacks_(std::move(callbacks)), address_(std::move(address)), ui_thread_(GetUiThread()) {
        node_info_ = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
        items_.emplace_back();  // the root
        if (ui_thread_ != nullptr) return;
        // No UI thread (a headless run): a loop of the icon's own.
        context_ = g_main_context_new();
        loop_ = g_main_loop_new(context_, FALSE);
        thread_ = std::thread([this] {
            g_main_context_push_thread_default(context_);
            g_main_loop_run(loop_);
            g_main_context_pop_thread_default(context_);
        });
    }

    ~GdbusTrayIcon() override {
        Remove();
        {
            std::lock_guard bus(bus_lock_);
            if (connection_ != nullptr && watch_subscription_ != 0) {
                RunOnLoop([this] { g_dbus_connection_signal_unsubscribe(connection_, watch_subscription_); });
            }
            watch_subscription_ = 0;
        }
        if (thread_.joinable()) {
            // The loop may not have started yet: quitting is queued until it has.
            g_main_context_invoke(context_, [](gpointer loop) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            }, loop_);
            thread_.join();
        }
        if (connection_ != nullptr) {
            g_dbus_connection_close_sync(connection_, nullptr, nullptr);
            g_object_unref(connection_);
        }
        g_dbus_node_info_unref(node_info_);
        if (loop_ != nullptr) g_main_loop_unref(loop_);
        if (context_ != nullptr) g_main_context_unref(context_);
    }

    void Show(const std::string& tooltip, const TrayIconPicture& picture) override {
        std::lock_guard bus(bus_lock_);
        bool exported = false;
        {
            std::lock_guard lock(lock_);
            tooltip_ = Cp932ToUtf8(tooltip);
            picture_ = picture;
            shown_ = true;
            exported = exported_;
        }
        if (!Connect()) return;
        if (!exported) {
            Export();
            return;
        }
        Emit(kItemPath, "org.kde.StatusNotifierItem", "NewIcon", nullptr);
        Emit(kItemPath, "org.kde.StatusNotifierItem", "NewToolTip", nullptr);
        Emit(kItemPath, "org.kde.StatusNotifierItem", "NewTitle", nullptr);
    }

    void SetMenu(const std::vector<PopupMenuItem>& menu) override {
        std::lock_guard bus(bus_lock_);
        uint32_t revision = 0;
        bool exported = false;
        {
            std::lock_guard lock(lock_);
            items_.clear();
            items_.emplace_back();
            Flatten(menu, 0);
            revision = ++revision_;
            exported = exported_;
        }
        if (exported) Emit(kMenuPath, "com.canonical.dbusmenu", "LayoutUpdated", g_variant_new("(ui)", revision, 0));
    }

    void Remove() override {
        std::lock_guard bus(bus_lock_);
        {
            std::lock_guard lock(lock_);
            shown_ = false;
            if (!exported_) return;
            exported_ = false;
        }
        RunOnLoop([this] {
            g_dbus_connection_unregister_object(connection_, item_registration_);
            g_dbus_connection_unregister_object(connection_, menu_registration_);
        });
        item_registration_ = menu_registration_ = 0;
        VariantPtr released(g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                        "org.freedesktop.DBus", "ReleaseName",
                                                        g_variant_new("(s)", bus_name_.c_str()), nullptr,
                                                        G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, nullptr));
    }

    bool Shown() const override {
        std::lock_guard lock(lock_);
        return shown_;
    }
    uint32_t MenuRevision() const override {
        std::lock_guard lock(lock_);
        return revision_;
    }
    std::string BusName() const override {
        std::lock_guard lock(lock_);
        return exported_ ? bus_name_ : std::string();
    }

private:
    // Runs `work` on the loop that serves the bus (the UI thread's, or the
    // icon's own) and waits for it: objects and signal subscriptions are
    // served on the loop they were made on. The icon's own loop runs until
    // the destructor, which stops it only after its last call here; the UI
    // thread answers every call while it is installed; once it is not (the
    // program's end) the work is dropped, as its loop serves nothing more.
    void RunOnLoop(const std::function<void()>& work) {
        if (ui_thread_ != nullptr) {
            if (GetUiThread() == ui_thread_) ui_thread_->Call(work);
            return;
        }
        struct Job {
            const std::function<void()>* work;
            std::mutex lock;
            std::condition_variable done_signal;
            bool done = false;
        } job{&work, {}, {}, false};
        g_main_context_invoke(context_, [](gpointer data) -> gboolean {
            auto* job = static_cast<Job*>(data);
            (*job->work)();
            std::lock_guard lock(job->lock);
            job->done = true;
            job->done_signal.notify_one();
            return G_SOURCE_REMOVE;
        }, &job);
        std::unique_lock lock(job.lock);
        job.done_signal.wait(lock, [&] { return job.done; });
    }

    // Under bus_lock_. False when there is no bus to reach.
    bool Connect() {
        if (connection_ != nullptr) return true;
        if (connect_failed_) return false;
        const std::string address = address_.empty() ? SessionBusAddress() : address_;
        if (address.empty()) {
            connect_failed_ = true;
            return false;
        }
        GError* raw_error = nullptr;
        GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &raw_error);
        ErrorPtr error(raw_error);
        if (connection == nullptr) {
            connect_failed_ = true;
            return false;
        }
        g_dbus_connection_set_exit_on_close(connection, FALSE);
        connection_ = connection;
        RunOnLoop([this] {
            watch_subscription_ = g_dbus_connection_signal_subscribe(
                connection_, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                "/org/freedesktop/DBus", kWatcherName, G_DBUS_SIGNAL_FLAGS_NONE, OnNameOwnerChanged, this, nullptr);
        });
        return true;
    }

    // Under bus_lock_: takes the item's name, serves both objects and tells
    // the watcher.
    void Export() {
        const std::string name = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1";
        RunOnLoop([this] {
            static const GDBusInterfaceVTable vtable = {OnMethodCall, OnGetProperty, nullptr, {}};
            item_registration_ = g_dbus_connection_register_object(connection_, kItemPath, node_info_->interfaces[0],
                                                                   &vtable, this, nullptr, nullptr);
            menu_registration_ = g_dbus_connection_register_object(connection_, kMenuPath, node_info_->interfaces[1],
                                                                   &vtable, this, nullptr, nullptr);
        });
        VariantPtr reply(g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", name.c_str(), 4u /* DBUS_NAME_FLAG_DO_NOT_QUEUE */), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, nullptr));
        {
            std::lock_guard lock(lock_);
            bus_name_ = name;
            exported_ = true;
        }
        RegisterWithWatcher(name);
    }

    void RegisterWithWatcher(const std::string& name) {
        g_dbus_connection_call(connection_, kWatcherName, "/StatusNotifierWatcher", kWatcherName,
                               "RegisterStatusNotifierItem", g_variant_new("(s)", name.c_str()), nullptr,
                               G_DBUS_CALL_FLAGS_NO_AUTO_START, kBusTimeoutMs, nullptr, nullptr, nullptr);
    }

    void Emit(const char* path, const char* interface, const char* signal, GVariant* parameters) {
        g_dbus_connection_emit_signal(connection_, nullptr, path, interface, signal, parameters, nullptr);
    }

    int32_t Flatten(const std::vector<PopupMenuItem>& entries, int32_t parent) {
        for (const PopupMenuItem& entry : entries) {
            const int32_t id = static_cast<int32_t>(items_.size());
            FlatItem item;
            item.separator = entry.kind == PopupMenuItem::Kind::kSeparator;
            item.submenu = entry.kind == PopupMenuItem::Kind::kSubmenu;
            if (!item.separator) item.label = MenuLabel(entry.text);
            item.enabled = entry.enabled;
            item.checked = entry.checked;
            item.command = entry.id;
            items_.push_back(std::move(item));
            items_[static_cast<size_t>(parent)].children.push_back(id);
            if (entry.kind == PopupMenuItem::Kind::kSubmenu) Flatten(entry.children, id);
        }
        return parent;
    }

    // Under lock_.
    GVariant* Properties(int32_t id) const {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
        if (id == 0) {
            g_variant_builder_add(&builder, "{sv}", "children-display", g_variant_new_string("submenu"));
            return g_variant_builder_end(&builder);
        }
        const FlatItem& item = items_[static_cast<size_t>(id)];
        if (item.separator) {
            g_variant_builder_add(&builder, "{sv}", "type", g_variant_new_string("separator"));
        } else {
            g_variant_builder_add(&builder, "{sv}", "label", g_variant_new_string(item.label.c_str()));
        }
        g_variant_builder_add(&builder, "{sv}", "enabled", g_variant_new_boolean(item.enabled));
        g_variant_builder_add(&builder, "{sv}", "visible", g_variant_new_boolean(TRUE));
        if (item.checked) {
            g_variant_builder_add(&builder, "{sv}", "toggle-type", g_variant_new_string("checkmark"));
            g_variant_builder_add(&builder, "{sv}", "toggle-state", g_variant_new_int32(1));
        }
        if (item.submenu)
            g_variant_builder_add(&builder, "{sv}", "children-display", g_variant_new_string("submenu"));
        return g_variant_builder_end(&builder);
    }

    GVariant* Layout(int32_t id, int32_t depth) const {
        GVariantBuilder children;
        g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
        if (depth != 0) {
            for (int32_t child : items_[static_cast<size_t>(id)].children)
                g_variant_builder_add(&children, "v", Layout(child, depth < 0 ? depth : depth - 1));
        }
        return g_variant_new("(i@a{sv}av)", id, Properties(id), &children);
    }

    bool ValidItem(int32_t id) const { return id >= 0 && static_cast<size_t>(id) < items_.size(); }

    GVariant* PixmapArray() const {
        GVariantBuilder pixmaps;
        g_variant_builder_init(&pixmaps, G_VARIANT_TYPE("a(iiay)"));
        if (picture_.argb.size() == size_t{kTrayIconSize} * kTrayIconSize * 4) {
            GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, picture_.argb.data(), picture_.argb.size(), 1);
            g_variant_builder_add(&pixmaps, "(ii@ay)", kTrayIconSize, kTrayIconSize, bytes);
        }
        return g_variant_builder_end(&pixmaps);
    }

    GVariant* ItemProperty(const char* name) const {
        const std::string_view property(name);
        if (property == "Category") return g_variant_new_string("ApplicationStatus");
        if (property == "Id") return g_variant_new_string("zorvek");
        if (property == "Title") return g_variant_new_string(tooltip_.c_str());
        if (property == "Status") return g_variant_new_string("Active");
        if (property == "WindowId") return g_variant_new_int32(0);
        if (property == "IconPixmap") return PixmapArray();
        if (property == "OverlayIconPixmap" || property == "AttentionIconPixmap")
            return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0);
        if (property == "ToolTip") {
            return g_variant_new("(s@a(iiay)ss)", "", g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0),
                                 tooltip_.c_str(), "");
        }
        if (property == "ItemIsMenu") return g_variant_new_boolean(FALSE);
        if (property == "Menu") return g_variant_new_object_path(kMenuPath);
        return g_variant_new_string("");  // the icon names: none
    }

    GVariant* MenuProperty(const char* name) const {
        const std::string_view property(name);
        if (property == "Version") return g_variant_new_uint32(3);
        if (property == "TextDirection") return g_variant_new_string("ltr");
        if (property == "Status") return g_variant_new_string("normal");
        return g_variant_new_strv(nullptr, 0);
    }

    static GVariant* OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar* interface,
                                   const gchar* property, GError**, gpointer data) {
        auto* self = static_cast<GdbusTrayIcon*>(data);
        std::lock_guard lock(self->lock_);
        if (std::string_view(interface) == "com.canonical.dbusmenu") return self->MenuProperty(property);
        return self->ItemProperty(property);
    }

    static void OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar* interface, const gchar* method,
                             GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<GdbusTrayIcon*>(data);
        if (std::string_view(interface) == "org.kde.StatusNotifierItem") {
            self->OnItemCall(method, invocation);
        } else {
            self->OnMenuCall(method, parameters, invocation);
        }
    }

    void OnItemCall(std::string_view method, GDBusMethodInvocation* invocation) {
        g_dbus_method_invocation_return_value(invocation, nullptr);
        if (method == "Activate" && callbacks_.activate) callbacks_.activate();
        if (method == "ContextMenu" && callbacks_.context_menu) callbacks_.context_menu();
    }

    void OnMenuCall(std::string_view method, GVariant* parameters, GDBusMethodInvocation* invocation) {
        uint32_t clicked = 0;
        bool click = false;
        {
            std::lock_guard lock(lock_);
            if (method == "GetLayout") {
                gint32 parent = 0, depth = 0;
                g_variant_get(parameters, "(ii@as)", &parent, &depth, nullptr);
                if (!ValidItem(parent)) parent = 0;
                g_dbus_method_invocation_return_value(invocation,
                                                      g_variant_new("(u@(ia{sv}av))", revision_, Layout(parent, depth)));
                return;
            }
            if (method == "GetGroupProperties") {
                GVariantIter* ids = nullptr;
                g_variant_get(parameters, "(ai@as)", &ids, nullptr);
                GVariantBuilder out;
                g_variant_builder_init(&out, G_VARIANT_TYPE("a(ia{sv})"));
                gint32 id = 0;
                while (g_variant_iter_loop(ids, "i", &id)) {
                    if (ValidItem(id)) g_variant_builder_add(&out, "(i@a{sv})", id, Properties(id));
                }
                g_variant_iter_free(ids);
                g_dbus_method_invocation_return_value(invocation, g_variant_new("(a(ia{sv}))", &out));
                return;
            }
            if (method == "GetProperty") {
                gint32 id = 0;
                const gchar* name = nullptr;
                g_variant_get(parameters, "(i&s)", &id, &name);
                VariantPtr properties(ValidItem(id) ? g_variant_ref_sink(Properties(id)) : nullptr);
                GVariant* value = properties ? g_variant_lookup_value(properties.get(), name, nullptr) : nullptr;
                if (value == nullptr) {
                    g_dbus_method_invocation_return_dbus_error(invocation, "com.canonical.dbusmenu.Error",
                                                               "no such property");
                    return;
                }
                g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
                g_variant_unref(value);
                return;
            }
            if (method == "Event" || method == "EventGroup") {
                std::vector<std::pair<int32_t, std::string>> events;
                if (method == "Event") {
                    gint32 id = 0;
                    const gchar* event = nullptr;
                    g_variant_get(parameters, "(i&s@vu)", &id, &event, nullptr, nullptr);
                    events.emplace_back(id, event);
                    g_dbus_method_invocation_return_value(invocation, nullptr);
                } else {
                    GVariantIter* iter = nullptr;
                    g_variant_get(parameters, "(a(isvu))", &iter);
                    gint32 id = 0;
                    const gchar* event = nullptr;
                    GVariantBuilder errors;
                    g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
                    while (g_variant_iter_loop(iter, "(i&svu)", &id, &event, nullptr, nullptr)) {
                        if (!ValidItem(id)) g_variant_builder_add(&errors, "i", id);
                        events.emplace_back(id, event);
                    }
                    g_variant_iter_free(iter);
                    g_dbus_method_invocation_return_value(invocation, g_variant_new("(ai)", &errors));
                }
                for (const auto& [id, event] : events) {
                    if (event != "clicked" || id <= 0 || !ValidItem(id)) continue;
                    const FlatItem& item = items_[static_cast<size_t>(id)];
                    if (item.separator || item.submenu || !item.enabled) continue;
                    clicked = item.command;
                    click = true;
                    break;
                }
            } else if (method == "AboutToShow") {
                g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
                return;
            } else if (method == "AboutToShowGroup") {
                g_dbus_method_invocation_return_value(
                    invocation, g_variant_new("(@ai@ai)", g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0),
                                              g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0)));
                return;
            } else {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod",
                                                           "unknown method");
                return;
            }
        }
        // Outside the lock: the callback may call back into the icon.
        if (click && callbacks_.menu_clicked) callbacks_.menu_clicked(clicked);
    }

    static void OnNameOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                   GVariant* parameters, gpointer data) {
        auto* self = static_cast<GdbusTrayIcon*>(data);
        const gchar* name = nullptr;
        const gchar* new_owner = nullptr;
        g_variant_get(parameters, "(&s&s&s)", &name, nullptr, &new_owner);
        if (new_owner == nullptr || *new_owner == '\0') return;
        std::string item_name;
        {
            std::lock_guard lock(self->lock_);
            if (!self->exported_) return;
            item_name = self->bus_name_;
        }
        self->RegisterWithWatcher(item_name);
    }

    TrayCallbacks callbacks_;
    std::string address_;
    UiThread* ui_thread_ = nullptr;
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    GDBusNodeInfo* node_info_ = nullptr;
    std::thread thread_;

    // The bus's objects: made and released by one caller at a time. The
    // loop's handlers never take this lock, so a caller may wait for the
    // loop while holding it.
    std::mutex bus_lock_;
    GDBusConnection* connection_ = nullptr;  // set once, before the loop serves anything on it
    bool connect_failed_ = false;
    guint watch_subscription_ = 0;
    guint item_registration_ = 0, menu_registration_ = 0;

    // What the bus reads, from the loop's handlers and the callers.
    mutable std::mutex lock_;
    bool shown_ = false;
    bool exported_ = false;
    std::string bus_name_;
    std::string tooltip_;
    TrayIconPicture picture_;
    std::vector<FlatItem> items_;
    uint32_t revision_ = 0;
};

}  // namespace

TrayIconPicture BuiltInTrayIcon() {
    // A dark blue tile with a light border and a white "Z".
    TrayIconPicture picture;
    picture.argb.resize(size_t{kTrayIconSize} * kTrayIconSize * 4);
    for (int y = 0; y < kTrayIconSize; ++y) {
        for (int x = 0; x < kTrayIconSize; ++x) {
            uint8_t* p = &picture.argb[static_cast<size_t>(y * kTrayIconSize + x) * 4];
            const bool border = x == 0 || y == 0 || x == kTrayIconSize - 1 || y == kTrayIconSize - 1;
            const bool bar = (y == 3 || y == 12) && x >= 3 && x <= 12;
            const bool diagonal = y > 3 && y < 12 && x == 15 - y;
            const bool white = bar || diagonal;
            p[0] = 0xFF;
            p[1] = white ? 0xFF : border ? 0x90 : 0x20;
            p[2] = white ? 0xFF : border ? 0xB0 : 0x30;
            p[3] = white ? 0xFF : border ? 0xE0 : 0x80;
        }
    }
    return picture;
}

TrayIconPicture TrayIconFromBgra(const uint8_t* bgra, size_t stride) {
    TrayIconPicture picture;
    picture.argb.resize(size_t{kTrayIconSize} * kTrayIconSize * 4);
    for (int y = 0; y < kTrayIconSize; ++y) {
        const uint8_t* row = bgra + static_cast<size_t>(y) * stride;
        for (int x = 0; x < kTrayIconSize; ++x) {
            const uint8_t* s = row + x * 4;
            uint8_t* d = &picture.argb[static_cast<size_t>(y * kTrayIconSize + x) * 4];
            d[0] = s[3];
            d[1] = s[2];
            d[2] = s[1];
            d[3] = s[0];
        }
    }
    return picture;
}

std::unique_ptr<TrayIcon> TrayIcon::Create(TrayCallbacks callbacks, std::string bus_address) {
    return std::make_unique<GdbusTrayIcon>(std::move(callbacks), std::move(bus_address));
}

}  // namespace zk::platform
