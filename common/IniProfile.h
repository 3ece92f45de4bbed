#pragma once
// A profile (INI) file read and written the way profile-string functions do:
// opened by path at each call, nothing kept open, defaults for anything missing.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velora {

class IniProfile {
public:
    explicit IniProfile(std::string path);

    const std::string &path() const { return path_; }

    // The file as it is now, read once: reads from the copy never touch the
    // disk again (one moment's settings read in one go). Writes still go to
    // the file and are not seen by the copy.
    IniProfile snapshot() const;

    // Section and key names compare without regard to ASCII case; the value
    // is trimmed of blanks and of one pair of surrounding quotes.
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // Non-numeric or out-of-range text reads as the default.
    int readInteger(std::string_view section, std::string_view key, int defaultValue) const;
    // Strictly: a whole decimal from min to max, else the default and a line
    // for the operator in problems (a missing or empty value is no problem).
    int readNumber(std::string_view section, std::string_view key, int min, int max, int defaultValue,
                   std::vector<std::string> *problems = nullptr) const;
    bool hasKey(std::string_view section, std::string_view key) const;

    // Replaces the key's line, or adds the key at the end of its section, or
    // adds the section at the end of the file; every other line keeps its bytes.
    // The file is replaced atomically. Returns false with a reason on failure.
    bool writeString(std::string_view section, std::string_view key, std::string_view value,
                     std::string *error = nullptr) const;

private:
    std::optional<std::string> load() const;
    std::string path_;
    std::shared_ptr<const std::optional<std::string>> held_;
};

}  // namespace velora
