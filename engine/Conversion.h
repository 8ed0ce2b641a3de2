#pragma once
// The conversion of one WAV file, shared by the main window and the converter: the WAV stage
// (check, sample preparation, spectrum) and the note stage, each reporting after every step
// so that the caller can show progress and cancel. Runs on the caller's thread.

#include "engine/WavHead.h"

#include <cstdint>
#include <functional>
#include <string>

namespace ruvo {

class TNote;
class TWavProc;
enum class WavRejection;

constexpr std::int32_t kCancelled = -2;  // a stage's result after the caller cancelled

// Step: a progress step ended; Frame: a spectrum frame or a few records of a longer step
// ended (many per step).
enum class Tick { Step, Frame };
// Returns false to cancel the run.
using TickFn = std::function<bool(Tick)>;

// WAV stage into `work`, which holds the record to start from (a copy of the document).
// 0: done; -1: rejected or failed (message shown); kCancelled: cancelled. On failure and on
// cancel `work` names every work file the run made (DeleteRunFiles removes them).
std::int32_t RunWaveStage(TWavProc& wav, const std::string& fileName, WavHead& work, const TickFn& tick);

// The check's verdict on `fileName` without showing its message, for deciding whether the file
// goes to the check or to an import: None when accepted. A file that cannot be read at all
// counts as Size, so that the check's own run reports it.
WavRejection ProbeWavFile(TWavProc& wav, const std::string& fileName);

// Note stage on `rec`; fresh = 1 creates the note files (their names land in rec at once),
// 0 re-runs on the files rec names. 0: done; kCancelled: cancelled.
std::int32_t RunNoteStage(TNote& note, WavHead& rec, std::int32_t fresh, const TickFn& tick);

// Number of Tick::Step calls of each stage.
constexpr std::int32_t kWaveStageSteps = 5;
constexpr std::int32_t kNoteStageSteps = 16;

}  // namespace ruvo
