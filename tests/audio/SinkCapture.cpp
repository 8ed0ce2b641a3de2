#include "SinkCapture.h"

#include <QMediaDevices>
#include <QAudioDevice>
#include <QTest>

#include <cmath>
#include <cstdlib>

namespace ruvo::testsupport {

SinkCapture::SinkCapture() {
    m_process.setProgram(QStringLiteral("parec"));
    m_process.setArguments({QStringLiteral("-d"), QStringLiteral("ci_out.monitor"), QStringLiteral("--rate=22050"),
                            QStringLiteral("--channels=1"), QStringLiteral("--format=s16le"),
                            QStringLiteral("--latency-msec=10"), QStringLiteral("--raw")});
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
}

SinkCapture::~SinkCapture() {
    m_process.kill();
    m_process.waitForFinished(2000);
}

bool SinkCapture::WaitStarted(int timeoutMs) {
    if (!m_process.waitForStarted(timeoutMs)) {
        return false;
    }
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (Count() > 0) {
            return true;
        }
        QTest::qWait(10);
    }
    return false;
}

const std::vector<std::int16_t>& SinkCapture::Samples() {
    m_pending += m_process.readAllStandardOutput();
    const qsizetype whole = m_pending.size() / 2;
    for (qsizetype i = 0; i < whole; ++i) {
        const auto lo = static_cast<std::uint8_t>(m_pending[2 * i]);
        const auto hi = static_cast<std::uint8_t>(m_pending[2 * i + 1]);
        m_samples.push_back(static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8))));
    }
    m_pending.remove(0, whole * 2);
    return m_samples;
}

bool SoundServerAvailable() { return !QMediaDevices::defaultAudioOutput().isNull(); }

std::int64_t FirstAbove(const std::vector<std::int16_t>& s, std::size_t from, int level) {
    for (std::size_t i = from; i < s.size(); ++i) {
        if (std::abs(int{s[i]}) > level) {
            return static_cast<std::int64_t>(i);
        }
    }
    return -1;
}

std::int64_t LastAbove(const std::vector<std::int16_t>& s, int level) {
    for (std::size_t i = s.size(); i-- > 0;) {
        if (std::abs(int{s[i]}) > level) {
            return static_cast<std::int64_t>(i);
        }
    }
    return -1;
}

double Rms(const std::vector<std::int16_t>& s, std::size_t from, std::size_t count) {
    double sum = 0.0;
    std::size_t n = 0;
    for (std::size_t i = from; i < s.size() && n < count; ++i, ++n) {
        sum += static_cast<double>(s[i]) * static_cast<double>(s[i]);
    }
    return n == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(n));
}

double PitchHz(const std::vector<std::int16_t>& s, std::size_t from, std::size_t count) {
    if (from + count > s.size()) {
        return 0.0;
    }
    const std::size_t minLag = kCaptureRate / 2000;
    const std::size_t maxLag = kCaptureRate / 50;
    double best = 0.0;
    std::size_t bestLag = 0;
    std::vector<double> r(maxLag + 1, 0.0);
    for (std::size_t lag = minLag; lag <= maxLag; ++lag) {
        double sum = 0.0;
        for (std::size_t i = from; i + lag < from + count; ++i) {
            sum += static_cast<double>(s[i]) * static_cast<double>(s[i + lag]);
        }
        r[lag] = sum;
    }
    // The first lag whose correlation comes close to the largest: avoids octave errors downwards.
    for (std::size_t lag = minLag; lag <= maxLag; ++lag) {
        best = std::max(best, r[lag]);
    }
    for (std::size_t lag = minLag + 1; lag < maxLag; ++lag) {
        if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            bestLag = lag;
            break;
        }
    }
    return bestLag == 0 ? 0.0 : double{kCaptureRate} / static_cast<double>(bestLag);
}

}  // namespace ruvo::testsupport
