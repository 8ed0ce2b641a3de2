#include "engine/TLiveMelody.h"

#include "engine/FileIoError.h"
#include "engine/MelodyEdges.h"
#include "engine/UFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace ruvo {
namespace {

constexpr std::size_t kFrame = static_cast<std::size_t>(kFrameSamples);
constexpr std::size_t kNotes = static_cast<std::size_t>(kNoteCount);
constexpr std::int32_t kMinNoteFrames = 2;  // as the melody analysis: shorter runs are silence
constexpr std::size_t kBlock = static_cast<std::size_t>(kOnsetBlockSamples);

void OpenOrThrow(TFileBase& file, const std::string& name, std::int32_t mode, std::int32_t recLen) {
    if (file.OpenFile(name, mode, recLen) != 0) throw FileIoError(name, "open", "no file name");
}

}  // namespace

std::string KeyName(std::int32_t key) {
    static constexpr const char* kNames[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return std::string(kNames[static_cast<std::size_t>(key % 12)]) + std::to_string(key / 12 - 1);
}

TLiveMelody::TLiveMelody(double margin) : m_margin(margin), m_row(kNotes) {
    // The spectrum's window, as the spectrum pass makes it: period 1024, rounded to double once.
    for (std::size_t i = 0; i < kFrame; ++i) {
        const long double angle = 6.283185307179586477L * static_cast<long double>(i) * (1.0L / 1024.0L);
        m_hamming[i] = static_cast<double>(0.54L - 0.46L * cosl(angle));
    }
    MakeFiles();
}

TLiveMelody::~TLiveMelody() {
    for (const std::string* name : {&m_samplesName, &m_salienceName, &m_thresholdName, &m_onsetName, &m_tableName}) {
        if (!name->empty()) std::remove(name->c_str());
    }
}

void TLiveMelody::MakeFiles() {
    for (auto [name, prefix] : {std::pair{&m_samplesName, "lvs"}, std::pair{&m_salienceName, "lvp"},
                                std::pair{&m_thresholdName, "lvt"}, std::pair{&m_onsetName, "lvo"},
                                std::pair{&m_tableName, "lvn"}}) {
        GetTempName(prefix, *name);
        if (name->empty()) throw FileIoError(WorkFolder(), "create a work file in", "no file name");
    }
    // The margin is the same for every frame of the window.
    TFileBase threshold;
    OpenOrThrow(threshold, m_thresholdName, kModeWrite, 1);
    const double margin[1] = {m_margin};
    for (std::int32_t f = 0; f < kLiveWindowFrames; ++f) threshold.WriteData(margin);
    threshold.CloseFile();
}

void TLiveMelody::Feed(std::span<const std::int16_t> samples) {
    for (const std::int16_t s : samples) {
        m_samples.push_back(static_cast<double>(s));
        ++m_sampleCount;
        if (m_samples.size() == (static_cast<std::size_t>(m_frames - m_sampleBase) + 1) * kFrame) {
            AddFrame();
            Analyse(false);
        }
    }
}

void TLiveMelody::Finish() {
    if (m_frames > 0) Analyse(true);
}

void TLiveMelody::AddFrame() {
    const double* frame = m_samples.data() + static_cast<std::size_t>(m_frames - m_sampleBase) * kFrame;
    std::fill(m_fft.begin(), m_fft.end(), 0.0);
    for (std::size_t i = 0; i < kFrame; ++i) m_fft[i] = m_hamming[i] * frame[i];
    m_wav.LogSpectrum(m_fft);
    m_fft[0] = 0.0;
    const std::size_t at = m_salience.size();
    m_salience.resize(at + kNotes);
    m_melody.NoteSalience(std::span<const double>(m_fft.data(), kSpectrumBins),
                          std::span<double, kNoteCount>(m_salience.data() + at, kNotes));
    ++m_frames;
}

std::vector<LiveNote> TLiveMelody::WindowNotes(std::int32_t first) {
    const std::int32_t frames = m_frames - first;
    // What is older than the window goes, a window's worth at a time.
    if (first - m_sampleBase >= kLiveWindowFrames) {
        const auto drop = static_cast<std::size_t>(first - m_sampleBase);
        m_samples.erase(m_samples.begin(), m_samples.begin() + static_cast<std::ptrdiff_t>(drop * kFrame));
        m_sampleBase = first;
    }
    if (first - m_salienceBase >= kLiveWindowFrames) {
        const auto drop = static_cast<std::size_t>(first - m_salienceBase);
        m_salience.erase(m_salience.begin(), m_salience.begin() + static_cast<std::ptrdiff_t>(drop * kNotes));
        m_salienceBase = first;
    }

    TFileBase file;
    OpenOrThrow(file, m_samplesName, kModeWrite, kOnsetBlockSamples);
    const double* samples = m_samples.data() + static_cast<std::size_t>(first - m_sampleBase) * kFrame;
    const std::size_t blocks = static_cast<std::size_t>(frames) * kFrame / kBlock;
    for (std::size_t k = 0; k < blocks; ++k) file.WriteData({samples + k * kBlock, kBlock});
    file.CloseFile();
    OpenOrThrow(file, m_salienceName, kModeWrite, kNoteCount);
    const double* salience = m_salience.data() + static_cast<std::size_t>(first - m_salienceBase) * kNotes;
    for (std::int32_t f = 0; f < frames; ++f) file.WriteData({salience + static_cast<std::size_t>(f) * kNotes, kNotes});
    file.CloseFile();

    m_melody.WriteOnsets(m_samplesName, static_cast<std::int64_t>(blocks * kBlock), frames, m_onsetName);
    // The salience stands in for the note intensities: only which cells sound is read back.
    m_melody.WriteTable({m_salienceName, m_thresholdName, m_onsetName, m_salienceName}, frames, m_tableName);

    m_track.assign(static_cast<std::size_t>(frames), -1);
    OpenOrThrow(file, m_tableName, kModeRead, kNoteCount);
    for (std::int8_t& cell : m_track) {
        file.ReadData(m_row);
        const auto sounding = std::find_if(m_row.begin(), m_row.end(), [](double v) { return v > 0.0; });
        if (sounding != m_row.end()) cell = static_cast<std::int8_t>(sounding - m_row.begin());
    }
    file.CloseFile();

    std::vector<LiveNote> notes;
    for (const MelodyNote& note : NotesOfTrack(m_track)) notes.push_back({note.Note, note.First + first, note.End + first});
    return notes;
}

void TLiveMelody::Analyse(bool final) {
    const std::int32_t first = std::max(m_frames - kLiveWindowFrames, 0);
    const std::vector<LiveNote> notes = WindowNotes(first);
    Commit(notes, first, final);
    Sound(notes, final);
}

void TLiveMelody::Commit(const std::vector<LiveNote>& notes, std::int32_t windowFirst, bool final) {
    const std::int32_t limit = final ? std::numeric_limits<std::int32_t>::max() : m_frames - kLiveTailFrames;
    // A note that starts this close to the window's first frame may have begun before it.
    const std::int32_t head = windowFirst == 0 ? -1 : windowFirst + kLiveHeadFrames;
    m_pending.clear();
    for (LiveNote note : notes) {
        if (note.First < m_committedUntil) {
            if (note.End <= m_committedUntil) continue;
            // What overlaps the notes already reported counts only as the rest of a note cut
            // while it sounded, or as a different note.
            const bool rest = m_cutSounding && !m_notes.empty() && m_notes.back().Note == note.Note;
            const bool other = m_notes.empty() || m_notes.back().Note != note.Note;
            if (!rest && !other) continue;
            note.First = m_committedUntil;
        }
        if (note.End - note.First < kMinNoteFrames) continue;
        if (!m_pending.empty() || (note.End > limit && note.First >= head)) {
            m_pending.push_back(note);
            continue;
        }
        if (note.End > limit) {
            // Longer than the window: the part heard so far is reported, the rest follows.
            if (limit - note.First < kMinNoteFrames) {
                m_pending.push_back(note);
                continue;
            }
            LiveNote part = note;
            part.End = limit;
            m_notes.push_back(part);
            m_committedUntil = limit;
            m_cutSounding = true;
            if (m_onNote) m_onNote(part);
            note.First = limit;
            m_pending.push_back(note);
            continue;
        }
        m_notes.push_back(note);
        m_committedUntil = note.End;
        m_cutSounding = false;
        if (m_onNote) m_onNote(note);
    }
}

void TLiveMelody::Sound(const std::vector<LiveNote>& notes, bool final) {
    const LiveNote* sounding = nullptr;
    if (!final && !notes.empty() && notes.back().End >= m_frames - kLiveSoundingSlack &&
        notes.back().End - notes.back().First >= kMinNoteFrames) {
        sounding = &notes.back();
    }
    if (m_on) {
        // The same note as before, its start perhaps moved back to its attack.
        if (sounding != nullptr && sounding->Note == m_sounding.Note &&
            sounding->First <= m_sounding.First + kLiveSoundingSlack) {
            return;
        }
        std::int32_t end = m_frames;
        for (const LiveNote& note : notes) {
            if (note.Note == m_sounding.Note && note.End > m_sounding.First && note.First <= m_sounding.First + kLiveSoundingSlack) end = note.End;
        }
        if (sounding != nullptr) end = std::min(end, sounding->First);
        Emit(false, m_sounding.Key(), std::max(end, m_sounding.First));
        m_on = false;
    }
    if (sounding != nullptr) {
        m_sounding = *sounding;
        m_on = true;
        Emit(true, m_sounding.Key(), m_sounding.First);
    }
}

void TLiveMelody::Emit(bool on, std::int32_t key, std::int32_t frame) {
    if (m_onEvent) m_onEvent({on, key, on ? kLiveVelocity : 0, FramesToSeconds(frame)});
}

}  // namespace ruvo
