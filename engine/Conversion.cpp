#include "engine/Conversion.h"

#include "engine/EngineHost.h"
#include "engine/FileIoError.h"
#include "engine/TNote.h"
#include "engine/WavProc.h"

#include <algorithm>

namespace ruvo {
namespace {

// Whatever ends the WAV stage early, `work` then names the files the stage has made.
class WaveStageNames {
public:
    WaveStageNames(const TWavProc& wav, WavHead& work) : m_wav(wav), m_work(work) {}
    ~WaveStageNames() {
        if (!m_done) m_wav.GetWavHead(m_work);
    }
    WaveStageNames(const WaveStageNames&) = delete;
    WaveStageNames& operator=(const WaveStageNames&) = delete;
    void Done() { m_done = true; }

private:
    const TWavProc& m_wav;
    WavHead& m_work;
    bool m_done = false;
};

// Installs the caller's tick as the engine object's idle hook for one stage.
template <typename Engine>
class ScopedIdle {
public:
    ScopedIdle(Engine& engine, const TickFn& tick) : m_engine(engine) {
        m_engine.SetIdle([&tick] { return tick(Tick::Frame); });
    }
    ~ScopedIdle() { m_engine.SetIdle(nullptr); }
    ScopedIdle(const ScopedIdle&) = delete;
    ScopedIdle& operator=(const ScopedIdle&) = delete;

private:
    Engine& m_engine;
};

// Swallows the check's boxes during a probe.
class SilentHost : public IEngineHost {
public:
    void ErrorBox(const std::string&) override {}
    void MessageBox(const std::string&) override {}
};

}  // namespace

WavRejection ProbeWavFile(TWavProc& wav, const std::string& fileName) {
    SilentHost silent;
    ScopedEngineHost scope(silent);
    wav.SetMaxTime(kDefaultMaxTime);
    WavHead probe;
    try {
        wav.CheckWavFile(fileName, WavHead{}, probe);
    } catch (const FileIoError&) {
        return WavRejection::Size;
    }
    return probe.FileName.empty() ? wav.LastRejection() : WavRejection::None;
}

std::int32_t RunWaveStage(TWavProc& wav, const std::string& fileName, WavHead& work, const TickFn& tick) {
    wav.SetMaxTime(kDefaultMaxTime);
    WavHead checked;
    wav.CheckWavFile(fileName, work, checked);
    if (checked.FileName.empty()) {
        // The rejected check leaves the working record empty, but the caller keeps its names
        // out of it: nothing was made.
        work = WavHead{};
        return -1;
    }
    work = checked;
    if (!tick(Tick::Step)) return kCancelled;

    WaveStageNames names(wav, work);
    ScopedIdle idle(wav, tick);
    for (std::int32_t pass = 1; pass <= 3; ++pass) {
        try {
            wav.PrepareSamples(pass);
        } catch (const StepCancelled&) {
            return kCancelled;
        }
        if (!tick(Tick::Step)) return kCancelled;
    }
    const std::int32_t frames = wav.AnalyzeFrame(kAnalyzeOpen);
    if (frames < 0) return -1;
    if (!tick(Tick::Frame)) {
        wav.AnalyzeFrame(kAnalyzeClose);
        return kCancelled;
    }
    // Frames 0..frames in batches; every frame of a batch still reports, and a cancel stops
    // the pass after the batch it falls in (a few milliseconds of work).
    for (std::int32_t i = 0; i <= frames; i += kBatchFrames) {
        const std::int32_t count = std::min(kBatchFrames, frames + 1 - i);
        wav.AnalyzeFrames(count);
        for (std::int32_t f = 0; f < count; ++f) {
            if (!tick(Tick::Frame)) {
                wav.AnalyzeFrame(kAnalyzeClose);
                return kCancelled;
            }
        }
    }
    wav.AnalyzeFrame(kAnalyzeClose);
    if (!tick(Tick::Step)) return kCancelled;
    names.Done();
    wav.GetWavHead(work);
    return 0;
}

std::int32_t RunNoteStage(TNote& note, WavHead& rec, std::int32_t fresh, const TickFn& tick) {
    // The steps run in order, so the spectrum-wide peak maps need not be stored.
    note.SetStreamPeakMaps(true);
    if (fresh == 1) {
        note.LoadNew(rec);
    } else {
        note.Load(rec);
    }
    ScopedIdle idle(note, tick);
    for (std::int32_t step = kFirstStep; step <= kLastStep; ++step) {
        try {
            note.RunStep(step, fresh);
        } catch (const StepCancelled&) {
            return kCancelled;
        }
        if (!tick(Tick::Step)) return kCancelled;
    }
    return 0;
}

}  // namespace ruvo
