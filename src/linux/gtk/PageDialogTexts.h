#pragma once
// Every word the window's own dialogs show: the page's alerts, confirmations
// and prompts, the file choosers, and the downloads.

#include <string>
#include <string_view>

#include "Translated.h"

namespace orvane::pageDialogTexts {

inline constexpr Text ok = Text("_OK");
inline constexpr Text cancel = Text("_Cancel");

// Leaving a page that asked to be warned first (its own text is not shown:
// pages no longer get to word this question).
inline constexpr Text leaveQuestion = Text("Leave this page?");
inline constexpr Text leaveDetail = Text("Changes you made on it may not be saved.");
inline constexpr Text leave = Text("_Leave");
inline constexpr Text stay = Text("_Stay");

// Offered from a page's second dialog on; holds until the page loads again.
inline constexpr Text stopDialogs = Text("_Don’t let this page show more dialogs");

inline constexpr Text chooseFile = Text("Choose a File");
inline constexpr Text chooseFiles = Text("Choose Files");
inline constexpr Text open = Text("_Open");
inline constexpr Text saveDownload = Text("Save Download");
inline constexpr Text save = Text("_Save");
// When the server suggests no name at all.
inline constexpr Text unnamedDownload = Text("download");

// Shown above the transport's own description of what went wrong.
inline constexpr Text downloadFailed = Text("The download failed");
// When the connection ended before all the server had announced arrived.
inline constexpr Text downloadCutOff = Text("The connection ended before the whole file arrived");

inline constexpr Text downloads = Text("Downloads");
inline constexpr Text downloadFailedShort = Text("Failed");
inline constexpr Text downloadCancelled = Text("Cancelled");
inline constexpr Text openDownload = Text("Open");
inline constexpr Text cancelDownload = Text("Cancel");
inline constexpr Text showInFolder = Text("Show in Folder");
inline std::string downloadProgress(std::string_view received, std::string_view size) {
    return fill(tr("{received} of {size}"), {{"received", received}, {"size", size}});
}

}  // namespace orvane::pageDialogTexts
