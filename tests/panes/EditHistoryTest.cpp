#include "panes/EditHistory.h"

#include "panes/NoteEditCommand.h"
#include "panes/NoteGridFile.h"
#include "panes/RerunCommand.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace ruvo {
namespace {

using testsupport::FileExists;
using testsupport::TempDir;

constexpr std::int32_t kFrames = 40;

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A 40-frame document whose every note value and grid byte differs from its neighbours.
class EditHistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_doc.FrameCount = kFrames;
        m_doc.NoteIntenFileName = m_dir.File("not1.tmp");
        m_doc.MidiGridFileName = m_dir.File("mig1.tmp");
        testsupport::Table table(kFrames, std::vector<double>(kGridRows));
        std::vector<std::int8_t> grid(static_cast<std::size_t>(kFrames * kGridRows));
        for (std::size_t f = 0; f < table.size(); ++f) {
            for (std::size_t k = 0; k < static_cast<std::size_t>(kGridRows); ++k) {
                table[f][k] = 1.0 + static_cast<double>(f) + static_cast<double>(k) / 128.0;
                grid[f * kGridRows + k] = static_cast<std::int8_t>((f * 5 + k) % 111);
            }
        }
        testsupport::WriteTable(m_doc.NoteIntenFileName, table);
        testsupport::WriteSigned(m_doc.MidiGridFileName, grid);
    }
    std::pair<std::string, std::string> Files() const {
        return {Bytes(m_doc.NoteIntenFileName), Bytes(m_doc.MidiGridFileName)};
    }
    // A file of `bytes` bytes in the folder, for the states of a re-run.
    std::string MakeFile(const std::string& name, std::size_t bytes = 16) {
        const std::string path = m_dir.File(name);
        WriteBytes(path, std::string(bytes, 'x'));
        return path;
    }

    TempDir m_dir;
    WavHead m_doc;
};

struct GridStepCase {
    const char* Name;
    NoteEdit Edit;
};

class GridSteps : public EditHistoryTest, public ::testing::WithParamInterface<GridStepCase> {};

// Both files return bit for bit to their state before the step and after it, twice over.
TEST_P(GridSteps, UndoAndRedoRestoreBothFilesExactly) {
    EditHistory history;
    const auto before = Files();
    history.Push(NoteEditCommand::Apply(m_doc, GetParam().Edit, GetParam().Name));
    const auto after = Files();
    ASSERT_NE(after, before);
    EXPECT_EQ(history.UndoName(), GetParam().Name);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(history.Undo(m_doc));
        EXPECT_EQ(Files(), before);
        EXPECT_EQ(history.RedoName(), GetParam().Name);
        ASSERT_TRUE(history.Redo(m_doc));
        EXPECT_EQ(Files(), after);
    }
    EXPECT_FALSE(history.Redo(m_doc));
    EXPECT_EQ(m_dir.FileNames(), (std::vector<std::string>{"mig1.tmp", "not1.tmp"}));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, GridSteps,
    ::testing::Values(GridStepCase{"Add note", NoteEdit::SetRun(3, 7, 20, 2.5)},
                      GridStepCase{"Delete note", NoteEdit::SetRun(0, kFrames - 1, 71, 0.0)},
                      GridStepCase{"Lengthen note", NoteEdit::SetRun(36, 45, 0, 110.0)},
                      GridStepCase{"Change pitch", NoteEdit::SwapRows(10, 19, 30, 42)},
                      GridStepCase{"Move note", NoteEdit::ShiftRun(10, 16, 33, 19, 13, 33)},
                      GridStepCase{"Move note", NoteEdit::ShiftRun(30, 38, 33, 8, 0, 33)},
                      GridStepCase{"Move note", NoteEdit::ShiftRun(-2, 3, 50, 39, 34, 12)}),
    [](const auto& param) { return "Case" + std::to_string(param.index); });

TEST_F(EditHistoryTest, NewStepDropsRedoStepsAndTheirFiles) {
    EditHistory history;
    const std::string oldNotes = MakeFile("not0.tmp");
    const std::string newNotes = MakeFile("not2.tmp");
    AnalysisState before = AnalysisState::Of(m_doc);
    before.NoteIntenFileName = oldNotes;
    AnalysisState after = AnalysisState::Of(m_doc);
    after.NoteIntenFileName = newNotes;
    after.TempoClass = kTempoSlow;
    after.PeakNoteValue = 7.5;
    m_doc.NoteIntenFileName = newNotes;
    after.ApplyTo(m_doc);
    history.Push(std::make_unique<RerunCommand>("Tempo", before, after));
    EXPECT_EQ(history.KeptFiles(), std::vector<std::string>{oldNotes});
    EXPECT_EQ(history.KeptBytes(), 16);

    ASSERT_TRUE(history.Undo(m_doc));
    EXPECT_EQ(m_doc.NoteIntenFileName, oldNotes);
    EXPECT_EQ(m_doc.TempoClass, kTempoFast);
    EXPECT_EQ(history.KeptFiles(), std::vector<std::string>{newNotes});

    // A grid edit now: the undone re-run goes at once, with the table only it named.
    const std::string table = m_doc.NoteIntenFileName;
    m_doc.NoteIntenFileName = m_dir.File("not1.tmp");
    history.Push(NoteEditCommand::Apply(m_doc, NoteEdit::SetRun(1, 2, 3, 4.0), "Add note"));
    EXPECT_FALSE(history.CanRedo());
    EXPECT_FALSE(FileExists(newNotes));
    EXPECT_TRUE(FileExists(table));
    EXPECT_EQ(history.StepCount(), 1U);
    history.Clear();
    EXPECT_TRUE(FileExists(table));  // the document's own file stays
    EXPECT_FALSE(history.CanUndo());
}

// A step that keeps nothing but says how much it would, for the budget.
class SizedStep : public IEditCommand {
public:
    SizedStep(std::string name, std::int64_t bytes, int& alive) : m_name(std::move(name)), m_bytes(bytes), m_alive(alive) {
        ++m_alive;
    }
    ~SizedStep() override { --m_alive; }
    const std::string& Name() const override { return m_name; }
    void Undo(WavHead& doc) override { ++doc.ViewStart; }
    void Redo(WavHead& doc) override { --doc.ViewStart; }
    std::vector<std::string> KeptFiles() const override { return {}; }
    std::int64_t KeptBytes() const override { return m_bytes; }

private:
    std::string m_name;
    std::int64_t m_bytes;
    int& m_alive;
};

TEST_F(EditHistoryTest, BudgetDropsTheOldestStepsFirst) {
    int alive = 0;
    EditHistory history;
    for (std::size_t i = 0; i < EditHistory::kMaxSteps + 3; ++i) {
        history.Push(std::make_unique<SizedStep>("Step " + std::to_string(i), 0, alive));
    }
    EXPECT_EQ(history.StepCount(), EditHistory::kMaxSteps);
    EXPECT_EQ(alive, static_cast<int>(EditHistory::kMaxSteps));
    for (std::size_t i = 0; i < EditHistory::kMaxSteps; ++i) {
        ASSERT_TRUE(history.Undo(m_doc));
    }
    EXPECT_EQ(history.RedoName(), "Step 3");  // steps 0 .. 2 are gone
    EXPECT_FALSE(history.Undo(m_doc));

    // 400 MB steps: the third brings the kept files over 1 GB, and the oldest goes.
    history.Clear();
    EXPECT_EQ(alive, 0);
    constexpr std::int64_t kBig = std::int64_t{400} << 20;
    for (int i = 0; i < 3; ++i) {
        history.Push(std::make_unique<SizedStep>("Big " + std::to_string(i), kBig, alive));
    }
    EXPECT_EQ(history.StepCount(), 2U);
    EXPECT_EQ(history.KeptBytes(), 2 * kBig);
    ASSERT_TRUE(history.Undo(m_doc));
    ASSERT_TRUE(history.Undo(m_doc));
    EXPECT_EQ(history.RedoName(), "Big 1");
}

TEST_F(EditHistoryTest, DroppedRerunDeletesTheFilesOfItsOtherState) {
    EditHistory history;
    const AnalysisState shown = AnalysisState::Of(m_doc);
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < EditHistory::kMaxSteps + 1; ++i) {
        AnalysisState before = shown;
        before.RawNoteFileName = MakeFile("ioc" + std::to_string(i) + ".tmp");
        kept.push_back(before.RawNoteFileName);
        history.Push(std::make_unique<RerunCommand>("Threshold", before, shown));
    }
    EXPECT_FALSE(FileExists(kept.front()));
    EXPECT_TRUE(FileExists(kept[1]));
    history.Clear();
    EXPECT_EQ(m_dir.FileNames(), (std::vector<std::string>{"mig1.tmp", "not1.tmp"}));
}

TEST_F(EditHistoryTest, ModifiedFollowsTheSavedState) {
    EditHistory history;
    EXPECT_FALSE(history.Modified());
    history.Push(NoteEditCommand::Apply(m_doc, NoteEdit::SetRun(1, 2, 3, 4.0), "Add note"));
    EXPECT_TRUE(history.Modified());
    history.MarkSaved();
    EXPECT_FALSE(history.Modified());
    ASSERT_TRUE(history.Undo(m_doc));
    EXPECT_TRUE(history.Modified());
    ASSERT_TRUE(history.Redo(m_doc));
    EXPECT_FALSE(history.Modified());
    // Back to the saved state by another way: still a change.
    ASSERT_TRUE(history.Undo(m_doc));
    history.Push(NoteEditCommand::Apply(m_doc, NoteEdit::SetRun(1, 2, 3, 4.0), "Add note"));
    EXPECT_TRUE(history.Modified());
    history.Clear();
    EXPECT_FALSE(history.Modified());
}

}  // namespace
}  // namespace ruvo
