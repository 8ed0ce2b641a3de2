#pragma once
// TAboutBox: the small, non-modal "Version Information" window with the program icon, the
// product word, the version and one sentence. No buttons: the close box closes it. Owned by
// the main window (Qt parent); UI thread only.

#include <QWidget>

namespace ruvo {

class TAboutBox : public QWidget {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);
};

}  // namespace ruvo
