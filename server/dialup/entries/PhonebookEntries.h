#pragma once
// The entries of a line whose phonebook is config/phonebook.ini: one section
// per entry. The simulated line and the command line keep their entries so,
// and differ only in what an entry without device keys shows.

#include <string>
#include <utility>
#include <vector>

#include "server/dialup/entries/EntryStore.h"

namespace velora::server::dialup {

// What a section without "device" / "devicetype" keys shows: the value of
// nameKey when it is set, else name.
struct PhonebookDevice {
    std::string name;
    std::string type;
    std::string nameKey;
};

class PhonebookEntries final : public EntryStore {
public:
    PhonebookEntries(std::string path, PhonebookDevice device)
        : path_(std::move(path)), device_(std::move(device))
    {
    }
    const std::string &path() const { return path_; }

    // The section of an entry as the phonebook spells it.
    int locate(const std::string &entry, std::string &section) const;
    // A section's phone and device, with the defaults; the section need not exist.
    EntryProperties properties(const std::string &section) const;

    int enumEntries(std::vector<std::string> &names) const override;
    int getDialParams(const std::string &entry, DialParams &params) const override;
    int setDialParams(const std::string &entry, const DialParams &params, bool removePassword) override;
    int getEntryProperties(const std::string &entry, EntryProperties &props) const override;
    int setEntryProperties(const std::string &entry, const EntryProperties &props) override;
    int renameEntry(const std::string &oldName, const std::string &newName) override;
    int deleteEntry(const std::string &entry) override;
    int createEntry(const std::string &entry, const EntryProperties &props) override;

    // The keys this line's entries hold, as the entry dialog edits them.
    void setFields(std::vector<EntryField> fields) { fields_ = std::move(fields); }
    std::vector<EntryField> entryFields(const std::string &entry) const override;
    int saveEntryFields(const std::string &entry, const std::vector<EntryField> &fields, bool create,
                        std::string *why) override;

private:
    int writeKeys(const std::string &section, const std::vector<std::pair<std::string, std::string>> &keys);
    std::string path_;
    PhonebookDevice device_;
    std::vector<EntryField> fields_;
};

}  // namespace velora::server::dialup
