#include "engine/TMakeMidi.h"

#include "engine/EngineHost.h"
#include "engine/FileIoError.h"
#include "engine/RawFile.h"
#include "engine/TNote.h"
#include "engine/UFile.h"

#include <array>
#include <cstdio>
#include <vector>

namespace ruvo {
namespace {

constexpr std::uint8_t kNoteOnStatus = 0x90;  // channel 1; later events use running status
constexpr std::uint8_t kFirstVelocity = 0x7F;
constexpr std::uint8_t kVelocity = 0x64;     // 100
constexpr std::uint8_t kOffVelocity = 0x00;  // a note-on with velocity 0 ends a note
constexpr const char* kNullNameMessage = "File name is NULL in TMakeMidi.ConvMidi";
constexpr const char* kOverflowMessage = "File bufferis overflow at work array";

// Format 1, two tracks, 120 ticks per quarter; the tempo track holds 4/4, C major and
// 371520 microseconds per quarter (one 15-tick column = one 46.44 ms frame); the second track
// starts with program 73 (a flute) on channel 1. Bytes 51..54 receive the track length.
// clang-format off
constexpr std::array<std::uint8_t, kMidiHeadBytes> kHead = {
    'M', 'T', 'h', 'd', 0x00, 0x00, 0x00, 0x06, 0x00, 0x01, 0x00, 0x02, 0x00, 0x78,
    'M', 'T', 'r', 'k', 0x00, 0x00, 0x00, 0x19,
    0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08,
    0x00, 0xFF, 0x59, 0x02, 0x00, 0x00,
    0x00, 0xFF, 0x51, 0x03, 0x05, 0xAB, 0x40,
    0x00, 0xFF, 0x2F, 0x00,
    'M', 'T', 'r', 'k', 0x00, 0x00, 0x00, 0x00,
    0x00, 0xC0, 0x49,
};
// clang-format on

struct Change {
    std::uint8_t key;
    bool starts;
};

// The event bytes of the second track, without its chunk header.
class TrackBuffer {
public:
    TrackBuffer() { m_bytes.reserve(kFirstReserve); }
    void Put(std::uint8_t byte) { m_bytes.push_back(byte); }
    void PutDelta(std::int32_t ticks) {
        std::array<std::uint8_t, 11> buf{};
        const std::int32_t count = TMakeMidi::PutDeltaTime(ticks, buf);
        m_bytes.insert(m_bytes.end(), buf.begin(), buf.begin() + count);
    }
    std::size_t Size() const { return m_bytes.size(); }
    const std::uint8_t* Data() const { return m_bytes.data(); }

private:
    static constexpr std::size_t kFirstReserve = 80001;
    std::vector<std::uint8_t> m_bytes;
};

void WriteFile(const std::string& name, const std::array<std::uint8_t, kMidiHeadBytes>& head,
               const TrackBuffer& track) {
    RawFile file;
    try {
        file.Open(name, RawFile::Mode::Write);
        file.Write(head.data(), head.size());
        file.Write(track.Data(), track.Size());
        file.Close();
    } catch (const FileIoError&) {
        // A partly written file is worse than none.
        file = RawFile();
        std::remove(name.c_str());
        throw;
    }
}

}  // namespace

std::int32_t TMakeMidi::PutDeltaTime(std::int32_t value, std::span<std::uint8_t, 11> buf) {
    auto rest = static_cast<std::uint32_t>(value);
    std::array<std::uint8_t, 5> groups{};
    std::int32_t count = 0;
    do {
        groups[static_cast<std::size_t>(count++)] = static_cast<std::uint8_t>(rest & 0x7F);
        rest >>= 7;
    } while (rest != 0);
    // Most significant group first; every byte but the last carries the continuation bit.
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t group = groups[static_cast<std::size_t>(count - 1 - i)];
        buf[static_cast<std::size_t>(i)] = i < count - 1 ? static_cast<std::uint8_t>(group | 0x80) : group;
    }
    return count;
}

void TMakeMidi::ConvMidi(std::int32_t mode, WavHead head, std::int32_t startCol, std::int32_t endCol,
                         std::string& midiName) {
    m_notesWritten = 0;
    if (head.NoteIntenFileName.empty()) {
        EngineHost().ErrorBox(kNullNameMessage);
        midiName.clear();
        return;
    }
    const bool keepLeadingSilence = m_keepLeadingSilence || head.KeepLeadingSilence;
    TFileBase table;
    (void)table.OpenFile(head.NoteIntenFileName, kModeRead, kNoteCount);
    std::array<double, kNoteCount> record{};
    for (std::int32_t col = 0; col < startCol; ++col) table.ReadData(record);

    std::array<std::uint8_t, kNoteCount> previous{};
    std::array<std::uint8_t, kNoteCount> current{};
    std::array<Change, kNoteCount> changes{};
    TrackBuffer track;
    std::int64_t notes = 0;
    std::int32_t lastChange = 0;
    for (std::int32_t col = startCol; col < endCol; ++col) {
        previous = current;
        table.ReadData(record);
        std::size_t changeCount = 0;
        for (std::size_t r = 0; r < kNoteCount; ++r) {
            current[r] = record[r] > 0.0 ? 1 : 0;
            if (current[r] != previous[r]) {
                changes[changeCount++] = {static_cast<std::uint8_t>(NoteToMidiKey(static_cast<std::int32_t>(r))),
                                          current[r] == 1};
            }
        }
        if (changeCount == 0) continue;
        // One column lasts exactly 15 ticks, so notes keep their place against the recording.
        std::int32_t delta = kTicksPerColumn * (col - lastChange);
        std::size_t first = 0;
        if (track.Size() == 0) {
            // The first note of the file sets running status with velocity 127, at tick 0
            // unless the leading silence is kept.
            track.PutDelta(keepLeadingSilence ? kTicksPerColumn * (col - startCol) : 0);
            track.Put(kNoteOnStatus);
            track.Put(changes[0].key);
            track.Put(kFirstVelocity);
            ++notes;
            first = 1;
            delta = 0;
        }
        for (std::size_t i = first; i < changeCount; ++i) {
            track.PutDelta(i == first ? delta : 0);
            track.Put(changes[i].key);
            track.Put(changes[i].starts ? kVelocity : kOffVelocity);
            if (changes[i].starts) ++notes;
            if (track.Size() > kMidiTrackLimit) {
                table.CloseFile();
                EngineHost().ErrorBox(kOverflowMessage);
                midiName.clear();
                return;
            }
        }
        lastChange = col;
    }
    table.CloseFile();

    // Notes still sounding end with the last converted column.
    bool firstOff = true;
    for (std::size_t r = 0; r < kNoteCount; ++r) {
        if (current[r] != 1) continue;
        track.PutDelta(firstOff ? kTicksPerColumn * (endCol - lastChange) : 0);
        track.Put(static_cast<std::uint8_t>(NoteToMidiKey(static_cast<std::int32_t>(r))));
        track.Put(kOffVelocity);
        firstOff = false;
    }

    std::string outName;
    if (mode == kMidiToUserFile) {
        outName = head.MidiFileName;
    } else {
        GetTempName("mit", outName);
        midiName = outName;
    }
    if (outName.empty()) {
        EngineHost().ErrorBox(kNullNameMessage);
        midiName.clear();
        return;
    }
    for (const std::uint8_t byte : {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x2F}, std::uint8_t{0x00}}) {
        track.Put(byte);
    }
    const auto length = static_cast<std::uint32_t>(track.Size() + 3);
    auto fileHead = kHead;
    fileHead[51] = static_cast<std::uint8_t>(length >> 24);
    fileHead[52] = static_cast<std::uint8_t>(length >> 16);
    fileHead[53] = static_cast<std::uint8_t>(length >> 8);
    fileHead[54] = static_cast<std::uint8_t>(length);
    try {
        WriteFile(outName, fileHead, track);
        m_notesWritten = notes;
    } catch (const FileIoError&) {
        midiName.clear();
        throw;
    }
}

}  // namespace ruvo
