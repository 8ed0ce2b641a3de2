#pragma once
// TAlertDialog: the modal warning ("Alert") before a re-run of the note stage that the grid
// edits will be lost; OK goes on, Cancel keeps everything. Made for each use and released
// afterwards by its user; UI thread only.

#include <QDialog>

class QTextEdit;

namespace ruvo {

class TAlertDialog : public QDialog {
    Q_OBJECT

public:
    explicit TAlertDialog(QWidget* parent = nullptr);

    // The six lines of the warning as shown.
    static QStringList Lines();
    QTextEdit* Memo() const { return m_memo; }

private:
    QTextEdit* m_memo = nullptr;  // owned by parent
};

}  // namespace ruvo
