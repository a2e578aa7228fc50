#pragma once
// A private X display for tests with real windows: starts Xvfb on a free
// display number, points DISPLAY at it, and stops it at the end.

#include <sys/types.h>

#include <string>

namespace orvane {

class Xvfb {
public:
    Xvfb();  // aborts the test run with a message when Xvfb cannot start
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// Starts a display and initialises GTK on it, once per test process.
void startDisplayAndGtk();

}  // namespace orvane
