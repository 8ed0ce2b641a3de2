#pragma once
// File names at the boundary between Qt and the engine: the engine takes std::string paths in
// the file system's own encoding (the bytes of the name), Qt shows QString. Every conversion
// goes through here; a name that is not valid UTF-8 survives the round trip (its stray bytes
// are kept in the QString as lone surrogates, shown as unknown characters).

#include <QString>

#include <filesystem>
#include <string>

namespace ruvo {

std::string FileNameToEngine(const QString& name);
QString FileNameFromEngine(const std::string& name);
std::filesystem::path ToPath(const QString& name);
QString FromPath(const std::filesystem::path& path);

}  // namespace ruvo
