#pragma once
// Lets a long engine step hand control to the program now and then, so that its windows
// repaint and a Cancel takes effect within the step. The program's hook returns false to
// cancel; the step then unwinds with StepCancelled, which the conversion stages catch.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <utility>

namespace ruvo {

class StepCancelled : public std::runtime_error {
public:
    StepCancelled() : std::runtime_error("cancelled") {}
};

class IdleHook {
public:
    using Fn = std::function<bool()>;

    void Set(Fn fn) { m_fn = std::move(fn); }
    void Clear() { m_fn = nullptr; }

    // Once per record of a pass: calls the hook every kRecords records.
    void Poll() {
        if (++m_count < kRecords) return;
        m_count = 0;
        PollNow();
    }
    // Calls the hook at once (after a large piece of work).
    void PollNow() {
        if (m_fn && !m_fn()) throw StepCancelled();
    }

private:
    // A few hundred microseconds of the slowest pass, a few milliseconds of the fastest.
    static constexpr std::int32_t kRecords = 64;
    Fn m_fn;
    std::int32_t m_count = 0;
};

}  // namespace ruvo
