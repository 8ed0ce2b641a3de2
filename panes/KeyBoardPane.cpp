#include "panes/KeyBoardPane.h"

#include "platform/IMidiOut.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

namespace ruvo {

namespace KeyBoardLogic {

namespace {

// Pitch class of the row's key, 0 = C.
std::int32_t PitchClass(std::int32_t row) { return RowToKey(row) % 12; }

}  // namespace

bool IsBlackKey(std::int32_t row) {
    switch (PitchClass(row)) {
    case 1:
    case 3:
    case 6:
    case 8:
    case 10:
        return true;
    default:
        return false;
    }
}

bool IsCKey(std::int32_t row) { return PitchClass(row) == 0; }

QString KeyLabel(std::int32_t row) {
    if (!IsCKey(row)) {
        return {};
    }
    return QStringLiteral("C%1").arg(7 - row / 12);
}

}  // namespace KeyBoardLogic

namespace {

constexpr int kColWidth = 85;  // wider than the control: the one column fills it
constexpr int kRowHeight = 12;

}  // namespace

TKeyBoard::TKeyBoard(QWidget* parent) : TStrColGrid(parent) {
    setObjectName(QStringLiteral("KeyBoard"));
    setToolTip(QStringLiteral("KeyBoard:"));
    setStatusTip(QStringLiteral("It shows tones like piano and you can listen the sound of the tone."));
    SetColCount(1);
    SetRowCount(KeyBoardLogic::kRows);
    SetFixedCols(0);
    SetFixedRows(0);
    SetDefaultColWidth(kColWidth);
    SetDefaultRowHeight(kRowHeight);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    connect(this, &TStrColGrid::OnMouseDown, this,
            [this](Qt::MouseButton, Qt::KeyboardModifiers, std::int32_t x, std::int32_t y) { KeyBoardMouseDown(x, y); });
    connect(this, &TStrColGrid::OnMouseUp, this,
            [this](Qt::MouseButton, Qt::KeyboardModifiers, std::int32_t, std::int32_t) { KeyBoardMouseUp(); });
    connect(this, &TStrColGrid::OnMouseMove, this,
            [this](Qt::MouseButtons, Qt::KeyboardModifiers, std::int32_t x, std::int32_t y) { KeyBoardMouseMove(x, y); });
}

std::int32_t TKeyBoard::RowAt(std::int32_t x, std::int32_t y) const {
    std::int32_t col = -1;
    std::int32_t row = -1;
    MouseToCell(x, y, col, row);
    return row;
}

void TKeyBoard::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().color(QPalette::Mid));  // the grid lines
    for (std::int32_t row = TopRow(); row < RowCount(); ++row) {
        const QRect rect = CellRect(0, row);
        if (rect.isEmpty()) {
            break;
        }
        KeyBoardDrawCell(painter, row, rect);
    }
}

void TKeyBoard::wheelEvent(QWheelEvent* event) {
    if (m_wheelTarget == nullptr) {
        TStrColGrid::wheelEvent(event);
        return;
    }
    QCoreApplication::sendEvent(m_wheelTarget->viewport(), event);
    event->accept();
}

void TKeyBoard::KeyBoardDrawCell(QPainter& painter, std::int32_t row, const QRect& rect) {
    painter.fillRect(rect, KeyBoardLogic::IsBlackKey(row) ? Qt::black : Qt::white);
    if (!KeyBoardLogic::IsCKey(row)) {
        return;
    }
    painter.fillRect(rect, QColor(255, 255, 0));
    painter.setPen(Qt::black);
    painter.setFont(font());
    const int x = rect.left() + static_cast<int>(std::nearbyint(rect.width() / 3.0));
    painter.drawText(QRect(x, rect.top(), rect.right() - x + 1, rect.height()), Qt::AlignLeft | Qt::AlignTop,
                     KeyBoardLogic::KeyLabel(row));
}

void TKeyBoard::KeyBoardMouseDown(std::int32_t x, std::int32_t y) {
    const std::int32_t row = RowAt(x, y);
    // A second button pressed while a key sounds changes nothing: the key sounds on until
    // the first release.
    if (m_midiOut == nullptr || row < 0 || m_held) {
        return;
    }
    const std::int32_t result = m_midiOut->Open();
    if (result != kMidiOpenOk) {
        emit OnMidiError(QString::fromLatin1(MidiOpenErrorText(result)));
        return;
    }
    m_midiOut->Reset();
    m_midiOut->ShortMsg(KeyBoardLogic::ProgramChangeMsg());
    m_keyNote = KeyBoardLogic::RowToKey(row);
    m_midiOut->ShortMsg(KeyBoardLogic::NoteOnMsg(m_keyNote));
    m_held = true;
}

void TKeyBoard::KeyBoardMouseUp() {
    if (m_midiOut == nullptr || !m_held) {
        return;
    }
    m_held = false;
    m_midiOut->ShortMsg(KeyBoardLogic::NoteOffMsg(m_keyNote));
    m_midiOut->Close();
}

void TKeyBoard::KeyBoardMouseMove(std::int32_t x, std::int32_t y) {
    const std::int32_t row = RowAt(x, y);
    if (row >= 0) {
        emit OnRowHover(row);
    }
}

}  // namespace ruvo
