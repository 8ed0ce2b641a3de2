#pragma once
// ScoreWindow: the main window's side of the score. Its menu items ("Save &score...",
// "Tempo and &meter...", "&Beat lines"), the bar and beat lines over the note grid and the
// time scale, the tempo and meter form, and the document's score they all show. The main
// window makes it after its menus and panes and tells it when a document is shown or
// replaced. Owned by the main window; UI thread.

#include "app/DocumentScore.h"
#include "panes/BeatLinePainter.h"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class QAction;
class QMenu;
class QWidget;

namespace ruvo {

class DocumentPipeline;
class TScalePane;
class TStrColGrid;
class TTempoMeterForm;
struct WavHead;

class ScoreWindow : public QObject {
    Q_OBJECT

public:
    // Runs one command; an exception it raises is shown and ends it.
    using Guard = std::function<void(const std::function<void()>&)>;
    // The window's status bar.
    using Status = std::function<void(const QString&)>;
    // Tells the window that the history has a new step (its Edit items follow).
    using StepsChanged = std::function<void()>;

    // Where the items go: in `fileMenu` before `fileBefore`, in `settingMenu` the form's item
    // before `formBefore` and the lines' item before `linesBefore`. Everything named outlives
    // this object.
    struct Places {
        QMenu* FileMenu = nullptr;
        QAction* FileBefore = nullptr;
        QMenu* SettingMenu = nullptr;
        QAction* FormBefore = nullptr;
        QAction* LinesBefore = nullptr;
        // The window's undo and redo items: their shortcuts work in the form as well.
        QList<QAction*> FormShortcuts;
    };

    ScoreWindow(QWidget& window, DocumentPipeline& pipeline, TStrColGrid& grid, TScalePane& timeScale,
                const Places& places, Guard guard, Status status, StepsChanged stepsChanged);
    ~ScoreWindow() override;

    DocumentScore& Score() { return m_score; }
    const BeatLinePainter& Lines() const { return m_lines; }
    QAction* SaveScoreItem() const { return m_saveScore; }
    QAction* TempoMeterItem() const { return m_tempoMeter; }
    QAction* BeatLinesItem() const { return m_beatLines; }
    TTempoMeterForm* TempoMeterForm() const { return m_form; }

    // The document shown (or none): the items' states, the lines and the open form follow.
    void ShowDocument(const WavHead& doc);
    // A new document replaces the one shown: its choices start empty.
    void NewDocument();

    // "Save &score...": asks for a name and writes the score; a name without an extension
    // gets the one of the chosen filter. 0 written, -1 cancelled, refused or failed.
    std::int32_t FileSaveScore();
    // The save dialog's name; false when cancelled. The dialog of FileSaveScore.
    bool ChooseScoreFileName(std::string& name);

    // The time scale's pixel `x` as the recording's time.
    double TimeScaleSeconds(int x) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateItems(const Places& places);
    void TempoMeterClick();
    void BeatLinesClick();
    void RepaintLines();
    // Whether the beat lines can be painted without waiting for the score; when not, the
    // grid and the scale are repainted shortly, until it is there.
    bool LinesReady();

    QWidget& m_window;
    DocumentPipeline& m_pipeline;
    TStrColGrid& m_grid;
    TScalePane& m_timeScale;
    Guard m_guard;
    Status m_status;
    StepsChanged m_stepsChanged;
    std::uint64_t m_formSerial = 0;  // the document's state the open form last showed
    bool m_linesPoll = false;        // a repaint waits for the score being built
    DocumentScore m_score;
    BeatLinePainter m_lines;
    TTempoMeterForm* m_form = nullptr;  // owned by the window
    QAction* m_saveScore = nullptr;     // owned by the window
    QAction* m_tempoMeter = nullptr;    // owned by the window
    QAction* m_beatLines = nullptr;     // owned by the window
    // The last score saved and the document it was saved for: the save dialog offers that name
    // again for the same document, and for another one its own name in that folder.
    QString m_lastScoreName;
    QString m_lastScoreDocument;
    bool m_formPlaced = false;
};

}  // namespace ruvo
