#include "app/RememberedChoices.h"

#include "platform/ISettingsStore.h"

namespace ruvo {
namespace {

constexpr const char* kSection = "Analysis";
constexpr const char* kModeKey = "Mode";
constexpr const char* kKeepKey = "KeepLeadingSilence";
constexpr const char* kMelody = "melody";
constexpr const char* kClassic = "classic";
constexpr const char* kChords = "chords";

}  // namespace

RememberedChoices ReadRememberedChoices(const ISettingsStore& settings) {
    RememberedChoices choices;
    const std::optional<std::string> mode = settings.ReadString(kSection, kModeKey);
    if (mode == std::optional<std::string>(kMelody)) {
        choices.Mode = AnalysisMode::Melody;
    } else if (mode == std::optional<std::string>(kChords)) {
        choices.Mode = AnalysisMode::Chords;
    }
    choices.KeepLeadingSilence = settings.ReadInt(kSection, kKeepKey) == std::optional<std::int32_t>(1);
    return choices;
}

void WriteRememberedChoices(ISettingsStore& settings, const RememberedChoices& choices) {
    settings.WriteString(kSection, kModeKey,
                         choices.Mode == AnalysisMode::Melody   ? kMelody
                         : choices.Mode == AnalysisMode::Chords ? kChords
                                                                : kClassic);
    settings.WriteInt(kSection, kKeepKey, choices.KeepLeadingSilence ? 1 : 0);
}

}  // namespace ruvo
