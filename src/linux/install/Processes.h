#pragma once
// Starting the tools an update needs, and the relaunch step.

#include <atomic>
#include <string>
#include <vector>

#include "RelaunchTask.h"

namespace orvane {

struct ToolRun {
    int status = -1;     // the exit status; -1 when it could not start, was cancelled or did not exit normally
    std::string errors;  // what it wrote to standard error (its last 16 KB), for the log
};

// Runs `path` with `arguments` (argv[0] is the path) and waits for it. Its
// standard output is discarded and its standard error kept for the log. The
// tool dies with the thread that started it (a parent-death signal), so a
// killed app leaves no unpacking running; when `cancel` turns true it is
// killed at once.
ToolRun runTool(const std::string& path, const std::vector<std::string>& arguments,
                const std::atomic<bool>* cancel = nullptr);

// Starts the task in a session of its own so that it outlives this process
// and its terminal; it keeps this process's standard output and error. Does
// not wait. False when it could not start.
bool startDetached(const RelaunchTask& task);

}  // namespace orvane
