#pragma once
// LiveAnalysis: runs TLiveMelody on its own thread while a recording arrives. The owner's
// thread (the window's, where the recorder delivers) hands over the samples: Push copies them
// into a queue and returns at once, so that no recorded buffer waits for the analysis. The
// thread analyses them and publishes what it found, which the owner takes with Take() after
// the wake-up call. Owned by the window's live controller (or a bench); Push, Finish and Take
// from the owner's thread.

#include "engine/TLiveMelody.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ruvo {

// What the analysis has found so far.
struct LiveSnapshot {
    std::vector<LiveNote> Notes;          // final ones, then the pending ones
    std::size_t FinalCount = 0;           // how many of Notes are final
    std::vector<LiveNoteEvent> Events;    // note on and off since the last Take
    std::int64_t SamplesAnalysed = 0;
    std::string Error;                    // why the analysis stopped, empty while it works
    bool Finished = false;                // the input ended and everything was decided
};

class LiveAnalysis {
public:
    // `wake` is called on the analysis thread after each new result: it must only post a
    // call to the owner's thread (a queued invocation), never block. Throws FileIoError when
    // the work files cannot be made.
    LiveAnalysis(double margin, std::function<void()> wake);
    ~LiveAnalysis();  // stops the thread; what is queued is dropped
    LiveAnalysis(const LiveAnalysis&) = delete;
    LiveAnalysis& operator=(const LiveAnalysis&) = delete;

    // 16-bit little-endian mono samples at 22050 per second; an odd last byte waits for the
    // next piece.
    void Push(const char* bytes, std::size_t size);
    // No more samples: the thread analyses what is queued and finishes.
    void Finish();
    // Waits until the thread has finished (after Finish: what was queued is analysed, a few
    // milliseconds of work while the analysis keeps up with the sound).
    void Wait();
    // The newest result; its events are handed over only once.
    LiveSnapshot Take();
    // CPU seconds the analysis thread has used.
    double CpuSeconds() const;

private:
    void Run(std::stop_token stop);

    std::function<void()> m_wake;
    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<std::vector<std::int16_t>> m_queue;  // guarded by m_mutex
    bool m_finishing = false;                       // guarded by m_mutex
    LiveSnapshot m_result;                          // guarded by m_mutex
    double m_cpuSeconds = 0.0;                      // guarded by m_mutex
    std::vector<char> m_odd;  // the owner's thread only
    std::unique_ptr<TLiveMelody> m_live;  // made on the owner's thread, then the thread's only
    std::jthread m_thread;    // last: started after everything it reads
};

// The short MIDI message of a live event on `channel` (0..15), status in the low byte, as
// IMidiOut::ShortMsg takes it: note on with its velocity, or note on with velocity 0 for off.
std::uint32_t LiveEventMessage(const LiveNoteEvent& event, std::int32_t channel = 0);

}  // namespace ruvo
