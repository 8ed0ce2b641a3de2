#pragma once
// File names at the boundary between Qt and the engine: the engine takes std::string paths in
// the file system's own encoding, Qt shows QString. Every conversion goes through here.

#include <QString>

#include <filesystem>
#include <string>

namespace ruvo {

std::string FileNameToEngine(const QString& name);
QString FileNameFromEngine(const std::string& name);
std::filesystem::path ToPath(const QString& name);
QString FromPath(const std::filesystem::path& path);

}  // namespace ruvo
