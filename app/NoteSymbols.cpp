#include "app/NoteSymbols.h"

#include "engine/Units.h"

#include <QFont>
#include <QPainter>

#include <array>

namespace ruvo {

namespace {

constexpr int kCopiedWidth = kNoteSymbolWidth - 1;  // pixels taken from each tile
constexpr int kCopiedHeight = kNoteSymbolHeight - 1;
constexpr int kHalfSpace = 4;  // pixels between a staff line and the next space
constexpr int kStaffLeft = 6;
constexpr int kStaffRight = 64;
constexpr int kHeadX = 40;  // centre of the note head
// Diatonic step (7 per octave, C = 0) of the bottom line of each staff: E4 and G2.
constexpr int kTrebleBottomStep = 4 * 7 + 2;
constexpr int kBassBottomStep = 2 * 7 + 4;
constexpr int kTrebleBottomY = 114;  // leaves room for the name at the top and for C4 below
constexpr int kBassBottomY = 88;
constexpr int kMiddleC = 60;  // MIDI key; the treble staff from here up

struct Pitch {
    const char* Name;
    int Letter;  // C = 0 .. B = 6
    bool Sharp;
};

constexpr std::array<Pitch, 12> kPitches = {{{"C", 0, false},
                                             {"C#", 0, true},
                                             {"D", 1, false},
                                             {"D#", 1, true},
                                             {"E", 2, false},
                                             {"F", 3, false},
                                             {"F#", 3, true},
                                             {"G", 4, false},
                                             {"G#", 4, true},
                                             {"A", 5, false},
                                             {"A#", 5, true},
                                             {"B", 6, false}}};

void DrawTile(QPainter& painter, int note) {
    const int key = NoteToMidiKey(note);
    const Pitch& pitch = kPitches[static_cast<std::size_t>(key % 12)];
    const int octave = key / 12 - 1;
    const int step = octave * 7 + pitch.Letter;
    const bool treble = key >= kMiddleC;
    const int bottomStep = treble ? kTrebleBottomStep : kBassBottomStep;
    const int bottomY = treble ? kTrebleBottomY : kBassBottomY;
    const int offset = step - bottomStep;  // half spaces above the bottom line
    const int headY = bottomY - offset * kHalfSpace;

    painter.setPen(Qt::black);
    for (int line = 0; line < 5; ++line) {
        const int y = bottomY - line * 2 * kHalfSpace;
        painter.drawLine(kStaffLeft, y, kStaffRight, y);
    }
    // Ledger lines below and above the staff, up to the head's own line.
    for (int ledger = -2; ledger >= offset; ledger -= 2) {
        const int y = bottomY - ledger * kHalfSpace;
        painter.drawLine(kHeadX - 8, y, kHeadX + 8, y);
    }
    for (int ledger = 10; ledger <= offset; ledger += 2) {
        const int y = bottomY - ledger * kHalfSpace;
        painter.drawLine(kHeadX - 8, y, kHeadX + 8, y);
    }
    painter.setBrush(Qt::black);
    painter.drawEllipse(QPoint(kHeadX, headY), 5, 4);
    const int stemX = kHeadX + 5;
    painter.drawLine(stemX, headY, stemX, headY - 24);

    QFont font(QStringLiteral("Times New Roman"));
    font.setPixelSize(13);
    font.setStyleStrategy(QFont::NoAntialias);  // only pure red may be transparent
    painter.setFont(font);
    if (pitch.Sharp) {
        painter.drawText(QRect(kHeadX - 20, headY - 8, 12, 16), Qt::AlignCenter, QStringLiteral("#"));
    }
    // The clef letter on its line: G on the second line of the treble staff, F on the fourth of the bass.
    const int clefY = bottomY - (treble ? 2 : 6) * kHalfSpace;
    painter.drawText(QRect(kStaffLeft, clefY - 8, 14, 16), Qt::AlignCenter,
                     treble ? QStringLiteral("G") : QStringLiteral("F"));
    painter.drawText(QRect(2, 2, kCopiedWidth - 4, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromLatin1(pitch.Name) + QString::number(octave));
}

}  // namespace

QImage NoteSymbolPicture() {
    QImage picture(kNoteSymbolColumns * kNoteSymbolWidth, kNoteSymbolRows * kNoteSymbolHeight, QImage::Format_RGB32);
    picture.fill(kNoteSymbolMask);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int note = 0; note < kNoteCount; ++note) {
        painter.save();
        painter.translate((note % kNoteSymbolColumns) * kNoteSymbolWidth,
                          (note / kNoteSymbolColumns) * kNoteSymbolHeight);
        painter.setClipRect(0, 0, kCopiedWidth, kCopiedHeight);
        DrawTile(painter, note);
        painter.restore();
    }
    return picture;
}

std::vector<QPixmap> BuildNoteSymbolList(const QImage& picture) {
    std::vector<QPixmap> list;
    list.reserve(static_cast<std::size_t>(kNoteCount));
    const QImage source = picture.convertToFormat(QImage::Format_ARGB32);
    for (int i = 0; i < kNoteCount; ++i) {
        const int tile = kNoteCount - 1 - i;
        const QPoint corner((tile % kNoteSymbolColumns) * kNoteSymbolWidth,
                            (tile / kNoteSymbolColumns) * kNoteSymbolHeight);
        QImage image(kNoteSymbolWidth, kNoteSymbolHeight, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        for (int y = 0; y < kCopiedHeight; ++y) {
            for (int x = 0; x < kCopiedWidth; ++x) {
                const QPoint from = corner + QPoint(x, y);
                if (!source.valid(from)) {
                    continue;
                }
                const QRgb pixel = source.pixel(from);
                if ((pixel & RGB_MASK) != (kNoteSymbolMask & RGB_MASK)) {
                    image.setPixel(x, y, pixel | 0xff000000u);
                }
            }
        }
        list.push_back(QPixmap::fromImage(image));
    }
    return list;
}

}  // namespace ruvo
