#include "platform/qt/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace ruvo {

namespace {

// Every signal whose default would end the program where it stands, work files left behind.
constexpr int kSignals[TerminationSignals::kTerminationSignalCount] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};
// The handler may only write to a descriptor: the pair's reading end wakes the event loop.
int g_pipe[2] = {-1, -1};

void OnSignal(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_pipe) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);  // owned by parent
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::ReadPending);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < TerminationSignals::kTerminationSignalCount; ++i) {
        sigaction(kSignals[i], &action, &m_previous[i]);
    }
}

TerminationSignals::~TerminationSignals() {
    if (g_pipe[0] < 0) {
        return;
    }
    for (int i = 0; i < TerminationSignals::kTerminationSignalCount; ++i) {
        sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TerminationSignals::ReadPending() {
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        emit OnTerminationRequested(byte);
    }
}

}  // namespace ruvo
