// The tray icon against a private session bus (a dbus-daemon of the test's
// own) with a stand-in StatusNotifierWatcher: registration, changes, the
// icon's bytes, the exported menu's layout, a menu click reaching the
// pending menu command, and a watcher that appears after the icon.
#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "base/text_encoding.h"
#include "core/window_requests.h"
#include "layers/cg_image.h"
#include "platform/tray_icon.h"
#include "system/menus.h"
#include "system/system_command.h"
#include "system/tray_command.h"
#include "tests/platform/scoped_env.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

// A dbus-daemon for one test, ended with it.
class PrivateBus {
public:
    PrivateBus() {
        FILE* out = ::popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 2>/dev/null", "r");
        if (out == nullptr) return;
        char line[512] = {};
        if (std::fgets(line, sizeof line, out) != nullptr) address_ = line;
        if (std::fgets(line, sizeof line, out) != nullptr) pid_ = std::atoi(line);
        ::pclose(out);
        while (!address_.empty() && (address_.back() == '\n' || address_.back() == '\r')) address_.pop_back();
    }
    ~PrivateBus() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
    }
    const std::string& address() const { return address_; }
    bool ok() const { return !address_.empty() && pid_ > 0; }

private:
    std::string address_;
    int pid_ = 0;
};

// The test's own connection, dispatched on the test thread while it waits.
class BusClient {
public:
    explicit BusClient(const std::string& address) {
        context_ = g_main_context_new();
        g_main_context_push_thread_default(context_);
        connection_ = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
    }
    ~BusClient() {
        if (watcher_registration_ != 0) g_dbus_connection_unregister_object(connection_, watcher_registration_);
        if (connection_ != nullptr) {
            g_dbus_connection_close_sync(connection_, nullptr, nullptr);
            g_object_unref(connection_);
        }
        if (watcher_info_ != nullptr) g_dbus_node_info_unref(watcher_info_);
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    bool ok() const { return connection_ != nullptr; }

    // Serves org.kde.StatusNotifierWatcher and takes its name.
    void BecomeWatcher() {
        watcher_info_ = g_dbus_node_info_new_for_xml(
            "<node><interface name='org.kde.StatusNotifierWatcher'>"
            "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
            "</interface></node>",
            nullptr);
        static const GDBusInterfaceVTable vtable = {
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
               GDBusMethodInvocation* invocation, gpointer data) {
                const gchar* service = nullptr;
                g_variant_get(parameters, "(&s)", &service);
                static_cast<BusClient*>(data)->registered.emplace_back(service);
                g_dbus_method_invocation_return_value(invocation, nullptr);
            },
            nullptr, nullptr, {}};
        watcher_registration_ = g_dbus_connection_register_object(connection_, "/StatusNotifierWatcher",
                                                                  watcher_info_->interfaces[0], &vtable, this, nullptr,
                                                                  nullptr);
        Unref(Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                   g_variant_new("(su)", "org.kde.StatusNotifierWatcher", 4u)));
    }

    GVariant* Call(const char* name, const char* path, const char* interface, const char* method, GVariant* args) {
        return g_dbus_connection_call_sync(connection_, name, path, interface, method, args, nullptr,
                                           G_DBUS_CALL_FLAGS_NONE, 20000, nullptr, nullptr);
    }
    // The property's value (owned by the caller), or null.
    GVariant* Property(const std::string& name, const char* path, const char* interface, const char* property) {
        GVariant* reply = Call(name.c_str(), path, "org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", interface, property));
        if (reply == nullptr) return nullptr;
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        g_variant_unref(reply);
        return value;
    }
    bool HasOwner(const std::string& name) {
        GVariant* reply = Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                               g_variant_new("(s)", name.c_str()));
        gboolean has = FALSE;
        if (reply != nullptr) g_variant_get(reply, "(b)", &has);
        Unref(reply);
        return has != FALSE;
    }
    // Serves the test's connection until `done` holds; false after a long
    // time (a fault, not a slow machine).
    template <class Done>
    bool DispatchUntil(Done done) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done()) {
            if (std::chrono::steady_clock::now() > give_up) return false;
            while (g_main_context_iteration(context_, FALSE)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    static void Unref(GVariant* value) {
        if (value != nullptr) g_variant_unref(value);
    }

    std::vector<std::string> registered;

private:
    GMainContext* context_ = nullptr;
    GDBusConnection* connection_ = nullptr;
    GDBusNodeInfo* watcher_info_ = nullptr;
    guint watcher_registration_ = 0;
};

class TrayIconTest : public script_test::RunOnceTest {
protected:
    void SetUp() override {
        RunOnceTest::SetUp();
        RegisterSystemServices();
        if (!bus_.ok()) GTEST_SKIP() << "no dbus-daemon";
        env_ = std::make_unique<test::ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", bus_.address());
    }
    void TearDown() override {
        ResetTrayIcon();
        env_.reset();
        RunOnceTest::TearDown();
    }
    std::string ItemName() const { return "org.kde.StatusNotifierItem-" + test::OwnPid() + "-1"; }
    static constexpr std::string_view kMenu =
        "menuitem path=\"t/\", caption=\"Tray\", order=1\n"
        "menuitem path=\"t/save\", caption=\"&Save\", order=1, id=0x10007\n"
        "menuitem path=\"t/sep\", caption=\"\", order=2\n"
        "menuitem path=\"t/more/\", caption=\"More\", order=3\n"
        "menuitem path=\"t/more/quit\", caption=\"Quit\", order=1, id=9, checked=1, enabled=0\n";

    PrivateBus bus_;
    std::unique_ptr<test::ScopedEnv> env_;
};

// Labels (with their ids) of a layout, depth first.
void CollectLayout(GVariant* layout, std::vector<std::pair<int32_t, std::string>>& out) {
    gint32 id = 0;
    GVariant* properties = nullptr;
    GVariantIter* children = nullptr;
    g_variant_get(layout, "(i@a{sv}av)", &id, &properties, &children);
    const gchar* label = nullptr;
    const gchar* type = nullptr;
    std::string text;
    if (g_variant_lookup(properties, "label", "&s", &label)) text = label;
    if (g_variant_lookup(properties, "type", "&s", &type)) text = std::string("<") + type + ">";
    gboolean enabled = TRUE;
    if (g_variant_lookup(properties, "enabled", "b", &enabled) && !enabled) text += "(grey)";
    const gchar* toggle = nullptr;
    if (g_variant_lookup(properties, "toggle-type", "&s", &toggle)) text += std::string("(") + toggle + ")";
    if (id != 0) out.emplace_back(id, text);
    GVariant* child = nullptr;
    while (g_variant_iter_loop(children, "v", &child)) CollectLayout(child, out);
    g_variant_iter_free(children);
    g_variant_unref(properties);
}

TEST_F(TrayIconTest, RegistersExportsItsMenuAndPassesClicksOn) {
    BusClient client(bus_.address());
    ASSERT_TRUE(client.ok());
    client.BecomeWatcher();
    ASSERT_EQ(Run("", std::string(kMenu) + "tray show=1, tip=\"Game tip\", menu=\"t/\""), 0);
    ASSERT_TRUE(client.DispatchUntil([&] { return !client.registered.empty(); }));
    EXPECT_EQ(client.registered[0], ItemName());
    EXPECT_TRUE(TrayIconShown());

    GVariant* tooltip = client.Property(ItemName(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "ToolTip");
    ASSERT_NE(tooltip, nullptr);
    const gchar* title = nullptr;
    g_variant_get(tooltip, "(&s@a(iiay)&s&s)", nullptr, nullptr, &title, nullptr);
    EXPECT_STREQ(title, "Game tip");
    g_variant_unref(tooltip);

    // The built-in picture, big-endian ARGB.
    GVariant* pixmaps = client.Property(ItemName(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "IconPixmap");
    ASSERT_NE(pixmaps, nullptr);
    ASSERT_EQ(g_variant_n_children(pixmaps), 1u);
    GVariant* pixmap = g_variant_get_child_value(pixmaps, 0);
    gint32 width = 0, height = 0;
    GVariant* bytes = nullptr;
    g_variant_get(pixmap, "(ii@ay)", &width, &height, &bytes);
    EXPECT_EQ(width, 16);
    EXPECT_EQ(height, 16);
    gsize size = 0;
    const auto* data = static_cast<const uint8_t*>(g_variant_get_fixed_array(bytes, &size, 1));
    EXPECT_EQ(std::vector<uint8_t>(data, data + size), platform::BuiltInTrayIcon().argb);
    g_variant_unref(bytes);
    g_variant_unref(pixmap);
    g_variant_unref(pixmaps);

    GVariant* reply = client.Call(ItemName().c_str(), "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                                  g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)));
    ASSERT_NE(reply, nullptr);
    guint32 revision = 0;
    GVariant* layout = nullptr;
    g_variant_get(reply, "(u@(ia{sv}av))", &revision, &layout);
    std::vector<std::pair<int32_t, std::string>> items;
    CollectLayout(layout, items);
    g_variant_unref(layout);
    g_variant_unref(reply);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].second, "_Save");
    EXPECT_EQ(items[1].second, "<separator>(grey)");
    EXPECT_EQ(items[2].second, "More");
    EXPECT_EQ(items[3].second, "Quit(grey)(checkmark)");

    // A click on "Save" reaches the pending menu command (no window here),
    // its id cut to 16 bits; a click on the grey item does nothing.
    TheWindowRequests().menu_command = 0;
    for (int32_t id : {items[3].first, items[0].first}) {
        client.Unref(client.Call(ItemName().c_str(), "/MenuBar", "com.canonical.dbusmenu", "Event",
                                 g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0u)));
    }
    ASSERT_TRUE(client.DispatchUntil([] { return TheWindowRequests().menu_command.load() != 0; }));
    EXPECT_EQ(TheWindowRequests().menu_command.load(), 7);

    // A second show changes the icon in place; a new menu is a new layout.
    const uint32_t before = revision;
    ASSERT_EQ(Run("", std::string(kMenu) + "tray show=1, tip=\"Other\", menu=\"t/more/\""), 0);
    GVariant* changed = client.Property(ItemName(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Title");
    ASSERT_NE(changed, nullptr);
    EXPECT_STREQ(g_variant_get_string(changed, nullptr), "Other");
    g_variant_unref(changed);
    reply = client.Call(ItemName().c_str(), "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                        g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)));
    ASSERT_NE(reply, nullptr);
    g_variant_get(reply, "(u@(ia{sv}av))", &revision, &layout);
    items.clear();
    CollectLayout(layout, items);
    g_variant_unref(layout);
    g_variant_unref(reply);
    EXPECT_GT(revision, before);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].second, "Quit(grey)(checkmark)");
    EXPECT_EQ(client.registered.size(), 1u) << "a change registers nothing again";

    ASSERT_EQ(Run("", "tray show=0"), 0);
    EXPECT_FALSE(TrayIconShown());
    EXPECT_FALSE(client.HasOwner(ItemName()));
}

TEST_F(TrayIconTest, RegistersAgainWhenAWatcherAppears) {
    ASSERT_EQ(Run("", "tray show=1, tip=\"t\""), 0);
    BusClient client(bus_.address());
    ASSERT_TRUE(client.ok());
    ASSERT_TRUE(client.DispatchUntil([&] { return client.HasOwner(ItemName()); }));
    client.BecomeWatcher();
    ASSERT_TRUE(client.DispatchUntil([&] { return !client.registered.empty(); }));
    EXPECT_EQ(client.registered[0], ItemName());
}

TEST_F(TrayIconTest, TipsKeepWholeCharactersAndAMissingLayerChangesNothing) {
    ASSERT_EQ(Run("", "tray tip=\"" + std::string(62, 'a') + Utf8ToCp932("漢") + "\""), 0);
    EXPECT_EQ(TrayTip(), std::string(62, 'a'));
    ASSERT_EQ(Run("", "tray show=1, tip=\"new\", icon=\"nosuchlayer\""), 0);
    EXPECT_EQ(TrayTip(), std::string(62, 'a')) << "a missing icon layer ends the command first";
    EXPECT_FALSE(TrayIconShown());
    ASSERT_EQ(Run("", "tray show=0"), 0);  // nothing shown: nothing to do
    EXPECT_FALSE(TrayIconShown());
}

// A layer "W0/<name>" of the size given, every pixel B, G, R, A = 1, 2, 3, 4.
void MakeIconLayer(const char* name, int32_t size) {
    // The layer tree's own root, when the layers' hooks did not make it.
    if (TheRootTrees().layers == nullptr) TheRootTrees().layers = CreateRootNode();
    NamedTreeNode* layers = TheRootTrees().layers;
    if (FindNodeByPath(layers, "W0", kFindGroup) == nullptr) CreateTreeNode(layers, "W0", true, 1);
    NamedTreeNode* node = CreateTreeNode(layers, std::string("W0/") + name, false, 1);
    ASSERT_NE(node, nullptr);
    CgImage* image = CreateCgImage(node);
    ASSERT_NE(image, nullptr);
    ASSERT_TRUE(AllocCgPixels(*image, size, size));
    image->width = image->height = size;
    for (int32_t i = 0; i < size * size; ++i) {
        for (int c = 0; c < 4; ++c) image->current_pixels[i * 4 + c] = static_cast<uint8_t>(c + 1);
    }
}

TEST_F(TrayIconTest, IconsComeFrom16By16LayersAndOtherSizesAreNamed) {
    BusClient client(bus_.address());
    ASSERT_TRUE(client.ok());
    auto icon_bytes = [&] {
        std::vector<uint8_t> out;
        GVariant* pixmaps = client.Property(ItemName(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "IconPixmap");
        if (pixmaps == nullptr || g_variant_n_children(pixmaps) != 1) return out;
        GVariant* pixmap = g_variant_get_child_value(pixmaps, 0);
        GVariant* bytes = nullptr;
        g_variant_get(pixmap, "(ii@ay)", nullptr, nullptr, &bytes);
        gsize size = 0;
        const auto* data = static_cast<const uint8_t*>(g_variant_get_fixed_array(bytes, &size, 1));
        out.assign(data, data + size);
        g_variant_unref(bytes);
        g_variant_unref(pixmap);
        g_variant_unref(pixmaps);
        return out;
    };
    before_pass = [] {
        MakeIconLayer("small", 16);
        MakeIconLayer("big", 32);
    };
    ASSERT_EQ(Run("", "tray show=1, icon=\"small\""), 0);
    std::vector<uint8_t> argb;
    for (int i = 0; i < 256; ++i) argb.insert(argb.end(), {4, 3, 2, 1});
    EXPECT_EQ(icon_bytes(), argb);
    EXPECT_TRUE(ui_.boxes.empty());

    ASSERT_EQ(Run("", "tray show=1, icon=\"big\""), 0);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, Utf8ToCp932("ICON ERR.\r\nレイヤサイズが 16x16 ではありません。"));
    EXPECT_EQ(icon_bytes(), platform::BuiltInTrayIcon().argb) << "the engine's own icon instead";
}

TEST(TrayIconPictureTest, LayerPixelsBecomeBigEndianArgb) {
    std::vector<uint8_t> bgra(20 * 4 * 16, 0);  // rows of 20 pixels, 16 used
    bgra[0] = 1, bgra[1] = 2, bgra[2] = 3, bgra[3] = 4;
    bgra[20 * 4 * 15 + 15 * 4 + 3] = 0x80;  // the last pixel's alpha
    const platform::TrayIconPicture picture = platform::TrayIconFromBgra(bgra.data(), 20 * 4);
    ASSERT_EQ(picture.argb.size(), 1024u);
    EXPECT_EQ((std::vector<uint8_t>(picture.argb.begin(), picture.argb.begin() + 4)), (std::vector<uint8_t>{4, 3, 2, 1}));
    EXPECT_EQ(picture.argb[1020], 0x80);
}

}  // namespace
}  // namespace zk
