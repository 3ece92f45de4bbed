#pragma once
// A line's entries and what is stored with each: the dial parameters and the
// properties. Texts are Windows-1252 bytes; every result code is 0 or an
// error code of RasTexts.h.

#include <string>
#include <vector>

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

// One value the entry dialog edits: the store's own key, a label for the
// person, and how it is checked.
struct EntryField {
    enum class Kind { Text, Number, Address, Interface, Command, Device };
    std::string key;
    std::string label;
    std::string value;
    Kind kind = Kind::Text;
    bool secret = false;
    bool required = false;
};

// The first field whose value the store cannot take, in words (UTF-8);
// empty when every value is fine.
std::string checkEntryFields(const std::vector<EntryField> &fields);

// Entry names travel in the wire's entry list and are INI section names, so a
// name may hold neither separator bytes nor brackets nor control bytes, and
// has no surrounding blanks.
bool isValidEntryName(const std::string &name);

// Where a line keeps its entries (phonebook.ini, pppd's peers folder). The
// line dials what the store holds; the engine lists and reads entries here.
class EntryStore {
public:
    virtual ~EntryStore() = default;

    // Entry names in the store's order; on an error `names` is left empty.
    virtual int enumEntries(std::vector<std::string> &names) const = 0;
    virtual int getDialParams(const std::string &entry, DialParams &params) const = 0;
    // Stores user name, password (removed when asked), phone number, callback
    // number and domain for the entry.
    virtual int setDialParams(const std::string &entry, const DialParams &params,
                              bool removePassword) = 0;
    virtual int getEntryProperties(const std::string &entry, EntryProperties &props) const = 0;
    virtual int setEntryProperties(const std::string &entry, const EntryProperties &props) = 0;
    virtual int renameEntry(const std::string &oldName, const std::string &newName) = 0;
    virtual int deleteEntry(const std::string &entry) = 0;
    virtual int createEntry(const std::string &entry, const EntryProperties &props) = 0;

    // What the entry dialog edits, with the values stored for `entry` (the
    // defaults for a new one when it is empty). By default the properties.
    virtual std::vector<EntryField> entryFields(const std::string &entry) const;
    // Checks and writes them, creating the entry when asked; `why` names a
    // wrong value.
    virtual int saveEntryFields(const std::string &entry, const std::vector<EntryField> &fields, bool create,
                                std::string *why);
};

}  // namespace velora::server::dialup
