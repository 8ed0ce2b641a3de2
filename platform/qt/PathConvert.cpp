#include "platform/qt/PathConvert.h"

#include <QFile>

namespace ruvo {

// QFile's name codec is the file system's encoding (UTF-8 here, bytes that are not UTF-8
// survive the round trip).
std::string FileNameToEngine(const QString& name) { return QFile::encodeName(name).toStdString(); }

QString FileNameFromEngine(const std::string& name) { return QFile::decodeName(QByteArray::fromStdString(name)); }

std::filesystem::path ToPath(const QString& name) { return std::filesystem::path(FileNameToEngine(name)); }

QString FromPath(const std::filesystem::path& path) { return FileNameFromEngine(path.native()); }

}  // namespace ruvo
