#pragma once
// Starting the tools an update needs, and the relaunch script.

#include <string>
#include <vector>

#include "RelaunchTask.h"

namespace orvane {

// Runs `path` with `arguments` (argv[0] is the path), standard output and
// error discarded, and waits for it. Its exit status; -1 when it could not
// start or did not exit normally.
int run(const std::string& path, const std::vector<std::string>& arguments);

// Starts the task in a session of its own so that it outlives this process
// and its terminal; it keeps this process's standard output and error. Does
// not wait. False when it could not start.
bool startDetached(const RelaunchTask& task);

}  // namespace orvane
