#include "panes/NoteGridFile.h"

#include "engine/FileIoError.h"
#include "engine/RawFile.h"
#include "engine/Rounding.h"
#include "engine/UFile.h"

#include <QColor>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace ruvo {

namespace {

constexpr std::int32_t kDefaultViewWidth = 100;  // frames shown when a new document opens
constexpr double kLevelsPerPeak = 0.01;          // the peak spans 100 level steps
constexpr double kFallbackStep = 0.05;           // only when the peak equals the offset

// Clamps one note-table value into [-120, 120] and folds it into the running peak. A value
// that is not a number counts as below -120 (erased), so no table value is left undefined.
double NormaliseValue(double value, double& peak) {
    if (value > kMaxNoteValue) {
        value = kMaxNoteValue;
    }
    if (value > peak) {
        peak = value;
    }
    if (!(value >= -kMaxNoteValue)) {
        value = -kMaxNoteValue;
    }
    return value;
}

void IdleEvery(std::int32_t frame, const std::function<void()>& idle) {
    constexpr std::int32_t kIdleFrames = 256;
    if (idle && frame % kIdleFrames == kIdleFrames - 1) {
        idle();
    }
}

// Step 1 of the build: the note table, clamped, through Temp1 and back; returns the peak.
// Nothing when a file could not be opened (the engine has shown why).
std::optional<double> NormaliseNoteTable(const WavHead& doc, const std::function<void()>& idle) {
    std::vector<double> rec(kGridRows);
    double peak = kLevelOffset;
    {
        TFileBase source;
        TFileBase target;
        if (source.OpenFile(doc.NoteIntenFileName, kModeRead, kGridRows) != 0) {
            return std::nullopt;
        }
        if (target.OpenFile(doc.Temp1FileName, kModeWrite, kGridRows) != 0) {
            source.CloseFile();
            return std::nullopt;
        }
        for (std::int32_t frame = 0; frame < doc.FrameCount; ++frame) {
            IdleEvery(frame, idle);
            source.ReadData(rec);
            for (double& value : rec) {
                value = NormaliseValue(value, peak);
            }
            target.WriteData(rec);
            peak = std::max(peak, kMinPeakNoteValue);
        }
        source.CloseFile();
        target.CloseFile();
    }
    std::error_code error;
    std::filesystem::copy_file(doc.Temp1FileName, doc.NoteIntenFileName,
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
        throw FileIoError(doc.NoteIntenFileName, "copy", error.message());
    }
    // Also with no frames at all, the peak never lies below its floor.
    return std::max(peak, kMinPeakNoteValue);
}

// Step 3 of the build: one grid record per frame of the (normalised) note table.
// -1 when a file could not be opened.
std::int32_t WriteGridFile(const WavHead& doc, double peak, const std::string& gridName,
                           const std::function<void()>& idle) {
    std::vector<double> rec(kGridRows);
    std::array<std::int8_t, kGridRows> levels{};
    TFileBase notes;
    TFileBase grid;
    if (notes.OpenFile(doc.NoteIntenFileName, kModeRead, kGridRows) != 0) {
        return -1;
    }
    if (grid.OpenFileShort(gridName, kModeWrite, kGridRows) != 0) {
        notes.CloseFile();
        return -1;
    }
    for (std::int32_t frame = 0; frame < doc.FrameCount; ++frame) {
        IdleEvery(frame, idle);
        notes.ReadData(rec);
        for (std::int32_t note = 0; note < kGridRows; ++note) {
            levels[static_cast<std::size_t>(NoteToRow(note))] = NoteLevel(rec[static_cast<std::size_t>(note)], peak);
        }
        grid.WriteDataShort(levels);
    }
    notes.CloseFile();
    grid.CloseFileShort();
    return 0;
}

}  // namespace

std::int8_t NoteLevel(double value, double peak) {
    double step = (peak - kLevelOffset) * kLevelsPerPeak;
    if (step == 0.0) {
        step = kFallbackStep;
    }
    if (value > 0.0) {
        value = RoundEven((value - kLevelOffset) / step + 1.0);
    }
    if (value > kMaxNoteValue) {
        value = kMaxNoteValue;
    }
    if (!(value >= -kMaxNoteValue)) {
        value = -kMaxNoteValue;
    }
    return static_cast<std::int8_t>(RoundToInt(value));
}

std::int32_t BuildGridFile(WavHead& doc, std::int32_t reset, const std::function<void()>& idle) {
    if (doc.NoteIntenFileName.empty()) {
        return 0;
    }
    const std::optional<double> normalised = NormaliseNoteTable(doc, idle);
    if (!normalised) {
        return -1;
    }
    const double peak = *normalised;

    // The new grid file is complete before the old one goes, so a failure leaves the
    // document with the grid file it had.
    // Without a name the open below fails with its own message, after the naming's one.
    std::string gridName;
    GetTempName("mig", gridName);
    std::int32_t status = -1;
    try {
        status = WriteGridFile(doc, peak, gridName, idle);
    } catch (...) {
        std::remove(gridName.c_str());
        throw;
    }
    if (status != 0) {
        std::remove(gridName.c_str());
        return -1;
    }
    if (!doc.MidiGridFileName.empty()) {
        std::remove(doc.MidiGridFileName.c_str());
    }
    doc.MidiGridFileName = gridName;
    doc.PeakNoteValue = peak;

    if (reset == 1) {
        doc.ViewWidth = std::min(doc.FrameCount, kDefaultViewWidth);
        doc.ViewStart = 0;
        doc.SelStart = 0;
        doc.SelEnd = doc.FrameCount;
    }
    return 0;
}

QRgb GridLevelColor(std::int8_t level) {
    if (level >= -127 && level <= -1) {
        return qRgb(0, 0, 0);
    }
    if (level == 0) {
        return qRgb(0, 0, 255);
    }
    if (level >= 1 && level <= 16) {
        return qRgb(0, 128, 128);
    }
    if (level >= 17 && level <= 33) {
        return qRgb(0, 128, 0);
    }
    if (level >= 34 && level <= 51) {
        return qRgb(128, 128, 0);
    }
    if (level >= 52 && level <= 69) {
        return qRgb(128, 0, 0);
    }
    if (level >= 70 && level <= 86) {
        return qRgb(255, 0, 0);
    }
    if (level >= 87 && level <= kPeakLevel) {
        return qRgb(255, 255, 0);
    }
    if (level == kUserNoteLevel) {
        return qRgb(255, 255, 255);
    }
    return qRgb(128, 128, 128);
}

NoteGridLooks::NoteGridLooks(std::string gridFileName, std::int32_t selStart, std::int32_t selEnd)
    : m_gridFileName(std::move(gridFileName)), m_selStart(selStart), m_selEnd(selEnd) {}

void NoteGridLooks::Columns(std::int32_t first, std::int32_t colCount, std::int32_t rowCount,
                            std::span<CellLook> looks) const {
    if (first < 0 || colCount < 0 || rowCount < 0 ||
        looks.size() < static_cast<std::size_t>(colCount) * static_cast<std::size_t>(rowCount)) {
        throw std::invalid_argument("NoteGridLooks::Columns: bad range");
    }
    const std::size_t bytes = static_cast<std::size_t>(colCount) * kGridRows;
    std::vector<std::int8_t> records(bytes, 0);  // frames past the end stay silent
    RawFile file;
    file.Open(m_gridFileName, RawFile::Mode::Read);
    file.Seek(std::int64_t{first} * kGridRows);
    file.Read(records.data(), bytes);
    file.Close();

    for (std::int32_t c = 0; c < colCount; ++c) {
        const std::int32_t col = first + c;
        const Qt::BrushStyle style = (col < m_selStart || col > m_selEnd) ? Qt::DiagCrossPattern : Qt::SolidPattern;
        for (std::int32_t row = 0; row < rowCount; ++row) {
            const std::int8_t level =
                row < kGridRows ? records[static_cast<std::size_t>(c) * kGridRows + static_cast<std::size_t>(row)] : 0;
            CellLook& look =
                looks[static_cast<std::size_t>(c) * static_cast<std::size_t>(rowCount) + static_cast<std::size_t>(row)];
            look.Color = GridLevelColor(level);
            look.Style = style;
        }
    }
}

}  // namespace ruvo
