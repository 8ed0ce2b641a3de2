#pragma once
// The score of a melody: its notes in seconds (read from a document's note table) turned into
// musical time: a tempo map, beats and bars, note values, a key signature and velocities.
// Plain values and pure functions, standard library only; callable from any one thread.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ruvo {

constexpr std::int32_t kScoreTicksPerQuarter = 480;
constexpr double kMinScoreBpm = 20.0;
constexpr double kMaxScoreBpm = 400.0;

// One note of the recording: onset and offset in seconds from the recording's start, MIDI key,
// intensity as the note table holds it (> 0).
struct TimedNote {
    double Onset = 0.0;
    double Offset = 0.0;
    std::int32_t Key = 60;
    double Intensity = 1.0;
};

// A time signature: Beats over BeatType (4/4, 3/4, 6/8, ...).
struct Meter {
    std::int32_t Beats = 4;
    std::int32_t BeatType = 4;
    // 6/8, 9/8, 12/8: the beat is a dotted quarter.
    bool Compound() const { return BeatType == 8 && Beats % 3 == 0 && Beats > 3; }
    double BeatQuarters() const { return (Compound() ? 3.0 : 1.0) * 4.0 / BeatType; }
    double BarQuarters() const { return Beats * 4.0 / BeatType; }
    friend bool operator==(const Meter&, const Meter&) = default;
};

// One stretch of constant tempo: from StartSeconds (the recording's time) on, a quarter note
// lasts 60/Bpm seconds; StartQuarter is where it begins in quarters from bar 1's downbeat.
struct TempoSegment {
    double StartSeconds = 0.0;
    double StartQuarter = 0.0;
    double Bpm = 120.0;  // quarter notes per minute
};

// What the user fixed; everything left empty is found from the notes.
struct ScoreChoices {
    std::optional<double> Bpm;              // one tempo for the whole recording
    std::optional<Meter> TimeSignature;     // 4/4 when neither chosen nor found
    std::optional<double> DownbeatSeconds;  // where bar 1 begins; second 0 by default
};

struct KeySignature {
    std::int32_t Fifths = 0;  // -7..7, flats negative
    bool Minor = false;
};

// One note in musical time: start and length in ticks of kScoreTicksPerQuarter from bar 1's
// downbeat.
struct ScoreNote {
    std::int64_t StartTick = 0;
    std::int64_t LengthTicks = 0;
    std::int32_t Key = 60;
    std::int32_t Velocity = 80;
};

struct Score {
    std::vector<TempoSegment> Tempo;  // at least one; StartSeconds increasing
    Meter TimeSignature;
    KeySignature Key;
    std::vector<ScoreNote> Notes;  // by StartTick, then Key
    double DownbeatSeconds = 0.0;  // bar 1's first beat in the recording's time
    std::int32_t Program = 0;      // General MIDI program of the part, 0..127
    std::string Title;
};

// A beat line of the grid: its time in the recording and whether it starts a bar.
struct BeatMark {
    double Seconds = 0.0;
    bool Downbeat = false;
};

// The score of `notes`, with the user's choices applied. Deterministic.
Score BuildScore(const std::vector<TimedNote>& notes, const ScoreChoices& choices);

// The recording's time of a position in quarters from bar 1's downbeat, and back.
double QuarterToSeconds(const Score& score, double quarter);
double SecondsToQuarter(const Score& score, double seconds);

// The beats of the meter (a dotted quarter in 6/8) from `fromSeconds` to `toSeconds`.
std::vector<BeatMark> BeatMarks(const Score& score, double fromSeconds, double toSeconds);

// Checks of the user's choices: an empty string when valid, else one line saying what is wrong.
std::string CheckBpm(double bpm);
std::string CheckMeter(const Meter& meter);
std::string CheckDownbeat(double seconds, double recordingSeconds);
// "3/4" -> Meter; nothing when the text is not N/D.
std::optional<Meter> ParseMeter(const std::string& text);

// Writers: 0 on success, -1 on failure with `error` set; nothing is left at `path` on failure.
[[nodiscard]] std::int32_t WriteMusicXml(const Score& score, const std::filesystem::path& path, std::string& error);
[[nodiscard]] std::int32_t WriteScoreMidi(const Score& score, const std::filesystem::path& path, std::string& error);

// The notes of a document's note table ("not" work file, 72 doubles per frame): each run of
// non-zero cells in one row is a note, with the recording's time kept (frame f starts at
// FramesToSeconds(f); an onset lies within its first frame by that frame's share of the note's
// peak). -1 with `error` set when no file is named; a file that cannot be read
// throws FileIoError, as the engine's record files do.
[[nodiscard]] std::int32_t ReadNoteTable(const std::string& noteTableFile, std::int32_t frameCount,
                                         std::vector<TimedNote>& notes, std::string& error);

}  // namespace ruvo
