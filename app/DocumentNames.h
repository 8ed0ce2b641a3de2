#pragma once
// The names the window shows and offers for a document: "Recording 1", "Recording 2", ... for
// the player's recordings in the order this run made them (their work files' paths mean
// nothing to the user), and the name a save dialog suggests. Plain values; UI thread.

#include <map>
#include <string>

namespace ruvo {

class RecordingNames {
public:
    // "Recording N" for the recording in `workFile`; the same name every time for one file.
    const std::string& NameOf(const std::string& workFile);

private:
    std::map<std::string, std::string> m_names;
};

// The file a save dialog offers for the document shown as `shownName` (a path, or a recording's
// name): the name last chosen when it was chosen for the same document; else the document's
// name with `extension` (".mid"), in the folder last saved into, or the document's own folder,
// or `fallbackFolder` for a recording that has none.
std::string SuggestedSaveName(const std::string& shownName, const std::string& lastChosen,
                              const std::string& lastChosenFor, const std::string& extension,
                              const std::string& fallbackFolder);

}  // namespace ruvo
