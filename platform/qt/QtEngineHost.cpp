#include "platform/qt/QtEngineHost.h"

#include <QApplication>
#include <QMessageBox>

namespace ruvo {

namespace {

QWidget* BoxParent() {
    if (QWidget* modal = QApplication::activeModalWidget()) {
        return modal;
    }
    return QApplication::activeWindow();
}

}  // namespace

void QtEngineHost::ErrorBox(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), QString::fromStdString(text), QMessageBox::Abort,
                    BoxParent());
    box.setDefaultButton(QMessageBox::Abort);
    box.exec();
}

void QtEngineHost::MessageBox(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Ruvo"), QString::fromStdString(text), QMessageBox::Ok,
                    BoxParent());
    box.exec();
}

void QtEngineHost::ProcessEvents() { QCoreApplication::processEvents(); }

}  // namespace ruvo
