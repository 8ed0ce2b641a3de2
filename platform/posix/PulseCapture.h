#pragma once
// TPulseCapture: 16-bit mono samples at 22050 per second from a sound input through the sound
// server's simple blocking interface, without Qt, for the converter's live mode. Owned by its
// reader; one thread.

#include <cstdint>
#include <span>
#include <string>

struct pa_simple;

namespace ruvo {

class TPulseCapture {
public:
    TPulseCapture() = default;
    ~TPulseCapture();
    TPulseCapture(const TPulseCapture&) = delete;
    TPulseCapture& operator=(const TPulseCapture&) = delete;

    // Starts recording from the input `device` (empty: the default input). Empty on success,
    // else what went wrong ("no sound server: Connection refused").
    std::string Open(const std::string& device);
    // Waits for samples.size() samples. Empty on success, else the server's reason.
    std::string Read(std::span<std::int16_t> samples);
    void Close();

private:
    pa_simple* m_stream = nullptr;  // owned
};

}  // namespace ruvo
