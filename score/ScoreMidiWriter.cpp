#include "score/ScoreMidiWriter.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ruvo {

namespace {

struct TrackEvent {
    std::int64_t Tick = 0;
    std::int32_t Order = 0;  // at one tick: signatures and tempo, note-offs, then note-ons
    std::string Bytes;
};

void PutVarLength(std::string& out, std::uint64_t value) {
    char bytes[10];
    std::size_t n = 0;
    bytes[n++] = static_cast<char>(value & 0x7F);
    while ((value >>= 7) != 0) bytes[n++] = static_cast<char>(0x80 | (value & 0x7F));
    while (n > 0) out += bytes[--n];
}

void PutBigEndian(std::string& out, std::uint32_t value, std::int32_t bytes) {
    for (std::int32_t i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string Meta(std::uint8_t type, const std::string& data) {
    std::string out{'\xFF', static_cast<char>(type)};
    PutVarLength(out, data.size());
    return out + data;
}

std::string Chunk(const std::vector<TrackEvent>& events) {
    std::string body;
    std::int64_t last = 0;
    for (const TrackEvent& e : events) {
        PutVarLength(body, static_cast<std::uint64_t>(e.Tick - last));
        body += e.Bytes;
        last = e.Tick;
    }
    body += '\0';
    body += Meta(0x2F, {});
    std::string out = "MTrk";
    PutBigEndian(out, static_cast<std::uint32_t>(body.size()), 4);
    return out + body;
}

void SortEvents(std::vector<TrackEvent>& events) {
    std::stable_sort(events.begin(), events.end(), [](const TrackEvent& a, const TrackEvent& b) {
        return a.Tick != b.Tick ? a.Tick < b.Tick : a.Order < b.Order;
    });
}

}  // namespace

std::int64_t ScoreOriginTick(const Score& score) {
    const std::int64_t bar = std::int64_t{score.TimeSignature.Beats} * 4 * kScoreTicksPerQuarter /
                             std::max(1, score.TimeSignature.BeatType);
    std::int64_t first = 0;
    for (const ScoreNote& n : score.Notes) first = std::min(first, n.StartTick);
    if (first >= 0 || bar <= 0) return 0;
    return -((-first + bar - 1) / bar) * bar;
}

std::string ScoreMidiWriter::Bytes(const Score& score) const {
    const std::int64_t origin = ScoreOriginTick(score);
    std::vector<TrackEvent> conductor;
    conductor.push_back({0, 0, Meta(0x03, score.Title)});
    const Meter& m = score.TimeSignature;
    std::uint8_t power = 0;
    while ((1 << (power + 1)) <= m.BeatType) ++power;
    const bool compound = m.BeatType == 8 && m.Beats % 3 == 0 && m.Beats > 3;
    // MIDI clocks (24 a quarter) per metronome click: the meter's beat.
    const auto clocks = static_cast<std::uint8_t>(compound ? 36 : 96 / std::max(1, m.BeatType));
    conductor.push_back({0, 0, Meta(0x58, {static_cast<char>(m.Beats), static_cast<char>(power),
                                           static_cast<char>(clocks), '\x08'})});
    conductor.push_back({0, 0, Meta(0x59, {static_cast<char>(score.Key.Fifths), score.Key.Minor ? '\x01' : '\x00'})});
    for (std::size_t i = 0; i < score.Tempo.size(); ++i) {
        const TempoSegment& seg = score.Tempo[i];
        const std::int64_t tick = i == 0 ? 0 : std::lrint(seg.StartQuarter * kScoreTicksPerQuarter) - origin;
        const auto micros = static_cast<std::uint32_t>(std::lrint(60e6 / seg.Bpm));
        std::string data;
        PutBigEndian(data, micros, 3);
        conductor.push_back({std::max<std::int64_t>(0, tick), 0, Meta(0x51, data)});
    }
    SortEvents(conductor);

    std::vector<TrackEvent> notes;
    notes.push_back({0, 0, Meta(0x03, "Melody")});
    notes.push_back({0, 0, {'\xC0', static_cast<char>(std::clamp(score.Program, 0, 127))}});
    for (const ScoreNote& n : score.Notes) {
        const auto key = static_cast<char>(std::clamp(n.Key, 0, 127));
        const auto velocity = static_cast<char>(std::clamp(n.Velocity, 1, 127));
        notes.push_back({n.StartTick - origin, 2, {'\x90', key, velocity}});
        notes.push_back({n.StartTick + n.LengthTicks - origin, 1, {'\x80', key, '\x40'}});
    }
    SortEvents(notes);

    std::string out = "MThd";
    PutBigEndian(out, 6, 4);
    PutBigEndian(out, 1, 2);
    PutBigEndian(out, 2, 2);
    PutBigEndian(out, kScoreTicksPerQuarter, 2);
    return out + Chunk(conductor) + Chunk(notes);
}

}  // namespace ruvo
