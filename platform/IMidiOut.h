#pragma once
// The MIDI output device as the on-screen keyboard uses it: open, reset, short messages
// (status in the low byte, then the two data bytes), close. Implemented by FluidMidiOut
// (platform/qt, a software synthesizer played into the sound output) and FakeMidiOut
// (platform/fake). Owned by the main window; UI thread only.

#include <cstdint>
#include <string>

namespace ruvo {

// Open results; the numbers are those of the system's multimedia error codes.
constexpr std::int32_t kMidiOpenOk = 0;
constexpr std::int32_t kMidiOpenFailed = 1;     // any other failure
constexpr std::int32_t kMidiAllocated = 4;      // the device is already open
constexpr std::int32_t kMidiNoMap = 66;         // no instrument set (no soundfont)
constexpr std::int32_t kMidiNoDevice = 68;      // no sound output device

// The message shown for a failed open.
const char* MidiOpenErrorText(std::int32_t result);

class IMidiOut {
public:
    virtual ~IMidiOut() = default;
    [[nodiscard]] virtual std::int32_t Open() = 0;
    // Silences every note on every channel.
    virtual void Reset() = 0;
    virtual void ShortMsg(std::uint32_t message) = 0;
    virtual void Close() = 0;
    // Why an open would fail now, or that the output is still getting ready, for the status
    // bar; empty while the output can work.
    virtual std::string Unavailable() const = 0;
};

}  // namespace ruvo
