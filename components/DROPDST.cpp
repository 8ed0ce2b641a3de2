#include "components/DROPDST.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace ruvo {

QStringList DroppedFileNames(const QMimeData& data) {
    QStringList files;
    if (!data.hasUrls()) {
        return files;
    }
    // Names are taken whole, however long.
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile()) {
            files << url.toLocalFile();
        }
    }
    return files;
}

TDropDst::TDropDst(QObject* parent) : QObject(parent) {}

void TDropDst::SetControl(QWidget* control) {
    Detach();
    m_control = control;
    Attach();
}

void TDropDst::SetTarget(THookTarget target) {
    Detach();
    m_target = target;
    Attach();
}

void TDropDst::SetAcceptDrop(bool accept) {
    m_acceptDrop = accept;
    if (m_hooked) {
        m_hooked->setAcceptDrops(accept);
    }
}

void TDropDst::Detach() {
    if (m_hooked) {
        m_hooked->removeEventFilter(this);
        m_hooked->setAcceptDrops(false);
    }
    m_hooked = nullptr;
}

void TDropDst::Attach() {
    QWidget* widget = m_control;
    if (widget == nullptr && m_target == THookTarget::htForm) {
        widget = qobject_cast<QWidget*>(parent());
    }
    if (widget == nullptr) {
        return;
    }
    if (m_target == THookTarget::htForm) {
        widget = widget->window();
    }
    m_hooked = widget;
    widget->installEventFilter(this);
    widget->setAcceptDrops(m_acceptDrop);
}

bool TDropDst::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_hooked.data()) {
        return QObject::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (m_acceptDrop && !DroppedFileNames(*drag->mimeData()).isEmpty()) {
                drag->acceptProposedAction();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList files = m_acceptDrop ? DroppedFileNames(*drop->mimeData()) : QStringList();
            if (files.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            try {
                emit OnFileDrop(files, drop->position().toPoint());
            } catch (...) {
                // An exception must not leave an event handler; the receiver reports its own.
            }
            return true;
        }
        default: return QObject::eventFilter(watched, event);
    }
}

}  // namespace ruvo
