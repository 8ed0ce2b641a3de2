#include "app/ScoreWindow.h"

#include "app/DocumentPipeline.h"
#include "app/TempoMeterForm.h"
#include "components/KSavePos.h"
#include "engine/EngineHost.h"
#include "engine/Units.h"
#include "panes/Scales.h"
#include "panes/StrCGrid.h"
#include "platform/qt/PathConvert.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>

namespace ruvo {

namespace {

constexpr int kLinesPollMs = 30;  // how soon the panes ask again for a score being built

const QString kMusicXmlFilter = QStringLiteral("MusicXML (*.musicxml *.xml)");
const QString kScoreMidiFilter = QStringLiteral("MIDI in musical time (*.mid)");

// A score's name must say what it holds; any other ending (a sound file's ".wav" typed by
// mistake) gets the filter's, so that no save can replace the recording.
QString WithScoreSuffix(const QString& name, bool midi) {
    const QString suffix = QFileInfo(name).suffix().toLower();
    const bool known = suffix == QLatin1String("musicxml") || suffix == QLatin1String("xml") ||
                       suffix == QLatin1String("mid") || suffix == QLatin1String("midi");
    if (known) {
        return name;
    }
    return name + (midi ? QStringLiteral(".mid") : QStringLiteral(".musicxml"));
}

}  // namespace

ScoreWindow::ScoreWindow(QWidget& window, DocumentPipeline& pipeline, TStrColGrid& grid, TScalePane& timeScale,
                         const Places& places, Guard guard, Status status, StepsChanged stepsChanged)
    : QObject(&window),
      m_window(window),
      m_pipeline(pipeline),
      m_grid(grid),
      m_timeScale(timeScale),
      m_guard(std::move(guard)),
      m_status(std::move(status)),
      m_stepsChanged(std::move(stepsChanged)),
      m_score(pipeline) {
    m_form = new TTempoMeterForm(m_score, &window);  // owned by the window
    CreateItems(places);
    m_lines.SetSource([this](double from, double to) { return m_score.Lines(from, to); });
    m_grid.SetOverlay([this](QPainter& painter, const QRect& area) {
        if (LinesReady()) {
            m_lines.PaintGrid(painter, m_grid, area);
        }
        // A grid edit repaints the grid: the open form then shows the score made from it.
        if (m_form->isVisible() && m_pipeline.History().Serial() != m_formSerial) {
            m_formSerial = m_pipeline.History().Serial();
            QTimer::singleShot(0, m_form, &TTempoMeterForm::ShowScore);
        }
    });
    m_timeScale.SetOverlay([this](QPainter& painter) {
        if (m_pipeline.HasDocument() && LinesReady()) {
            m_lines.PaintScale(painter, m_timeScale.size(), m_pipeline.Doc.ViewStart, m_pipeline.Doc.ViewWidth);
        }
    });
    m_timeScale.installEventFilter(this);
    m_form->installEventFilter(this);
    m_form->addActions(places.FormShortcuts);
    m_score.OnChoicesChanged = [this] {
        RepaintLines();
        m_stepsChanged();
        if (m_form->isVisible()) {
            m_form->ShowScore();
        }
    };
}

ScoreWindow::~ScoreWindow() {
    // The grid and the scale outlive this object by a little during the window's teardown.
    m_grid.SetOverlay({});
    m_timeScale.SetOverlay({});
    m_timeScale.removeEventFilter(this);
}

void ScoreWindow::CreateItems(const Places& places) {
    m_saveScore = new QAction(QStringLiteral("Save &score..."), &m_window);  // owned by the window
    m_saveScore->setObjectName(QStringLiteral("FileSaveScoreItem"));
    m_saveScore->setStatusTip(
        QStringLiteral("Save the melody as a score: MusicXML, or MIDI in its own tempo and bars"));
    m_saveScore->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    m_saveScore->setEnabled(false);
    places.FileMenu->insertAction(places.FileBefore, m_saveScore);
    connect(m_saveScore, &QAction::triggered, this, [this] { m_guard([this] { (void)FileSaveScore(); }); });

    m_tempoMeter = new QAction(QStringLiteral("Tempo and &meter..."), &m_window);  // owned by the window
    m_tempoMeter->setObjectName(QStringLiteral("TempoMeterItem"));
    m_tempoMeter->setStatusTip(
        QStringLiteral("Correct the score's tempo, time signature and first downbeat; the bar lines follow"));
    m_tempoMeter->setEnabled(false);
    places.SettingMenu->insertAction(places.FormBefore, m_tempoMeter);
    connect(m_tempoMeter, &QAction::triggered, this, [this] { m_guard([this] { TempoMeterClick(); }); });

    m_beatLines = new QAction(QStringLiteral("&Beat lines"), &m_window);  // owned by the window
    m_beatLines->setObjectName(QStringLiteral("BeatLinesItem"));
    m_beatLines->setCheckable(true);
    m_beatLines->setChecked(true);
    m_beatLines->setStatusTip(QStringLiteral("Show the bars and beats of the score over the notes and the time scale"));
    places.SettingMenu->insertAction(places.LinesBefore, m_beatLines);
    connect(m_beatLines, &QAction::toggled, this, [this] { BeatLinesClick(); });
}

void ScoreWindow::ShowDocument(const WavHead& doc) {
    const bool shown = !doc.MidiGridFileName.empty();
    m_saveScore->setEnabled(shown);
    m_tempoMeter->setEnabled(shown);
    if (!shown) {
        m_form->hide();
    }
    RepaintLines();
    if (m_form->isVisible()) {
        m_form->ShowScore();
    }
}

void ScoreWindow::NewDocument() { m_score.NewDocument(); }

void ScoreWindow::RepaintLines() {
    m_grid.viewport()->update();
    m_timeScale.update();
}

bool ScoreWindow::LinesReady() {
    if (!m_lines.Shown() || m_score.Ready()) {
        return true;
    }
    if (!m_linesPoll) {
        m_linesPoll = true;
        QTimer::singleShot(kLinesPollMs, this, [this] {
            m_linesPoll = false;
            RepaintLines();
        });
    }
    return false;
}

void ScoreWindow::BeatLinesClick() {
    m_lines.SetShown(m_beatLines->isChecked());
    RepaintLines();
}

void ScoreWindow::TempoMeterClick() {
    if (m_pipeline.Busy() || !m_pipeline.HasDocument()) {
        return;
    }
    if (!m_formPlaced) {
        // Beside the window, below the player, so that the time scale it listens to stays in
        // sight.
        m_formPlaced = true;
        m_form->adjustSize();
        const QRect frame = m_window.frameGeometry();
        m_form->move(frame.right() + 8, frame.top() + frame.height() / 3);
        KeepOnScreen(*m_form, &m_window);
    }
    m_form->show();
    m_form->raise();
    m_form->activateWindow();
}

double ScoreWindow::TimeScaleSeconds(int x) const {
    const WavHead& doc = m_pipeline.Doc;
    const double frames = static_cast<double>(x) * std::max(1, doc.ViewWidth) / std::max(1, m_timeScale.width());
    return (doc.ViewStart + frames) * FramesToSeconds(1);
}

bool ScoreWindow::eventFilter(QObject* watched, QEvent* event) {
    // The time scale takes clicks while the form is open: its pointer says so.
    if (watched == m_form && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        if (event->type() == QEvent::Show) {
            m_timeScale.setCursor(Qt::PointingHandCursor);
        } else {
            m_timeScale.unsetCursor();
        }
    }
    // While the form is open, a click on the time scale puts the first downbeat there.
    if (watched == &m_timeScale && event->type() == QEvent::MouseButtonPress && m_form->isVisible() &&
        m_pipeline.HasDocument() && !m_pipeline.Busy()) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::LeftButton) {
            const double seconds = TimeScaleSeconds(press->position().toPoint().x());
            m_guard([this, seconds] { m_form->TimeScaleClicked(seconds); });
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool ScoreWindow::ChooseScoreFileName(std::string& name) {
    QFileDialog dialog(&m_window, QStringLiteral("Save score"));
    dialog.setObjectName(QStringLiteral("SaveScoreDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({kMusicXmlFilter, kScoreMidiFilter});
    dialog.setDefaultSuffix(QStringLiteral("musicxml"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter == kScoreMidiFilter ? QStringLiteral("mid") : QStringLiteral("musicxml"));
    });
    const QFileInfo document(FileNameFromEngine(m_pipeline.DocumentName()));
    if (!m_lastScoreName.isEmpty() && m_lastScoreDocument == document.absoluteFilePath()) {
        dialog.selectFile(m_lastScoreName);
    } else {
        // The document's own name, in the folder of the last score saved or beside the document.
        dialog.setDirectory(m_lastScoreName.isEmpty() ? document.absolutePath()
                                                      : QFileInfo(m_lastScoreName).absolutePath());
        dialog.selectFile(document.completeBaseName() + QStringLiteral(".musicxml"));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    name = FileNameToEngine(
        WithScoreSuffix(dialog.selectedFiles().constFirst(), dialog.selectedNameFilter() == kScoreMidiFilter));
    return true;
}

std::int32_t ScoreWindow::FileSaveScore() {
    if (m_pipeline.Busy() || !m_pipeline.HasDocument()) {
        return -1;
    }
    std::string name;
    if (!ChooseScoreFileName(name) || name.empty()) {
        return -1;
    }
    std::string error;
    if (m_score.Save(name, error) != 0) {
        EngineHost().ErrorBox("The score could not be saved as " + name + ":\n" + error);
        return -1;
    }
    // Remembered once saved: a folder the score could not be written to is not offered again.
    m_lastScoreName = FileNameFromEngine(name);
    m_lastScoreDocument = QFileInfo(FileNameFromEngine(m_pipeline.DocumentName())).absoluteFilePath();
    const QString shown = QFileInfo(FileNameFromEngine(name)).fileName();
    m_status(m_score.HasNotes() ? QStringLiteral("Score saved as %1.").arg(shown)
                                : QStringLiteral("The document has no notes: %1 holds a score of rests.").arg(shown));
    return 0;
}

}  // namespace ruvo
