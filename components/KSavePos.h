#pragma once
// TKSavePosReg: remembers where a window stood and in which state, as the placement text
// "state,minX,minY,maxX,maxY,left,top,right,bottom" under "<form name>.Bounds" in section
// "Software/<AppName>/<Provider>/Bounds" of the settings store. SavePlacement when the window
// closes, RestorePlacement once after it has been made. Owned by its window (Qt parent); UI
// thread only.
//
// Qt's frame and window geometry map onto the text's placement so: the rectangle's left and
// top are the window frame's top-left corner (QWidget::pos), its right and bottom that corner
// plus the window's own size (QWidget::size), which is what Qt can set before the window
// manager has framed the window; while the window is maximised the rectangle is the one it
// had before (QWidget::normalGeometry). Qt keeps no minimised position: -1, -1 is written.

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace ruvo {

class ISettingsStore;

enum class PlacementState : std::int32_t { Normal = 0, Minimised = 1, Maximised = 2 };

struct WindowPlacement {
    std::int32_t State = 0;  // a PlacementState value
    QPoint MinPosition{-1, -1};
    QPoint MaxPosition{-1, -1};
    // Left, top, right, bottom; right and bottom lie just outside the window.
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
};

// Nine decimal integers separated by commas, no blanks.
std::string FormatPlacement(const WindowPlacement& placement);
// Empty unless `text` has exactly nine comma-separated parts; a part that is not an integer
// keeps the value it has in `current`.
std::optional<WindowPlacement> ParsePlacement(const std::string& text, const WindowPlacement& current);
// `frame` (a window with its frame) moved, and cut where it is larger, so that it lies whole
// on one of `screens`: the one it overlaps most, else the nearest; unchanged when it already
// lies whole on one or when there are no screens.
QRect FitOnScreens(const QRect& frame, const std::vector<QRect>& screens);
// The available areas of the screens, for FitOnScreens.
std::vector<QRect> AvailableScreens();
// Moves `window` (and cuts it where it is larger) so that its frame lies whole on a screen.
// A window not yet framed by the window manager is taken to get the frame of `framed` (when
// given and framed itself), else none; TKSavePosReg fits it again once it is framed.
void KeepOnScreen(QWidget& window, const QWidget* framed = nullptr);

// The placement is kept whole on a screen: a stored rectangle (with the window's frame) is
// moved onto one and cut to its size, and again once the window manager has framed the window.
class TKSavePosReg : public QObject {
    Q_OBJECT

public:
    // `appName`: the middle part of the key; empty means the program file's base name.
    TKSavePosReg(QWidget& form, ISettingsStore& settings, QString appName = {});

    bool SaveBounds = true;
    bool ResumeIconic = false;
    QString Provider = QStringLiteral("User");

    std::string Section() const;
    std::string ValueName() const;

    // The window's placement now, as it would be stored.
    WindowPlacement CurrentPlacement() const;
    void SavePlacement();
    // Applies the stored placement; false when nothing usable is stored.
    bool RestorePlacement();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& m_form;
    ISettingsStore& m_settings;
    QString m_appName;
    // The normal rectangle (frame corner, own size) restored with a maximised state, while the
    // window has not been normal since: Qt's normal rectangle then holds no frame offset.
    std::optional<QRect> m_normalFrame;
    // Own area's corner minus the frame's, seen in the normal state: a maximised window's
    // frame may differ (a border less), which would move the stored rectangle at every close.
    QPoint m_normalFrameOffset;
    bool m_framed = false;  // the window manager's frame has been seen
};

}  // namespace ruvo
