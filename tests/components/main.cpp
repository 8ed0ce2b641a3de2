// The components' tests need a QApplication for their widgets; CTest runs them offscreen.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Also when started by hand (or listed by CTest at build time) without a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
