#include "app/Alert.h"

#include <QPushButton>
#include <QTextEdit>

namespace ruvo {

TAlertDialog::TAlertDialog(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("AlertDialog"));
    setWindowTitle(QStringLiteral("Alert"));
    setFixedSize(273, 181);

    m_memo = new QTextEdit(this);  // owned by parent
    m_memo->setObjectName(QStringLiteral("Memo1"));
    m_memo->setGeometry(8, 8, 257, 121);
    m_memo->setReadOnly(true);
    m_memo->setFrameShape(QFrame::NoFrame);
    m_memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_memo->viewport()->setAutoFillBackground(false);
    m_memo->setTextInteractionFlags(Qt::NoTextInteraction);
    m_memo->setFocusPolicy(Qt::NoFocus);
    for (const QString& line : Lines()) {
        m_memo->append(line);
        m_memo->setAlignment(Qt::AlignCenter);
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);  // owned by parent
    ok->setObjectName(QStringLiteral("OKBtn"));
    ok->setGeometry(48, 144, 75, 25);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);  // owned by parent
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    cancel->setGeometry(150, 144, 75, 25);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QStringList TAlertDialog::Lines() {
    return {QStringLiteral("Following operations will be "),      QStringLiteral("cancelled."),
            QStringLiteral("    Would you like to proceed?"),     QString(),
            QStringLiteral(" Delete note, Add note, Move note "), QStringLiteral("   and Change time length of note.")};
}

}  // namespace ruvo
