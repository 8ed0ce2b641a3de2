#pragma once
// The document record: describes one WAV file, names every work file of its conversion and
// carries the view, selection and tempo state. Copied by value; every holder owns its copy.

#include <cstdint>
#include <string>

namespace ruvo {

// Which analysis the note stage runs. Classic keeps every peak above the threshold margin;
// Melody follows one voice; Chords finds the notes of several voices (piano, guitar, organ).
enum class AnalysisMode : std::int32_t { Classic = 0, Melody = 1, Chords = 2 };

constexpr std::int32_t kTempoFast = 1;
constexpr std::int32_t kTempoMedium = 2;
constexpr std::int32_t kTempoSlow = 3;

struct WavHead {
    std::string FileName;          // the WAV file; empty: no valid file
    std::int32_t SampleRate = 0;   // 11025, 22050 or 44100, the file's own rate
    std::int32_t SampleCount = 0;  // samples per channel; after the WAV stage at 22050 per second
    std::uint8_t Is16Bit = 0;      // 1 signed 16-bit samples, 0 unsigned 8-bit
    std::int32_t BitsPerSample = 0;
    std::int32_t Channels = 0;
    std::int32_t DataOffset = 0;    // 1-based byte position of the first sample byte
    std::int32_t NoteCount = 0;     // notes per frame of the note tables (72)
    std::int32_t FrameCount = 0;    // analysis frames = grid columns
    std::string Temp1FileName;      // "tm1"; later ping-pong table A
    std::string Temp2FileName;      // "tm2"; later ping-pong table B
    std::string NormFileName;       // "nor": normalised samples at 22050 per second
    std::string IntenFileName;      // "int": spectrum, 2048 values per frame
    std::string ThresholdFileName;  // "thr": threshold margin per frame
    double ThresholdDefault = 0.4;
    std::string HarmonicFileName;  // "bai": harmonic-keep value per frame
    double HarmonicDefault = 0.0;
    std::string NoteIntenFileName;  // "not": final note table, 72 values per frame
    std::string OctFileName;        // "oct": created with the note files, otherwise unused
    std::string RawNoteFileName;    // "ioc": note intensities of the unfiltered spectrum
    std::string MidiFileName;       // the MIDI file the user chose; never deleted
    std::string MidiGridFileName;   // "mig": note grid, 72 bytes per frame; set = document exists
    std::int32_t ViewStart = 0;     // first visible column
    std::int32_t ViewWidth = 1;     // visible columns, at least 1
    std::int32_t SelStart = 0;      // selected columns, both ends included
    std::int32_t SelEnd = 0;
    double PeakNoteValue = 0.0;  // largest note table value, at least 0.1
    std::int32_t TempoClass = kTempoFast;
    AnalysisMode Mode = AnalysisMode::Classic;
    // The MIDI written from this record starts its first note at its own column instead of
    // at tick 0, so that it lines up with the recording (the window's setting, which the
    // record carries to the export and to the player).
    bool KeepLeadingSilence = false;
};

}  // namespace ruvo
