// The GTK 3 UI: dialogs and popup menus on the UI thread, modal for the
// main thread, which waits with the engine's windows painted. Texts are
// CP932 at the interface and UTF-8 inside GTK; what a player types comes
// back as CP932 ('?' for characters CP932 lacks).
//
// A modal ended early (the engine is quitting while it is up) answers as
// its Esc key would, or for boxes without one as the choice that changes
// nothing. Work the UI thread can no longer run goes to the SDL back end.
#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "base/sjis.h"
#include "base/text_encoding.h"
#include "platform/ui.h"
#include "platform/ui_gtk_support.h"
#include "platform/ui_thread.h"

namespace zk::platform {

namespace {

constexpr int kTextEntryLimit = 256;  // characters
constexpr const char* kOkLabel = "OK";
constexpr const char* kCancelLabel = "キャンセル";

// gtk_widget_destroy for a dialog made here, at the end of its scope.
struct WidgetDestroyer {
    void operator()(GtkWidget* widget) const { gtk_widget_destroy(widget); }
};
using DialogPtr = std::unique_ptr<GtkWidget, WidgetDestroyer>;

struct GCharFree {
    void operator()(gchar* text) const { g_free(text); }
};

// A modal dialog without a close button, centred, over its owner.
DialogPtr NewDialog(const std::string& title_utf8, uint64_t owner_id) {
    DialogPtr dialog(gtk_dialog_new());
    GtkWindow* window = GTK_WINDOW(dialog.get());
    gtk_window_set_title(window, title_utf8.c_str());
    gtk_window_set_modal(window, TRUE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_window_set_deletable(window, FALSE);
    SetTransientForHost(window, owner_id);
    return dialog;
}

GtkMessageType MessageType(uint32_t flags) {
    switch (flags & MB_ICONMASK) {
        case MB_ICONERROR: return GTK_MESSAGE_ERROR;
        case MB_ICONQUESTION: return GTK_MESSAGE_QUESTION;
        case MB_ICONWARNING: return GTK_MESSAGE_WARNING;
        case MB_ICONINFORMATION: return GTK_MESSAGE_INFO;
        default: return GTK_MESSAGE_OTHER;
    }
}

// The text-entry box's limit: an insertion that would pass it is cut to
// what still fits.
void LimitInsertion(GtkTextBuffer* buffer, GtkTextIter* where, gchar* text, gint length, gpointer) {
    const gint room = kTextEntryLimit - gtk_text_buffer_get_char_count(buffer);
    const glong inserted = g_utf8_strlen(text, length);
    if (inserted <= room) return;
    g_signal_stop_emission_by_name(buffer, "insert-text");
    if (room <= 0) return;
    const gchar* end = g_utf8_offset_to_pointer(text, room);
    g_signal_handlers_block_by_func(buffer, reinterpret_cast<gpointer>(LimitInsertion), nullptr);
    gtk_text_buffer_insert(buffer, where, text, static_cast<gint>(end - text));
    g_signal_handlers_unblock_by_func(buffer, reinterpret_cast<gpointer>(LimitInsertion), nullptr);
}

std::optional<std::string> ChooserFilename(GtkWidget* chooser) {
    std::unique_ptr<gchar, GCharFree> name(gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser)));
    if (name == nullptr) return std::nullopt;
    return std::string(name.get());
}

class GtkUi final : public Ui {
public:
    explicit GtkUi(UiThread& thread) : thread_(thread) {}

    int MessageBox(WindowHandle owner, std::string_view text, const char* caption, uint32_t flags) override {
        const uint64_t owner_id = OwnerWindowId(owner);
        const std::vector<MessageBoxButton> buttons = MessageBoxButtons(flags);
        const std::string title = caption ? Cp932ToUtf8(caption) : std::string(kDefaultBoxCaptionUtf8);
        const std::string message = DialogTextToUtf8(text);
        int answer = 0;
        const bool ran = RunModal(thread_, [&] {
            int escape = 0;
            int unchanged = IDNO;  // MB_YESNO: no Esc answer; see the top of the file
            DialogPtr dialog(gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, MessageType(flags), GTK_BUTTONS_NONE,
                                                    "%s", message.c_str()));
            GtkWindow* window = GTK_WINDOW(dialog.get());
            gtk_window_set_title(window, title.c_str());
            gtk_window_set_position(window, GTK_WIN_POS_CENTER);
            if (flags & MB_SYSTEMMODAL) gtk_window_set_keep_above(window, TRUE);
            for (const MessageBoxButton& button : buttons) {
                gtk_dialog_add_button(GTK_DIALOG(dialog.get()), button.label, button.id);
                if (button.is_default) gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), button.id);
                if (button.is_escape) escape = unchanged = button.id;
            }
            gtk_window_set_deletable(window, escape != 0);
            SetTransientForHost(window, owner_id);
            for (;;) {
                const int response = RunDialog(thread_, GTK_DIALOG(dialog.get()));
                if (response > 0) {
                    answer = response;
                    return;
                }
                // Esc or the window's close button: the Esc button's
                // answer; a box without one stays up.
                if (escape != 0 || thread_.CancelRequested()) {
                    answer = unchanged;
                    return;
                }
            }
        });
        return ran ? answer : fallback_->MessageBox(owner, text, caption, flags);
    }

    // The dialog stays up while the edit button is pressed: each press
    // runs on_edit (on the calling thread) and shows it again.
    int ErrorDialog(const ErrorDialogRequest& request) override {
        const uint64_t owner_id = OwnerWindowId(request.owner);
        const std::string title = Cp932ToUtf8(request.caption);
        const std::string message = DialogTextToUtf8(request.message);
        for (;;) {
            int pressed = kErrorDialogExitButton;
            const bool ran = RunModal(thread_, [&] {
                DialogPtr dialog(gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                                        GTK_BUTTONS_NONE, "%s", message.c_str()));
                GtkWindow* window = GTK_WINDOW(dialog.get());
                gtk_window_set_title(window, title.c_str());
                gtk_window_set_position(window, GTK_WIN_POS_CENTER);
                gtk_window_set_keep_above(window, TRUE);
                if (request.edit != ErrorDialogRequest::EditButton::kAbsent) {
                    GtkWidget* edit = gtk_dialog_add_button(GTK_DIALOG(dialog.get()), "編集(_E)", kErrorDialogEditButton);
                    gtk_widget_set_sensitive(edit, request.edit == ErrorDialogRequest::EditButton::kEnabled);
                }
                gtk_dialog_add_button(GTK_DIALOG(dialog.get()), "終了(_X)", kErrorDialogExitButton);
                gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), kErrorDialogExitButton);
                SetTransientForHost(window, owner_id);
                pressed = RunDialog(thread_, GTK_DIALOG(dialog.get()));
            });
            if (!ran) return fallback_->ErrorDialog(request);
            if (pressed != kErrorDialogEditButton) return kErrorDialogExitButton;
            if (request.on_edit) request.on_edit();
        }
    }

    std::optional<std::string> InputBox(const InputBoxRequest& request) override {
        const uint64_t owner_id = OwnerWindowId(request.owner);
        const std::string title = Cp932ToUtf8(request.title);
        const std::string prompt = DialogTextToUtf8(request.prompt);
        const std::string initial = Cp932ToUtf8(request.initial);
        std::optional<std::string> entered;
        const bool ran = RunModal(thread_, [&] {
            DialogPtr dialog = NewDialog(title, owner_id);
            GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog.get()));
            gtk_container_set_border_width(GTK_CONTAINER(content), 10);
            gtk_box_set_spacing(GTK_BOX(content), 8);
            GtkWidget* label = gtk_label_new(prompt.c_str());
            gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
            gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
            gtk_label_set_max_width_chars(GTK_LABEL(label), 40);
            gtk_box_pack_start(GTK_BOX(content), label, FALSE, FALSE, 0);
            GtkWidget* entry = gtk_entry_new();
            gtk_entry_set_text(GTK_ENTRY(entry), initial.c_str());
            // GTK counts the limit in characters, as the box does.
            if (request.limit > 0) gtk_entry_set_max_length(GTK_ENTRY(entry), request.limit);
            gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
            gtk_entry_set_width_chars(GTK_ENTRY(entry), 36);
            gtk_box_pack_start(GTK_BOX(content), entry, FALSE, FALSE, 0);
            gtk_dialog_add_button(GTK_DIALOG(dialog.get()), kOkLabel, GTK_RESPONSE_OK);
            gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_OK);
            gtk_widget_show_all(content);
            gtk_widget_grab_focus(entry);
            // Only OK ends the box: Esc does nothing.
            while (RunDialog(thread_, GTK_DIALOG(dialog.get())) != GTK_RESPONSE_OK) {
                if (thread_.CancelRequested()) return;
            }
            const std::string text = DialogTextFromUtf8(gtk_entry_get_text(GTK_ENTRY(entry)), false);
            entered = std::string(SjisTruncate(text, kDialogResultLimit));
        });
        if (!ran) return fallback_->InputBox(request);
        return entered;
    }

    TextEntryResult TextEntry(const TextEntryRequest& request) override {
        const uint64_t owner_id = OwnerWindowId(request.owner);
        const std::string initial = DialogTextToUtf8(request.initial);
        TextEntryResult result;
        const bool ran = RunModal(thread_, [&] {
            DialogPtr dialog = NewDialog("編集", owner_id);
            GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog.get()));
            gtk_container_set_border_width(GTK_CONTAINER(content), 8);
            GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
            gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_ALWAYS);
            gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
            gtk_widget_set_size_request(scrolled, 400, 150);
            GtkWidget* view = gtk_text_view_new();
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
            gtk_text_buffer_set_text(buffer, initial.c_str(), -1);
            g_signal_connect(buffer, "insert-text", G_CALLBACK(LimitInsertion), nullptr);
            gtk_container_add(GTK_CONTAINER(scrolled), view);
            gtk_box_pack_start(GTK_BOX(content), scrolled, TRUE, TRUE, 0);
            gtk_dialog_add_button(GTK_DIALOG(dialog.get()), kOkLabel, GTK_RESPONSE_OK);
            gtk_dialog_add_button(GTK_DIALOG(dialog.get()), "ｷｬﾝｾﾙ", GTK_RESPONSE_CANCEL);
            gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_OK);
            gtk_widget_show_all(content);
            gtk_widget_grab_focus(view);
            // Esc cancels, as the Cancel button does.
            if (RunDialog(thread_, GTK_DIALOG(dialog.get())) != GTK_RESPONSE_OK) {
                result.outcome = TextEntryResult::Outcome::kCancel;
                return;
            }
            GtkTextIter start, end;
            gtk_text_buffer_get_bounds(buffer, &start, &end);
            std::unique_ptr<gchar, GCharFree> text(gtk_text_buffer_get_text(buffer, &start, &end, FALSE));
            result.outcome = TextEntryResult::Outcome::kOk;
            result.text = std::string(SjisTruncate(DialogTextFromUtf8(text.get(), true), kDialogResultLimit));
        });
        return ran ? result : fallback_->TextEntry(request);
    }

    std::optional<std::string> BrowseFolder(const FolderRequest& request) override {
        const uint64_t owner_id = OwnerWindowId(request.owner);
        const std::string title = Cp932ToUtf8(request.title);
        std::optional<std::string> chosen;
        const bool ran = RunModal(thread_, [&] {
            DialogPtr dialog(gtk_file_chooser_dialog_new(title.c_str(), nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
                                                         kCancelLabel, GTK_RESPONSE_CANCEL, kOkLabel,
                                                         GTK_RESPONSE_ACCEPT, nullptr));
            GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog.get());
            gtk_file_chooser_set_local_only(chooser, TRUE);
            if (!request.initial_folder.empty()) gtk_file_chooser_set_current_folder(chooser, request.initial_folder.c_str());
            gtk_window_set_position(GTK_WINDOW(dialog.get()), GTK_WIN_POS_CENTER);
            SetTransientForHost(GTK_WINDOW(dialog.get()), owner_id);
            if (RunDialog(thread_, GTK_DIALOG(dialog.get())) == GTK_RESPONSE_ACCEPT) chosen = ChooserFilename(dialog.get());
        });
        return ran ? chosen : fallback_->BrowseFolder(request);
    }

    std::optional<std::string> SaveFile(const SaveFileRequest& request) override {
        const uint64_t owner_id = OwnerWindowId(request.owner);
        const std::string title = Cp932ToUtf8(request.title);
        const std::string filter_name = Cp932ToUtf8(request.filter_name);
        const std::string name = Cp932ToUtf8(request.initial_name);
        std::optional<std::string> chosen;
        const bool ran = RunModal(thread_, [&] {
            DialogPtr dialog(gtk_file_chooser_dialog_new(title.c_str(), nullptr, GTK_FILE_CHOOSER_ACTION_SAVE,
                                                         kCancelLabel, GTK_RESPONSE_CANCEL, "保存(_S)",
                                                         GTK_RESPONSE_ACCEPT, nullptr));
            GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog.get());
            gtk_file_chooser_set_local_only(chooser, TRUE);
            // A new name is fine; an existing file is asked about first.
            gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
            GtkFileFilter* filter = gtk_file_filter_new();
            gtk_file_filter_set_name(filter, filter_name.c_str());
            // Windows matches patterns without regard to case.
            std::string upper = request.pattern;
            for (char& c : upper) c = static_cast<char>(g_ascii_toupper(c));
            gtk_file_filter_add_pattern(filter, request.pattern.c_str());
            if (upper != request.pattern) gtk_file_filter_add_pattern(filter, upper.c_str());
            gtk_file_chooser_add_filter(chooser, filter);  // the chooser takes the reference
            if (!request.initial_folder.empty()) gtk_file_chooser_set_current_folder(chooser, request.initial_folder.c_str());
            if (!name.empty()) gtk_file_chooser_set_current_name(chooser, name.c_str());
            gtk_window_set_position(GTK_WINDOW(dialog.get()), GTK_WIN_POS_CENTER);
            SetTransientForHost(GTK_WINDOW(dialog.get()), owner_id);
            if (RunDialog(thread_, GTK_DIALOG(dialog.get())) == GTK_RESPONSE_ACCEPT) chosen = ChooserFilename(dialog.get());
        });
        return ran ? chosen : fallback_->SaveFile(request);
    }

    uint32_t PopupMenu(const PopupMenuRequest& request) override {
        const uint64_t owner_id = OwnerWindowId(request.owner);
        uint32_t chosen = 0;
        RunModal(thread_, [&] { chosen = ShowGtkPopupMenu(thread_, request, owner_id); });
        return chosen;
    }

private:
    UiThread& thread_;
    std::unique_ptr<Ui> fallback_ = CreateSdlUi();
};

}  // namespace

std::unique_ptr<Ui> CreateGtkUi(UiThread& thread) {
    if (!thread.HasGtk()) return nullptr;
    return std::make_unique<GtkUi>(thread);
}

}  // namespace zk::platform
