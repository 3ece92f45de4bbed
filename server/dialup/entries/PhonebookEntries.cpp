#include "server/dialup/entries/PhonebookEntries.h"

#include "common/IniProfile.h"
#include "server/dialup/entries/PhonebookFile.h"
#include "server/dialup/entries/RasTexts.h"

namespace velora::server::dialup {

namespace {
bool hasLineBreak(const std::string &s)
{
    return s.find_first_of("\r\n") != std::string::npos;
}
}  // namespace

int PhonebookEntries::locate(const std::string &entry, std::string &section) const
{
    const auto content = phonebook::load(path_);
    if (!content)
        return RasError::CannotOpenPhonebook;
    const auto found = isValidEntryName(entry) ? phonebook::findSection(*content, entry)
                                               : std::nullopt;
    if (!found)
        return RasError::CannotFindPhonebookEntry;
    section = *found;
    return 0;
}

int PhonebookEntries::enumEntries(std::vector<std::string> &names) const
{
    names.clear();
    const auto content = phonebook::load(path_);
    if (!content)
        return RasError::CannotOpenPhonebook;
    // A hand-edited section whose name could not travel or be dialled is left out.
    for (std::string &name : phonebook::sectionNames(*content))
        if (isValidEntryName(name))
            names.push_back(std::move(name));
    return 0;
}

int PhonebookEntries::getDialParams(const std::string &entry, DialParams &params) const
{
    std::string section;
    if (const int rc = locate(entry, section))
        return rc;
    const IniProfile ini(path_);
    params = {};
    params.entryName = section;
    params.phoneNumber = ini.readString(section, "phone", "");
    params.callbackNumber = ini.readString(section, "callback", "");
    params.userName = ini.readString(section, "user", "");
    params.password = ini.readString(section, "password", "");
    params.domain = ini.readString(section, "domain", "");
    params.passwordSaved = !params.password.empty();
    return 0;
}

EntryProperties PhonebookEntries::properties(const std::string &section) const
{
    const IniProfile ini(path_);
    const std::string fallback =
        device_.nameKey.empty() ? device_.name : ini.readString(section, device_.nameKey, device_.name);
    EntryProperties props;
    props.phoneNumber = ini.readString(section, "phone", "");
    props.deviceName = ini.readString(section, "device", fallback);
    props.deviceType = ini.readString(section, "devicetype", device_.type);
    return props;
}

int PhonebookEntries::getEntryProperties(const std::string &entry, EntryProperties &props) const
{
    std::string section;
    if (const int rc = locate(entry, section))
        return rc;
    props = properties(section);
    return 0;
}

int PhonebookEntries::writeKeys(const std::string &section,
                             const std::vector<std::pair<std::string, std::string>> &keys)
{
    for (const auto &kv : keys)
        if (hasLineBreak(kv.second))
            return RasError::InvalidParameter;
    const IniProfile ini(path_);
    for (const auto &[key, value] : keys)
        if (!ini.writeString(section, key, phonebook::quoteValue(value)))
            return RasError::CannotWritePhonebook;
    return 0;
}

int PhonebookEntries::setDialParams(const std::string &entry, const DialParams &params,
                                 bool removePassword)
{
    std::string section;
    if (const int rc = locate(entry, section))
        return rc;
    std::vector<std::pair<std::string, std::string>> keys{
        {"user", params.userName},
        {"password", removePassword ? std::string() : params.password},
        {"callback", params.callbackNumber},
        {"domain", params.domain},
    };
    // An empty number in the dial parameters means "the entry's own number".
    if (!params.phoneNumber.empty())
        keys.emplace_back("phone", params.phoneNumber);
    return writeKeys(section, keys);
}

int PhonebookEntries::setEntryProperties(const std::string &entry, const EntryProperties &props)
{
    std::string section;
    if (const int rc = locate(entry, section))
        return rc;
    return writeKeys(section, {{"phone", props.phoneNumber},
                               {"device", props.deviceName},
                               {"devicetype", props.deviceType}});
}

int PhonebookEntries::renameEntry(const std::string &oldName, const std::string &newName)
{
    if (!isValidEntryName(newName))
        return RasError::InvalidParameter;
    std::string section;
    if (const int rc = locate(oldName, section))
        return rc;
    const auto content = phonebook::load(path_);
    if (!content)
        return RasError::CannotOpenPhonebook;
    if (!phonebook::equalsNoCase(section, newName) && phonebook::findSection(*content, newName))
        return RasError::AlreadyExists;
    if (!phonebook::save(path_, phonebook::renameSection(*content, section, newName)))
        return RasError::CannotWritePhonebook;
    return 0;
}

int PhonebookEntries::deleteEntry(const std::string &entry)
{
    std::string section;
    if (const int rc = locate(entry, section))
        return rc;
    const auto content = phonebook::load(path_);
    if (!content)
        return RasError::CannotOpenPhonebook;
    if (!phonebook::save(path_, phonebook::removeSection(*content, section)))
        return RasError::CannotWritePhonebook;
    return 0;
}

int PhonebookEntries::createEntry(const std::string &entry, const EntryProperties &props)
{
    if (!isValidEntryName(entry) || hasLineBreak(props.phoneNumber) ||
        hasLineBreak(props.deviceName) || hasLineBreak(props.deviceType))
        return RasError::InvalidParameter;
    const auto content = phonebook::load(path_);
    if (!content)
        return RasError::CannotOpenPhonebook;
    if (phonebook::findSection(*content, entry))
        return RasError::AlreadyExists;
    std::vector<std::pair<std::string, std::string>> keys{{"phone", props.phoneNumber}};
    if (!props.deviceName.empty())
        keys.emplace_back("device", props.deviceName);
    if (!props.deviceType.empty())
        keys.emplace_back("devicetype", props.deviceType);
    if (!phonebook::save(path_, phonebook::appendSection(*content, entry, keys)))
        return RasError::CannotWritePhonebook;
    return 0;
}

std::vector<EntryField> PhonebookEntries::entryFields(const std::string &entry) const
{
    if (fields_.empty())
        return EntryStore::entryFields(entry);
    std::vector<EntryField> out = fields_;
    std::string section;
    if (entry.empty() || locate(entry, section) != 0)
        return out;
    const IniProfile ini(path_);
    for (EntryField &f : out)
        f.value = ini.readString(section, f.key, "");
    return out;
}

int PhonebookEntries::saveEntryFields(const std::string &entry, const std::vector<EntryField> &fields, bool create,
                                      std::string *why)
{
    if (fields_.empty())
        return EntryStore::saveEntryFields(entry, fields, create, why);
    // Only the keys this line knows, checked as it reads them.
    std::vector<EntryField> known;
    for (const EntryField &field : fields_)
        for (const EntryField &f : fields)
            if (f.key == field.key) {
                EntryField k = field;
                k.value = f.value;
                known.push_back(k);
            }
    if (const std::string wrong = checkEntryFields(known); !wrong.empty()) {
        if (why)
            *why = wrong;
        return RasError::InvalidParameter;
    }
    std::vector<std::pair<std::string, std::string>> keys;
    for (const EntryField &f : known)
        if (!create || !f.value.empty())
            keys.emplace_back(f.key, f.value);
    if (!create) {
        std::string section;
        if (const int rc = locate(entry, section))
            return rc;
        return writeKeys(section, keys);
    }
    if (!isValidEntryName(entry))
        return RasError::InvalidParameter;
    const auto content = phonebook::load(path_);
    if (!content)
        return RasError::CannotOpenPhonebook;
    if (phonebook::findSection(*content, entry))
        return RasError::AlreadyExists;
    return phonebook::save(path_, phonebook::appendSection(*content, entry, keys)) ? 0
                                                                                   : RasError::CannotWritePhonebook;
}

}  // namespace velora::server::dialup
