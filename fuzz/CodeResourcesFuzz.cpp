// The signed list of a bundle's contents. The reader accepts only the
// canonical form, so whatever it accepts must be written back byte for byte.
#include <string>

#include "CodeResources.h"
#include "FuzzInput.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::text(data, size);
    std::string problem;
    const auto entries = parseCodeResources(input, problem);
    if (!entries) {
        fuzz::require(!problem.empty(), "a refused list says why");
        return 0;
    }
    fuzz::require(formatCodeResources(*entries) == input, "an accepted list is its own canonical text");
    return 0;
}
