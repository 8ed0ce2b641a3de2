#pragma once
// TLiveView: the take as it is recorded, drawn over the waveform and the note grid: the level
// of the samples on top, the live notes below (final ones filled, those still open outlined),
// filling from the left and scrolling so that the newest frame stays in view. Plain data in,
// no analysis. Owned by the main window's client area (Qt parent); UI thread only.

#include "engine/TLiveMelody.h"

#include <QWidget>

#include <cstdint>
#include <vector>

namespace ruvo {

class TLiveView : public QWidget {
    Q_OBJECT

public:
    explicit TLiveView(QWidget* parent = nullptr);

    void Clear();
    // 16-bit little-endian mono samples as they arrive.
    void AddSamples(const char* bytes, std::int32_t size);
    // The notes so far: the first `finalCount` will not change.
    void SetNotes(std::vector<LiveNote> notes, std::size_t finalCount);

    std::int64_t SampleCount() const { return m_samples; }
    const std::vector<LiveNote>& Notes() const { return m_notes; }
    std::size_t FinalCount() const { return m_finalCount; }
    // The first frame drawn at the left edge.
    std::int32_t FirstShownFrame() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<std::uint8_t> m_peaks;  // loudest sample per block of 256, scaled to 0..255
    std::int32_t m_blockPeak = 0;
    std::int32_t m_blockFill = 0;
    std::int64_t m_samples = 0;
    bool m_oddByte = false;
    std::uint8_t m_lowByte = 0;
    std::vector<LiveNote> m_notes;
    std::size_t m_finalCount = 0;
};

}  // namespace ruvo
