// Preloaded into the relaunch step by the update kill tests: renameat2 as a
// file system without RENAME_EXCHANGE gives it (NFS, FUSE), and the process
// killed just before or just after one of its moves.
//
//   ORVANE_SHIM_NO_EXCHANGE=1        exchanges fail with EINVAL
//   ORVANE_SHIM_KILL_BEFORE_MOVE=N   SIGKILL before the Nth move made
//   ORVANE_SHIM_KILL_AFTER_MOVE=N    SIGKILL right after it
//
// The variables and LD_PRELOAD itself go at load, so that nothing the process
// starts inherits them.

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

static int noExchange, killBefore, killAfter, moves;

static int number(const char* name) {
    const char* value = getenv(name);
    return value ? atoi(value) : 0;
}

__attribute__((constructor)) static void load(void) {
    noExchange = number("ORVANE_SHIM_NO_EXCHANGE");
    killBefore = number("ORVANE_SHIM_KILL_BEFORE_MOVE");
    killAfter = number("ORVANE_SHIM_KILL_AFTER_MOVE");
    unsetenv("ORVANE_SHIM_NO_EXCHANGE");
    unsetenv("ORVANE_SHIM_KILL_BEFORE_MOVE");
    unsetenv("ORVANE_SHIM_KILL_AFTER_MOVE");
    unsetenv("LD_PRELOAD");
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
    typedef int (*Rename)(int, const char*, int, const char*, unsigned int);
    static Rename real;
    // POSIX's way to take a function from dlsym without a cast ISO C forbids.
    if (!real) *(void**)(&real) = dlsym(RTLD_NEXT, "renameat2");
    if ((flags & RENAME_EXCHANGE) && noExchange) {
        errno = EINVAL;
        return -1;
    }
    if (++moves == killBefore) raise(SIGKILL);
    const int result = real(fromDir, from, toDir, to, flags);
    if (moves == killAfter) raise(SIGKILL);
    return result;
}
