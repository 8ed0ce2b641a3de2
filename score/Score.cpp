#include "score/Score.h"

#include "engine/UFile.h"
#include "score/KeyFinder.h"
#include "score/MusicXmlWriter.h"
#include "score/Quantiser.h"
#include "score/ScoreFile.h"
#include "score/ScoreMidiWriter.h"
#include "score/TempoTracker.h"
#include "engine/Units.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <span>

namespace ruvo {

namespace {

const TempoSegment& SegmentAtSeconds(const Score& score, double seconds) {
    auto it = std::upper_bound(score.Tempo.begin(), score.Tempo.end(), seconds,
                               [](double s, const TempoSegment& seg) { return s < seg.StartSeconds; });
    return it == score.Tempo.begin() ? score.Tempo.front() : *std::prev(it);
}

const TempoSegment& SegmentAtQuarter(const Score& score, double quarter) {
    auto it = std::upper_bound(score.Tempo.begin(), score.Tempo.end(), quarter,
                               [](double q, const TempoSegment& seg) { return q < seg.StartQuarter; });
    return it == score.Tempo.begin() ? score.Tempo.front() : *std::prev(it);
}

// With no downbeat chosen, bar 1 begins at second 0 of the recording. A recording whose first
// note comes a second or more in was started by hand before the music, so its second 0 says
// nothing of the beat (one cut to its music begins within a beat or two of its first bar line,
// and its onsets off the beat are syncopation): if nearly all its onsets lie off the beat on the
// grid from second 0, the beat lies where they are. Returns how many sixteenths later the beat
// lies where the onsets leave no doubt, else 0: the onsets on the beat (those on the half beat
// at half weight) must gain a third of all onsets over the grid from second 0.
constexpr double kHandStartedLead = 1.0;  // seconds before the first onset
std::int64_t LaterBeatSixteenths(const std::vector<double>& positions) {
    constexpr std::size_t kLeastOnsets = 8;
    constexpr double kClearGain = 1.0 / 3.0;
    if (positions.size() < kLeastOnsets) return 0;
    std::array<double, 4> count{};
    for (double q : positions) count[static_cast<std::size_t>(((std::llrint(4.0 * q) % 4) + 4) % 4)] += 1.0;
    const auto weight = [&](std::int64_t s) {
        return count[static_cast<std::size_t>(s)] + 0.5 * count[static_cast<std::size_t>((s + 2) % 4)];
    };
    std::int64_t best = 0;
    for (std::int64_t s = 1; s < 4; ++s)
        if (weight(s) > weight(best)) best = s;
    return weight(best) - weight(0) >= kClearGain * static_cast<double>(positions.size()) ? best : 0;
}

// Where a held tempo's grid lies within a sixteenth of second 0: the circular mean of the
// onsets' places within their sixteenth, in seconds (0 when they spread all round it). A tempo
// the tracker finds has its phase fitted so, and a tempo the user types or taps without placing
// bar 1 must not read every note between two sixteenths.
double HeldTempoPhase(const std::vector<double>& onsets, double bpm) {
    const double sixteenth = 15.0 / bpm;
    double c = 0.0, s = 0.0;
    for (double t : onsets) {
        const double angle = 2.0 * std::numbers::pi * t / sixteenth;
        c += std::cos(angle);
        s += std::sin(angle);
    }
    if (std::hypot(c, s) < 1e-9 * static_cast<double>(onsets.size()) + 1e-12) return 0.0;
    return std::atan2(s, c) / (2.0 * std::numbers::pi) * sixteenth;
}

}  // namespace

Score BuildScore(const std::vector<TimedNote>& notes, const ScoreChoices& choices) {
    Score score;
    score.TimeSignature = choices.TimeSignature.value_or(Meter{});
    score.DownbeatSeconds = choices.DownbeatSeconds.value_or(0.0);

    std::vector<TimedNote> sorted;
    sorted.reserve(notes.size());
    for (const TimedNote& n : notes)
        if (std::isfinite(n.Onset) && std::isfinite(n.Offset) && n.Offset > n.Onset) sorted.push_back(n);
    const auto byOnset = [](const TimedNote& a, const TimedNote& b) {
        return a.Onset != b.Onset ? a.Onset < b.Onset : a.Key < b.Key;
    };
    std::sort(sorted.begin(), sorted.end(), byOnset);

    // Onsets closer than this are one chord: the beat reads each chord once.
    constexpr double kChordSpread = 0.035;  // seconds
    // A note of at most a frame and a half that the next onset follows within that time leads
    // into it (the classic table lights a neighbour for a frame where one note steps to the
    // next): it sounds with that onset, as long as it is, rather than starting a beat of its own.
    // From the last note back, so that a run of them follows the note they all lead into.
    constexpr double kLeadIn = 0.07;  // seconds
    for (std::size_t i = sorted.size(); i-- > 0;) {
        TimedNote& n = sorted[i];
        if (n.Offset - n.Onset > kLeadIn) continue;
        double next = std::numeric_limits<double>::infinity();
        for (std::size_t j = i + 1; j < sorted.size() && sorted[j].Onset < n.Onset + 2.0 * kLeadIn; ++j)
            if (sorted[j].Onset >= n.Onset + kChordSpread) next = std::min(next, sorted[j].Onset);
        if (next - n.Onset > kLeadIn) continue;
        n.Offset += next - n.Onset;
        n.Onset = next;
    }
    std::sort(sorted.begin(), sorted.end(), byOnset);
    std::vector<double> onsets;
    std::vector<std::size_t> groupOf(sorted.size());
    double groupStart = 0.0;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (onsets.empty() || sorted[i].Onset - groupStart >= kChordSpread) {
            groupStart = sorted[i].Onset;
            onsets.push_back(groupStart);
        }
        groupOf[i] = onsets.size() - 1;
    }

    if (choices.Bpm && !choices.DownbeatSeconds) score.DownbeatSeconds = HeldTempoPhase(onsets, *choices.Bpm);
    TrackedBeats beats = TempoTracker().Track(onsets, score.DownbeatSeconds, choices.Bpm.value_or(0.0),
                                                score.TimeSignature);
    const bool handStarted = !choices.DownbeatSeconds && !onsets.empty() && onsets.front() >= kHandStartedLead;
    if (const std::int64_t later = handStarted ? LaterBeatSixteenths(beats.Positions) : 0; later != 0) {
        score.Tempo = beats.Tempo;
        beats = TempoTracker().Track(onsets, QuarterToSeconds(score, static_cast<double>(later) / 4.0),
                                     choices.Bpm.value_or(0.0), score.TimeSignature);
    }
    score.Tempo = beats.Tempo;
    if (choices.DownbeatSeconds)
        score.Tempo.front().StartSeconds = *choices.DownbeatSeconds;
    score.DownbeatSeconds = score.Tempo.front().StartSeconds;
    // Velocities follow the notes' intensities on a decibel scale: the loudest at 127, 40 dB
    // below it and quieter at 30.
    constexpr double kQuietest = 30.0;
    constexpr double kRangeDb = 40.0;
    double loudest = 0.0;
    for (const TimedNote& n : sorted) loudest = std::max(loudest, n.Intensity);
    std::vector<std::int32_t> velocities;
    velocities.reserve(sorted.size());
    for (const TimedNote& n : sorted) {
        const double db = loudest > 0.0 && n.Intensity > 0.0 ? std::max(-kRangeDb, 20.0 * std::log10(n.Intensity / loudest))
                                                             : 0.0;
        velocities.push_back(static_cast<std::int32_t>(std::lrint(127.0 + db * (127.0 - kQuietest) / kRangeDb)));
    }
    score.Notes = Quantiser().Quantise(sorted, groupOf, velocities, beats);
    score.Key = KeyFinder().Find(sorted);
    return score;
}

double QuarterToSeconds(const Score& score, double quarter) {
    const TempoSegment& seg = SegmentAtQuarter(score, quarter);
    return seg.StartSeconds + (quarter - seg.StartQuarter) * 60.0 / seg.Bpm;
}

double SecondsToQuarter(const Score& score, double seconds) {
    const TempoSegment& seg = SegmentAtSeconds(score, seconds);
    return seg.StartQuarter + (seconds - seg.StartSeconds) * seg.Bpm / 60.0;
}

std::vector<BeatMark> BeatMarks(const Score& score, double fromSeconds, double toSeconds) {
    std::vector<BeatMark> marks;
    const Meter& m = score.TimeSignature;
    const double beatQuarters = m.BeatQuarters();
    const double barQuarters = m.BarQuarters();
    const double first = std::ceil(SecondsToQuarter(score, fromSeconds) / beatQuarters - 1e-9);
    for (double b = first;; b += 1.0) {
        const double q = b * beatQuarters;
        const double s = QuarterToSeconds(score, q);
        if (s > toSeconds)
            break;
        const double inBar = std::fmod(q, barQuarters);
        marks.push_back({s, std::abs(inBar) < 1e-9 || std::abs(inBar - barQuarters) < 1e-9});
    }
    return marks;
}

std::string CheckBpm(double bpm) {
    if (!(bpm >= kMinScoreBpm && bpm <= kMaxScoreBpm))
        return "The tempo must lie between 20 and 400 beats per minute.";
    return {};
}

std::string CheckMeter(const Meter& meter) {
    if (meter.Beats < 1 || meter.Beats > 32 || (meter.BeatType != 2 && meter.BeatType != 4 && meter.BeatType != 8))
        return "The time signature must be N/2, N/4 or N/8 with N from 1 to 32.";
    return {};
}

std::string CheckDownbeat(double seconds, double recordingSeconds) {
    if (!(seconds >= 0.0 && seconds < recordingSeconds))
        return "The first downbeat must lie within the recording.";
    return {};
}

std::optional<Meter> ParseMeter(const std::string& text) {
    const auto slash = text.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 >= text.size())
        return std::nullopt;
    const std::string a = text.substr(0, slash);
    const std::string b = text.substr(slash + 1);
    const auto digits = [](const std::string& s) {
        return s.size() <= 3 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(a) || !digits(b))
        return std::nullopt;
    return Meter{std::stoi(a), std::stoi(b)};
}

std::int32_t WriteMusicXml(const Score& score, const std::filesystem::path& path, std::string& error) {
    return WriteFileWhole(path, MusicXmlWriter().Text(score), error);
}

std::int32_t WriteScoreMidi(const Score& score, const std::filesystem::path& path, std::string& error) {
    return WriteFileWhole(path, ScoreMidiWriter().Bytes(score), error);
}

std::int32_t ReadNoteTable(const std::string& noteTableFile, std::int32_t frameCount, std::vector<TimedNote>& notes,
                           std::string& error) {
    notes.clear();
    TFileBase file;
    if (file.OpenFile(noteTableFile, kModeRead, kNoteCount) != 0) {
        error = "Cannot read the note table " + noteTableFile + ".";
        return -1;
    }
    std::array<double, kNoteCount> row{};
    std::array<std::int32_t, kNoteCount> startFrame{};
    std::array<double, kNoteCount> peak{};
    std::array<double, kNoteCount> first{};  // the level of the note's first frame
    std::array<std::int32_t, kNoteCount> lastStrong{};  // last frame at kStrongShare of the peak so far
    startFrame.fill(-1);
    double lateSum = 0.0;
    // After its last frame at this share of its peak a note is fading: a short fade (at most a
    // quarter of the note) is the echo of its release, and the note ends where it begins; a
    // longer one is the note dying away, as a struck string does, which the table follows down to
    // where the player let go and the damper stopped it: the note ends where the table's does.
    constexpr double kStrongShare = 0.8;
    const auto close = [&](std::int32_t n, std::int32_t endFrame) {
        const auto i = static_cast<std::size_t>(n);
        const std::int32_t fade = endFrame - lastStrong[i] - 1;
        const bool diesAway = 4 * fade > endFrame - startFrame[i];
        // A note that starts inside a frame fills only the rest of it: the first frame's share of
        // the peak tells how much (a clear attack rises within a frame; the level of a slower one
        // grows over several, and its first frame's share places it less well, but no worse).
        const double late = 1.0 - first[i] / peak[i];
        notes.push_back({FramesToSeconds(startFrame[i]) + late * FramesToSeconds(1),
                         FramesToSeconds(diesAway ? endFrame : lastStrong[i] + 1), NoteToMidiKey(n), peak[i]});
        lateSum += late;
        startFrame[static_cast<std::size_t>(n)] = -1;
    };
    for (std::int32_t f = 0; f <= frameCount; ++f) {
        if (f < frameCount)
            file.ReadData(row);
        else
            row.fill(0.0);
        for (std::int32_t n = 0; n < kNoteCount; ++n) {
            const auto i = static_cast<std::size_t>(n);
            if (row[i] > 0.0) {
                if (startFrame[i] < 0) {
                    startFrame[i] = f;
                    peak[i] = 0.0;
                    first[i] = row[i];
                }
                peak[i] = std::max(peak[i], row[i]);
                if (row[i] >= kStrongShare * peak[i]) lastStrong[i] = f;
            } else if (startFrame[i] >= 0) {
                close(n, f);
            }
        }
    }
    file.CloseFile();
    // The analysis's onsets lag the notes by about the same on average whether or not a note's
    // first frame is full: the shares move onsets against each other, not the notes as a whole
    // against their ends.
    if (!notes.empty()) {
        const double mean = lateSum / static_cast<double>(notes.size()) * FramesToSeconds(1);
        for (TimedNote& note : notes) note.Onset = std::max(0.0, note.Onset - mean);
    }
    std::sort(notes.begin(), notes.end(), [](const TimedNote& a, const TimedNote& b) {
        return a.Onset != b.Onset ? a.Onset < b.Onset : a.Key < b.Key;
    });
    return 0;
}

}  // namespace ruvo
