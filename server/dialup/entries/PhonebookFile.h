#pragma once
// Whole-section edits of an INI file (list, create, rename, remove), with the
// same line rules as velora::IniProfile, which does the per-key reads and
// writes of the same file.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velora::server::dialup::phonebook {

// The file's bytes; an empty text for a missing file, nothing when the file
// exists but cannot be read.
std::optional<std::string> load(const std::string &path);

// Section names in file order; a name that repeats (ignoring ASCII case) is
// listed once, at its first place, as readers only see that one.
std::vector<std::string> sectionNames(std::string_view content);

// The name as the file spells it, if a section of that name (any case) exists.
std::optional<std::string> findSection(std::string_view content, std::string_view name);

// Every section of the name with its lines removed.
std::string removeSection(std::string_view content, std::string_view name);
// Every header of the old name given the new name; the lines under it stay.
std::string renameSection(std::string_view content, std::string_view oldName,
                          std::string_view newName);
// A new section with the given key=value lines at the end.
std::string appendSection(std::string_view content, std::string_view name,
                          const std::vector<std::pair<std::string, std::string>> &keys);

// A value as IniProfile will read it back: quoted when blanks around it or
// quotes at its ends would otherwise be lost.
std::string quoteValue(std::string_view value);

// Writes beside the file and renames it over, keeping the file's mode; a new
// file is private to its owner (it may hold passwords).
bool save(const std::string &path, std::string_view content, std::string *error = nullptr);

bool equalsNoCase(std::string_view a, std::string_view b);

}  // namespace velora::server::dialup::phonebook
