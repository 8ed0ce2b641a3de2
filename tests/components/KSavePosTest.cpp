// The window position store: the placement text and its round trip through a window, normal
// and maximised; texts that must be ignored; a rectangle that lies off every screen.
#include "components/KSavePos.h"

#include "platform/fake/FakeSettingsStore.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using namespace ruvo;

namespace {

const std::string kSection = "Software/x/User/Bounds";

class KSavePosTest : public ::testing::Test {
protected:
    void SetUp() override { form.setObjectName(QStringLiteral("RuvoAppForm")); }
    FakeSettingsStore settings;
    QWidget form;
};

TEST_F(KSavePosTest, NormalPlacementRoundTrip) {
    TKSavePosReg store(form, settings, QStringLiteral("x"));
    EXPECT_EQ(store.Section(), kSection);
    EXPECT_EQ(store.ValueName(), "RuvoAppForm.Bounds");
    form.setGeometry(100, 120, 300, 200);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    store.SavePlacement();
    const std::string text = *settings.ReadString(kSection, "RuvoAppForm.Bounds");
    const QPoint corner = form.pos();
    EXPECT_EQ(text, "0,-1,-1,-1,-1," + std::to_string(corner.x()) + "," + std::to_string(corner.y()) + "," +
                        std::to_string(corner.x() + 300) + "," + std::to_string(corner.y() + 200));

    QWidget again;
    again.setObjectName(QStringLiteral("RuvoAppForm"));
    TKSavePosReg restore(again, settings, QStringLiteral("x"));
    ASSERT_TRUE(restore.RestorePlacement());
    EXPECT_EQ(again.pos(), corner);
    EXPECT_EQ(again.size(), QSize(300, 200));
    EXPECT_FALSE(again.isMaximized());
}

TEST_F(KSavePosTest, MaximisedKeepsTheNormalRectangle) {
    TKSavePosReg store(form, settings, QStringLiteral("x"));
    form.setGeometry(50, 60, 320, 240);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QPoint corner = form.pos();
    form.showMaximized();
    QTRY_VERIFY_WITH_TIMEOUT(form.isMaximized(), 2000);
    store.SavePlacement();
    const std::optional<WindowPlacement> saved =
        ParsePlacement(*settings.ReadString(kSection, "RuvoAppForm.Bounds"), {});
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->State, 2);
    EXPECT_EQ(QPoint(saved->Left, saved->Top), corner);
    EXPECT_EQ(QSize(saved->Right - saved->Left, saved->Bottom - saved->Top), QSize(320, 240));

    QWidget again;
    again.setObjectName(QStringLiteral("RuvoAppForm"));
    TKSavePosReg restore(again, settings, QStringLiteral("x"));
    ASSERT_TRUE(restore.RestorePlacement());
    again.show();
    EXPECT_TRUE(again.isMaximized());
    again.showNormal();
    QTRY_COMPARE_WITH_TIMEOUT(again.size(), QSize(320, 240), 2000);
}

TEST_F(KSavePosTest, TextsOfOtherLengthsAndAMinimisedStateAreHandled) {
    TKSavePosReg store(form, settings, QStringLiteral("x"));
    form.setGeometry(10, 20, 200, 100);
    for (const char* text : {"0,-1,-1,-1,-1,300,300,700", "0,-1,-1,-1,-1,300,300,700,600,5", ""}) {
        settings.WriteString(kSection, "RuvoAppForm.Bounds", text);
        EXPECT_FALSE(store.RestorePlacement()) << text;
        EXPECT_EQ(form.geometry(), QRect(10, 20, 200, 100)) << text;
    }
    // A part that is not a number keeps the window's value; a stored minimised state opens
    // the window in its own state with the stored rectangle.
    settings.WriteString(kSection, "RuvoAppForm.Bounds", "1,-1,-1,-1,-1,40,50,x,250");
    ASSERT_TRUE(store.RestorePlacement());
    EXPECT_FALSE(form.isMinimized());
    EXPECT_EQ(form.pos(), QPoint(40, 50));
    EXPECT_EQ(form.height(), 200);

    // Extreme stored bounds: no overflow, the window whole on a screen.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (const char* text : {"2,0,0,0,0,-2147483648,-2147483648,2147483647,2147483647",
                             "0,0,0,0,0,2147483000,2147483000,2147483647,2147483647"}) {
        settings.WriteString(kSection, "RuvoAppForm.Bounds", text);
        ASSERT_TRUE(store.RestorePlacement()) << text;
        EXPECT_TRUE(screen.contains(QRect(form.pos(), form.size()))) << text;
    }
}

TEST(FitOnScreensTest, RectangleMovesWholeOntoAScreen) {
    const std::vector<QRect> screens = {QRect(0, 0, 1280, 1024), QRect(1280, 0, 1920, 1080)};
    EXPECT_EQ(FitOnScreens(QRect(100, 100, 655, 552), screens), QRect(100, 100, 655, 552));
    EXPECT_EQ(FitOnScreens(QRect(1200, 900, 655, 552), screens), QRect(1280, 528, 655, 552))
        << "the screen it most overlaps";
    EXPECT_EQ(FitOnScreens(QRect(700, 600, 655, 552), screens), QRect(625, 472, 655, 552))
        << "status bar below the edge";
    EXPECT_EQ(FitOnScreens(QRect(5000, 200, 655, 552), screens), QRect(2545, 200, 655, 552));
    EXPECT_EQ(FitOnScreens(QRect(-900, -800, 655, 552), screens), QRect(0, 0, 655, 552));
    EXPECT_EQ(FitOnScreens(QRect(-100, 3000, 4000, 552), screens), QRect(1280, 528, 1920, 552)) << "too wide: cut";
}

}  // namespace
