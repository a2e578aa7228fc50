#include "Processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "Spawn.h"
#include "UniqueFd.h"

extern char** environ;

namespace orvane {
namespace {

constexpr std::size_t kErrorsKept = std::size_t{16} * 1024;
constexpr int kCancelCheckMs = 100;

std::vector<char*> argv(const std::string& path, const std::vector<std::string>& arguments,
                        std::vector<std::string>& keep) {
    keep.clear();
    keep.push_back(path);
    keep.insert(keep.end(), arguments.begin(), arguments.end());
    std::vector<char*> out;
    out.reserve(keep.size() + 1);
    for (auto& argument : keep) out.push_back(argument.data());
    out.push_back(nullptr);
    return out;
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void becomeTool(const char* path, char* const* args, pid_t parent, int errors, int devNull, int failed) {
    // Dies with the thread that started it: an app killed mid-install
    // leaves no tool running on.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::dup2(devNull, STDIN_FILENO) < 0 || ::dup2(devNull, STDOUT_FILENO) < 0 || ::dup2(errors, STDERR_FILENO) < 0)
        ::_exit(127);
    // execv, not execvp: the path is used as given, never searched.
    ::execve(path, args, environ);
    const int error = errno;
    (void)!::write(failed, &error, sizeof error);
    ::_exit(127);
}

}  // namespace

ToolRun runTool(const std::string& path, const std::vector<std::string>& arguments, const std::atomic<bool>* cancel) {
    ToolRun result;
    std::vector<std::string> keep;
    auto args = argv(path, arguments, keep);
    int errorPipe[2], failPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) return result;
    UniqueFd errorsIn(errorPipe[0]), errorsOut(errorPipe[1]);
    if (::pipe2(failPipe, O_CLOEXEC) != 0) return result;
    UniqueFd failIn(failPipe[0]), failOut(failPipe[1]);
    UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!devNull.valid()) return result;

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) return result;
    if (pid == 0) becomeTool(path.c_str(), args.data(), parent, errorsOut.get(), devNull.get(), failOut.get());
    errorsOut = UniqueFd();
    failOut = UniqueFd();

    // Read its error output as it comes (a full pipe would stall it), and
    // look at the cancel flag now and then.
    bool killed = false;
    char buffer[4096];
    while (true) {
        if (cancel && !killed && cancel->load()) {
            ::kill(pid, SIGKILL);
            killed = true;
        }
        pollfd wanted{errorsIn.get(), POLLIN, 0};
        const int ready = ::poll(&wanted, 1, cancel && !killed ? kCancelCheckMs : -1);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const ssize_t got = ::read(errorsIn.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        result.errors.append(buffer, static_cast<std::size_t>(got));
        if (result.errors.size() > 2 * kErrorsKept) result.errors.erase(0, result.errors.size() - kErrorsKept);
    }
    if (result.errors.size() > kErrorsKept) result.errors.erase(0, result.errors.size() - kErrorsKept);

    const int status = waitFor(pid);
    int execError = 0;
    ssize_t got;
    do got = ::read(failIn.get(), &execError, sizeof execError);
    while (got < 0 && errno == EINTR);
    if (got > 0 || killed) return result;  // never started, or cancelled
    result.status = status;
    return result;
}

bool startDetached(const RelaunchTask& task) {
    SpawnOptions options;
    options.input = "/dev/null";
    options.newSession = true;
    std::vector<std::string> argv{task.executable};
    argv.insert(argv.end(), task.arguments.begin(), task.arguments.end());
    return spawn(argv, options) > 0;
}

}  // namespace orvane
