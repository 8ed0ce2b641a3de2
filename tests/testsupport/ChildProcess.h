#pragma once
// Runs a piece of a test in a forked child, for what must not happen in the test process
// itself (a lowered file-size limit, a crash). The child never returns into the test: it
// leaves with _exit.

#include <cstdint>
#include <functional>

namespace ruvo::testsupport {

// Exit status of body's result; 128 + signal number when the child was killed; an exception
// leaving body gives kChildThrew.
constexpr int kChildThrew = 99;
int RunInChild(const std::function<int()>& body);
// As RunInChild, with the child's file-size limit at maxBytes and SIGXFSZ ignored, so a write
// past the limit fails (EFBIG) or comes up short instead of killing the process.
int RunWithFileSizeLimit(std::uint64_t maxBytes, const std::function<int()>& body);

}  // namespace ruvo::testsupport
