#pragma once
// What the X server knows of the top-level windows, apart from the tests
// (Xlib's macros clash with GoogleTest's names).

#include <string>
#include <vector>

namespace orvane::test {

// The instance names (WM_CLASS) of the top-level windows that show on the display.
std::vector<std::string> windowClasses(const std::string& display);

}  // namespace orvane::test
