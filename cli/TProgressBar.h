#pragma once
// A one-line progress bar on a terminal stream ("name [#####.....]  42%"), redrawn in place
// and erased before anything else is printed. Disabled, it prints nothing. One thread.

#include <cstdio>
#include <string>

namespace ruvo {

class TProgressBar {
public:
    TProgressBar(std::FILE* stream, bool enabled);

    bool Enabled() const { return m_enabled; }
    // Starts a new bar at 0 %.
    void Start(const std::string& label);
    // Redraws when the percentage (0..100, clamped) changed.
    void Show(int percent);
    // Erases the bar's line, so that a message can take its place; the next Show redraws.
    void Clear();

private:
    void Draw();

    std::FILE* m_stream;
    bool m_enabled;
    bool m_drawn = false;
    int m_percent = -1;
    std::string m_label;
};

}  // namespace ruvo
