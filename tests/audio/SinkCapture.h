#pragma once
// What arrives at the test sound server's sink: `parec` records the monitor of ci_out as
// 16-bit mono at 22050 Hz while the object lives, and the samples are kept as they arrive.
// Also small measurements of captured sound. UI thread; needs a running event loop (qWait).

#include <QProcess>

#include <cstdint>
#include <vector>

namespace ruvo::testsupport {

constexpr int kCaptureRate = 22050;

class SinkCapture {
public:
    SinkCapture();
    ~SinkCapture();
    SinkCapture(const SinkCapture&) = delete;
    SinkCapture& operator=(const SinkCapture&) = delete;

    // False when parec did not start or delivered nothing within `timeoutMs`.
    bool WaitStarted(int timeoutMs = 3000);
    // Samples received so far (reads what is pending first).
    const std::vector<std::int16_t>& Samples();
    std::size_t Count() { return Samples().size(); }

private:
    QProcess m_process;
    std::vector<std::int16_t> m_samples;
    QByteArray m_pending;
};

// A sound server is reachable (the default output is not null).
bool SoundServerAvailable();

// First index at or after `from` where the absolute sample exceeds `level`; -1 if none.
std::int64_t FirstAbove(const std::vector<std::int16_t>& s, std::size_t from, int level);
// Last index whose absolute sample exceeds `level`; -1 if none.
std::int64_t LastAbove(const std::vector<std::int16_t>& s, int level);
double Rms(const std::vector<std::int16_t>& s, std::size_t from, std::size_t count);
// Fundamental in Hz from the autocorrelation peak between 50 and 2000 Hz.
double PitchHz(const std::vector<std::int16_t>& s, std::size_t from, std::size_t count);

}  // namespace ruvo::testsupport
