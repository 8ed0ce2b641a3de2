#include "cli/Interrupt.h"

#include <csignal>

namespace ruvo {
namespace {

volatile std::sig_atomic_t g_signal = 0;

void OnInterrupt(int signalNumber) { g_signal = signalNumber; }

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

int InterruptSignal() { return static_cast<int>(g_signal); }

}  // namespace ruvo
