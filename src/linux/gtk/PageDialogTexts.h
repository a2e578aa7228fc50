#pragma once
// Every word the window's own dialogs show: the page's alerts, confirmations
// and prompts, the file choosers, and the downloads.

#include <string_view>

namespace orvane::pageDialogTexts {

inline constexpr const char* ok = "_OK";
inline constexpr const char* cancel = "_Cancel";

// Leaving a page that asked to be warned first (its own text is not shown:
// pages no longer get to word this question).
inline constexpr const char* leaveQuestion = "Leave this page?";
inline constexpr const char* leaveDetail = "Changes you made on it may not be saved.";
inline constexpr const char* leave = "_Leave";
inline constexpr const char* stay = "_Stay";

// Offered from a page's second dialog on; holds until the page loads again.
inline constexpr const char* stopDialogs = "_Don’t let this page show more dialogs";

inline constexpr const char* chooseFile = "Choose a File";
inline constexpr const char* chooseFiles = "Choose Files";
inline constexpr const char* open = "_Open";
inline constexpr const char* saveDownload = "Save Download";
inline constexpr const char* save = "_Save";
// When the server suggests no name at all.
inline constexpr const char* unnamedDownload = "download";

// Shown above the transport's own description of what went wrong.
inline constexpr const char* downloadFailed = "The download failed";
// When the connection ended before all the server had announced arrived.
inline constexpr const char* downloadCutOff = "The connection ended before the whole file arrived";

inline constexpr const char* downloads = "Downloads";
inline constexpr const char* downloadFailedShort = "Failed";
inline constexpr const char* openDownload = "Open";

}  // namespace orvane::pageDialogTexts
