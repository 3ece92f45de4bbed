#pragma once
// The server's one place where its byte strings become shown text. Three
// kinds share std::string and must not be mixed up:
// - wire and file texts (entry names, status texts, INI values): Windows-1252;
// - local paths (BaseDir and the like): the system's 8-bit encoding;
// - messages from the system and our own (error strings): UTF-8.

#include <QLocale>
#include <QString>
#include <string>

#include "common/NumberFormat.h"
#include "common/TextCodec.h"

namespace velora::server::state {

inline QString shownText(const std::string &cp1252)
{
    const std::string utf8 = cp1252ToUtf8(cp1252);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

inline QString shownPath(const std::string &path)
{
    return QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size()));
}

inline QString shownMessage(const std::string &utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// What a person typed, ready for the wire or a file.
inline std::string typedText(const QString &typed) { return typedToWire(typed.toStdString()); }

// The system locale's separators, as wire and file texts.
inline NumberSeparators localeSeparators()
{
    const QLocale locale = QLocale::system();
    return {typedText(locale.decimalPoint()), typedText(locale.groupSeparator())};
}

}  // namespace velora::server::state
