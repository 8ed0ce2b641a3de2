#pragma once
// WaveSummaryTask: builds the waveform summary of a document on a thread of its own, so that
// no paint waits while a long sample file is read. The worker gets a copy of the record and
// touches nothing else (no widget, no document); the UI thread asks for the result at each
// paint. std::jthread owns the worker: a new document or the destructor stops it and joins.

#include "engine/WavHead.h"
#include "panes/WaveformPane.h"

#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

class QPainter;

namespace ruvo {

class WaveSummaryTask {
public:
    WaveSummaryTask() = default;
    ~WaveSummaryTask() = default;
    WaveSummaryTask(const WaveSummaryTask&) = delete;
    WaveSummaryTask& operator=(const WaveSummaryTask&) = delete;

    // The summary of doc once built; until then nullptr, and a build of doc runs (one is
    // started when none runs for it). After a failed build nullptr too, and Failed(doc).
    const WaveSummary* For(const WavHead& doc);
    bool Failed(const WavHead& doc) const;
    // Waits for the running build (tests).
    void Wait();

private:
    void Collect();

    struct Result {
        std::string File;  // the build's document
        std::int32_t Frames = 0;
        bool Stopped = false;
        std::optional<WaveSummary> Summary;  // empty when the build failed or was stopped
    };
    std::optional<WaveSummary> m_summary;  // the last one collected
    std::string m_file;                    // the build started last: its sample file and frames
    std::int32_t m_frames = -1;
    bool m_failed = false;
    std::mutex m_mutex;
    std::optional<Result> m_done;  // written by the worker under m_mutex
    std::jthread m_worker;         // last: stopped and joined before the rest goes
};

// The box while the summary is being built: its background and the selection, no samples.
void PaintWaveformPending(QPainter& painter, const WavHead& doc, std::int32_t width, std::int32_t height);

}  // namespace ruvo
