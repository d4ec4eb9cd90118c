#pragma once
// Texts between the core's std::string (UTF-8 messages, file names as the file system
// stores them) and Qt's QString.

#include "support/Translate.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QUrl>
#include <string>

namespace qv {

inline QString ToQ(const std::string& S) {
    return QString::fromStdString(S);
}

inline QString TrQ(const char* MsgId) {
    return QString::fromStdString(Tr(MsgId));
}

// A path or name as the user reads it, decoded as the file system's names are.
inline QString PathText(const std::string& Path) {
    return QFile::decodeName(QByteArray::fromStdString(Path));
}

// The bytes of a path the user chose or typed, as the file system takes them.
inline std::string PathBytes(const QString& Path) {
    return QFile::encodeName(Path).toStdString();
}

// A path as a file URL.
inline QUrl FileUrl(const std::string& Path) {
    return QUrl::fromLocalFile(PathText(Path));
}

} // namespace qv
