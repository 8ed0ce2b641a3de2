// The recent-files menu against the settings store: captions and their prefix widths, the
// promotion of a chosen entry, the capacity, what is saved, and the list in a real settings
// file after a restart.
#include "components/HistMenu.h"

#include "platform/fake/FakeSettingsStore.h"
#include "platform/qt/QtSettingsStore.h"
#include "tests/testsupport/TempDir.h"

#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>

using namespace ruvo;

namespace {

const std::string kSection = "TEST/History";

class HistMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        file.addAction(QStringLiteral("&Open..."));
        file.addSeparator();
        file.addAction(QStringLiteral("E&xit"));
    }
    void Store(const std::vector<std::string>& names) {
        settings.WriteString(kSection, "Count", std::to_string(names.size()));
        for (std::size_t i = 0; i < names.size(); ++i) {
            settings.WriteString(kSection, QStringLiteral("H%1").arg(i).toStdString(), names[i]);
        }
    }
    // Made as the main window makes it: key "TEST", attached to the File menu, then active.
    std::unique_ptr<THistoryMenu> Make(std::int32_t shown) {
        auto menu = std::make_unique<THistoryMenu>(settings);
        menu->SetKeyName(QStringLiteral("TEST"));
        menu->SetHistoryNum(shown);
        menu->SetTargetMenuItem(file.menuAction());
        menu->SetActive(true);
        return menu;
    }
    QStringList Captions(const THistoryMenu& menu) const {
        QStringList captions;
        for (QAction* item : menu.Items()) {
            captions << item->text();
        }
        return captions;
    }

    FakeSettingsStore settings;
    QMenu file{QStringLiteral("&File")};
};

TEST_F(HistMenuTest, CaptionsAreNumberedFromZeroAndRightAligned) {
    Store({"a.wav", "b.wav", "d.wav"});
    auto menu = Make(5);
    EXPECT_EQ(menu->PlacementMode(), THistoryMenu::Placement::AfterSubItems);
    EXPECT_EQ(menu->PrefixWidth(), 3);
    EXPECT_EQ(Captions(*menu), (QStringList{"&0 a.wav", "&1 b.wav", "&2 d.wav"}));
    // The entries follow "E&xit".
    EXPECT_EQ(file.actions().size(), 6);
    EXPECT_EQ(file.actions().at(3)->text(), "&0 a.wav");

    std::vector<std::string> twelve;
    for (int i = 0; i < 12; ++i) {
        twelve.push_back(QStringLiteral("f%1.wav").arg(i).toStdString());
    }
    menu.reset();  // saves its three names
    Store(twelve);
    auto wide = Make(12);
    EXPECT_EQ(wide->PrefixWidth(), 4);
    const QStringList captions = Captions(*wide);
    ASSERT_EQ(captions.size(), 12);
    EXPECT_EQ(captions.front(), " &0 f0.wav");
    EXPECT_EQ(captions.back(), "&11 f11.wav");
}

TEST_F(HistMenuTest, ChoosingAnEntryFiresItAndMovesItToTheTop) {
    Store({"a.wav", "b.wav", "d.wav"});
    auto menu = Make(5);
    QSignalSpy chosen(menu.get(), &THistoryMenu::OnHistorySelected);
    menu->Items().at(2)->trigger();
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toString(), "d.wav");
    EXPECT_EQ(Captions(*menu), (QStringList{"&0 d.wav", "&1 a.wav", "&2 b.wav"}));
    // The menu is not doubled by the rebuild: Open, separator, Exit and three entries.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(file.actions().size(), 6);
    menu->SaveHistory();
    EXPECT_EQ(*settings.ReadString(kSection, "H0"), "d.wav");
    EXPECT_EQ(*settings.ReadString(kSection, "H2"), "b.wav");
}

TEST_F(HistMenuTest, CapacityAndWhatIsSaved) {
    auto menu = Make(0);
    for (int i = 0; i < 33; ++i) {
        menu->AddHistory(QStringLiteral("n%1.wav").arg(i));
    }
    menu->AddHistory(QString());  // ignored
    EXPECT_TRUE(menu->Items().empty()) << "HistoryNum 0 shows nothing";
    menu->SetActive(false);
    EXPECT_EQ(*settings.ReadString(kSection, "Count"), "32");
    EXPECT_EQ(*settings.ReadString(kSection, "H0"), "n32.wav");
    EXPECT_EQ(*settings.ReadString(kSection, "H31"), "n1.wav") << "n0.wav, the oldest, went";
    // An existing name moves to the top instead of being added twice.
    menu->SetActive(true);
    menu->AddHistory(QStringLiteral("n5.wav"));
    EXPECT_EQ(menu->List().Count(), 32);
    EXPECT_EQ(menu->List().At(0), "n5.wav");
}

TEST_F(HistMenuTest, MissingOrOddValuesReadSafely) {
    settings.WriteString(kSection, "Count", "0x3");
    settings.WriteString(kSection, "H0", "a.wav");
    settings.WriteString(kSection, "H2", "c.wav");
    auto menu = Make(5);
    EXPECT_EQ(Captions(*menu), (QStringList{"&0 a.wav", "&1 c.wav"})) << "the missing H1 is skipped";
    EXPECT_EQ(ParseHistoryCount("twelve"), 0);
    EXPECT_EQ(ParseHistoryCount(" 7 "), 7);

    // Without a target the component stays inactive; a separator as target puts the entries
    // right after it, behind a separator of their own.
    THistoryMenu lone(settings);
    lone.SetActive(true);
    EXPECT_FALSE(lone.Active());
    menu.reset();
    THistoryMenu afterLine(settings);
    afterLine.SetKeyName(QStringLiteral("TEST"));
    afterLine.SetTargetMenuItem(file.actions().at(1));
    afterLine.SetActive(true);
    EXPECT_EQ(afterLine.PlacementMode(), THistoryMenu::Placement::AfterSeparator);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(file.actions().size(), 6);
    EXPECT_TRUE(file.actions().at(2)->isSeparator());
    EXPECT_EQ(file.actions().at(3)->text(), "&0 a.wav");
    EXPECT_EQ(file.actions().at(5)->text(), "E&xit");
}

// The menu over a real settings file in a private configuration folder.
class HistMenuFileTest : public ::testing::Test {
protected:
    HistMenuFileTest() { m_file.addAction(QStringLiteral("E&xit")); }

    std::unique_ptr<THistoryMenu> Menu(QtSettingsStore& settings, std::int32_t historyNum = 0) {
        auto menu = std::make_unique<THistoryMenu>(settings);
        menu->SetKeyName(QStringLiteral("TEST"));
        if (historyNum > 0) menu->SetHistoryNum(historyNum);
        menu->SetTargetMenuItem(m_file.menuAction());
        menu->SetActive(true);
        return menu;
    }

    testsupport::TempDir m_dir;
    const testsupport::ScopedEnv m_config{"XDG_CONFIG_HOME", m_dir.Path().c_str()};
    QMenu m_file{QStringLiteral("&File")};
};

TEST_F(HistMenuFileTest, ListSurvivesARestartInTheSettingsFile) {
    {
        QtSettingsStore settings(QStringLiteral("RuvoTest"), QStringLiteral("ruvo"));
        const auto menu = Menu(settings);
        menu->AddHistory(QStringLiteral("/music/first take.wav"));
        menu->AddHistory(QStringLiteral("/music/b&w.wav"));
    }
    QtSettingsStore settings(QStringLiteral("RuvoTest"), QStringLiteral("ruvo"));
    EXPECT_EQ(*settings.ReadString(kSection, "Count"), "2");
    const auto menu = Menu(settings, 5);
    ASSERT_EQ(menu->Items().size(), 2u);
    EXPECT_EQ(menu->Items().at(0)->text(), "&0 /music/b&&w.wav") << "a & in a name is not a shortcut mark";
    QSignalSpy chosen(menu.get(), &THistoryMenu::OnHistorySelected);
    menu->Items().at(0)->trigger();
    EXPECT_EQ(chosen.at(0).at(0).toString(), "/music/b&w.wav");
}

// A hand-edited file: a count of 2^31 - 1 reads no more than the list holds (at once, not in
// minutes), and entries past the count go when the list is saved.
TEST_F(HistMenuFileTest, HugeCountAndStaleEntries) {
    QtSettingsStore settings(QStringLiteral("RuvoTest"), QStringLiteral("ruvo"));
    settings.WriteString(kSection, "Count", "2147483647");
    for (const char* key : {"H0", "H1", "H40"}) settings.WriteString(kSection, key, std::string(key) + ".wav");
    QElapsedTimer clock;
    clock.start();
    const auto menu = Menu(settings);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(menu->List().Count(), 2);
    menu->SaveHistory();
    EXPECT_EQ(settings.Keys(kSection), (std::vector<std::string>{"Count", "H0", "H1"}));
}

}  // namespace
