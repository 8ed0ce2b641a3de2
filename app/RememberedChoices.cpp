#include "app/RememberedChoices.h"

#include "platform/ISettingsStore.h"

namespace ruvo {
namespace {

constexpr const char* kSection = "Analysis";
constexpr const char* kModeKey = "Mode";
constexpr const char* kKeepKey = "KeepLeadingSilence";
constexpr const char* kMelody = "melody";
constexpr const char* kClassic = "classic";

}  // namespace

RememberedChoices ReadRememberedChoices(const ISettingsStore& settings) {
    RememberedChoices choices;
    if (settings.ReadString(kSection, kModeKey) == std::optional<std::string>(kMelody)) {
        choices.Mode = AnalysisMode::Melody;
    }
    choices.KeepLeadingSilence = settings.ReadInt(kSection, kKeepKey) == std::optional<std::int32_t>(1);
    return choices;
}

void WriteRememberedChoices(ISettingsStore& settings, const RememberedChoices& choices) {
    settings.WriteString(kSection, kModeKey, choices.Mode == AnalysisMode::Melody ? kMelody : kClassic);
    settings.WriteInt(kSection, kKeepKey, choices.KeepLeadingSilence ? 1 : 0);
}

}  // namespace ruvo
