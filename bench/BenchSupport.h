// What the window benches share: a steady clock read in milliseconds, the offscreen platform
// unless a display is set, and a synthetic note table shaped like a converted melody.
#pragma once

#include "engine/UFile.h"
#include "panes/NoteGridFile.h"

#include <QByteArray>
#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace ruvo::bench {

using Clock = std::chrono::steady_clock;

inline double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Call before the application object is made.
inline void OffscreenUnlessDisplay() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

// The melody changes note every seventh frame, over 40 rows from row 20; the options add an
// erased octave on every third frame, a soft fourth below on every fifth, and a shift of the
// melody by some notes, so that a second table differs from the first.
struct NoteTableShape {
    std::int32_t Shift = 0;
    bool ErasedOctaves = false;
    bool SoftFourths = false;
};

inline void WriteNoteTable(const std::string& name, std::int32_t frames, NoteTableShape shape = {}) {
    TFileBase file;
    if (file.OpenFile(name, kModeWrite, kGridRows) != 0) {
        std::fprintf(stderr, "cannot write the note table %s\n", name.c_str());
        std::exit(1);
    }
    std::vector<double> rec(kGridRows);
    for (std::int32_t frame = 0; frame < frames; ++frame) {
        std::fill(rec.begin(), rec.end(), 0.0);
        const std::int32_t note = 20 + (frame / 7 + shape.Shift) % 40;
        rec[static_cast<std::size_t>(note)] = 2.0 + (frame % 13);
        if (shape.ErasedOctaves && frame % 3 == 0) {
            rec[static_cast<std::size_t>(note + 12)] = -1.0;
        }
        if (shape.SoftFourths && frame % 5 == 0) {
            rec[static_cast<std::size_t>(note - 5)] = 0.5;
        }
        file.WriteData(rec);
    }
    file.CloseFile();
}

}  // namespace ruvo::bench
