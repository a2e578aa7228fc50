#include "Xvfb.h"

#include <fcntl.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TiedChild.h"

namespace orvane {

Xvfb::Xvfb() {
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        std::abort();
    }
    // Only the write end goes to Xvfb.
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const std::string fd = std::to_string(fds[1]);
    std::vector<std::string> args{"Xvfb",         "-displayfd", fd,    "-screen", "0",
                                  "1600x1200x24", "-nolisten",  "tcp", "-noreset"};
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        test::endWithParent(parent);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    // Xvfb writes its display number once it accepts connections.
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
        std::fprintf(stderr, "Xvfb did not start; install it with scripts/setup\n");
        std::abort();
    }
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
    setenv("GDK_BACKEND", "x11", 1);
    unsetenv("WAYLAND_DISPLAY");
}

Xvfb::~Xvfb() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

void startDisplayAndGtk() {
    static std::unique_ptr<Xvfb> display;
    if (display) return;
    display = std::make_unique<Xvfb>();
    // No accessibility bus: tests run without a desktop session.
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GTK_A11Y", "none", 1);
    // Settings in memory: dconf would start a session bus for this display,
    // which ends with the display and, closing, sends the test SIGTERM.
    setenv("GSETTINGS_BACKEND", "memory", 1);
    gtk_init();
    std::atexit([] { display.reset(); });
}

}  // namespace orvane
