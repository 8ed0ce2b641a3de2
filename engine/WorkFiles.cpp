#include "engine/WorkFiles.h"

#include <algorithm>
#include <cstdio>

namespace ruvo {
namespace {

// The stage files get six more attempts at once when the first delete fails.
constexpr int kStageFileRetries = 6;

}  // namespace

std::vector<std::string> WorkFileNames(const WavHead& rec) {
    return {rec.Temp1FileName,    rec.Temp2FileName,     rec.NormFileName, rec.IntenFileName,   rec.ThresholdFileName,
            rec.HarmonicFileName, rec.NoteIntenFileName, rec.OctFileName,  rec.RawNoteFileName, rec.MidiGridFileName};
}

void DeleteWorkFiles(WavHead& rec, bool wavIsWorkFile) {
    if (wavIsWorkFile && !rec.FileName.empty()) {
        std::remove(rec.FileName.c_str());
        rec.FileName.clear();
    }
    for (std::string* name : {&rec.Temp1FileName, &rec.Temp2FileName, &rec.NormFileName}) {
        if (!name->empty() && std::remove(name->c_str()) != 0) {
            for (int i = 0; i < kStageFileRetries; ++i) std::remove(name->c_str());
        }
        name->clear();
    }
    for (std::string* name : {&rec.IntenFileName, &rec.ThresholdFileName, &rec.HarmonicFileName, &rec.NoteIntenFileName,
                              &rec.OctFileName, &rec.RawNoteFileName, &rec.MidiGridFileName}) {
        if (!name->empty()) std::remove(name->c_str());
        name->clear();
    }
}

void DeleteRunFiles(const WavHead& run, const WavHead& keep) {
    const std::vector<std::string> kept = WorkFileNames(keep);
    for (const std::string& name : WorkFileNames(run)) {
        if (name.empty() || std::find(kept.begin(), kept.end(), name) != kept.end()) continue;
        std::remove(name.c_str());
    }
}

}  // namespace ruvo
