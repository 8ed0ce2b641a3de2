// The WAV check on any bytes: a clean acceptance, within the limits it promises, or a refusal.

#include "engine/EngineHost.h"
#include "engine/FileIoError.h"
#include "engine/WavProc.h"
#include "fuzz/FuzzInput.h"

#include <cstdlib>

namespace {

class SilentHost : public ruvo::IEngineHost {
public:
    void ErrorBox(const std::string&) override {}
    void MessageBox(const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static SilentHost host;
    static ruvo::ScopedEngineHost scope(host);
    static ruvo::TWavProc wav;
    const std::string& name = ruvo::fuzz::WriteInput(data, size);
    ruvo::WavHead head;
    if (wav.CheckWavFile(name, ruvo::WavHead{}, head) != 0) {
        if (!head.FileName.empty()) std::abort();
        return 0;
    }
    const bool sane = (head.Channels == 1 || head.Channels == 2) && (head.BitsPerSample == 8 || head.BitsPerSample == 16) &&
                      head.SampleCount > 0 && static_cast<double>(head.SampleCount) / head.SampleRate <= 6000.0 &&
                      head.DataOffset >= 1 && static_cast<std::size_t>(head.DataOffset) <= size;
    if (!sane) std::abort();
    (void)wav.ShortFileNotice();
    return 0;
}
