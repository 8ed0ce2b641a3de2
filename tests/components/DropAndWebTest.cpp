// The file drop target (one event per drop, names whole and in order, refused when drops are
// off) and the browser command parsing.
#include "components/DROPDST.h"
#include "components/GoToWeb.h"

#include "platform/fake/FakeShell.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

using namespace ruvo;

namespace {

// Sends a drag over `target` and, when it was accepted, the drop; true when it was accepted.
bool DragAndDrop(QWidget& target, const QStringList& files) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& file : files) {
        urls << QUrl::fromLocalFile(file);
    }
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(30, 40), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(QPointF(30, 40), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
    return drop.isAccepted();
}

TEST(TDropDstTest, ThreeFilesArriveInOneEventInOrder) {
    QWidget form;
    auto* inner = new QWidget(&form);  // owned by parent
    TDropDst drop(&form);
    drop.SetControl(inner);
    drop.SetTarget(THookTarget::htForm);
    EXPECT_EQ(drop.Hooked(), &form) << "htForm hooks the window that holds the control";
    EXPECT_TRUE(form.acceptDrops());
    QSignalSpy dropped(&drop, &TDropDst::OnFileDrop);

    const QString longName = "/tmp/" + QString(300, QLatin1Char('n')) + ".wav";
    ASSERT_TRUE(DragAndDrop(form, {"/tmp/one.wav", "/tmp/two words.wav", longName}));
    ASSERT_EQ(dropped.size(), 1);
    EXPECT_EQ(dropped.at(0).at(0).toStringList(), (QStringList{"/tmp/one.wav", "/tmp/two words.wav", longName}));
    EXPECT_EQ(dropped.at(0).at(1).toPoint(), QPoint(30, 40));

    drop.SetAcceptDrop(false);
    EXPECT_FALSE(DragAndDrop(form, {"/tmp/one.wav"}));
    EXPECT_EQ(dropped.size(), 1) << "no event while drops are refused";
}

TEST(TDropDstTest, OnlyLocalFilesCount) {
    QMimeData data;
    data.setUrls({QUrl("https://example.org/a.wav"), QUrl::fromLocalFile("/tmp/b.wav")});
    EXPECT_EQ(DroppedFileNames(data), QStringList{"/tmp/b.wav"});
    QMimeData text;
    text.setText("just text");
    EXPECT_TRUE(DroppedFileNames(text).isEmpty());
}

struct CommandCase {
    const char* Command;
    const char* Path;
    const char* Parameters;
};

TEST(ParseBrowserCommandTest, SplitsProgramAndParameters) {
    const CommandCase cases[] = {
        {R"("C:\Program Files\Web\browser.exe" "%1")", R"(C:\Program Files\Web\browser.exe)", ""},
        {R"(C:\PROGRA~1\WEB\BROWSER.EXE -nohome %1)", R"(C:\PROGRA~1\WEB\BROWSER.EXE)", "-nohome"},
        {R"(C:\tools\open.bat)", R"(C:\tools\open.bat)", ""},
        // The right-most extension ends the program.
        {R"(C:\a.exe.d\b.com -x "%1" -y)", R"(C:\a.exe.d\b.com)", "-x  -y"},
        // Outside Windows: the first word, or the first quoted text, is the program.
        {"/usr/bin/firefox-esr %u", "/usr/bin/firefox-esr", ""},
        {R"("/opt/my browser/run" --new-window %U)", "/opt/my browser/run", "--new-window"},
        {"", "", ""},
    };
    for (const CommandCase& c : cases) {
        const BrowserCommand parsed = ParseBrowserCommand(c.Command);
        EXPECT_EQ(parsed.Path, c.Path) << c.Command;
        EXPECT_EQ(parsed.Parameters, c.Parameters) << c.Command;
    }
}

TEST(TGoToWebTest, LaunchPassesParametersThenTheUrl) {
    FakeShell shell;
    TGoToWeb www(shell);
    www.Url = QStringLiteral("file:///opt/ruvo/help/index.htm");
    EXPECT_FALSE(www.BrowserExists());
    EXPECT_FALSE(www.Launch()) << "no browser registered";
    shell.HtmlCommand = "/bin/sh -nohome %1";
    EXPECT_TRUE(www.BrowserExists());
    ASSERT_TRUE(www.Launch());
    ASSERT_EQ(shell.Started.size(), 1u);
    EXPECT_EQ(shell.Started[0].Program, "/bin/sh");
    EXPECT_EQ(shell.Started[0].Arguments, (std::vector<std::string>{"-nohome", "file:///opt/ruvo/help/index.htm"}));
    shell.HtmlCommand = "/no/such/browser %1";
    EXPECT_FALSE(www.BrowserExists());
}

}  // namespace
