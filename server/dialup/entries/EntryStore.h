#pragma once
// A line's entries and what is stored with each: the dial parameters and the
// properties. Texts are Windows-1252 bytes.

#include <string>

namespace velora::server::dialup {

struct DialParams {
    std::string entryName;
    std::string phoneNumber;
    std::string callbackNumber;
    std::string userName;
    std::string password;
    std::string domain;
    bool passwordSaved = false;  // filled on reading; ignored on writing
};

struct EntryProperties {
    std::string phoneNumber;
    std::string deviceName;
    std::string deviceType;
};

// Entry names travel in the wire's entry list and are INI section names, so a
// name may hold neither separator bytes nor brackets nor control bytes, and
// has no surrounding blanks.
bool isValidEntryName(const std::string &name);

}  // namespace velora::server::dialup
