#pragma once
// The updater's own error value. Installation failures of its own carry the
// exact text for the page; failures of the platform (files, processes) carry
// the platform's description in the same value.

#include <optional>
#include <string>

namespace orvane {

struct Problem {
    std::optional<std::string> errorDescription;

    explicit Problem(std::string message) : errorDescription(std::move(message)) {}
    // What reaches the page.
    std::string description() const { return errorDescription.value_or("The operation couldn’t be completed."); }
};

}  // namespace orvane
