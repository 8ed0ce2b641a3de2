#pragma once
// Where the help pages are: beside the program in a build tree, in share/ruvo/help of the
// prefix the program is installed into.

#include <filesystem>

namespace ruvo {

// The first page of the help ("index.htm") for the program in `programDir`: beside it, in its
// help/ folder, or in ../share/ruvo/help; the page beside the program when none exists.
std::filesystem::path HelpIndexPage(const std::filesystem::path& programDir);

}  // namespace ruvo
