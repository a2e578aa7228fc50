#include "Site.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace orvane {
namespace {

constexpr std::array<double, 11> kZoomLevels = {0.5, 0.67, 0.75, 0.8, 0.9, 1.0, 1.1, 1.25, 1.5, 1.75, 2.0};
constexpr int kNormalZoom = 5;

std::optional<std::string> lowered(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return lowercase(*text);
}

// The port an address is reached on: the one written, else the scheme's
// default. WebKit shows "http://h:80/" as "http://h/", so both must match.
std::optional<int> effectivePort(const Url& url) {
    if (url.port) return url.port;
    const std::string scheme = lowercase(url.scheme.value_or(""));
    if (scheme == "http") return 80;
    if (scheme == "https") return 443;
    return std::nullopt;
}

}  // namespace

bool sameSite(const std::optional<Url>& address, const Url& page) {
    if (!address) return false;
    return address->scheme == page.scheme && lowered(address->host) == lowered(page.host) &&
           effectivePort(*address) == effectivePort(page);
}

bool browsersBlockPort(const Url& address) {
    static constexpr int kBadPorts[] = {
        0,    1,    7,    9,    11,   13,   15,   17,   19,   20,   21,   22,   23,   25,   37,   42,   43,
        53,   69,   77,   79,   87,   95,   101,  102,  103,  104,  109,  110,  111,  113,  115,  117,  119,
        123,  135,  137,  139,  143,  161,  179,  389,  427,  465,  512,  513,  514,  515,  526,  530,  531,
        532,  540,  548,  554,  556,  563,  587,  601,  636,  989,  990,  993,  995,  1719, 1720, 1723, 2049,
        3659, 4045, 4190, 5060, 5061, 6000, 6566, 6665, 6666, 6667, 6668, 6669, 6679, 6697, 10080};
    const auto port = effectivePort(address);
    return port && std::find(std::begin(kBadPorts), std::end(kBadPorts), *port) != std::end(kBadPorts);
}

double zoomStep(double current, int step) {
    if (step == 0) return 1.0;
    int index = kNormalZoom;
    // A zoom between two levels counts as the next level up. NaN compares
    // false everywhere and so falls back to the normal size.
    for (int i = 0; i < static_cast<int>(kZoomLevels.size()); ++i) {
        if (current - 0.001 <= kZoomLevels[static_cast<std::size_t>(i)]) {
            index = i;
            break;
        }
    }
    const long long target =
        std::clamp<long long>(static_cast<long long>(index) + step, 0, static_cast<long long>(kZoomLevels.size()) - 1);
    return kZoomLevels[static_cast<std::size_t>(target)];
}

}  // namespace orvane
