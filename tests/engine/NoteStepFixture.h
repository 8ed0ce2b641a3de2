#pragma once
// Runs single steps of TNote on hand-made tables: the document record names files in a
// per-test folder, a test writes the step's input, runs the step and reads what it wrote.

#include "engine/TNote.h"

#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace ruvo::testsupport {

class NoteStepTest : public ::testing::Test {
protected:
    NoteStepTest() {
        head.TempoClass = kTempoSlow;
        head.Temp1FileName = dir.File("A");
        head.Temp2FileName = dir.File("B");
        head.IntenFileName = dir.File("int");
        head.ThresholdFileName = dir.File("thr");
        head.HarmonicFileName = dir.File("bai");
        head.NoteIntenFileName = dir.File("not");
        head.RawNoteFileName = dir.File("ioc");
        head.OctFileName = dir.File("oct");
    }

    // Writes `input` as table A (the latest result), runs the step over its frames and returns
    // the table that A names afterwards, read as records of outLen (0: the input's length).
    Table RunOn(std::int32_t step, const Table& input, std::int32_t reset = 0, std::size_t outLen = 0) {
        RunOnly(step, input, reset);
        return ReadTable(note->Params().Temp1FileName, outLen != 0 ? outLen : input.front().size());
    }

    // The same for a step whose result is not table A.
    void RunOnly(std::int32_t step, const Table& input, std::int32_t reset = 0) {
        WriteTable(head.Temp1FileName, input);
        head.FrameCount = static_cast<std::int32_t>(input.size());
        note->Load(head);
        EXPECT_EQ(note->RunStep(step, reset), 0);
    }

    // Column `index` of a table, one value per frame.
    static std::vector<double> Column(const Table& t, std::size_t index) {
        std::vector<double> out;
        for (const auto& r : t) out.push_back(r.at(index));
        return out;
    }

    // Sets column `index` of every frame from `values` (frame by frame).
    static void SetColumn(Table& t, std::size_t index, const std::vector<double>& values) {
        for (std::size_t f = 0; f < values.size(); ++f) t.at(f).at(index) = values[f];
    }

    TempDir dir;
    ScopedRecordingHost host;
    WavHead head;
    std::unique_ptr<TNote> note = std::make_unique<TNote>();
};

}  // namespace ruvo::testsupport
