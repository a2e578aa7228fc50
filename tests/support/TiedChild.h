#pragma once
// For the helper processes a test starts (its bus, its display): they end
// with the test process, even when it aborts or is killed. Left running,
// they would hold ctest's output pipe open and keep it waiting for its
// time-out instead of reporting the failure.

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

namespace orvane::test {

// Runs in the child, between fork and exec; `parent` is the test process.
inline void endWithParent(pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);  // it went before the line above took effect
}

}  // namespace orvane::test
