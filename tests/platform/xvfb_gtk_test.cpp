// A smoke test of the GTK back end on a real X server (Xvfb): GTK opens on
// the display, a dialog opens as the main thread's modal and closes, by its
// own button or because the waiting caller gave up. Skipped where Xvfb is
// not installed. One server for the whole suite: GTK keeps the display it
// opened for the rest of the process.
#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "platform/ui.h"
#include "platform/ui_gtk_support.h"
#include "platform/ui_thread.h"

extern char** environ;

namespace zk::platform {
namespace {

using namespace std::chrono_literals;

class XvfbGtkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* xvfb = "/usr/bin/Xvfb";
        if (access(xvfb, X_OK) != 0) return;
        int number = 90 + static_cast<int>((getpid() + 7) % 400);
        while (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock") ||
               std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) {
            ++number;
        }
        display_ = ":" + std::to_string(number);
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        const char* argv[] = {xvfb, display_.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", nullptr};
        if (posix_spawn(&server_, xvfb, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
            server_ = 0;
            return;
        }
        for (int i = 0; i < 400 && !std::filesystem::exists(socket); ++i) std::this_thread::sleep_for(25ms);
    }

    static void TearDownTestSuite() {
        if (server_ <= 0) return;
        kill(server_, SIGTERM);
        int status = 0;
        waitpid(server_, &status, 0);
        server_ = 0;
    }

    void SetUp() override {
        if (server_ <= 0) GTEST_SKIP() << "Xvfb is not installed";
        thread_ = UiThread::Start(display_);
        ASSERT_NE(thread_, nullptr);
        ASSERT_TRUE(thread_->HasGtk()) << "GTK did not open " << display_;
    }

    // Posts a job that waits (on the UI thread, by its loop's timeouts)
    // until a dialog is shown, then hands it to `act`.
    void WhenDialogShows(std::function<void(GtkDialog*)> act) {
        struct Watch {
            std::function<void(GtkDialog*)> act;
        };
        auto watch = std::make_shared<Watch>(Watch{std::move(act)});
        thread_->Post([watch] {
            g_timeout_add_full(
                G_PRIORITY_DEFAULT, 20,
                [](gpointer data) -> gboolean {
                    auto& w = *static_cast<std::shared_ptr<Watch>*>(data);
                    GList* windows = gtk_window_list_toplevels();
                    GtkDialog* found = nullptr;
                    for (GList* item = windows; item != nullptr; item = item->next) {
                        if (GTK_IS_DIALOG(item->data) && gtk_widget_get_mapped(GTK_WIDGET(item->data)))
                            found = GTK_DIALOG(item->data);
                    }
                    g_list_free(windows);
                    if (found == nullptr) return G_SOURCE_CONTINUE;
                    w->act(found);
                    return G_SOURCE_REMOVE;
                },
                std::make_unique<std::shared_ptr<Watch>>(watch).release(),
                [](gpointer data) { std::unique_ptr<std::shared_ptr<Watch>>(static_cast<std::shared_ptr<Watch>*>(data)); });
        });
    }

    static inline std::string display_;
    static inline pid_t server_ = 0;
    std::unique_ptr<UiThread> thread_;
};

TEST_F(XvfbGtkTest, ADialogOpensAndClosesByItsButton) {
    WhenDialogShows([](GtkDialog* dialog) { gtk_dialog_response(dialog, GTK_RESPONSE_OK); });
    int response = 0;
    ASSERT_TRUE(RunModal(*thread_, [&] {
        GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s",
                                                   "テスト");
        response = RunDialog(*thread_, GTK_DIALOG(dialog));
        gtk_widget_destroy(dialog);
    }));
    EXPECT_EQ(response, GTK_RESPONSE_OK);
}

TEST_F(XvfbGtkTest, AGivenUpWaitEndsTheDialog) {
    std::atomic<bool> shown{false};
    WhenDialogShows([&shown](GtkDialog*) { shown.store(true); });
    int response = 0;
    ASSERT_TRUE(thread_->Call(
        [&] {
            GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO,
                                                       GTK_BUTTONS_OK, "%s", "x");
            response = RunDialog(*thread_, GTK_DIALOG(dialog));
            gtk_widget_destroy(dialog);
        },
        [&] { return !shown.load(); }));
    EXPECT_EQ(response, GTK_RESPONSE_DELETE_EVENT);
}

// Popup menus: posts a job that waits until a menu is shown and hands its
// menu shell to `act`.
void WhenMenuShows(UiThread& thread, std::function<void(GtkMenuShell*)> act) {
    auto watch = std::make_shared<std::function<void(GtkMenuShell*)>>(std::move(act));
    thread.Post([watch] {
        g_timeout_add_full(
            G_PRIORITY_DEFAULT, 20,
            [](gpointer data) -> gboolean {
                auto& w = *static_cast<std::shared_ptr<std::function<void(GtkMenuShell*)>>*>(data);
                GList* windows = gtk_window_list_toplevels();
                GtkMenuShell* found = nullptr;
                for (GList* item = windows; item != nullptr; item = item->next) {
                    if (!gtk_widget_get_mapped(GTK_WIDGET(item->data))) continue;
                    GtkWidget* child = gtk_bin_get_child(GTK_BIN(item->data));
                    if (child != nullptr && GTK_IS_MENU(child)) found = GTK_MENU_SHELL(child);
                }
                g_list_free(windows);
                if (found == nullptr) return G_SOURCE_CONTINUE;
                (*w)(found);
                return G_SOURCE_REMOVE;
            },
            std::make_unique<std::shared_ptr<std::function<void(GtkMenuShell*)>>>(watch).release(),
            [](gpointer data) {
                std::unique_ptr<std::shared_ptr<std::function<void(GtkMenuShell*)>>>(
                    static_cast<std::shared_ptr<std::function<void(GtkMenuShell*)>>*>(data));
            });
    });
}

PopupMenuRequest SmallMenu() {
    PopupMenuRequest request;
    PopupMenuItem save;
    save.text = "&Save";
    save.id = 0x10007;
    PopupMenuItem separator;
    separator.kind = PopupMenuItem::Kind::kSeparator;
    PopupMenuItem more;
    more.kind = PopupMenuItem::Kind::kSubmenu;
    more.text = "More";
    PopupMenuItem quit;
    quit.text = "Quit";
    quit.id = 9;
    quit.checked = true;
    more.children.push_back(quit);
    request.items = {save, separator, more};
    return request;
}

TEST_F(XvfbGtkTest, APopupMenuAnswersTheItemChosen) {
    WhenMenuShows(*thread_, [](GtkMenuShell* menu) {
        GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
        gtk_menu_shell_activate_item(menu, GTK_WIDGET(items->data), TRUE);
        g_list_free(items);
    });
    uint32_t chosen = 0;
    const PopupMenuRequest request = SmallMenu();
    ASSERT_TRUE(RunModal(*thread_, [&] { chosen = ShowGtkPopupMenu(*thread_, request, 0); }));
    EXPECT_EQ(chosen, 0x10007u);
}

TEST_F(XvfbGtkTest, APopupMenuClosedWithoutAChoiceAnswersZero) {
    WhenMenuShows(*thread_, [](GtkMenuShell* menu) { gtk_menu_shell_deactivate(menu); });
    uint32_t chosen = 1;
    const PopupMenuRequest request = SmallMenu();
    ASSERT_TRUE(RunModal(*thread_, [&] { chosen = ShowGtkPopupMenu(*thread_, request, 0); }));
    EXPECT_EQ(chosen, 0u);
    // A caller that gives up ends the menu too.
    std::atomic<bool> shown{false};
    WhenMenuShows(*thread_, [&shown](GtkMenuShell*) { shown.store(true); });
    chosen = 1;
    ASSERT_TRUE(thread_->Call([&] { chosen = ShowGtkPopupMenu(*thread_, request, 0); }, [&] { return !shown.load(); }));
    EXPECT_EQ(chosen, 0u);
}

}  // namespace
}  // namespace zk::platform
