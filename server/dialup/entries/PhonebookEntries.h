#pragma once
// The entries of a line whose phonebook is config/phonebook.ini: one section
// per entry. The simulated line and the command line keep their entries so.

#include <string>
#include <utility>
#include <vector>

#include "server/dialup/entries/EntryStore.h"

namespace velora::server::dialup {

class PhonebookEntries {
public:
    explicit PhonebookEntries(std::string path) : path_(std::move(path)) {}
    const std::string &path() const { return path_; }

    // The section of an entry as the phonebook spells it.
    int locate(const std::string &entry, std::string &section) const;
    int enumEntries(std::vector<std::string> &names) const;
    int getDialParams(const std::string &entry, DialParams &params) const;
    int setDialParams(const std::string &entry, const DialParams &params, bool removePassword);
    int setEntryProperties(const std::string &entry, const EntryProperties &props);
    int renameEntry(const std::string &oldName, const std::string &newName);
    int deleteEntry(const std::string &entry);
    int createEntry(const std::string &entry, const EntryProperties &props);

private:
    int writeKeys(const std::string &section, const std::vector<std::pair<std::string, std::string>> &keys);
    std::string path_;
};

}  // namespace velora::server::dialup
