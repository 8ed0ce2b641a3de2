#include "platform/IMidiOut.h"

namespace ruvo {

const char* MidiOpenErrorText(std::int32_t result) {
    switch (result) {
    case kMidiAllocated:
        return "Device Already Allocated";
    case kMidiNoMap:
        return "NoMap";
    case kMidiNoDevice:
        return "No Midi Device";
    default:
        return "Midi Open Error";
    }
}

}  // namespace ruvo
