#pragma once
// The window's own message dialog: transient for the window, titled with the
// app's name (`title`), never with an address.

#include <adwaita.h>

#include <string>

namespace orvane {

// The answers a sheet offers, as AdwMessageDialog names them.
inline constexpr const char* kSheetOk = "ok";
inline constexpr const char* kSheetCancel = "cancel";

// An AdwMessageDialog on `parent` with `message` as its heading and `detail`
// as its body (either may be empty), both taken as plain text, never markup.
// No answers yet.
GtkWidget* makeSheet(GtkWindow* parent, const std::string& title, const std::string& message,
                     const std::string& detail = {});

}  // namespace orvane
