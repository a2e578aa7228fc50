#include "Log.h"

#include <cstdio>
#include <string>

namespace orvane {
void logLine(std::string_view line) {
    std::string text(line);
    text += '\n';
    // One write, so that lines from several sources never interleave.
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}
}  // namespace orvane
