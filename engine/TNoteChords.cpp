#include "engine/TNote.h"

#include "engine/TChords.h"

namespace ruvo {

// Chords mode runs TChords' passes in place of the classic rules, spread over the same
// sixteen steps so that progress moves and a cancel between steps works as before. The side
// files are filled as in the classic steps 2 and 8 (the threshold margin is the start level
// of a note; the harmonic strip is not used); step 7 makes "ioc" exactly as the classic step
// 7, whose intensities the note cells carry. Table B holds the attack flags and table A the
// activations; the names are never swapped.
void TNote::RunChordsStep(std::int32_t step, std::int32_t reset) {
    const std::int32_t frames = m_params.FrameCount;
    const ChordSamples samples{m_params.NormFileName, m_params.SampleCount, m_params.Is16Bit != 0 ? 32768.0 : 128.0};
    TChords chords;
    chords.SetIdle(&m_idle);
    switch (step) {
        case 1: chords.WriteOnsets(samples, frames, m_params.Temp2FileName, m_workers); return;
        case 2:
            if (reset == 1) FillSideFile(m_params.ThresholdFileName, m_params.ThresholdDefault);
            return;
        case 6:
            chords.WriteActivations(samples, frames, m_params.Temp2FileName, m_params.Temp1FileName, m_workers);
            return;
        case 7: MapSpectrumToNotes(); return;
        case 8:
            if (reset == 1) FillSideFile(m_params.HarmonicFileName, m_params.HarmonicDefault);
            return;
        case 16: {
            m_params.NoteCount = kNoteCount;
            const std::vector<ChordNote> notes =
                chords.FindNotes(m_params.Temp1FileName, m_params.ThresholdFileName, frames);
            chords.WriteTable(notes, m_params.RawNoteFileName, frames, m_params.NoteIntenFileName);
            return;
        }
        default: return;
    }
}

}  // namespace ruvo
