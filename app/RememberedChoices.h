#pragma once
// RememberedChoices: the Setting menu's choices that outlast a run, the analysis mode and
// "Keep leading silence", kept in the settings file's "Analysis" section and restored at the
// next start (the tempo and the other settings stay per run). Plain values; UI thread.

#include "engine/WavHead.h"

namespace ruvo {

class ISettingsStore;

struct RememberedChoices {
    AnalysisMode Mode = AnalysisMode::Classic;
    bool KeepLeadingSilence = false;
};

// What the settings hold; a value missing or not one written here gives the default.
RememberedChoices ReadRememberedChoices(const ISettingsStore& settings);
void WriteRememberedChoices(ISettingsStore& settings, const RememberedChoices& choices);

}  // namespace ruvo
