#pragma once
// TDropDst: lets files be dropped on a window (Target htForm: the window that holds Control;
// htControl: Control itself) and reports each drop once, through OnFileDrop, with the local
// file names in drop order and the drop point in the hooked widget's co-ordinates. It watches
// the widget through an event filter, which outlives a re-created native window. Owned by
// its form (Qt parent); UI thread only.

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QStringList>

class QMimeData;
class QWidget;

namespace ruvo {

enum class THookTarget { htControl, htForm };

// The local files among the URLs of a drag, in order; empty when there is none.
QStringList DroppedFileNames(const QMimeData& data);

class TDropDst : public QObject {
    Q_OBJECT

public:
    explicit TDropDst(QObject* parent = nullptr);

    void SetControl(QWidget* control);
    void SetTarget(THookTarget target);
    bool AcceptDrop() const { return m_acceptDrop; }
    void SetAcceptDrop(bool accept);
    // The widget that receives the drops (null when none).
    QWidget* Hooked() const { return m_hooked; }

signals:
    // One per drop: every dropped local file, in the order the drag lists them.
    void OnFileDrop(const QStringList& files, const QPoint& point);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Detach();
    void Attach();

    QPointer<QWidget> m_control;
    QPointer<QWidget> m_hooked;
    THookTarget m_target = THookTarget::htControl;
    bool m_acceptDrop = true;
};

}  // namespace ruvo
