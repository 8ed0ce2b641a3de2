#include "engine/TNote.h"

#include "engine/TMelody.h"

#include <utility>

namespace ruvo {

// Melody mode runs TMelody's passes in place of the classic rules, spread over the same
// sixteen steps so that progress moves and a cancel between steps works as before. The side
// files are filled as in the classic steps 2 and 8, so that the threshold and harmonic strips
// and a re-run after their edits find them; step 7 makes "ioc" exactly as the classic step 7.
// Table A holds the note salience and table B the onset flags; the names are never swapped.
void TNote::RunMelodyStep(std::int32_t step, std::int32_t reset) {
    const std::int32_t frames = m_params.FrameCount;
    TMelody melody;
    melody.SetIdle(&m_idle);
    switch (step) {
        case 1:
            // Step 7's note map of the spectrum comes from the records this pass reads anyway.
            melody.SetWorkers(m_workers);
            melody.WriteSalience(m_params.IntenFileName, frames, m_params.Temp1FileName, m_params.RawNoteFileName);
            m_spectrumNotesDone = true;
            return;
        case 2:
            if (reset == 1) FillSideFile(m_params.ThresholdFileName, m_params.ThresholdDefault);
            return;
        case 6: melody.WriteOnsets(m_params.NormFileName, m_params.SampleCount, frames, m_params.Temp2FileName); return;
        case 7:
            if (!std::exchange(m_spectrumNotesDone, false)) MapSpectrumToNotes();
            return;
        case 8:
            if (reset == 1) FillSideFile(m_params.HarmonicFileName, m_params.HarmonicDefault);
            return;
        case 16: {
            const MelodyInputs in{m_params.Temp1FileName, m_params.ThresholdFileName, m_params.Temp2FileName,
                                  m_params.RawNoteFileName};
            melody.WriteTable(in, frames, m_params.NoteIntenFileName);
            return;
        }
        default: return;
    }
}

}  // namespace ruvo
