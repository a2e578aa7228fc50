#include "NavigationPolicy.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "PageBridge.h"
#include "Site.h"

namespace orvane {
namespace {

using Verdict = NavigationDecision::Verdict;

// Addresses that may fill the view besides the site's own: those that carry
// their own content and reach no other site. A blob's document speaks for the
// origin that made it (written after "blob:"), so only the site's own blobs
// stay: another site's, made in a frame of the page, would show its content
// in the window as if it were the app's. The engine itself keeps page scripts
// from sending the main frame to a data address.
bool staysInView(std::string_view scheme, const std::string& address, const Url& page) {
    if (scheme == "blob") return sameSite(Url::parse(address.substr(scheme.size() + 1)), page);
    static constexpr std::array<std::string_view, 2> kLocal = {"about", "data"};
    return std::find(kLocal.begin(), kLocal.end(), scheme) != kLocal.end();
}

// The desktop gets only what it can hand to a browser or a mail program.
std::optional<Url> outside(const std::string& address) {
    auto url = Url::parse(address);
    if (url && openableOutside(*url)) return url;
    return std::nullopt;
}

NavigationDecision cancelAndOpen(const std::string& address) { return {Verdict::cancel, outside(address), false}; }

}  // namespace

std::string schemeOf(const std::string& address) {
    // RFC 3986: a letter, then letters, digits, "+", "-" or ".", then ":".
    const auto colon = address.find(':');
    if (colon == std::string::npos || colon == 0) return {};
    if (!std::isalpha(static_cast<unsigned char>(address[0]))) return {};
    for (std::size_t i = 1; i < colon; ++i) {
        const auto c = static_cast<unsigned char>(address[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return {};
    }
    return address.substr(0, colon);
}

NavigationDecision decideNavigation(const NavigationRequest& request, const Url& page) {
    if (request.address.empty()) return {};
    const std::string scheme = schemeOf(request.address);
    const bool onSite = sameSite(Url::parse(request.address), page);
    const bool inPlace = onSite || staysInView(scheme, request.address, page);

    switch (request.stage) {
    case NavigationStage::newWindow:
        // Never a second view: web and mail addresses go to the desktop,
        // those of the page's own site too.
        return cancelAndOpen(request.address);

    case NavigationStage::response:
        // The one place the engine names the main frame: a main-frame load
        // off the site that the action stage let through ends here, before
        // the view shows any of it.
        if (request.mainFrame && !inPlace) {
            if (!request.loadingPageAddress) return cancelAndOpen(request.address);
            NavigationDecision moved;
            moved.pageMoved = true;
            return moved;
        }
        if (request.mainFrame && onSite && request.status >= 500 && request.status <= 599)
            return {Verdict::cancel, std::nullopt, false, true};
        if (request.canShow) return {Verdict::allow, std::nullopt, false};
        // The engine does not say which site a sub-frame is of; a file from
        // another site (or a data address, which could be anyone's) is
        // taken as that frame's own.
        if (!request.mainFrame && !(onSite || (scheme == "blob" && inPlace)))
            return {Verdict::cancel, std::nullopt, false, false, true};
        return {Verdict::download, std::nullopt, false};

    case NavigationStage::action: break;
    }
    if (inPlace) return {Verdict::allow, std::nullopt, onSite && !request.typeOther};
    // The action stage does not say which frame navigates. A link, a form, a
    // move through history or anything the user set off is taken as the main
    // frame's; what is left (a sub-frame's own load, or a script's navigation
    // without a gesture) loads, and the response stage catches the main frame.
    if (request.typeOther && !request.userGesture) return {Verdict::allow, std::nullopt, false};
    return cancelAndOpen(request.address);
}

}  // namespace orvane
