// The Qt side of the platform services and the fakes the window tests rely on.

#include "engine/EngineHost.h"
#include "platform/qt/FluidSynth.h"
#include "platform/qt/PathConvert.h"
#include "platform/qt/QtEngineHost.h"
#include "platform/qt/QtSettingsStore.h"
#include "platform/qt/QtShell.h"
#include "platform/qt/TerminationSignals.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>

using namespace ruvo;

class PlatformTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void ErrorBoxIsModalWithOneAbortButton();
    void MessageBoxIsPlain();
    void ProcessEventsRunsPendingEvents();
    void FileNamesSurviveTheBoundary();
    void LaunchInstancePassesTheFileWhole();
    void SettingsPersistPerSection();
    void TerminationArrivesAsQtSignal();
    void ProgramsSoundAsBeforeWhenTheFontFileIsGone();
};

namespace {

struct BoxSeen {
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QStringList Buttons;
    QString Text;
    QString Title;
    bool Modal = false;
};

// Looks at the next message box, then presses its first button.
void InspectNextBox(BoxSeen& seen) {
    auto* timer = new QTimer(qApp);
    timer->start(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, &seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        seen.Icon = box->icon();
        seen.Text = box->text();
        seen.Title = box->windowTitle();
        seen.Modal = box->isModal();
        for (QAbstractButton* button : box->buttons()) {
            seen.Buttons << button->text();
        }
        box->buttons().first()->click();
    });
}

}  // namespace

void PlatformTest::initTestCase() { QStandardPaths::setTestModeEnabled(true); }

void PlatformTest::ErrorBoxIsModalWithOneAbortButton() {
    QtEngineHost host;
    const ScopedEngineHost scope(host);
    BoxSeen seen;
    InspectNextBox(seen);
    EngineHost().ErrorBox("File size smaller than 300bytes.\nOr can't read the file.");
    QCOMPARE(seen.Icon, QMessageBox::Critical);
    QCOMPARE(seen.Buttons, QStringList({"Abort"}));
    QCOMPARE(seen.Text, QString("File size smaller than 300bytes.\nOr can't read the file."));
    QVERIFY(seen.Modal);
}

void PlatformTest::MessageBoxIsPlain() {
    QtEngineHost host;
    BoxSeen seen;
    InspectNextBox(seen);
    host.MessageBox("Done.");
    QCOMPARE(seen.Icon, QMessageBox::NoIcon);
    QCOMPARE(seen.Buttons, QStringList({"OK"}));
    QCOMPARE(seen.Text, QString("Done."));
}

void PlatformTest::ProcessEventsRunsPendingEvents() {
    QtEngineHost host;
    bool ran = false;
    QTimer::singleShot(0, qApp, [&ran] { ran = true; });
    host.ProcessEvents();
    QVERIFY(ran);
}

void PlatformTest::FileNamesSurviveTheBoundary() {
    const QString name = QString::fromUtf8("/tmp/Lieder für dich/ä song (1).wav");
    const std::string engine = FileNameToEngine(name);
    QCOMPARE(engine, std::string("/tmp/Lieder f\xC3\xBCr dich/\xC3\xA4 song (1).wav"));
    QCOMPARE(FileNameFromEngine(engine), name);
    QCOMPARE(FromPath(ToPath(name)), name);
    QCOMPARE(ToPath(name).filename().string(), std::string("\xC3\xA4 song (1).wav"));
}

void PlatformTest::LaunchInstancePassesTheFileWhole() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString script = dir.filePath("fake-ruvo");
    {
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > \"$(dirname \"$0\")/args.tmp\"\n"
            "mv \"$(dirname \"$0\")/args.tmp\" \"$(dirname \"$0\")/args.txt\"\n");
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    QtShell shell(script);
    const QString wav = dir.filePath("my song.wav");
    shell.LaunchInstance(ToPath(wav));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("args.txt")), 10000);
    QFile args(dir.filePath("args.txt"));
    QVERIFY(args.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(args.readAll()), "1\n" + wav + "\n");
}

void PlatformTest::SettingsPersistPerSection() {
    {
        QtSettingsStore store(QStringLiteral("RuvoTest"), QStringLiteral("platform-test"));
        store.Remove("TEST", "File1");
        store.WriteString("TEST", "File1", "/music/a song.wav");
        store.WriteString("TEST", "File0", "/music/b.wav");
        store.WriteInt("Pos", "Left", -12);
        store.WriteString("Pos", "Top", "12x");
        store.Sync();
    }
    QtSettingsStore store(QStringLiteral("RuvoTest"), QStringLiteral("platform-test"));
    QCOMPARE(store.ReadString("TEST", "File1").value_or(""), std::string("/music/a song.wav"));
    QCOMPARE(store.Keys("TEST"), (std::vector<std::string>{"File0", "File1"}));
    QCOMPARE(store.ReadInt("Pos", "Left").value_or(0), -12);
    QVERIFY(!store.ReadInt("Pos", "Top").has_value());
    QVERIFY(!store.ReadString("TEST", "Missing").has_value());
    store.Remove("TEST", "File1");
    QVERIFY(!store.ReadString("TEST", "File1").has_value());
    store.Remove("TEST", "File0");
    store.Remove("Pos", "Left");
    store.Remove("Pos", "Top");
    store.Sync();
}

void PlatformTest::TerminationArrivesAsQtSignal() {
    struct sigaction before = {};
    sigaction(SIGTERM, nullptr, &before);
    {
        TerminationSignals termination;
        QSignalSpy requested(&termination, &TerminationSignals::OnTerminationRequested);
        std::raise(SIGTERM);
        std::raise(SIGINT);
        QTRY_COMPARE(requested.count(), 2);
        QCOMPARE(requested.at(0).at(0).toInt(), SIGTERM);
        QCOMPARE(requested.at(1).at(0).toInt(), SIGINT);
    }
    // Afterwards the previous handling is back.
    struct sigaction current = {};
    sigaction(SIGTERM, nullptr, &current);
    QVERIFY(current.sa_handler == before.sa_handler);
}

// Samples load when a program is selected, on the thread that selects it: the first note right
// after the change sounds exactly as from the font read beforehand, even once the file is gone.
void PlatformTest::ProgramsSoundAsBeforeWhenTheFontFileIsGone() {
    const std::string font = FluidSynth::FindSoundFont();
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("font.sf2"));
    QVERIFY(QFile::copy(QString::fromStdString(font), copy));
    FluidSynth fromCopy, reference;
    qputenv("RUVO_SOUNDFONT", copy.toUtf8());
    fromCopy.LoadInBackground(this, {});
    QTRY_VERIFY_WITH_TIMEOUT(fromCopy.Loaded(), 60000);
    QVERIFY(QFile::remove(copy));
    qputenv("RUVO_SOUNDFONT", QByteArray::fromStdString(font));
    QVERIFY(reference.Load());
    const auto play = [](FluidSynth& synth, int channel, int program, std::vector<std::int16_t> out) {
        if (program >= 0) {
            synth.ProgramChange(channel, program);
        }
        synth.NoteOn(channel, 60, 100);
        synth.Render(out.data(), static_cast<int>(out.size() / 2));
        return out;
    };
    // The default piano and drum kit (no program change: -1), the flute, the piano again.
    for (const auto& [channel, program] : std::vector<std::pair<int, int>>{{2, -1}, {9, -1}, {0, 73}, {0, 0}}) {
        const std::vector<std::int16_t> heard = play(fromCopy, channel, program, std::vector<std::int16_t>(8192));
        QVERIFY(heard == play(reference, channel, program, std::vector<std::int16_t>(8192)) &&
                *std::max_element(heard.begin(), heard.end()) > 1000);
    }
}

QTEST_MAIN(PlatformTest)
#include "PlatformTest.moc"
