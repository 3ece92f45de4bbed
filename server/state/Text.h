#pragma once
// The server's one place where its byte strings become shown text. Three
// kinds share std::string and must not be mixed up:
// - wire and file texts (entry names, status texts, INI values): Windows-1252;
// - local paths (BaseDir and the like): the system's 8-bit encoding;
// - messages from the system and our own (error strings): UTF-8.

#include <QLocale>
#include <QString>
#include <cstdio>
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

// A line for the terminal, in its encoding: control characters (C0, DEL and
// C1) are shown as \xNN, so a name cannot move the cursor, clear the screen
// or rewrite the line it stands in.
inline std::string terminalText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(u));
            out += QLatin1String(hex);
        } else {
            out += c;
        }
    }
    return out.toLocal8Bit().toStdString();
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
