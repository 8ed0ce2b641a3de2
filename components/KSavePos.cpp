#include "components/KSavePos.h"

#include "platform/ISettingsStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <array>
#include <limits>

namespace ruvo {

namespace {

constexpr int kPlacementParts = 9;

std::int64_t DistanceSquared(const QRect& a, const QRect& b) {
    const auto gap = [](int lowA, int highA, int lowB, int highB) -> std::int64_t {
        if (highA < lowB) {
            return lowB - highA;
        }
        if (highB < lowA) {
            return lowA - highB;
        }
        return 0;
    };
    const std::int64_t dx = gap(a.left(), a.right(), b.left(), b.right());
    const std::int64_t dy = gap(a.top(), a.bottom(), b.top(), b.bottom());
    return dx * dx + dy * dy;
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

QRect FitOnScreens(const QRect& rect, const std::vector<QRect>& screens) {
    if (screens.empty()) {
        return rect;
    }
    const QRect* nearest = nullptr;
    std::int64_t best = std::numeric_limits<std::int64_t>::max();
    for (const QRect& screen : screens) {
        if (screen.intersects(rect)) {
            return rect;
        }
        const std::int64_t distance = DistanceSquared(rect, screen);
        if (distance < best) {
            best = distance;
            nearest = &screen;
        }
    }
    QRect moved = rect;
    moved.setWidth(std::min(rect.width(), nearest->width()));
    moved.setHeight(std::min(rect.height(), nearest->height()));
    moved.moveLeft(std::clamp(moved.left(), nearest->left(), nearest->right() + 1 - moved.width()));
    moved.moveTop(std::clamp(moved.top(), nearest->top(), nearest->bottom() + 1 - moved.height()));
    return moved;
}

TKSavePosReg::TKSavePosReg(QWidget& form, ISettingsStore& settings, QString appName)
    : QObject(&form), m_form(form), m_settings(settings), m_appName(std::move(appName)) {}

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
    const bool maximised = states.testFlag(Qt::WindowMaximized) || states.testFlag(Qt::WindowFullScreen);
    p.State = static_cast<std::int32_t>(maximised ? PlacementState::Maximised : PlacementState::Normal);
    if (states.testFlag(Qt::WindowMinimized)) {
        p.State = static_cast<std::int32_t>(PlacementState::Minimised);
    }
    // The frame's offset from the window's own area, to give the normal rectangle the frame's
    // corner also while the window is maximised or minimised.
    const QPoint frameOffset = m_form.geometry().topLeft() - m_form.pos();
    QRect normal(m_form.pos(), m_form.size());
    if (p.State != static_cast<std::int32_t>(PlacementState::Normal) && m_form.normalGeometry().isValid()) {
        const QRect own = m_form.normalGeometry();
        normal = QRect(own.topLeft() - frameOffset, own.size());
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
    std::vector<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.push_back(screen->availableGeometry());
    }
    const QRect rect = FitOnScreens(
        QRect(stored->Left, stored->Top, stored->Right - stored->Left, stored->Bottom - stored->Top), screens);
    m_form.resize(rect.size());
    m_form.move(rect.topLeft());
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
    return true;
}

}  // namespace ruvo
