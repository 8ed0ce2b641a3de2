#include "tests/testsupport/MidiReader.h"

#include <algorithm>
#include <map>
#include <stdexcept>

namespace ruvo::testsupport {

namespace {

std::uint32_t BigEndian(const Bytes& bytes, std::size_t at, std::size_t count) {
    if (at + count > bytes.size()) throw std::runtime_error("MIDI: truncated at byte " + std::to_string(at));
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) value = (value << 8) | bytes[at + i];
    return value;
}

class TrackCursor {
public:
    explicit TrackCursor(const Bytes& track) : m_track(track) {}

    bool AtEnd() const { return m_pos >= m_track.size(); }

    std::uint8_t Next() {
        if (m_pos >= m_track.size()) throw std::runtime_error("MIDI: event runs past the end of its track");
        return m_track[m_pos++];
    }

    std::uint32_t Quantity() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t b = Next();
            value = (value << 7) | (b & 0x7Fu);
            if ((b & 0x80u) == 0) return value;
        }
        throw std::runtime_error("MIDI: variable-length quantity longer than 4 bytes");
    }

    void Skip(std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i) Next();
    }

private:
    const Bytes& m_track;
    std::size_t m_pos = 0;
};

// Walks the events of a track; calls onChannel(tick, status, data1, data2) and
// onMeta(tick, type, payload).
template <typename Channel, typename Meta>
void WalkTrack(const Bytes& track, Channel onChannel, Meta onMeta) {
    TrackCursor cursor(track);
    std::int64_t tick = 0;
    std::uint8_t running = 0;
    bool ended = false;
    while (!cursor.AtEnd()) {
        if (ended) throw std::runtime_error("MIDI: events after the end of track");
        tick += cursor.Quantity();
        std::uint8_t status = cursor.Next();
        std::uint8_t first = 0;
        if (status < 0x80) {
            if (running == 0) throw std::runtime_error("MIDI: running status without a status byte");
            first = status;
            status = running;
        } else if (status == 0xFF) {
            const std::uint8_t type = cursor.Next();
            const std::uint32_t length = cursor.Quantity();
            Bytes payload;
            for (std::uint32_t i = 0; i < length; ++i) payload.push_back(cursor.Next());
            onMeta(tick, type, payload);
            ended = type == 0x2F;
            continue;
        } else if (status == 0xF0 || status == 0xF7) {
            cursor.Skip(cursor.Quantity());
            continue;
        } else {
            running = status;
            first = cursor.Next();
        }
        const std::uint8_t kind = status & 0xF0u;
        const bool oneDataByte = kind == 0xC0 || kind == 0xD0;
        const std::uint8_t second = oneDataByte ? 0 : cursor.Next();
        if (first > 0x7F || second > 0x7F) throw std::runtime_error("MIDI: data byte with bit 7 set");
        onChannel(tick, status, first, second);
    }
    if (!ended) throw std::runtime_error("MIDI: track without end-of-track event");
}

}  // namespace

MidiFile ParseMidi(const Bytes& bytes) {
    MidiFile file;
    if (bytes.size() < 14 || std::string(bytes.begin(), bytes.begin() + 4) != "MThd")
        throw std::runtime_error("MIDI: no MThd chunk");
    if (BigEndian(bytes, 4, 4) != 6) throw std::runtime_error("MIDI: header length is not 6");
    file.Format = static_cast<int>(BigEndian(bytes, 8, 2));
    const std::uint32_t trackCount = BigEndian(bytes, 10, 2);
    file.Division = static_cast<int>(BigEndian(bytes, 12, 2));
    std::size_t pos = 14;
    while (pos < bytes.size()) {
        if (pos + 8 > bytes.size() || std::string(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                                                  bytes.begin() + static_cast<std::ptrdiff_t>(pos + 4)) != "MTrk")
            throw std::runtime_error("MIDI: expected MTrk at byte " + std::to_string(pos));
        const std::uint32_t length = BigEndian(bytes, pos + 4, 4);
        if (pos + 8 + length > bytes.size())
            throw std::runtime_error("MIDI: track length runs past the end of the file");
        const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(pos + 8);
        file.Tracks.emplace_back(first, first + static_cast<std::ptrdiff_t>(length));
        pos += 8 + length;
    }
    if (file.Tracks.size() != trackCount)
        throw std::runtime_error("MIDI: header announces " + std::to_string(trackCount) + " tracks, file holds " +
                                 std::to_string(file.Tracks.size()));
    return file;
}

MidiFile ReadMidiFile(const std::string& path) { return ParseMidi(ReadFileBytes(path)); }

std::vector<MidiNote> TrackNotes(const Bytes& track) {
    std::vector<MidiNote> notes;
    std::map<std::pair<int, int>, std::size_t> sounding;  // (channel, key) -> index in notes
    WalkTrack(
        track,
        [&](std::int64_t tick, std::uint8_t status, std::uint8_t key, std::uint8_t velocity) {
            const int kind = status & 0xF0;
            const int channel = status & 0x0F;
            const bool on = kind == 0x90 && velocity > 0;
            const bool off = kind == 0x80 || (kind == 0x90 && velocity == 0);
            const auto id = std::make_pair(channel, static_cast<int>(key));
            if (off || on) {
                if (auto it = sounding.find(id); it != sounding.end()) {
                    notes[it->second].EndTick = tick;
                    sounding.erase(it);
                }
            }
            if (on) {
                sounding[id] = notes.size();
                notes.push_back(MidiNote{key, velocity, tick, -1});
            }
        },
        [](std::int64_t, std::uint8_t, const Bytes&) {});
    std::stable_sort(notes.begin(), notes.end(), [](const MidiNote& a, const MidiNote& b) {
        return a.StartTick != b.StartTick ? a.StartTick < b.StartTick : a.Key < b.Key;
    });
    return notes;
}

std::int64_t TrackTempo(const Bytes& track) {
    std::int64_t tempo = -1;
    WalkTrack(
        track, [](std::int64_t, std::uint8_t, std::uint8_t, std::uint8_t) {},
        [&](std::int64_t, std::uint8_t type, const Bytes& payload) {
            if (type == 0x51 && payload.size() == 3 && tempo < 0)
                tempo = (payload[0] << 16) | (payload[1] << 8) | payload[2];
        });
    return tempo;
}

}  // namespace ruvo::testsupport
