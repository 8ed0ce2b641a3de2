#pragma once
// DocumentImport: the window's side of the audio import. Tells whether a file that the WAV
// check refuses can be rescued (its layout is refused and libsndfile reads it), words the
// question that offers it, and writes the converted copy into a new "imp" work file, which
// the document pipeline then owns. Widget-free; one per conversion, on the UI thread.

#include "import/AudioImport.h"

#include <cstdint>
#include <functional>
#include <string>

namespace ruvo {

class TWavProc;

class DocumentImport {
public:
    // True when `fileName` is refused by the check for its layout and libsndfile reads it.
    bool Rescuable(TWavProc& wav, const std::string& fileName);
    // After Rescuable: the file is of no format read at all, and the message was shown.
    bool Refused() const { return m_refused; }
    // The question before a rescue: what the file is and what the copy will be.
    std::string Question() const;
    // Writes the copy of the rescuable file into a new "imp" work file named in `copyName`.
    // 0 written; -1 failed (the message was shown); kImportCancelled when `idle` said so.
    // A file made is named in `copyName` in every case, for its owner to delete.
    std::int32_t WriteCopy(std::string& copyName, const std::function<bool()>& idle);

private:
    TAudioImport m_import;
    std::string m_fileName;
    bool m_refused = false;
};

}  // namespace ruvo
