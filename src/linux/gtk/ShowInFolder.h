#pragma once
// Shows a file selected in the desktop's file manager, through the
// FileManager1 interface file managers offer on the session bus; where none
// answers, the folder holding it opens with the desktop's handler. Never
// waits: both go by the bus and come back on the main loop.

#include <string>

namespace orvane {

void showInFolder(const std::string& path);

}  // namespace orvane
