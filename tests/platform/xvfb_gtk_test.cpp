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

#include "base/text_encoding.h"
#include "platform/ui.h"
#include "platform/ui_gtk_support.h"
#include "platform/ui_thread.h"

extern char** environ;

namespace zk::platform {
namespace {

using namespace std::chrono_literals;

// Not under the sanitizers, which the plain build leaves out: GTK's
// start-up keeps caches (themes, fonts, settings) for the life of the
// process that LeakSanitizer takes for leaks, and GTK's libraries (GLib's
// own locks, fontconfig) are not instrumented for ThreadSanitizer, which
// then reports their internal accesses. The UI thread's own tests run
// under both.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

class XvfbGtkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* xvfb = "/usr/bin/Xvfb";
        if (kSanitized || access(xvfb, X_OK) != 0) return;
        // No session bus here: GTK's settings stay in memory.
        setenv("GSETTINGS_BACKEND", "memory", 1);
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
        if (kSanitized) GTEST_SKIP() << "GTK under a sanitizer";
        if (server_ <= 0) GTEST_SKIP() << "Xvfb is not installed";
        thread_ = UiThread::Start(display_);
        ASSERT_NE(thread_, nullptr);
        ASSERT_TRUE(thread_->HasGtk()) << "GTK did not open " << display_;
    }

    // Posts a job that looks for a shown dialog every 20 ms (on the UI
    // thread's loop) and hands it to `act` until `act` says it is done or
    // the test ends.
    void WhenDialogShows(std::function<bool(GtkDialog*)> act) {
        struct Watch {
            std::function<bool(GtkDialog*)> act;
            std::shared_ptr<std::atomic<bool>> stop;
        };
        using WatchPtr = std::shared_ptr<Watch>;
        auto watch = std::make_shared<Watch>(Watch{std::move(act), stop_});
        thread_->Post([watch] {
            g_timeout_add_full(
                G_PRIORITY_DEFAULT, 20,
                [](gpointer data) -> gboolean {
                    auto& w = *static_cast<WatchPtr*>(data);
                    if (w->stop->load()) return G_SOURCE_REMOVE;
                    GList* windows = gtk_window_list_toplevels();
                    GtkDialog* found = nullptr;
                    for (GList* item = windows; item != nullptr; item = item->next) {
                        if (GTK_IS_DIALOG(item->data) && gtk_widget_get_mapped(GTK_WIDGET(item->data)))
                            found = GTK_DIALOG(item->data);
                    }
                    g_list_free(windows);
                    if (found == nullptr) return G_SOURCE_CONTINUE;
                    return w->act(found) ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
                },
                std::make_unique<WatchPtr>(watch).release(),
                [](gpointer data) { std::unique_ptr<WatchPtr>(static_cast<WatchPtr*>(data)); });
        });
    }

    void TearDown() override {
        stop_->store(true);
        thread_.reset();
    }

    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
    static inline std::string display_;
    static inline pid_t server_ = 0;
    std::unique_ptr<UiThread> thread_;
};

TEST_F(XvfbGtkTest, ADialogOpensAndClosesByItsButton) {
    WhenDialogShows([](GtkDialog* dialog) {
        gtk_dialog_response(dialog, GTK_RESPONSE_OK);
        return true;
    });
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
    WhenDialogShows([&shown](GtkDialog*) {
        shown.store(true);
        return true;
    });
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

// The first widget of `type` inside `widget`, depth first.
GtkWidget* FindWidget(GtkWidget* widget, GType type) {
    if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type)) return widget;
    if (!GTK_IS_CONTAINER(widget)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    GtkWidget* found = nullptr;
    for (GList* item = children; item != nullptr && found == nullptr; item = item->next)
        found = FindWidget(GTK_WIDGET(item->data), type);
    g_list_free(children);
    return found;
}

TEST_F(XvfbGtkTest, MessageBoxAnswersItsButton) {
    std::unique_ptr<Ui> ui = CreateGtkUi(*thread_);
    ASSERT_NE(ui, nullptr);
    WhenDialogShows([](GtkDialog* dialog) {
        gtk_dialog_response(dialog, IDNO);
        return true;
    });
    EXPECT_EQ(ui->MessageBox(kNoWindow, "\x83\x65\x83\x58\x83\x67", nullptr, MB_YESNOCANCEL | MB_ICONQUESTION), IDNO);
    // Esc in a Yes/No/Cancel box is Cancel.
    WhenDialogShows([](GtkDialog* dialog) {
        gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT);
        return true;
    });
    EXPECT_EQ(ui->MessageBox(kNoWindow, "x", "c", MB_YESNOCANCEL), IDCANCEL);
}

TEST_F(XvfbGtkTest, InputBoxEndsOnlyWithOkAndCountsCharacters) {
    std::unique_ptr<Ui> ui = CreateGtkUi(*thread_);
    ASSERT_NE(ui, nullptr);
    int step = 0;
    WhenDialogShows([&step](GtkDialog* dialog) {
        if (step++ == 0) {
            // Esc first: the box stays.
            gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT);
            return false;
        }
        GtkWidget* entry = FindWidget(GTK_WIDGET(dialog), GTK_TYPE_ENTRY);
        if (entry == nullptr) return false;
        gtk_entry_set_text(GTK_ENTRY(entry), "あいうえおか");
        gtk_dialog_response(dialog, GTK_RESPONSE_OK);
        return true;
    });
    InputBoxRequest request;
    request.title = "T";
    request.prompt = "P";
    request.initial = "init";
    request.limit = 5;
    const std::optional<std::string> entered = ui->InputBox(request);
    ASSERT_TRUE(entered.has_value());
    EXPECT_EQ(*entered, Utf8ToCp932("あいうえお"));
    EXPECT_GE(step, 2);
}

TEST_F(XvfbGtkTest, TextEntryGivesCrLfAndCancels) {
    std::unique_ptr<Ui> ui = CreateGtkUi(*thread_);
    ASSERT_NE(ui, nullptr);
    std::string initial_seen;
    WhenDialogShows([&initial_seen](GtkDialog* dialog) {
        GtkWidget* view = FindWidget(GTK_WIDGET(dialog), GTK_TYPE_TEXT_VIEW);
        if (view == nullptr) return false;
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
        GtkTextIter start, end;
        gtk_text_buffer_get_bounds(buffer, &start, &end);
        gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
        initial_seen = text;
        g_free(text);
        // Typing past 256 characters keeps the first 256.
        gtk_text_buffer_set_text(buffer, "", -1);
        gtk_text_buffer_insert_at_cursor(buffer, "a\nb", -1);
        gtk_text_buffer_insert_at_cursor(buffer, std::string(300, 'z').c_str(), -1);
        gtk_dialog_response(dialog, GTK_RESPONSE_OK);
        return true;
    });
    TextEntryRequest request;
    request.initial = "one\r\ntwo";
    TextEntryResult result = ui->TextEntry(request);
    EXPECT_EQ(initial_seen, "one\ntwo");
    EXPECT_EQ(result.outcome, TextEntryResult::Outcome::kOk);
    EXPECT_EQ(result.text, "a\r\nb" + std::string(253, 'z'));
    WhenDialogShows([](GtkDialog* dialog) {
        gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT);  // Esc
        return true;
    });
    result = ui->TextEntry(request);
    EXPECT_EQ(result.outcome, TextEntryResult::Outcome::kCancel);
}

TEST_F(XvfbGtkTest, SaveDialogTakesANewName) {
    std::unique_ptr<Ui> ui = CreateGtkUi(*thread_);
    ASSERT_NE(ui, nullptr);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("zk_gtk_save_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    // The chooser checks the name before it answers, and takes no answer
    // before it has loaded its folder: its button, pressed until it
    // answers.
    WhenDialogShows([](GtkDialog* dialog) {
        if (GtkWidget* save = gtk_dialog_get_widget_for_response(dialog, GTK_RESPONSE_ACCEPT))
            gtk_button_clicked(GTK_BUTTON(save));
        return false;
    });
    SaveFileRequest request;
    request.title = "t";
    request.filter_name = "PNG File(*.png)";
    request.pattern = "*.png";
    request.initial_folder = folder.string();
    request.initial_name = "new.png";
    const std::optional<std::string> chosen = ui->SaveFile(request);
    std::filesystem::remove_all(folder);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(std::filesystem::path(*chosen), folder / "new.png");
}

}  // namespace
}  // namespace zk::platform
