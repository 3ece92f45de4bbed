#pragma once
// The one place where the client turns wire and file texts (Windows-1252
// bytes) into texts for Qt and back. Paths are not wire texts: they stay
// QString and go to the file system in the local 8-bit encoding.

#include <string>

#include <QString>

namespace velora::client::core {

// A text from the server or a client file, as a person sees it.
QString shownText(const std::string &cp1252);
// What a person typed, ready for the wire or a file: separators, CR and LF removed.
std::string wireText(const QString &typed);
// A typed secret that travels enciphered: only CR and LF go, so that a
// password may hold any character Windows-1252 has.
std::string secretText(const QString &typed);

}  // namespace velora::client::core
