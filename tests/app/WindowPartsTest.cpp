// The main window's frame around the document: the resize rule and the design layout, the
// zoom buttons, the status bar's hint, the recent-files menu, dropped files, the help command
// and the window positions; screenshots of the whole window at two sizes.

#include "app/DocumentPipeline.h"
#include "app/FormLayout.h"
#include "app/Main.h"
#include "audio/play.h"
#include "components/HistMenu.h"
#include "components/KSavePos.h"
#include "panes/NoteGridPane.h"
#include "panes/Scales.h"
#include "panes/StrCGrid.h"
#include "platform/fake/FakeSettingsStore.h"
#include "platform/fake/FakeShell.h"
#include "tests/app/AppTestSupport.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <QAction>
#include <QFile>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <functional>
#include <memory>

using namespace ruvo;
using namespace ruvo::apptest;

namespace {

// Answers the next message boxes in turn with the given buttons and records their texts.
class BoxAnswers : public QObject {
public:
    explicit BoxAnswers(std::vector<QMessageBox::StandardButton> answers) : m_answers(std::move(answers)) {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            // A box made in a loop may reuse the last one's address: a mark tells them apart.
            if (box == nullptr || box->property("answered").toBool() || m_answers.empty()) {
                return;
            }
            box->setProperty("answered", true);
            Texts << box->text();
            Icons << box->icon();
            Buttons << box->standardButtons();
            const QMessageBox::StandardButton answer = m_answers.front();
            m_answers.erase(m_answers.begin());
            QTimer::singleShot(0, box, [box, answer] { box->button(answer)->click(); });
        });
        m_timer.start(5);
    }
    QStringList Texts;
    QList<QMessageBox::Icon> Icons;
    QList<QMessageBox::StandardButtons> Buttons;

private:
    QTimer m_timer;
    std::vector<QMessageBox::StandardButton> m_answers;
};

// The window's client area sized for the outer size (w, h).
void ResizeOuter(TRuvoAppForm& form, int w, int h) {
    const QSize client(w - kOuterFrame.width(), h - kOuterFrame.height());
    form.resize(form.size() + (client - form.centralWidget()->size()));
    QApplication::processEvents();
    QCOMPARE(form.centralWidget()->size(), client);
}

QRect Pane(const TRuvoAppForm& form, const char* name) {
    const auto* pane = form.centralWidget()->findChild<QWidget*>(QString::fromLatin1(name));
    return pane == nullptr ? QRect() : pane->geometry();
}

}  // namespace

class WindowPartsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void ResizeRuleAtTheTextsSizes();
    void WindowFollowsItsSize();
    void ZoomButtons();
    void LeavingAButtonShowsTheWindowsHint();
    void ConvertedFilesFillTheRecentFilesMenu();
    void DroppedFiles();
    void HelpCommandMessagesAndLaunch();
    void WindowsReopenWhereTheyWereClosed();
    void Screenshots();

private:
    QString InputQ(const char* name) const { return m_inputs.filePath(QString::fromLatin1(name)); }
    void MakeForm() {
        m_form = std::make_unique<TRuvoAppForm>(m_shell, m_settings);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    QTemporaryDir m_inputs;
    std::unique_ptr<testsupport::TempDir> m_tmp;
    std::unique_ptr<testsupport::ScopedRecordingHost> m_host;
    FakeShell m_shell;
    FakeSettingsStore m_settings;
    std::unique_ptr<TRuvoAppForm> m_form;
};

void WindowPartsTest::initTestCase() {
    QVERIFY(m_inputs.isValid());
    WriteMelodyWav(InputQ("ten.wav").toStdString(), {33, 36, 40, 43}, 2.5, 22050, 2, 16);
    WriteMelodyWav(InputQ("short.wav").toStdString(), {38, 45}, 0.7, 22050, 1, 16);
    // A tune for the pictures of the help pages.
    WriteMelodyWav(InputQ("tune.wav").toStdString(), {36, 38, 40, 41, 43, 43, 45, 43, 41, 40, 38, 36}, 0.4, 22050, 1,
                   16);
}

void WindowPartsTest::init() {
    m_tmp = std::make_unique<testsupport::TempDir>();
    m_host = std::make_unique<testsupport::ScopedRecordingHost>();
    m_shell = FakeShell();
    m_settings = FakeSettingsStore();
    MakeForm();
}

void WindowPartsTest::cleanup() {
    m_form.reset();
    QVERIFY(FilesIn(m_tmp->Path().string()).empty());
    m_host.reset();
    m_tmp.reset();
}

void WindowPartsTest::ResizeRuleAtTheTextsSizes() {
    const PaneRects design = DesignLayout();
    PaneRects rects = design;
    QVERIFY(!FormResizeLayout(644, 552, rects));
    QVERIFY(!FormResizeLayout(600, 400, rects));
    QCOMPARE(rects, design);
    QVERIFY(FormResizeLayout(655, 552, rects));
    QCOMPARE(rects, design);  // the rule gives the design at the design size

    QVERIFY(FormResizeLayout(700, 600, rects));
    QCOMPARE(rects.at("VShort"), QRect(656, 387, 22, 22));
    QCOMPARE(rects.at("VLong"), QRect(656, 408, 22, 25));
    QCOMPARE(rects.at("HShort").topLeft(), QPoint(608, 433));
    QCOMPARE(rects.at("HLong").topLeft(), QPoint(629, 433));
    QCOMPARE(rects.at("MidiDisp2"), QRect(135, 168, 520, 265));
    QCOMPARE(rects.at("KeyBoard"), QRect(80, 168, 57, 249));
    QCOMPARE(rects.at("WavDisp").width(), 502);
    QCOMPARE(rects.at("HTime").width(), 502);
    QCOMPARE(rects.at("SelectRgn").width(), 582);
    QCOMPARE(rects.at("Gradation"), QRect(136, 432, 470, 12));
    QCOMPARE(rects.at("DoubleNote"), QRect(135, 456, 500, 15));
    QCOMPARE(rects.at("ThreadValue"), QRect(135, 470, 500, 38));
    QCOMPARE(rects.at("WavInfo"), QRect(0, 511, 692, 21));
    QCOMPARE(rects.at("StatusBar"), QRect(0, 537, 692, 17));
    QCOMPARE(rects.at("VLevelRight").left(), 637);
    QCOMPARE(rects.at("HarmonicToneLabel").top(), 456);
    QCOMPARE(rects.at("ThresholdLabel").top(), 480);
    QCOMPARE(rects.at("OnpuDisp"), design.at("OnpuDisp"));  // not in the rule
    // A narrow but tall window is resized too: only both at most the design stop the rule.
    PaneRects tall = design;
    QVERIFY(FormResizeLayout(600, 700, tall));
}

void WindowPartsTest::WindowFollowsItsSize() {
    // The window opens with the design's client area, everything in its design place.
    QCOMPARE(OuterSizeOfClient(m_form->centralWidget()->size()), kDesignOuterSize);
    for (const auto& [name, rect] : DesignLayout()) {
        if (!name.endsWith("Label") && m_form->centralWidget()->findChild<QWidget*>(name) != nullptr) {
            QCOMPARE(Pane(*m_form, name.toLatin1().constData()), rect);
        }
    }
    ResizeOuter(*m_form, 700, 600);
    QCOMPARE(Pane(*m_form, "VShort").topLeft(), QPoint(656, 387));
    QCOMPARE(Pane(*m_form, "MidiDisp2").size(), QSize(520, 265));
    QCOMPARE(Pane(*m_form, "StatusBar"), QRect(0, 537, 692, 17));
    QVERIFY(m_form->WavInfoPanel(5)->geometry().right() < 692);
    // Smaller than the design: the panes stay where the last resize put them.
    ResizeOuter(*m_form, 640, 540);
    QCOMPARE(Pane(*m_form, "VShort").topLeft(), QPoint(656, 387));
    ResizeOuter(*m_form, 655, 552);
    QCOMPARE(Pane(*m_form, "VShort").topLeft(), QPoint(611, 339));
    QCOMPARE(Pane(*m_form, "MidiDisp2"), QRect(135, 168, 475, 217));
    // At the design size the six texts share the bar, so "Stereo" is not cut off.
    QLabel* last = m_form->WavInfoPanel(5);
    QVERIFY(last->geometry().right() < 647);
    QVERIFY(last->width() >= 70);
}

void WindowPartsTest::ZoomButtons() {
    m_form->OpenFile(InputQ("ten.wav"));
    WavHead& doc = m_form->Pipeline().Doc;
    QCOMPARE(doc.FrameCount, 215);
    QCOMPARE(doc.ViewWidth, 100);
    TStrColGrid* grid = m_form->MidiDisp2();
    QTest::mouseClick(m_form->HLong(), Qt::LeftButton);
    QCOMPARE(doc.ViewWidth, 71);
    QCOMPARE(grid->DefaultColWidth(), 6);  // Round((475 - 10) / 71) - 1
    QCOMPARE(m_form->HTime()->ViewWidth(), 71);
    QCOMPARE(m_form->WavInfoPanel(1)->text(), QString("Width: 3.297 sec"));
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(m_form->HShort(), Qt::LeftButton);
    }
    QCOMPARE(doc.ViewWidth, 195);  // 71 -> 99 -> 139 -> 195
    QTest::mouseClick(m_form->HShort(), Qt::LeftButton);
    QCOMPARE(doc.ViewWidth, 215);  // never past the recording
    QCOMPARE(grid->DefaultColWidth(), 1);

    QCOMPARE(grid->DefaultRowHeight(), 12);
    QTest::mouseClick(m_form->VShort(), Qt::LeftButton);
    QCOMPARE(grid->DefaultRowHeight(), 9);
    for (int i = 0; i < 10; ++i) {
        QTest::mouseClick(m_form->VLong(), Qt::LeftButton);
    }
    // 9 -> 14 -> 22 -> 34 -> 52 -> 78 -> 118 -> 178 -> 268 (halves to even), then the grid
    // (217 high) is lower than the rows.
    QCOMPARE(grid->DefaultRowHeight(), 268);
    if (auto* keyBoard = m_form->centralWidget()->findChild<TStrColGrid*>("KeyBoard")) {
        QCOMPARE(keyBoard->DefaultRowHeight(), 268);
        QCOMPARE(keyBoard->TopRow(), grid->TopRow());
    }
}

void WindowPartsTest::LeavingAButtonShowsTheWindowsHint() {
    QStatusTipEvent buttonTip(m_form->OpenBtn()->statusTip());
    QApplication::sendEvent(m_form->OpenBtn(), &buttonTip);
    QCOMPARE(m_form->StatusBarLabel()->text(), QString("Open Wav File."));
    QTest::mouseMove(m_form->centralWidget(), QPoint(10, 380));  // no pane there
    QStatusTipEvent left{QString()};
    QApplication::sendEvent(m_form->OpenBtn(), &left);
    QCOMPARE(m_form->StatusBarLabel()->text(), QString("Main Window"));
}

void WindowPartsTest::ConvertedFilesFillTheRecentFilesMenu() {
    const auto entries = [this] {
        QStringList texts;
        for (QAction* item : m_form->HistoryMenu1()->Items()) {
            texts << item->text();
        }
        return texts;
    };
    QVERIFY(entries().isEmpty());
    m_form->OpenFile(InputQ("ten.wav"));
    m_form->OpenFile(InputQ("short.wav"));
    QCOMPARE(entries(), QStringList({"&0 " + InputQ("short.wav"), "&1 " + InputQ("ten.wav")}));
    // A rejected file does not become an entry.
    WriteGarbage(InputQ("bad.wav").toStdString());
    m_form->OpenFile(InputQ("bad.wav"));
    QCOMPARE(entries().size(), 2);

    // After a restart the list is there, after "E&xit"; choosing an entry opens it.
    QVERIFY(m_form->close());
    m_form.reset();
    QCOMPARE(*m_settings.ReadString("TEST/History", "Count"), std::string("2"));
    MakeForm();
    QCOMPARE(entries(), QStringList({"&0 " + InputQ("short.wav"), "&1 " + InputQ("ten.wav")}));
    const QList<QAction*> file = m_form->menuBar()->actions().at(0)->menu()->actions();
    QCOMPARE(file.at(file.indexOf(m_form->FileExitItem()) + 1)->text(), "&0 " + InputQ("short.wav"));
    m_form->HistoryMenu1()->Items().at(1)->trigger();
    QCOMPARE(QString::fromStdString(m_form->Pipeline().Doc.FileName), InputQ("ten.wav"));
    QCOMPARE(entries().at(0), "&0 " + InputQ("ten.wav"));

    // An entry whose file has gone is taken off the list with one message; "Clear recent
    // files" ends the list and empties it.
    QFile::copy(InputQ("short.wav"), InputQ("gone.wav"));
    m_form->OpenFile(InputQ("gone.wav"));
    QFile::remove(InputQ("gone.wav"));
    m_host->Clear();
    m_form->HistoryMenu1()->Items().at(0)->trigger();
    QCOMPARE(m_host->Errors.size(), std::size_t{1});
    QVERIFY(QString::fromStdString(m_host->Errors[0]).startsWith(InputQ("gone.wav") + ":\n"));
    QCOMPARE(entries(), QStringList({"&0 " + InputQ("ten.wav"), "&1 " + InputQ("short.wav")}));
    QCOMPARE(*m_settings.ReadString("TEST/History", "Count"), std::string("2"));
    QAction* clear = m_form->HistoryMenu1()->ClearItem();
    QVERIFY(clear != nullptr);
    QCOMPARE(clear->text(), QString("Clear recent files"));
    QCOMPARE(m_form->menuBar()->actions().at(0)->menu()->actions().constLast(), clear);
    clear->trigger();
    QVERIFY(entries().isEmpty());
    QCOMPARE(*m_settings.ReadString("TEST/History", "Count"), std::string("0"));
}

void WindowPartsTest::DroppedFiles() {
    const auto drop = [this](const QStringList& files) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& file : files) {
            urls << QUrl::fromLocalFile(file);
        }
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(300, 250), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_form.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent dropped(QPointF(300, 250), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_form.get(), &dropped);
    };
    // On the empty window the first file opens here and the others in new instances.
    drop({InputQ("short.wav"), InputQ("ten.wav"), InputQ("bad name.wav")});
    QCOMPARE(QString::fromStdString(m_form->Pipeline().Doc.FileName), InputQ("short.wav"));
    QCOMPARE(m_shell.Launched.size(), std::size_t{2});
    QCOMPARE(QString::fromStdString(m_shell.Launched[1].string()), InputQ("bad name.wav"));
    // With a document shown, every dropped file goes to a new instance.
    drop({InputQ("ten.wav")});
    QCOMPARE(m_shell.Launched.size(), std::size_t{3});
    QCOMPARE(QString::fromStdString(m_form->Pipeline().Doc.FileName), InputQ("short.wav"));
}

void WindowPartsTest::HelpCommandMessagesAndLaunch() {
    QVERIFY(TRuvoAppForm::HelpPage().endsWith("/index.htm"));
    // No browser at all: the first box (Retry looks again), then the second.
    {
        BoxAnswers answers({QMessageBox::Retry, QMessageBox::Cancel, QMessageBox::Ok});
        m_form->HelpBrouser1()->trigger();
        QCOMPARE(answers.Texts, QStringList({QString("There isn't Browser") + QChar(0xE9) + "...",
                                             QString("There isn't Browser") + QChar(0xE9) + "...",
                                             QString("Impossible to connect...")}));
        QCOMPARE(answers.Icons.at(0), QMessageBox::Critical);
        QCOMPARE(answers.Buttons.at(0), QMessageBox::Retry | QMessageBox::Cancel);
    }
    QVERIFY(m_shell.Started.empty());

    // A registered browser is started with its parameters and the page's URL, no message.
    m_shell.HtmlCommand = "/bin/sh --new-window %u";
    m_form->HelpBrouser1()->trigger();
    QCOMPARE(m_shell.Started.size(), std::size_t{1});
    QCOMPARE(m_shell.Started[0].Program.string(), std::string("/bin/sh"));
    QCOMPARE(m_shell.Started[0].Arguments.size(), std::size_t{2});
    QCOMPARE(QString::fromStdString(m_shell.Started[0].Arguments[1]),
             QUrl::fromLocalFile(TRuvoAppForm::HelpPage()).toString());
}

void WindowPartsTest::WindowsReopenWhereTheyWereClosed() {
    m_form->move(40, 20);
    ResizeOuter(*m_form, 700, 560);  // whole on the offscreen screen (800 x 600)
    m_form->Player()->move(400, 300);  // on the offscreen screen (800 x 600)
    QApplication::processEvents();
    const QRect mainRect(m_form->pos(), m_form->size());
    const QPoint playerCorner = m_form->Player()->pos();
    QVERIFY(m_form->close());
    m_form.reset();
    // Keyed by the program file's name, here the test's.
    const std::string section = "Software/WindowPartsTest/User/Bounds";
    QVERIFY(m_settings.ReadString(section, "RuvoAppForm.Bounds").has_value());
    QVERIFY(m_settings.ReadString(section, "Player.Bounds").has_value());

    MakeForm();
    QCOMPARE(QRect(m_form->pos(), m_form->size()), mainRect);
    QCOMPARE(m_form->Player()->pos(), playerCorner);
    QCOMPARE(Pane(*m_form, "VShort").topLeft(), QPoint(700 - 44, 560 - 213));  // laid out for its size

    // Closed maximised, it reopens maximised and goes back to the same rectangle.
    m_form->showMaximized();
    QTRY_VERIFY_WITH_TIMEOUT(m_form->isMaximized(), 2000);
    QVERIFY(m_form->close());
    m_form.reset();
    QVERIFY(m_settings.ReadString(section, "RuvoAppForm.Bounds")->starts_with("2,"));
    MakeForm();
    QVERIFY(m_form->isMaximized());
    m_form->showNormal();
    QTRY_COMPARE_WITH_TIMEOUT(QRect(m_form->pos(), m_form->size()), mainRect, 2000);
}

void WindowPartsTest::Screenshots() {
    m_form->OpenFile(InputQ("tune.wav"));
    const QByteArray folder = qgetenv("RUVO_TEST_OUTPUT_DIR");
    const QString base = (folder.isEmpty() ? QString(".") : QString::fromLocal8Bit(folder)) + "/window-";
    // Every status text fits its panel, also at the design size.
    const auto textsFit = [this](int barWidth) {
        for (std::size_t i = 0; i < 6; ++i) {
            QLabel* panel = m_form->WavInfoPanel(i);
            QVERIFY2(panel->fontMetrics().horizontalAdvance(panel->text()) <= panel->contentsRect().width(),
                     qPrintable(panel->text()));
            QVERIFY(panel->geometry().right() < barWidth);
        }
    };
    ResizeOuter(*m_form, 655, 552);
    QVERIFY(m_form->grab().save(base + "655x552.png"));
    QVERIFY(m_form->Player()->grab().save(base + "player.png"));
    textsFit(647);
    ResizeOuter(*m_form, 1000, 700);
    // The note grid's columns follow the resize at once, to the waveform's time span.
    QCOMPARE(m_form->MidiDisp2()->DefaultColWidth(),
             NoteGridColumnWidth(m_form->MidiDisp2()->width(), m_form->Pipeline().Doc.ViewWidth));
    // A part selected, to show the cross-hatched rest.
    m_form->Pipeline().Doc.SelStart = 17;
    m_form->Pipeline().Doc.SelEnd = 70;
    m_form->Pipeline().RefreshDocumentView();
    QVERIFY(m_form->grab().save(base + "1000x700.png"));
    textsFit(992);
    QVERIFY(m_form->WavInfoPanel(0)->width() >= 118);  // the text's widths when there is room
}

QTEST_MAIN(WindowPartsTest)
#include "WindowPartsTest.moc"
