#pragma once
// TTempoMeterForm: the "Tempo and meter" dialog. It shows the tempo found (and its changes),
// the time signature and the first downbeat of the document's score, and turns the user's
// corrections (a typed or tapped tempo, a meter, a downbeat clicked on the time scale) into
// steps of the document's history. Not modal, so that the time scale can be clicked while it
// is open. Owned by the main window (Qt parent); UI thread only. The main window's items added
// to it (addAction) keep their shortcuts here, also over the keys its text boxes would take.

#include "app/DocumentScore.h"
#include "score/Score.h"

#include <QDialog>
#include <QElapsedTimer>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ruvo {

// The tempo of a run of taps: 60 over the mean interval of the last kTapWindow taps; a pause
// longer than kTapTimeout starts a new run. Times in seconds from any fixed origin.
class TapTempo {
public:
    static constexpr std::size_t kTapWindow = 8;
    static constexpr double kTapTimeout = 2.0;

    // The tempo after a tap at `seconds`, in quarter notes per minute; nothing until a run
    // has two taps.
    std::optional<double> Tap(double seconds);
    std::size_t Taps() const { return m_taps.size(); }
    void Clear() { m_taps.clear(); }

private:
    std::vector<double> m_taps;  // the current run, at most kTapWindow
};

class TTempoMeterForm : public QDialog {
    Q_OBJECT

public:
    // `score` and its document outlive the form.
    TTempoMeterForm(DocumentScore& score, QWidget* parent = nullptr);

    // Shows the score as it is now (after a step, an undo or an edit of the notes).
    void ShowScore();

    QLabel* FoundCaption() const { return m_foundCaption; }
    QLabel* FoundLabel() const { return m_found; }
    QLabel* MeterLabel() const { return m_meterShown; }
    QLabel* DownbeatLabel() const { return m_downbeat; }
    QLabel* MessageLabel() const { return m_message; }
    QLineEdit* TempoEdit() const { return m_tempo; }
    QPushButton* ApplyTempoButton() const { return m_applyTempo; }
    QPushButton* FoundTempoButton() const { return m_foundTempo; }
    QPushButton* TapButton() const { return m_tap; }
    QComboBox* MeterBox() const { return m_meter; }
    QPushButton* StartDownbeatButton() const { return m_startDownbeat; }

public slots:
    // The tempo typed in the box, 20 to 400 beats per minute, for the whole recording.
    void ApplyTempoClick();
    // Back to the tempo found in the notes.
    void FoundTempoClick();
    // One tap (the Tap button or the space bar): the box shows the tempo of the taps so far.
    void TapClick();
    // The meter chosen or typed in the box (N/2, N/4 or N/8).
    void MeterChosen();
    // A click on the time scale while the form is open: bar 1 begins at `seconds`.
    void TimeScaleClicked(double seconds);
    // Bar 1 at the recording's start again.
    void StartDownbeatClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowTempo(const Score& score, const ScoreChoices& choices);
    void ShowMeter(const Meter& meter);
    // Grows the form to the height its texts need at its width.
    void FitHeight();
    // A refusal, in red; progress, in the window's own colour.
    void ShowRefusal(const QString& text);
    void ShowProgress(const QString& text);
    // Whether `key` is the shortcut of one of the main window's items added to the form.
    bool IsWindowShortcut(const QKeyEvent& key) const;
    // Refused (and said so) while the document is converted.
    bool Choose(const ScoreChoices& after, const char* stepName);

    DocumentScore& m_score;
    // The score with the user's meter and downbeat but the tempo found, for the tempo the
    // notes give beside the user's own.
    DocumentScore m_foundScore;
    TapTempo m_taps;
    QElapsedTimer m_clock;
    bool m_foundPoll = false;                // a look at the tempo found is due
    std::string m_shownDocument;             // the name of the document the boxes were filled for
    QLabel* m_foundCaption = nullptr;        // owned by parent
    QLabel* m_found = nullptr;               // owned by parent
    QLabel* m_meterShown = nullptr;          // owned by parent
    QLabel* m_downbeat = nullptr;            // owned by parent
    QLabel* m_message = nullptr;             // owned by parent
    QLineEdit* m_tempo = nullptr;            // owned by parent
    QPushButton* m_applyTempo = nullptr;     // owned by parent
    QPushButton* m_foundTempo = nullptr;     // owned by parent
    QPushButton* m_tap = nullptr;            // owned by parent
    QComboBox* m_meter = nullptr;            // owned by parent
    QPushButton* m_startDownbeat = nullptr;  // owned by parent
};

}  // namespace ruvo
