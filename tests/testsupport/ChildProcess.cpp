#include "tests/testsupport/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ruvo::testsupport {

namespace {

[[noreturn]] void RunBodyAndExit(const std::function<int()>& body) {
    int code = kChildThrew;
    try {
        code = body();
    } catch (...) {
        code = kChildThrew;
    }
    _exit(code);
}

int WaitFor(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("waitpid failed");
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

int RunInChild(const std::function<int()>& body) {
    std::fflush(nullptr);  // nothing buffered may be written twice
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) RunBodyAndExit(body);
    return WaitFor(child);
}

int RunWithFileSizeLimit(std::uint64_t maxBytes, const std::function<int()>& body) {
    return RunInChild([&]() {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(maxBytes), static_cast<rlim_t>(maxBytes)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return kChildThrew;
        return body();
    });
}

}  // namespace ruvo::testsupport
