#include "cli/TProgressBar.h"

#include <algorithm>

namespace ruvo {
namespace {

constexpr int kBarWidth = 30;
constexpr std::size_t kLabelWidth = 36;  // longer names are shortened from the left

}  // namespace

TProgressBar::TProgressBar(std::FILE* stream, bool enabled) : m_stream(stream), m_enabled(enabled) {}

void TProgressBar::Start(const std::string& label) {
    m_label = label;
    if (m_label.size() > kLabelWidth) m_label.replace(0, m_label.size() - (kLabelWidth - 3), "...");
    m_percent = -1;
    Show(0);
}

void TProgressBar::Show(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (!m_enabled || (m_drawn && percent == m_percent)) return;
    m_percent = percent;
    Draw();
}

void TProgressBar::Clear() {
    if (!m_enabled || !m_drawn) return;
    std::fputs("\r\033[K", m_stream);  // to the line start, erase to its end
    std::fflush(m_stream);
    m_drawn = false;
}

void TProgressBar::Draw() {
    const int filled = m_percent * kBarWidth / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    std::fprintf(m_stream, "\r\033[K%s [%s] %3d%%", m_label.c_str(), bar.c_str(), m_percent);
    std::fflush(m_stream);
    m_drawn = true;
}

}  // namespace ruvo
