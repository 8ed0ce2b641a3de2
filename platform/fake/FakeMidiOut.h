#pragma once
// A MIDI output for tests: records every call in order as text ("open", "reset",
// "msg 0x7f3c90", "close") and answers Open with OpenResult; plays nothing.

#include "platform/IMidiOut.h"

#include <string>
#include <vector>

namespace ruvo {

class FakeMidiOut : public IMidiOut {
public:
    std::int32_t Open() override;
    void Reset() override;
    void ShortMsg(std::uint32_t message) override;
    void Close() override;
    std::string Unavailable() const override { return UnavailableText; }

    std::vector<std::string> Calls;
    std::vector<std::uint32_t> Messages;
    std::int32_t OpenResult = kMidiOpenOk;
    std::string UnavailableText;
};

}  // namespace ruvo
