#pragma once
// The player's file work, without widgets: the WAV excerpt of the selection ("Wat" work
// file), the recording file ("rwf") with its 44-byte header, finished with its true sizes.
// Plain functions; file errors throw FileIoError.

#include "engine/WavHead.h"

#include <cstdint>
#include <string>

namespace ruvo {

constexpr std::int32_t kExcerptBlockBytes = 50000;
constexpr std::int32_t kRecordingHeaderBytes = 44;
constexpr std::int32_t kRecordingRate = 22050;
// The most sample bytes a recording's header can announce.
constexpr std::int32_t kMaxRecordingBytes = 0x7FFFFFFE;
// Below this many seconds of space left the window warns while a recording runs.
constexpr std::int64_t kRecordingSpaceWarningSeconds = 60;
// The header template's RIFF size, which a finished recording replaces by its own.
constexpr std::int32_t kTemplateRiffSize = 432316;

// Results of CutWavExcerpt.
constexpr std::int32_t kExcerptDone = 0;
constexpr std::int32_t kExcerptReversed = -2;  // the selection ends before it starts
constexpr std::int32_t kExcerptEmpty = -3;     // nothing of the file lies in the selection

// The source's byte range of frames SelStart .. SelEnd - 1 (a frame is 1024 samples of the
// 22050 Hz analysis stream, so 512 samples at 11025 Hz and 2048 at 44100 Hz), relative to the
// first sample byte.
struct ExcerptRange {
    std::int64_t Start = 0;
    std::int64_t Length = 0;  // negative for a reversed selection
};
ExcerptRange SelectionBytes(const WavHead& rec);

// Writes the frames of the selection as a new WAV file `name`: the source's header with
// correct RIFF and data sizes, then the sample bytes copied in blocks of 50000. A selection
// past the end copies what the file holds. Nothing is written for a reversed or empty
// selection.
[[nodiscard]] std::int32_t CutWavExcerpt(const WavHead& rec, const std::string& name);
// The user-facing text of a CutWavExcerpt failure.
const char* ExcerptMessage(std::int32_t result);

// Creates `name` with the 44-byte header of a 16-bit mono 22050 Hz recording, readable by
// the user only (a take may outlive the program).
void WriteRecordingHeader(const std::string& name);
// Writes the data size (`dataBytes`) at byte 40 and the RIFF size at byte 4.
void FinishRecordingHeader(const std::string& name, std::int32_t dataBytes);
// The data size of a recording whose header was never finished (the program was killed),
// taken from the file's length: whole samples only (an odd last byte is cut off); finishes
// the header with it and returns it.
std::int32_t RepairRecordingHeader(const std::string& name);
// Seconds of recording that still fit beside `name`: the free space of its file system, the
// process's file size limit, and the most a WAV header can announce, whichever is least.
std::int64_t RecordingSecondsLeft(const std::string& name);
// The record of a finished recording: its format and sample count; the work file names of
// the previous analysis cleared; FileName kept.
void FillRecordingRecord(WavHead& rec, std::int32_t dataBytes);

}  // namespace ruvo
