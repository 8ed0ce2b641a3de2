#include "cli/Interrupt.h"

#include <csignal>
#include <initializer_list>

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
    // Every signal whose default would end the converter where it stands, leaving its work
    // files behind: a hang-up (closed terminal, dropped connection), Ctrl-C, Ctrl-\, kill.
    for (const int signalNumber : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM})
        sigaction(signalNumber, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
    // A closed standard error fails its writes instead of ending the process before the clean-up.
    std::signal(SIGPIPE, SIG_IGN);
}

int InterruptSignal() { return static_cast<int>(g_signal); }

}  // namespace ruvo
