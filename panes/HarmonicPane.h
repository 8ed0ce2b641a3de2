#pragma once
// The harmonic strip `DoubleNote`: per visible frame, whether the note stage erases harmonic
// notes there (1.0 in the harmonic-keep file keeps them: red; the selection white, the rest
// navy). A left click lets the selected frames erase harmonics, any other button keeps them;
// then the note stage re-runs. The picture needs no widgets; THarmonicPane holds the box's
// handlers. UI thread.

#include "engine/WavHead.h"
#include "panes/ViewSpan.h"

#include <Qt>

#include <cstdint>

class QPainter;

namespace ruvo {

class IPaneHost;
class TPaintBox;

// The value that keeps a frame's harmonics; any other lets the note stage erase them.
constexpr double kKeepHarmonics = 1.0;

// The selected span: Round((SelStart - ViewStart) / (ViewWidth - 1) x W) ..
// Round((SelEnd - ViewStart) / (ViewWidth - 1) x W).
PixelSpan HarmonicSelectionSpan(const WavHead& doc, std::int32_t width);

// Navy, the selection white, red where a visible frame's value is exactly 1.0 (nothing
// without a harmonic-keep file). Throws FileIoError.
void PaintHarmonics(QPainter& painter, const WavHead& doc, std::int32_t width, std::int32_t height);

class THarmonicPane {
public:
    THarmonicPane(IPaneHost& host, TPaintBox& box);

    void DoubleNotePaint(QPainter& painter);
    // Writes 0.0 (left button) or 1.0 (any other) into the selected frames, then re-runs.
    void DoubleNoteMouseDown(Qt::MouseButton button, std::int32_t x, std::int32_t y);

private:
    IPaneHost& m_host;
    TPaintBox& m_box;
};

}  // namespace ruvo
