#pragma once
// Pictures the program draws itself: its icon and the glyphs of the tempo speed button
// and of the zoom buttons.

#include <QIcon>

namespace ruvo {

QIcon ProgramIcon();
QIcon TempoGlyph();

// The zoom buttons: two arrows that squeeze (more frames, lower rows) or stretch (fewer
// frames, taller rows), horizontal or vertical.
enum class ZoomKind { MoreFrames, FewerFrames, LowerRows, TallerRows };
QIcon ZoomGlyph(ZoomKind kind);

}  // namespace ruvo
