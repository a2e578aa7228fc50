#pragma once
// What the updater tells the page when it cannot replace the application
// where it lies. The texts that name places of the operating system differ
// per platform; each platform build links exactly one definition
// (UpdateTextsLinux.cpp here).

#include <span>
#include <string_view>

namespace orvane {

struct UpdateTexts {
    // The manifest member this build reads: "linux" here, "mac" on macOS.
    std::string_view manifestMember;
    // Running from a place that cannot be written (a read-only file system,
    // a disk image, a translocated copy).
    std::string_view protectedPlace;
    // Path fragments that mark such a place whatever the file system says.
    std::span<const std::string_view> protectedMarkers;
    // Not running from a bundle at all: there is nothing to replace.
    std::string_view noBundle;
};
extern const UpdateTexts updateTexts;

}  // namespace orvane
