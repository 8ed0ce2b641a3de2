#include "app/HelpPages.h"

#include <system_error>

namespace ruvo {

std::filesystem::path HelpIndexPage(const std::filesystem::path& programDir) {
    const std::filesystem::path beside = programDir / "index.htm";
    // Installed, the program is in PREFIX/bin and its pages in PREFIX/share/ruvo/help; the
    // prefix is found from the program's own place, so a staged or moved tree works too.
    for (const std::filesystem::path& candidate :
         {beside, programDir / "help" / "index.htm",
          programDir.parent_path() / "share" / "ruvo" / "help" / "index.htm"}) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) {
            return candidate;
        }
    }
    return beside;
}

}  // namespace ruvo
