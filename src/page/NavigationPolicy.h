#pragma once
// Where the page may go: its own site and a few local schemes stay in the
// view, other web and mail addresses leave for the desktop, nothing ever
// opens a second view, and responses the view cannot show become downloads.
// Pure: the host describes the request, this answers.

#include <optional>
#include <string>

#include "Url.h"

namespace orvane {

enum class NavigationStage {
    action,     // a frame is about to go somewhere
    newWindow,  // a link aimed at a new window, or a script opening one
    response,   // a response has arrived and the view asks whether to show it
};

struct NavigationRequest {
    NavigationStage stage = NavigationStage::action;
    // The request's address as the engine writes it; empty when it has none.
    std::string address;
    // The navigation type is "other": a load the app or a script started,
    // a redirect of one, or a sub-frame's own load.
    bool typeOther = true;
    bool userGesture = false;
    // Response stage: the response is the main frame's document (the engine
    // only knows the frame here).
    bool mainFrame = false;
    // Response stage: the view can show the response's MIME type.
    bool canShow = true;
    // Response stage: the HTTP status (0 when there is none).
    int status = 0;
    // Response stage: the main frame's load under way set out for the page
    // address itself (a redirect may have taken it elsewhere since).
    bool loadingPageAddress = false;
};

struct NavigationDecision {
    enum class Verdict { allow, cancel, download };
    Verdict verdict = Verdict::cancel;
    // Hand this address to the desktop (the view stays where it was).
    std::optional<Url> openOutside;
    // An allowed navigation inside the site that is not of type "other": the
    // page's load starts afresh, so a later failure retries the saved copy again.
    bool clearTriedCache = false;
    // The site's server answered the main frame with an error of its own
    // (5xx): a failed load of the page, as a dropped connection is, so that
    // the saved copy or the offline page shows instead of the error page.
    bool serverFailed = false;
    // A frame asked to save a file that is not the site's own: refused, as
    // a frame of another site must not open save dialogs on the window.
    bool downloadRefused = false;
    // The page address now leads to another site: a failed load of the
    // page, which the offline page names, not a page for the desktop to open
    // unasked (a network's sign-in page, a moved or taken-over server).
    bool pageMoved = false;
};

// The scheme as written (case kept), or "" when the address has none.
std::string schemeOf(const std::string& address);

NavigationDecision decideNavigation(const NavigationRequest& request, const Url& page);

}  // namespace orvane
