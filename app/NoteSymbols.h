#pragma once
// The note symbols of the main window: a picture of 72 tiles (12 across, 6 down, 70 x 130
// pixels each; tile n shows note n, the lowest note at the top left; pure red is transparent)
// and the list made from it at start-up, indexed by note grid row. UI thread only.

#include <QImage>
#include <QPixmap>

#include <vector>

namespace ruvo {

constexpr int kNoteSymbolWidth = 70;  // pixels of one tile and of one list image
constexpr int kNoteSymbolHeight = 130;
constexpr int kNoteSymbolColumns = 12;  // tiles across the picture
constexpr int kNoteSymbolRows = 6;      // tiles down the picture
constexpr QRgb kNoteSymbolMask = qRgb(255, 0, 0);

// The program's picture of the 72 notes: each tile a staff with the note's head, its sharp and
// its name, drawn in black on pure red.
QImage NoteSymbolPicture();

// Image i of the list shows tile 71 - i (the note of grid row i): the tile's 69 x 129 pixels
// from its top-left corner on a 70 x 130 image; pure red, and the strip no tile pixel reaches,
// are transparent.
std::vector<QPixmap> BuildNoteSymbolList(const QImage& picture);

}  // namespace ruvo
