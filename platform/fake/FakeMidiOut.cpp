#include "platform/fake/FakeMidiOut.h"

#include <cstdio>

namespace ruvo {

std::int32_t FakeMidiOut::Open() {
    Calls.emplace_back("open");
    return OpenResult;
}

void FakeMidiOut::Reset() { Calls.emplace_back("reset"); }

void FakeMidiOut::ShortMsg(std::uint32_t message) {
    char text[24];
    std::snprintf(text, sizeof text, "msg 0x%06x", static_cast<unsigned>(message));
    Calls.emplace_back(text);
    Messages.push_back(message);
}

void FakeMidiOut::Close() { Calls.emplace_back("close"); }

}  // namespace ruvo
