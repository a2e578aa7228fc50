#pragma once
// What the page asks of the user: alert, confirm and prompt as the window's
// own dialogs, and the files for an upload input. The page's call waits
// until the dialog ends; each is answered exactly once, also when the window
// goes first. The dialogs hold the page, not the window: its title bar and
// menu (Quit, close) stay in reach of a page that loops dialogs, and from
// its second dialog on the user may stop the page's dialogs until its next
// load.

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FileChooser.h"
#include "GRef.h"
#include "WeakPtr.h"

namespace orvane {

class PageDialogs {
public:
    // Serves `view`'s requests with dialogs on `parent`; files through
    // `choose` (the desktop's chooser when empty).
    // Dialogs are titled `appName`: a page must not be able to pass one off as
    // coming from the system or from another site.
    PageDialogs(GtkWindow* parent, std::string appName, WebKitWebView* view, FileChooser choose);
    // Ends every dialog still open as cancelled.
    ~PageDialogs();
    PageDialogs(const PageDialogs&) = delete;
    PageDialogs& operator=(const PageDialogs&) = delete;

    // The dialog the page waits on, if any.
    GtkWindow* current() const;
    // Ends every dialog of the page, as dismissed: the page is being replaced.
    void closeAll();
    // Called with the user's answer (true: leave) when a page that asked to
    // be warned before it is left was asked.
    std::function<void(bool leave)> leaveAnswered;

private:
    struct Open;
    bool show(WebKitScriptDialog* dialog);
    void ended(GtkWidget* widget, std::string_view response);
    bool chooseFiles(WebKitFileChooserRequest* request);
    // A new document: its dialogs are counted, and shown, afresh.
    void pageReplaced();
    // The page waits while a dialog is open; the view takes no input meanwhile.
    void holdPage();

    WebKitWebView* view_;

    GtkWindow* parent_;
    std::string appName_;
    FileChooser choose_;
    std::vector<std::unique_ptr<Open>> open_;
    int shownThisLoad_ = 0;
    bool stopped_ = false;  // the user stopped this document's dialogs
    SignalConnection dialogWatch_, chooserWatch_, endWatch_, loadWatch_;
    // Last: gone first, so no callback reaches a half-destroyed owner.
    WeakPtrFactory<PageDialogs> weak_{this};
};

}  // namespace orvane
