#pragma once
// Turns SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2 and SIGALRM into a Qt signal on the
// UI thread, so that the program can close its window (and delete its work files) instead of
// dying where it stands. One instance
// at a time, made by main(); the previous handlers come back when it goes.

#include <QObject>

#include <csignal>

class QSocketNotifier;

namespace ruvo {

class TerminationSignals : public QObject {
    Q_OBJECT

public:
    static constexpr int kTerminationSignalCount = 7;

    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    // The signal number that arrived; further ones while the program winds down arrive too.
    void OnTerminationRequested(int signalNumber);

private:
    void ReadPending();

    QSocketNotifier* m_notifier = nullptr;  // owned by parent
    struct sigaction m_previous[kTerminationSignalCount] = {};
};

}  // namespace ruvo
