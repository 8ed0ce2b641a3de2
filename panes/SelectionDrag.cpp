#include "panes/SelectionDrag.h"

#include "panes/PaneHost.h"

#include <algorithm>

namespace ruvo {

void SelectionDrag::Press(std::int32_t frame) {
    m_active = true;
    m_moved = false;
    m_anchor = frame;
}

void SelectionDrag::Move(IPaneHost& host, std::int32_t frame) {
    // A press that stays on its frame is the text's click, which leaves the end alone.
    if (!m_active || host.Busy() || (!m_moved && frame == m_anchor)) {
        return;
    }
    m_moved = true;
    WavHead& doc = host.Doc();
    // Moves arrive also beyond the box: past its ends the drag holds at the first or last frame.
    frame = std::clamp(frame, 0, std::max(0, doc.FrameCount - 1));
    const std::int32_t start = std::min(m_anchor, frame);
    const std::int32_t end = std::max(m_anchor, frame);
    if (doc.SelStart == start && doc.SelEnd == end) {
        return;
    }
    doc.SelStart = start;
    doc.SelEnd = end;
    host.RefreshStatus();
}

}  // namespace ruvo
