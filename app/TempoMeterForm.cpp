#include "app/TempoMeterForm.h"

#include "app/DocumentPipeline.h"
#include "engine/Units.h"
#include "score/Score.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace ruvo {

namespace {

constexpr int kShownTempoChanges = 2;  // in the form's line; all of them in its tooltip
constexpr int kTooltipChangesPerLine = 4;
constexpr int kFoundPollMs = 50;  // how soon the form asks again for the tempo found

const QString kFoundCaption = QStringLiteral("Tempo found:");
const QString kYourTempoCaption = QStringLiteral("Your tempo:");
const QString kRefusalStyle = QStringLiteral("color: #a00000");

QString Bpm(double bpm) { return QString::number(bpm, 'f', 1); }

QString Seconds(double seconds) { return QString::number(seconds, 'f', 2) + QStringLiteral(" s"); }

int TempoChanges(const Score& score) { return static_cast<int>(score.Tempo.size()) - 1; }

QString ChangeText(const TempoSegment& segment) {
    return QStringLiteral("%1 bpm from %2").arg(Bpm(segment.Bpm), Seconds(segment.StartSeconds));
}

// "112.0 bpm", or "112.0 bpm; 96.0 bpm from 31.20 s" with the first changes and how many more.
QString TempoText(const Score& score) {
    QString text = Bpm(score.Tempo.front().Bpm) + QStringLiteral(" bpm");
    const int changes = TempoChanges(score);
    for (int i = 1; i <= std::min(changes, kShownTempoChanges); ++i) {
        text += QStringLiteral("; ") + ChangeText(score.Tempo[static_cast<std::size_t>(i)]);
    }
    const int more = changes - kShownTempoChanges;
    if (more > 0) {
        text += more == 1 ? QStringLiteral(" and 1 more change") : QStringLiteral(" and %1 more changes").arg(more);
    }
    return text;
}

// Every change, a few to a line, when the form's line leaves some out; else nothing.
QString TempoChangesTip(const Score& score) {
    const int changes = TempoChanges(score);
    if (changes <= kShownTempoChanges) {
        return {};
    }
    QString tip =
        QStringLiteral("%1 bpm at the start, then %2 changes:").arg(Bpm(score.Tempo.front().Bpm)).arg(changes);
    for (int i = 1; i <= changes; ++i) {
        tip += (i - 1) % kTooltipChangesPerLine == 0 ? QStringLiteral("\n") : QStringLiteral("; ");
        tip += ChangeText(score.Tempo[static_cast<std::size_t>(i)]);
    }
    return tip;
}

// The analysis places nothing closer than a frame: bar 1 found less than a frame before the
// recording's start is at its start.
QString DownbeatText(double seconds) {
    if (seconds > -FramesToSeconds(1)) {
        return Seconds(std::max(0.0, seconds));
    }
    return Seconds(-seconds) + QStringLiteral(" before the start");
}

QString MeterText(const Meter& meter) { return QStringLiteral("%1/%2").arg(meter.Beats).arg(meter.BeatType); }

}  // namespace

std::optional<double> TapTempo::Tap(double seconds) {
    if (!m_taps.empty() && (seconds - m_taps.back() > kTapTimeout || seconds <= m_taps.back())) {
        m_taps.clear();
    }
    m_taps.push_back(seconds);
    if (m_taps.size() > kTapWindow) {
        m_taps.erase(m_taps.begin());
    }
    if (m_taps.size() < 2) {
        return std::nullopt;
    }
    const double meanInterval = (m_taps.back() - m_taps.front()) / static_cast<double>(m_taps.size() - 1);
    return 60.0 / meanInterval;
}

TTempoMeterForm::TTempoMeterForm(DocumentScore& score, QWidget* parent)
    : QDialog(parent), m_score(score), m_foundScore(score.Pipeline()) {
    setObjectName(QStringLiteral("TempoMeterForm"));
    setWindowTitle(QStringLiteral("Tempo and meter"));
    setModal(false);

    m_foundCaption = new QLabel(kFoundCaption, this);  // owned by parent
    m_foundCaption->setObjectName(QStringLiteral("FoundCaption"));
    m_found = new QLabel(this);  // owned by parent
    m_found->setObjectName(QStringLiteral("FoundLabel"));
    m_found->setWordWrap(true);
    m_meterShown = new QLabel(this);  // owned by parent
    m_meterShown->setObjectName(QStringLiteral("MeterLabel"));
    m_downbeat = new QLabel(this);  // owned by parent
    m_downbeat->setObjectName(QStringLiteral("DownbeatLabel"));

    m_tempo = new QLineEdit(this);  // owned by parent
    m_tempo->setObjectName(QStringLiteral("TempoEdit"));
    m_tempo->setPlaceholderText(QStringLiteral("20 to 400"));
    m_tempo->setStatusTip(QStringLiteral("Quarter notes per minute for the whole recording"));
    m_applyTempo = new QPushButton(QStringLiteral("&Apply tempo"), this);  // owned by parent
    m_applyTempo->setObjectName(QStringLiteral("ApplyTempoButton"));
    m_tap = new QPushButton(QStringLiteral("&Tap"), this);  // owned by parent
    m_tap->setObjectName(QStringLiteral("TapButton"));
    m_tap->setToolTip(QStringLiteral("Tap along with the beat (or press the space bar), then apply the tempo"));
    m_foundTempo = new QPushButton(QStringLiteral("Use &found tempo"), this);  // owned by parent
    m_foundTempo->setObjectName(QStringLiteral("FoundTempoButton"));
    auto* tempoRow = new QHBoxLayout;  // owned by the form's layout
    tempoRow->addWidget(m_tempo);
    tempoRow->addWidget(m_applyTempo);
    tempoRow->addWidget(m_tap);
    tempoRow->addWidget(m_foundTempo);

    m_meter = new QComboBox(this);  // owned by parent
    m_meter->setObjectName(QStringLiteral("MeterBox"));
    m_meter->setEditable(true);
    m_meter->setInsertPolicy(QComboBox::NoInsert);
    m_meter->addItems({QStringLiteral("2/4"), QStringLiteral("3/4"), QStringLiteral("4/4"), QStringLiteral("5/4"),
                       QStringLiteral("2/2"), QStringLiteral("3/8"), QStringLiteral("6/8"), QStringLiteral("9/8"),
                       QStringLiteral("12/8")});

    m_startDownbeat = new QPushButton(QStringLiteral("Use found down&beat"), this);  // owned by parent
    m_startDownbeat->setObjectName(QStringLiteral("StartDownbeatButton"));
    auto* downbeatRow = new QHBoxLayout;  // owned by the form's layout
    downbeatRow->addWidget(m_downbeat, 1);
    downbeatRow->addWidget(m_startDownbeat);

    auto* form = new QFormLayout;  // owned by the form's layout
    form->addRow(m_foundCaption, m_found);
    form->addRow(QStringLiteral("Tempo:"), tempoRow);
    form->addRow(QStringLiteral("Time signature:"), m_meterShown);
    form->addRow(QStringLiteral("&Meter:"), m_meter);
    form->addRow(QStringLiteral("First downbeat:"), downbeatRow);

    auto* hint =
        new QLabel(QStringLiteral("Click the time scale under the waveform to put the first downbeat there."), this);
    hint->setWordWrap(true);
    m_message = new QLabel(this);  // owned by parent
    m_message->setObjectName(QStringLiteral("MessageLabel"));
    m_message->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);  // owned by parent

    auto* layout = new QVBoxLayout(this);  // owned by parent
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addWidget(m_message);
    layout->addWidget(buttons);

    connect(m_applyTempo, &QPushButton::clicked, this, &TTempoMeterForm::ApplyTempoClick);
    connect(m_tempo, &QLineEdit::returnPressed, this, &TTempoMeterForm::ApplyTempoClick);
    connect(m_tap, &QPushButton::clicked, this, &TTempoMeterForm::TapClick);
    connect(m_foundTempo, &QPushButton::clicked, this, &TTempoMeterForm::FoundTempoClick);
    // A meter picked from the list, or typed (the box takes only the texts of its list).
    connect(m_meter, &QComboBox::activated, this, &TTempoMeterForm::MeterChosen);
    connect(m_meter->lineEdit(), &QLineEdit::returnPressed, this, &TTempoMeterForm::MeterChosen);
    connect(m_startDownbeat, &QPushButton::clicked, this, &TTempoMeterForm::StartDownbeatClick);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Return belongs to the box it is typed in (the tempo's applies it, the meter's chooses
    // it), never to a default button that would apply the tempo as well.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    // The space bar taps wherever the focus is, except in a box that takes text.
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);  // owned by parent
    space->setContext(Qt::WidgetWithChildrenShortcut);
    connect(space, &QShortcut::activated, this, &TTempoMeterForm::TapClick);
    // The boxes' own undo and redo would take the keys of the document's (the focus stays in
    // a box after Return); the combo box, its line edit's focus proxy, gets the keys first.
    m_tempo->installEventFilter(this);
    m_meter->installEventFilter(this);
    m_clock.start();
}

void TTempoMeterForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_taps.Clear();
    m_message->clear();
    ShowScore();
    // Ready for the space bar, which the tempo box would take as text.
    m_tap->setFocus();
}

bool TTempoMeterForm::eventFilter(QObject* watched, QEvent* event) {
    const bool key = event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress;
    if ((watched == m_tempo || watched == m_meter) && key && IsWindowShortcut(*static_cast<QKeyEvent*>(event))) {
        // Left unaccepted, the override lets the shortcut run; a key press arrives only when
        // its item is disabled, and then does nothing, as in the main window.
        if (event->type() == QEvent::KeyPress) {
            event->accept();
        }
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool TTempoMeterForm::IsWindowShortcut(const QKeyEvent& key) const {
    const QKeySequence pressed(key.keyCombination());
    for (const QAction* item : actions()) {
        for (const QKeySequence& shortcut : item->shortcuts()) {
            if (shortcut == pressed) {
                return true;
            }
        }
    }
    return false;
}

void TTempoMeterForm::ShowScore() {
    // A tempo typed or tapped for one document is nothing to the next.
    if (const std::string& shown = m_score.Pipeline().DocumentName(); shown != m_shownDocument) {
        m_shownDocument = shown;
        m_taps.Clear();
        m_tempo->setModified(false);
        ShowProgress({});
    }
    const Score* score = m_score.Current();
    const ScoreChoices& choices = m_score.Choices();
    if (score == nullptr) {
        m_foundCaption->setText(kFoundCaption);
        m_found->setText(m_score.LastError().empty() ? QStringLiteral("No document")
                                                     : QString::fromStdString(m_score.LastError()));
        m_found->setToolTip({});
        m_meterShown->clear();
        m_downbeat->clear();
    } else {
        ShowTempo(*score, choices);
        m_meterShown->setText(MeterText(score->TimeSignature) +
                              (choices.TimeSignature ? QStringLiteral(" (your choice)") : QString()));
        m_downbeat->setText(DownbeatText(score->DownbeatSeconds) +
                            (choices.DownbeatSeconds ? QStringLiteral(" (your choice)") : QString()));
        ShowMeter(score->TimeSignature);
        // What the user typed and has not applied yet stays; an undo or redo shows in the box.
        if (!m_tempo->isModified() && m_taps.Taps() == 0) {
            m_tempo->setText(Bpm(score->Tempo.front().Bpm));
        }
    }
    m_foundTempo->setEnabled(choices.Bpm.has_value());
    m_startDownbeat->setEnabled(choices.DownbeatSeconds.has_value());
    FitHeight();
}

void TTempoMeterForm::ShowTempo(const Score& score, const ScoreChoices& choices) {
    const QString scoreBpm = Bpm(score.Tempo.front().Bpm) + QStringLiteral(" bpm");
    if (!choices.Bpm) {
        m_foundCaption->setText(kFoundCaption);
        m_found->setText(score.Notes.empty()
                             ? QStringLiteral("None (no notes); the score of rests is at %1").arg(scoreBpm)
                             : TempoText(score));
        m_found->setToolTip(TempoChangesTip(score));
        return;
    }
    ScoreChoices foundChoices = choices;
    foundChoices.Bpm.reset();
    if (!SameChoices(foundChoices, m_foundScore.Choices())) {
        m_foundScore.SetChoices(foundChoices);
    }
    m_foundCaption->setText(kYourTempoCaption);
    // Finding a tempo takes seconds in a long recording: the worker does it, the form looks
    // again shortly.
    if (!m_foundScore.Ready()) {
        m_found->setText(scoreBpm + QStringLiteral(" (finding the tempo of the notes...)"));
        m_found->setToolTip({});
        if (!m_foundPoll) {
            m_foundPoll = true;
            QTimer::singleShot(kFoundPollMs, this, [this] {
                m_foundPoll = false;
                if (isVisible()) {
                    ShowScore();
                }
            });
        }
        return;
    }
    const Score* found = m_foundScore.Current();
    QString foundText;
    if (found == nullptr) {
        foundText = QStringLiteral("none found: ") + QString::fromStdString(m_foundScore.LastError());
    } else if (found->Notes.empty()) {
        foundText = QStringLiteral("none found: no notes");
    } else {
        foundText = QStringLiteral("found: ") + TempoText(*found);
    }
    m_found->setText(scoreBpm + QStringLiteral(" (") + foundText + QLatin1Char(')'));
    m_found->setToolTip(found != nullptr ? TempoChangesTip(*found) : QString());
}

void TTempoMeterForm::ShowMeter(const Meter& meter) {
    // The box's item must be the meter shown: when its focus goes, an editable combo box
    // activates the item its text names if that is not the current one, which would make the
    // document's meter a choice of the user's.
    const QString text = MeterText(meter);
    const int item = m_meter->findText(text);
    m_meter->setCurrentIndex(item);
    if (item < 0) {
        m_meter->setEditText(text);
    }
}

void TTempoMeterForm::FitHeight() {
    QLayout* form = layout();
    if (form == nullptr || !form->hasHeightForWidth()) {
        return;
    }
    form->activate();
    const int needed = form->totalHeightForWidth(width());
    if (needed > height()) {
        resize(width(), needed);
    }
}

void TTempoMeterForm::ShowRefusal(const QString& text) {
    m_message->setStyleSheet(kRefusalStyle);
    m_message->setText(text);
}

void TTempoMeterForm::ShowProgress(const QString& text) {
    m_message->setStyleSheet({});
    m_message->setText(text);
}

bool TTempoMeterForm::Choose(const ScoreChoices& after, const char* stepName) {
    ShowProgress({});
    const bool refused = m_score.Choose(after, stepName) == kRefusedBusy;
    if (refused) {
        ShowRefusal(QStringLiteral("The document is being converted; try again when it is done."));
    }
    ShowScore();
    return !refused;
}

void TTempoMeterForm::ApplyTempoClick() {
    bool ok = false;
    const QString text = m_tempo->text().trimmed();
    double bpm = QLocale::c().toDouble(text, &ok);
    if (!ok) {
        bpm = QLocale().toDouble(text, &ok);
    }
    if (!ok) {
        ShowRefusal(QStringLiteral("\"%1\" is not a tempo: type the beats per minute, 20 to 400.").arg(text));
        return;
    }
    if (const std::string problem = CheckBpm(bpm); !problem.empty()) {
        ShowRefusal(QString::fromStdString(problem));
        return;
    }
    m_taps.Clear();
    ScoreChoices after = m_score.Choices();
    after.Bpm = bpm;
    // Applied: the box shows the document's tempo again, as it is and after an undo.
    const bool wasModified = m_tempo->isModified();
    m_tempo->setModified(false);
    if (!Choose(after, "Score tempo")) {
        m_tempo->setModified(wasModified);
    }
}

void TTempoMeterForm::FoundTempoClick() {
    m_taps.Clear();
    ScoreChoices after = m_score.Choices();
    after.Bpm.reset();
    m_tempo->setModified(false);
    Choose(after, "Found tempo");
}

void TTempoMeterForm::TapClick() {
    const std::optional<double> bpm = m_taps.Tap(static_cast<double>(m_clock.elapsed()) / 1000.0);
    if (!bpm) {
        ShowProgress(QStringLiteral("Keep tapping with the beat..."));
        return;
    }
    m_tempo->setText(Bpm(*bpm));
    ShowProgress(QStringLiteral("%1 taps: %2 bpm. Apply the tempo to use it.").arg(m_taps.Taps()).arg(Bpm(*bpm)));
}

void TTempoMeterForm::MeterChosen() {
    const QString text = m_meter->currentText().trimmed();
    const std::optional<Meter> meter = ParseMeter(text.toStdString());
    if (!meter) {
        ShowRefusal(QStringLiteral("\"%1\" is not a time signature: write it as 3/4 or 6/8.").arg(text));
        return;
    }
    if (const std::string problem = CheckMeter(*meter); !problem.empty()) {
        ShowRefusal(QString::fromStdString(problem));
        return;
    }
    ScoreChoices after = m_score.Choices();
    after.TimeSignature = *meter;
    Choose(after, "Time signature");
}

void TTempoMeterForm::TimeScaleClicked(double seconds) {
    if (const std::string problem = CheckDownbeat(seconds, m_score.RecordingSeconds()); !problem.empty()) {
        ShowRefusal(QString::fromStdString(problem));
        return;
    }
    ScoreChoices after = m_score.Choices();
    after.DownbeatSeconds = seconds;
    Choose(after, "First downbeat");
}

void TTempoMeterForm::StartDownbeatClick() {
    ScoreChoices after = m_score.Choices();
    after.DownbeatSeconds.reset();
    Choose(after, "First downbeat");
}

}  // namespace ruvo
