#include "app/FormLayout.h"

namespace ruvo {

PaneRects DesignLayout() {
    return {
        {QStringLiteral("WavDisp"), QRect(136, 34, 457, 94)},
        {QStringLiteral("VLevel"), QRect(120, 34, 17, 95)},
        {QStringLiteral("VLevelRight"), QRect(592, 34, 17, 95)},
        {QStringLiteral("HTime"), QRect(136, 128, 457, 13)},
        {QStringLiteral("SelectRgn"), QRect(88, 144, 537, 16)},
        {QStringLiteral("KeyBoard"), QRect(80, 168, 57, 201)},
        {QStringLiteral("MidiDisp2"), QRect(135, 168, 475, 217)},
        {QStringLiteral("OnpuDisp"), QRect(8, 211, 70, 130)},
        {QStringLiteral("Gradation"), QRect(136, 384, 425, 12)},
        {QStringLiteral("HShort"), QRect(563, 385, 22, 22)},
        {QStringLiteral("HLong"), QRect(584, 385, 25, 22)},
        {QStringLiteral("VShort"), QRect(611, 339, 22, 22)},
        {QStringLiteral("VLong"), QRect(611, 360, 22, 25)},
        {QStringLiteral("DoubleNote"), QRect(135, 408, 455, 15)},
        {QStringLiteral("ThreadValue"), QRect(135, 422, 455, 38)},
        {QStringLiteral("WavInfo"), QRect(0, 463, 647, 21)},
        {QStringLiteral("StatusBar"), QRect(0, 489, 647, 17)},
        {QStringLiteral("HarmonicToneLabel"), QRect(40, 408, 0, 0)},
        {QStringLiteral("ThresholdLabel"), QRect(48, 432, 0, 0)},
    };
}

bool FormResizeLayout(int w, int h, PaneRects& rects) {
    if (w <= kSmallestResized.width() && h <= kSmallestResized.height()) {
        return false;
    }
    const auto with = [&rects](const char* name, auto change) {
        const auto found = rects.find(QString::fromLatin1(name));
        if (found != rects.end()) {
            change(found->second);
        }
    };
    const auto moveTo = [](int left, int top) { return [left, top](QRect& r) { r.moveTo(left, top); }; };
    const auto moveTop = [](int top) { return [top](QRect& r) { r.moveTop(top); }; };
    const auto setWidth = [](int width) { return [width](QRect& r) { r.setWidth(width); }; };

    with("VShort", moveTo(w - 44, h - 213));
    with("VLong", moveTo(w - 44, h - 192));
    with("HShort", moveTo(w - 92, h - 167));
    with("HLong", moveTo(w - 71, h - 167));
    with("MidiDisp2", [w, h](QRect& r) { r.setSize(QSize(w - 180, h - 335)); });
    const auto grid = rects.find(QStringLiteral("MidiDisp2"));
    if (grid != rects.end()) {
        const int gridHeight = grid->second.height();
        with("KeyBoard", [gridHeight](QRect& r) { r.setHeight(gridHeight - 16); });
    }
    with("WavDisp", setWidth(w - 198));
    with("HTime", setWidth(w - 198));
    with("SelectRgn", setWidth(w - 118));
    with("ThresholdLabel", moveTop(h - 120));
    with("HarmonicToneLabel", moveTop(h - 144));
    with("DoubleNote", [w, h](QRect& r) {
        r.moveTop(h - 144);
        r.setWidth(w - 200);
    });
    with("ThreadValue", [w, h](QRect& r) {
        r.moveTop(h - 130);
        r.setWidth(w - 200);
    });
    with("WavInfo", [w, h](QRect& r) {
        r.moveTop(h - 89);
        r.setWidth(w - 8);
    });
    with("StatusBar", [w, h](QRect& r) {
        r.moveTop(h - 63);
        r.setWidth(w - 8);
    });
    with("Gradation", [w, h](QRect& r) {
        r.moveTop(h - 168);
        r.setWidth(w - 230);
    });
    with("VLevelRight", [w](QRect& r) { r.moveLeft(w - 63); });
    return true;
}

}  // namespace ruvo
