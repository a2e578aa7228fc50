#include "Relaunched.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "RelaunchTask.h"

namespace orvane {

ReadySignal ReadySignal::take() {
    const char* value = ::getenv(kReadyFdVariable);
    if (!value) return ReadySignal(-1);
    const std::string text = value;
    ::unsetenv(kReadyFdVariable);
    // Only the descriptor the relaunch step uses, and only if it is a
    // socket; anything else in the variable is ignored.
    struct stat info {};
    if (text != std::to_string(kReadyFd) || ::fstat(kReadyFd, &info) != 0 || !S_ISSOCK(info.st_mode))
        return ReadySignal(-1);
    ::fcntl(kReadyFd, F_SETFD, FD_CLOEXEC);
    return ReadySignal(kReadyFd);
}

ReadySignal::ReadySignal(ReadySignal&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

ReadySignal& ReadySignal::operator=(ReadySignal&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

ReadySignal::~ReadySignal() {
    if (fd_ >= 0) ::close(fd_);
}

void ReadySignal::send() {
    if (fd_ < 0) return;
    const char byte = 1;
    ssize_t wrote;
    // A socket, so that a relaunch step that is gone costs no SIGPIPE.
    do wrote = ::send(fd_, &byte, 1, MSG_NOSIGNAL);
    while (wrote < 0 && errno == EINTR);
    ::close(std::exchange(fd_, -1));
}

}  // namespace orvane
