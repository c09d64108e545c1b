// The GTK 3 UI: dialogs and popup menus on the UI thread, modal for the
// main thread, which waits with the engine's windows painted.
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

class GtkUi final : public Ui {
public:
    explicit GtkUi(UiThread& thread) : thread_(thread) {}

    int MessageBox(WindowHandle owner, std::string_view text, const char* caption, uint32_t flags) override {
        return fallback_->MessageBox(owner, text, caption, flags);
    }

    int ErrorDialog(const ErrorDialogRequest& request) override { return fallback_->ErrorDialog(request); }

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
