// ruvo-make-desktop-data TEMPLATE OUTPUT: writes the desktop entry or the AppStream data from
// its template at build time, with the sound formats that the window opens in the one list the
// import keeps: @RUVO_MIME_TYPES@ becomes "audio/x-wav;audio/wav;...;" and
// @RUVO_MEDIATYPES@ one <mediatype> element per type.

#include "import/ImportFormats.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

namespace {

void ReplaceAll(std::string& text, std::string_view placeholder, const std::string& value) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
        text.replace(at, placeholder.size(), value);
    }
}

std::string MediaTypeElements(const std::string& mimeTypes) {
    std::string elements;
    std::istringstream list(mimeTypes);
    for (std::string type; std::getline(list, type, ';');) {
        if (!type.empty()) {
            elements += (elements.empty() ? "" : "\n") + std::string("    <mediatype>") + type + "</mediatype>";
        }
    }
    return elements;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::cerr << "usage: ruvo-make-desktop-data TEMPLATE OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        std::cerr << "ruvo-make-desktop-data: cannot read " << argv[1] << '\n';
        return 1;
    }
    std::string data = text.str();
    const std::string mimeTypes = ruvo::ImportMimeTypes();
    ReplaceAll(data, "@RUVO_MIME_TYPES@", mimeTypes);
    ReplaceAll(data, "@RUVO_MEDIATYPES@", MediaTypeElements(mimeTypes));
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << data;
    out.close();
    if (!out) {
        std::cerr << "ruvo-make-desktop-data: cannot write " << argv[2] << '\n';
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
