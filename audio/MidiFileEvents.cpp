#include "audio/MidiFileEvents.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace ruvo {

namespace {

constexpr double kDefaultQuarterUSecs = 500000.0;  // 120 beats a minute until a tempo says otherwise

struct TickEvent {
    std::uint64_t Tick = 0;
    std::uint32_t Message = 0;
    double QuarterUSecs = 0.0;  // > 0 for a tempo change, which has no message
};

// Reads one track's events into `out`; false when it runs past its end.
class TrackReader {
public:
    TrackReader(const std::uint8_t* at, const std::uint8_t* end) : m_at(at), m_end(end) {}

    bool Read(std::vector<TickEvent>& out) {
        std::uint64_t tick = 0;
        std::uint8_t running = 0;
        while (m_at < m_end) {
            std::uint32_t delta = 0;
            if (!VarLen(delta)) {
                return false;
            }
            tick += delta;
            if (!Need(1)) {
                return false;
            }
            std::uint8_t status = *m_at;
            if (status >= 0x80) {
                ++m_at;
            } else if (running == 0) {
                return false;
            } else {
                status = running;
            }
            if (status == 0xff) {
                if (!Need(1)) {
                    return false;
                }
                const std::uint8_t type = *m_at++;
                std::uint32_t length = 0;
                if (!VarLen(length) || !Need(length)) {
                    return false;
                }
                if (type == 0x51 && length == 3) {
                    const double usecs = (m_at[0] << 16) | (m_at[1] << 8) | m_at[2];
                    out.push_back({tick, 0, usecs > 0 ? usecs : kDefaultQuarterUSecs});
                }
                m_at += length;
                if (type == 0x2f) {
                    return true;
                }
                continue;
            }
            if (status == 0xf0 || status == 0xf7) {
                std::uint32_t length = 0;
                if (!VarLen(length) || !Need(length)) {
                    return false;
                }
                m_at += length;
                continue;
            }
            if (status > 0xf0) {
                return false;  // not allowed in a file
            }
            running = status;
            const std::uint32_t kind = status & 0xf0u;
            const std::size_t data = kind == 0xc0 || kind == 0xd0 ? 1 : 2;
            if (!Need(data)) {
                return false;
            }
            std::uint32_t message = status | (std::uint32_t{m_at[0]} << 8);
            if (data == 2) {
                message |= std::uint32_t{m_at[1]} << 16;
            }
            m_at += data;
            out.push_back({tick, message, 0.0});
        }
        return true;
    }

private:
    bool Need(std::size_t bytes) const { return static_cast<std::size_t>(m_end - m_at) >= bytes; }
    bool VarLen(std::uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (!Need(1)) {
                return false;
            }
            const std::uint8_t byte = *m_at++;
            value = (value << 7) | (byte & 0x7fu);
            if ((byte & 0x80) == 0) {
                return true;
            }
        }
        return false;
    }

    const std::uint8_t* m_at;
    const std::uint8_t* m_end;
};

std::uint32_t Be(const std::uint8_t* at, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = (value << 8) | at[i];
    }
    return value;
}

}  // namespace

bool ReadMidiFileEvents(const std::filesystem::path& path, std::vector<TimedMidiMessage>& events, std::string& error) {
    events.clear();
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "The MIDI file " + path.string() + " could not be opened.";
        return false;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string notMidi = "The file " + path.string() + " is not a MIDI file that can be played.";
    if (bytes.size() < 14 || !std::equal(bytes.begin(), bytes.begin() + 4, "MThd") || Be(&bytes[4], 4) < 6) {
        error = notMidi;
        return false;
    }
    const std::uint32_t division = Be(&bytes[12], 2);
    if (division == 0 || (division & 0x8000u) != 0) {
        error = notMidi;  // time code divisions are not written by anything that plays here
        return false;
    }
    std::vector<TickEvent> all;
    std::size_t at = 8 + Be(&bytes[4], 4);
    while (at + 8 <= bytes.size()) {
        const std::size_t length = Be(&bytes[at + 4], 4);
        const std::uint8_t* start = bytes.data() + at + 8;
        if (length > bytes.size() - at - 8) {
            error = notMidi;
            return false;
        }
        if (std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at) + 4, "MTrk")) {
            std::vector<TickEvent> track;
            if (!TrackReader(start, start + length).Read(track)) {
                error = notMidi;
                return false;
            }
            all.insert(all.end(), track.begin(), track.end());
        }
        at += 8 + length;
    }
    // Tracks one after another, so that at one tick the earlier track's events (the tempo) come first.
    std::stable_sort(all.begin(), all.end(), [](const TickEvent& a, const TickEvent& b) { return a.Tick < b.Tick; });
    double quarterUSecs = kDefaultQuarterUSecs;
    double seconds = 0.0;
    std::uint64_t lastTick = 0;
    for (const TickEvent& event : all) {
        seconds += static_cast<double>(event.Tick - lastTick) * quarterUSecs / 1.0e6 / division;
        lastTick = event.Tick;
        if (event.QuarterUSecs > 0) {
            quarterUSecs = event.QuarterUSecs;
        } else {
            events.push_back({seconds, event.Message});
        }
    }
    return true;
}

}  // namespace ruvo
