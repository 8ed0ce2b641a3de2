#pragma once
// SelectionDrag: a left-button drag in the waveform or the overview selects the frames it
// spans. The press keeps the text's click (it sets the selection's start); each move puts the
// selection between the pressed frame and the one under the pointer, in order, so that a drag
// to the left gives the same selection as one to the right. One per window; UI thread.

#include <cstdint>

namespace ruvo {

class IPaneHost;

class SelectionDrag {
public:
    void Press(std::int32_t frame);
    // The pointer is over `frame` with the left button held; refused while a run is going.
    void Move(IPaneHost& host, std::int32_t frame);
    void Release() { m_active = false; }
    bool Active() const { return m_active; }

private:
    bool m_active = false;
    bool m_moved = false;
    std::int32_t m_anchor = 0;
};

}  // namespace ruvo
