// Page addresses: the configured address, a page's "open" request, and a
// reference resolved against the page (the update manifest's place).
// Input: the base address, a newline, the reference.
#include "FuzzInput.h"
#include "Url.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [base, reference] = fuzz::splitLine(fuzz::text(data, size));
    const auto url = Url::parse(base);
    if (!url) return 0;
    fuzz::require(url->text == base, "an address keeps its text");
    if (url->port) fuzz::require(*url->port >= 0 && *url->port <= 65535, "a port is 0 to 65535");
    (void)lowercase(base);

    if (const auto resolved = url->resolve(reference)) {
        const auto again = Url::parse(resolved->text);
        fuzz::require(again.has_value(), "a resolved address parses again");
        fuzz::require(again->scheme == resolved->scheme && again->host == resolved->host &&
                          again->path == resolved->path && again->query == resolved->query,
                      "a resolved address reads back the same");
    }
    return 0;
}
