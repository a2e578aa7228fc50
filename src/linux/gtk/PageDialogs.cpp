#include "PageDialogs.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "PageDialogTexts.h"
#include "Sheet.h"

namespace orvane {

namespace texts = pageDialogTexts;
using WeakDialogs = std::weak_ptr<PageDialogs>;

// One script dialog on screen. Ending it (answered or torn down) closes the
// page's request once: WebKit answers a request that is closed again with
// nothing, and its own teardown may close it first.
struct PageDialogs::Open {
    WebKitScriptDialog* request;
    GPtr<GtkWidget> widget;
    GtkEntry* entry = nullptr;       // the prompt's
    GtkCheckButton* stop = nullptr;  // from the page's second dialog on
    SignalConnection response;

    Open(WebKitScriptDialog* dialog, GtkWidget* sheet)
        : request(webkit_script_dialog_ref(dialog)), widget(retain(sheet)) {}
    ~Open() {
        response.disconnect();
        webkit_script_dialog_close(request);
        webkit_script_dialog_unref(request);
        gtk_window_destroy(GTK_WINDOW(widget.get()));
    }
    Open(const Open&) = delete;
    Open& operator=(const Open&) = delete;
};

namespace {

// As much of a page's message as a dialog shows: laying out megabytes of
// text would hold the main loop for minutes, and a window taller than the
// screen hides its own buttons. Cut between characters, and said with "…".
std::string shownMessage(const char* message) {
    constexpr std::size_t kMaxCharacters = 3000;
    constexpr std::size_t kMaxLines = 40;
    std::string_view text = message ? message : "";
    std::size_t characters = 0, lines = 1, at = 0;
    for (; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if ((byte & 0xC0) == 0x80) continue;  // inside a character
        if (characters == kMaxCharacters || lines > kMaxLines) break;
        ++characters;
        if (byte == '\n') ++lines;
    }
    if (at == text.size()) return std::string(text);
    // A line that ended the count leaves its break out.
    std::string shown(text.substr(0, at));
    while (!shown.empty() && shown.back() == '\n') shown.pop_back();
    return shown + "…";
}

// The page's message as plain text, in a view that scrolls when it is long:
// the dialog stays within the screen, its buttons in reach.
GtkWidget* messageView(const std::string& text) {
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_widget_add_css_class(label, "body");
    GtkWidget* scrolled = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(scrolled), 320);
    gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scrolled), TRUE);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), label);
    return scrolled;
}

// The answer a page gets for a dialog the user stopped: as if dismissed,
// except that leaving the page is not held up.
void answerUnshown(WebKitScriptDialog* dialog) {
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_CONFIRM: webkit_script_dialog_confirm_set_confirmed(dialog, FALSE); break;
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM: webkit_script_dialog_confirm_set_confirmed(dialog, TRUE); break;
    default: break;  // an alert ends; a prompt answers null
    }
}

}  // namespace

PageDialogs::PageDialogs(GtkWindow* parent, std::string appName, WebKitWebView* view, FileChooser choose)
    : view_(view), parent_(parent), appName_(std::move(appName)),
      choose_(choose ? std::move(choose) : FileChooser(askDesktop)) {
    dialogWatch_ = connectWith(view, "script-dialog",
                               G_CALLBACK(+[](WebKitWebView*, WebKitScriptDialog* dialog, WeakDialogs* self) {
                                   auto dialogs = self->lock();
                                   return gboolean(dialogs && dialogs->show(dialog));
                               }),
                               weak_.weak());
    // A page's dialogs go with the page: its process ending, or a new load
    // starting, closes them, so that none outlives it over the next one.
    endWatch_ = connectWith(view, "web-process-terminated",
                            G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, WeakDialogs* self) {
                                if (auto dialogs = self->lock()) dialogs->pageReplaced();
                            }),
                            weak_.weak());
    loadWatch_ =
        connectWith(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, WeakDialogs* self) {
                        auto dialogs = self->lock();
                        if (dialogs && event == WEBKIT_LOAD_STARTED) dialogs->pageReplaced();
                    }),
                    weak_.weak());
    chooserWatch_ = connectWith(view, "run-file-chooser",
                                G_CALLBACK(+[](WebKitWebView*, WebKitFileChooserRequest* request, WeakDialogs* self) {
                                    auto dialogs = self->lock();
                                    return gboolean(dialogs && dialogs->chooseFiles(request));
                                }),
                                weak_.weak());
}

PageDialogs::~PageDialogs() {
    dialogWatch_.disconnect();
    chooserWatch_.disconnect();
    endWatch_.disconnect();
    loadWatch_.disconnect();
    open_.clear();
}

void PageDialogs::closeAll() {
    open_.clear();
    holdPage();
}

void PageDialogs::pageReplaced() {
    closeAll();
    shownThisLoad_ = 0;
    stopped_ = false;
}

void PageDialogs::holdPage() {
    const bool free = open_.empty();
    if (gtk_widget_get_sensitive(GTK_WIDGET(view_)) == free) return;
    gtk_widget_set_sensitive(GTK_WIDGET(view_), free);
    // Typing goes back to the page, unless the user went elsewhere meanwhile.
    if (free && !gtk_window_get_focus(parent_)) gtk_widget_grab_focus(GTK_WIDGET(view_));
}

GtkWindow* PageDialogs::current() const { return open_.empty() ? nullptr : GTK_WINDOW(open_.back()->widget.get()); }

bool PageDialogs::show(WebKitScriptDialog* dialog) {
    // Answered at once, unreferenced: WebKit takes the answer on return.
    if (stopped_) {
        answerUnshown(dialog);
        return true;
    }
    const auto type = webkit_script_dialog_get_dialog_type(dialog);
    const bool leaving = type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM;
    GtkWidget* sheet =
        leaving ? makeSheet(parent_, appName_, std::string(texts::leaveQuestion), std::string(texts::leaveDetail))
                : makeSheet(parent_, appName_, "", "");
    // Holding only the page (see holdPage), not the window.
    gtk_window_set_modal(GTK_WINDOW(sheet), FALSE);
    auto open = std::make_unique<Open>(dialog, sheet);
    AdwMessageDialog* box = ADW_MESSAGE_DIALOG(sheet);
    switch (type) {
    case WEBKIT_SCRIPT_DIALOG_ALERT: adw_message_dialog_add_response(box, kSheetOk, texts::ok); break;
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
        // Asked because the user or the app is leaving: leaving is the
        // default, Escape stays.
        adw_message_dialog_add_response(box, kSheetCancel, texts::stay);
        adw_message_dialog_add_response(box, kSheetOk, texts::leave);
        break;
    default:
        adw_message_dialog_add_response(box, kSheetCancel, texts::cancel);
        adw_message_dialog_add_response(box, kSheetOk, texts::ok);
        break;
    }
    adw_message_dialog_set_default_response(box, kSheetOk);
    adw_message_dialog_set_close_response(box, type == WEBKIT_SCRIPT_DIALOG_ALERT ? kSheetOk : kSheetCancel);
    GtkWidget* below = nullptr;  // the prompt's entry, the choice to stop
    const auto addBelow = [&](GtkWidget* widget) {
        if (!below) {
            below = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
            adw_message_dialog_set_extra_child(box, below);
        }
        gtk_box_append(GTK_BOX(below), widget);
    };
    if (!leaving) addBelow(messageView(shownMessage(webkit_script_dialog_get_message(dialog))));
    if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) {
        GtkWidget* entry = gtk_entry_new();
        open->entry = GTK_ENTRY(entry);
        const char* text = webkit_script_dialog_prompt_get_default_text(dialog);
        gtk_editable_set_text(GTK_EDITABLE(entry), text ? text : "");
        gtk_entry_set_activates_default(open->entry, TRUE);
        addBelow(entry);
        // Typing goes to the entry from the start.
        gtk_window_set_focus(GTK_WINDOW(sheet), entry);
    }
    // A page that asks again and again is the user's to silence.
    if (!leaving && shownThisLoad_++ > 0) {
        GtkWidget* stop = gtk_check_button_new_with_mnemonic(texts::stopDialogs);
        open->stop = GTK_CHECK_BUTTON(stop);
        addBelow(stop);
    }
    open->response = connectWith(sheet, "response",
                                 G_CALLBACK(+[](AdwMessageDialog* widget, const char* response, WeakDialogs* self) {
                                     if (auto dialogs = self->lock()) dialogs->ended(GTK_WIDGET(widget), response);
                                 }),
                                 weak_.weak());
    open_.push_back(std::move(open));
    holdPage();
    gtk_window_present(GTK_WINDOW(sheet));
    return true;
}

void PageDialogs::ended(GtkWidget* widget, std::string_view response) {
    const auto found =
        std::find_if(open_.begin(), open_.end(), [&](const auto& open) { return open->widget.get() == widget; });
    if (found == open_.end()) return;
    std::unique_ptr<Open> open = std::move(*found);
    open_.erase(found);
    const bool ok = response == kSheetOk;
    if (open->stop && gtk_check_button_get_active(open->stop)) stopped_ = true;
    const auto type = webkit_script_dialog_get_dialog_type(open->request);
    switch (type) {
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(open->request, ok);
        break;
    case WEBKIT_SCRIPT_DIALOG_PROMPT:
        // Without a text the page's prompt() answers null.
        if (ok) webkit_script_dialog_prompt_set_text(open->request, gtk_editable_get_text(GTK_EDITABLE(open->entry)));
        break;
    default: break;
    }
    // The page's call returns and the dialog goes.
    open.reset();
    holdPage();
    if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM && leaveAnswered) leaveAnswered(ok);
}

bool PageDialogs::chooseFiles(WebKitFileChooserRequest* request) {
    FileQuestion question;
    question.kind = webkit_file_chooser_request_get_select_multiple(request) ? FileQuestion::Kind::openMany
                                                                             : FileQuestion::Kind::openOne;
    question.filter = webkit_file_chooser_request_get_mime_types_filter(request);
    // The request is answered whatever becomes of the window meanwhile.
    const std::shared_ptr<WebKitFileChooserRequest> held(WEBKIT_FILE_CHOOSER_REQUEST(g_object_ref(request)),
                                                         g_object_unref);
    choose_(parent_, question, [request = held](const std::vector<std::string>& paths) {
        if (paths.empty()) {
            webkit_file_chooser_request_cancel(request.get());
            return;
        }
        std::vector<const char*> list;
        list.reserve(paths.size() + 1);
        for (const auto& path : paths) list.push_back(path.c_str());
        list.push_back(nullptr);
        webkit_file_chooser_request_select_files(request.get(), list.data());
    });
    return true;
}

}  // namespace orvane
