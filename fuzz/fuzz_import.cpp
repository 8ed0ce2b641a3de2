// The import on any bytes: libsndfile's reading of every format it knows, the mix-down, the
// resampling and the canonical WAV copy. At most 5 s of sound are written, to keep runs short.

#include "fuzz/FuzzInput.h"
#include "import/AudioImport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& name = ruvo::fuzz::WriteInput(data, size);
    ruvo::TAudioImport import;
    if (import.Open(name) != 0) return 0;
    (void)ruvo::DescribeSource(import.Source());
    const std::int64_t maxFrames = 5 * ruvo::ImportedRate(import.Source().SampleRate);
    (void)import.WriteWav(ruvo::fuzz::Folder() + "/copy.wav", maxFrames, nullptr);
    return 0;
}
