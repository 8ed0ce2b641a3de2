#include "app/DocumentImport.h"

#include "engine/Conversion.h"
#include "engine/EngineHost.h"
#include "engine/UFile.h"
#include "engine/WavProc.h"
#include "import/ImportFormats.h"

namespace ruvo {

bool DocumentImport::Rescuable(TWavProc& wav, const std::string& fileName) {
    m_fileName = fileName;
    m_refused = false;
    if (ProbeWavFile(wav, fileName) != WavRejection::Layout) return false;
    if (m_import.Open(fileName) == 0) return true;
    // A file of a known format that cannot be read goes to the check, which says why; a file
    // of no known format gets the list of those that are read, and no second message.
    if (m_import.FormatUnknown()) {
        m_refused = true;
        EngineHost().ErrorBox(fileName + ":\n" + UnreadableFormatMessage());
    }
    return false;
}

std::string DocumentImport::Question() const {
    return m_fileName + "\n\nThis file is " + DescribeSource(m_import.Source()) +
           ". The analysis reads only WAV files of 8 or 16 bits, mono or stereo, at 11025, 22050 or 44100 "
           "samples per second.\n\nAnalyse a copy converted to " + DescribeImported(m_import.Source()) + "?";
}

std::int32_t DocumentImport::WriteCopy(std::string& copyName, const std::function<bool()>& idle) {
    const AudioSource& source = m_import.Source();
    if (source.Seconds() > kDefaultMaxTime) {
        EngineHost().ErrorBox(TooLongMessage(kDefaultMaxTime));
        return -1;
    }
    GetTempName("imp", copyName);
    if (copyName.empty()) return -1;
    // A second beyond the longest accepted time, so that the check refuses a file whose
    // length was not known ahead with its own message.
    const auto maxFrames = static_cast<std::int64_t>(kDefaultMaxTime + 1.0) * ImportedRate(source.SampleRate);
    const std::int32_t written = m_import.WriteWav(copyName, maxFrames, idle);
    if (written == -1) EngineHost().ErrorBox("Cannot import " + m_fileName + ":\n" + m_import.LastError());
    return written;
}

}  // namespace ruvo
