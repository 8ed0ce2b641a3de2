#include "components/KSavePos.h"

#include "platform/ISettingsStore.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QMargins>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <array>
#include <limits>

namespace ruvo {

namespace {

constexpr int kPlacementParts = 9;

// Stored rectangles are bounded to this far beyond any screen, so that no arithmetic on them
// can overflow.
constexpr std::int64_t kCoordinateLimit = std::int64_t{1} << 20;

std::int64_t DistanceSquared(const QRect& a, const QRect& b) {
    const auto gap = [](std::int64_t lowA, std::int64_t highA, std::int64_t lowB, std::int64_t highB) {
        if (highA < lowB) {
            return lowB - highA;
        }
        if (highB < lowA) {
            return lowA - highB;
        }
        return std::int64_t{0};
    };
    const std::int64_t dx = gap(a.left(), a.right(), b.left(), b.right());
    const std::int64_t dy = gap(a.top(), a.bottom(), b.top(), b.bottom());
    return dx * dx + dy * dy;
}

std::int64_t Area(const QRect& rect) {
    return rect.isEmpty() ? 0 : std::int64_t{rect.width()} * std::int64_t{rect.height()};
}

// The window manager's frame around the window's own area; none before it is framed.
QMargins FrameMargins(const QWidget& window) {
    const QRect frame = window.frameGeometry();
    const QRect own = window.geometry();
    return {own.left() - frame.left(), own.top() - frame.top(), frame.right() - own.right(),
            frame.bottom() - own.bottom()};
}

bool Framed(const QWidget& window) { return !FrameMargins(window).isNull(); }

bool Maximised(Qt::WindowStates states) {
    return states.testFlag(Qt::WindowMaximized) || states.testFlag(Qt::WindowFullScreen);
}

}  // namespace

std::string FormatPlacement(const WindowPlacement& p) {
    const std::array<std::int32_t, kPlacementParts> values = {
        p.State, p.MinPosition.x(), p.MinPosition.y(), p.MaxPosition.x(), p.MaxPosition.y(), p.Left,
        p.Top,   p.Right,           p.Bottom};
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            text += ',';
        }
        text += std::to_string(values[i]);
    }
    return text;
}

std::optional<WindowPlacement> ParsePlacement(const std::string& text, const WindowPlacement& current) {
    const QStringList parts = QString::fromStdString(text).split(QLatin1Char(','));
    if (parts.size() != kPlacementParts) {
        return std::nullopt;
    }
    std::array<std::int32_t, kPlacementParts> values = {current.State,
                                                        current.MinPosition.x(),
                                                        current.MinPosition.y(),
                                                        current.MaxPosition.x(),
                                                        current.MaxPosition.y(),
                                                        current.Left,
                                                        current.Top,
                                                        current.Right,
                                                        current.Bottom};
    for (int i = 0; i < kPlacementParts; ++i) {
        bool ok = false;
        const int value = parts.at(i).trimmed().toInt(&ok);
        if (ok) {
            values[static_cast<std::size_t>(i)] = value;
        }
    }
    WindowPlacement p;
    p.State = values[0];
    p.MinPosition = {values[1], values[2]};
    p.MaxPosition = {values[3], values[4]};
    p.Left = values[5];
    p.Top = values[6];
    p.Right = values[7];
    p.Bottom = values[8];
    return p;
}

QRect FitOnScreens(const QRect& frame, const std::vector<QRect>& screens) {
    const QRect* target = nullptr;
    std::int64_t mostOverlap = 0;
    for (const QRect& screen : screens) {
        if (screen.contains(frame)) {
            return frame;
        }
        if (const std::int64_t overlap = Area(screen.intersected(frame)); overlap > mostOverlap) {
            mostOverlap = overlap;
            target = &screen;
        }
    }
    if (target == nullptr) {
        std::int64_t nearest = std::numeric_limits<std::int64_t>::max();
        for (const QRect& screen : screens) {
            if (const std::int64_t distance = DistanceSquared(frame, screen); distance < nearest) {
                nearest = distance;
                target = &screen;
            }
        }
    }
    if (target == nullptr) {
        return frame;
    }
    QRect moved = frame;
    moved.setWidth(std::min(frame.width(), target->width()));
    moved.setHeight(std::min(frame.height(), target->height()));
    moved.moveLeft(std::clamp(moved.left(), target->left(), target->right() + 1 - moved.width()));
    moved.moveTop(std::clamp(moved.top(), target->top(), target->bottom() + 1 - moved.height()));
    return moved;
}

std::vector<QRect> AvailableScreens() {
    std::vector<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.push_back(screen->availableGeometry());
    }
    return screens;
}

void KeepOnScreen(QWidget& window, const QWidget* framed) {
    QMargins margins = FrameMargins(window);
    if (margins.isNull() && framed != nullptr) {
        margins = FrameMargins(*framed);
    }
    // The frame's corner is the window's position (QWidget::pos), framed or not.
    const QRect frame(window.pos(), window.size().grownBy(margins));
    const QRect fitted = FitOnScreens(frame, AvailableScreens());
    if (fitted == frame) {
        return;
    }
    if (fitted.size() != frame.size()) {
        window.resize(fitted.size().shrunkBy(margins));
    }
    window.move(fitted.topLeft());
}

TKSavePosReg::TKSavePosReg(QWidget& form, ISettingsStore& settings, QString appName)
    : QObject(&form), m_form(form), m_settings(settings), m_appName(std::move(appName)) {
    m_form.installEventFilter(this);
}

bool TKSavePosReg::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched != &m_form || !m_form.isVisible() ||
        (type != QEvent::Move && type != QEvent::Resize && type != QEvent::Show && type != QEvent::WindowStateChange)) {
        return false;
    }
    const Qt::WindowStates states = m_form.windowState();
    const bool normal = !Maximised(states) && !states.testFlag(Qt::WindowMinimized);
    if (normal) {
        // Normal now: Qt's own normal rectangle holds from here on.
        m_normalFrame.reset();
        if (Framed(m_form)) {
            m_normalFrameOffset = m_form.geometry().topLeft() - m_form.pos();
        }
    }
    if (!m_framed && Framed(m_form)) {
        // Placed before the frame was known: the frame may reach past the screen's edge.
        // Moved once the event has been handled: a move inside the window manager's own
        // placement of the window is lost.
        m_framed = true;
        if (normal) {
            QTimer::singleShot(0, this, [this] { KeepOnScreen(m_form); });
        }
    }
    return false;
}

std::string TKSavePosReg::Section() const {
    const QString app =
        m_appName.isEmpty() ? QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() : m_appName;
    const QString provider = Provider.isEmpty() ? QStringLiteral("User") : Provider;
    return (QStringLiteral("Software/") + app + QLatin1Char('/') + provider + QStringLiteral("/Bounds")).toStdString();
}

std::string TKSavePosReg::ValueName() const { return (m_form.objectName() + QStringLiteral(".Bounds")).toStdString(); }

WindowPlacement TKSavePosReg::CurrentPlacement() const {
    WindowPlacement p;
    const Qt::WindowStates states = m_form.windowState();
    const bool maximised = Maximised(states);
    p.State = static_cast<std::int32_t>(maximised ? PlacementState::Maximised : PlacementState::Normal);
    if (states.testFlag(Qt::WindowMinimized)) {
        p.State = static_cast<std::int32_t>(PlacementState::Minimised);
    }
    QRect normal(m_form.pos(), m_form.size());
    if (p.State != static_cast<std::int32_t>(PlacementState::Normal)) {
        if (m_normalFrame) {
            normal = *m_normalFrame;
        } else if (m_form.normalGeometry().isValid()) {
            // The frame's offset from the window's own area as it was in the normal state
            // (a maximised window's frame may differ), else as it is now.
            const QPoint frameOffset =
                m_normalFrameOffset.isNull() ? m_form.geometry().topLeft() - m_form.pos() : m_normalFrameOffset;
            const QRect own = m_form.normalGeometry();
            normal = QRect(own.topLeft() - frameOffset, own.size());
        }
    }
    if (maximised) {
        p.MaxPosition = m_form.pos();
    }
    p.Left = normal.left();
    p.Top = normal.top();
    p.Right = normal.left() + normal.width();
    p.Bottom = normal.top() + normal.height();
    return p;
}

void TKSavePosReg::SavePlacement() {
    if (!SaveBounds) {
        return;
    }
    m_settings.WriteString(Section(), ValueName(), FormatPlacement(CurrentPlacement()));
}

bool TKSavePosReg::RestorePlacement() {
    if (!SaveBounds) {
        return false;
    }
    const std::optional<std::string> text = m_settings.ReadString(Section(), ValueName());
    if (!text) {
        return false;
    }
    const std::optional<WindowPlacement> stored = ParsePlacement(*text, CurrentPlacement());
    if (!stored || stored->Right <= stored->Left || stored->Bottom <= stored->Top) {
        return false;
    }
    // Bounded before any arithmetic: the text may hold any 32-bit values.
    const std::int64_t width = std::int64_t{stored->Right} - stored->Left;
    const std::int64_t height = std::int64_t{stored->Bottom} - stored->Top;
    const auto bounded = [](std::int64_t value, std::int64_t low) {
        return static_cast<int>(std::clamp(value, low, kCoordinateLimit));
    };
    m_form.resize(bounded(width, 1), bounded(height, 1));
    m_form.move(bounded(stored->Left, -kCoordinateLimit), bounded(stored->Top, -kCoordinateLimit));
    KeepOnScreen(m_form);
    const auto state = static_cast<PlacementState>(stored->State);
    Qt::WindowStates states = m_form.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (state == PlacementState::Maximised) {
        states |= Qt::WindowMaximized;
    } else if (state == PlacementState::Minimised && ResumeIconic) {
        states |= Qt::WindowMinimized;
    } else if (state == PlacementState::Minimised) {
        // Not minimised again: the window keeps the state it was made in.
        states = m_form.windowState();
    }
    m_form.setWindowState(states);
    if (Maximised(states)) {
        m_normalFrame = QRect(m_form.pos(), m_form.size());
    }
    return true;
}

}  // namespace ruvo
