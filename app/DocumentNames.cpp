#include "app/DocumentNames.h"

#include <filesystem>

namespace ruvo {

const std::string& RecordingNames::NameOf(const std::string& workFile) {
    auto found = m_names.find(workFile);
    if (found == m_names.end()) {
        found = m_names.emplace(workFile, "Recording " + std::to_string(m_names.size() + 1)).first;
    }
    return found->second;
}

std::string SuggestedSaveName(const std::string& shownName, const std::string& lastChosen,
                              const std::string& lastChosenFor, const std::string& extension,
                              const std::string& fallbackFolder) {
    if (!lastChosen.empty() && lastChosenFor == shownName) {
        return lastChosen;
    }
    namespace fs = std::filesystem;
    const fs::path shown(shownName);
    fs::path folder = fs::path(lastChosen).parent_path();
    if (folder.empty()) {
        folder = shown.parent_path();
    }
    if (folder.empty()) {
        folder = fallbackFolder;
    }
    return (folder / shown.stem()).string() + extension;
}

}  // namespace ruvo
