#include "server/dialup/entries/RasTexts.h"
#include "server/frame/AdminCommands.h"
#include "server/frame/ServerCore.h"
#include "server/state/Text.h"

// The operator's editors: entries of the line's store with their log, cost
// and SMTP rows, and the user store read again when its file changes.

namespace velora::server::frame {

OperatorConsole::EntryDetails ServerCore::entryDetails(const std::string &entry)
{
    EntryDetails d;
    dialup::EntryStore &store = platform_.line->entries();
    d.found = store.getDialParams(entry, d.params) == 0 && store.getEntryProperties(entry, d.props) == 0;
    if (const auto cost = log_.harga(entry); cost && !cost->empty())
        d.cost = *cost;
    return d;
}

std::optional<std::string> ServerCore::saveEntryCredentials(const std::string &entry, const std::string &userName,
                                                            const std::string &password)
{
    if (userName.size() > 256)
        return "(TRASControl) Value assigned to UserName is longer than 256";
    if (password.size() > 256)
        return "(TRASControl) Value assigned to Password is longer than 256";
    dialup::EntryStore &store = platform_.line->entries();
    dialup::DialParams p;
    if (const int rc = store.getDialParams(entry, p))
        return storeError(rc);
    p.userName = userName;
    p.password = password;
    if (const int rc = store.setDialParams(entry, p, false))
        return "(TRASControl) SetDialParams failed: " + dialup::rasErrorText(rc);
    return std::nullopt;
}

std::optional<std::string> ServerCore::saveEntryCost(const std::string &entry, const std::string &cost)
{
    const std::string value = cost.empty() ? "0" : cost;
    bool number = false;
    QString::fromStdString(value).toDouble(&number);
    if (!number)
        return "The cost per hour must be a number (for example 3000 or 1.5).";
    if (!log_.saveHarga(entry, value))
        return std::string("The cost could not be saved: the connection log is not open.");
    emit logChanged();
    return std::nullopt;
}

std::optional<std::string> ServerCore::renameEntry(const std::string &oldName, const std::string &newName)
{
    if (state_.ActiveEntry == oldName)
        return std::string("You can not rename entry while it is online");
    auto refused = renameEntryWithRows(platform_.line->entries(), log_, oldName, newName);
    dialOps_.getentry();
    emit logChanged();
    return refused;
}

std::optional<std::string> ServerCore::deleteEntry(const std::string &entry, bool withLog)
{
    if (state_.ActiveEntry == entry)
        return std::string("You can not delete entry while it is online");
    auto refused = deleteEntryWithRows(platform_.line->entries(), log_, entry, withLog);
    dialOps_.getentry();
    emit logChanged();
    return refused;
}

std::vector<dialup::EntryField> ServerCore::entryFields(const std::string &entry)
{
    return platform_.line->entries().entryFields(entry);
}

std::optional<std::string> ServerCore::saveEntryFields(const std::string &entry,
                                                       const std::vector<dialup::EntryField> &fields, bool create)
{
    if (create && !dialup::isValidEntryName(entry))
        return std::string(BadEntryNameText);
    std::string why;
    if (const int rc = platform_.line->entries().saveEntryFields(entry, fields, create, &why))
        return !why.empty() ? why
                            : std::string(create ? "(TRASControl) OSAddEntry failed. " : "(TRASControl) OSEditEntry failed. ") +
                                  dialup::rasErrorText(rc);
    dialOps_.getentry();
    return std::nullopt;
}

void ServerCore::watchUsers()
{
    const std::string phonebook = options_.baseDir + "/config/phonebook.ini";
    storeWatch_.watch(users_.path());
    storeWatch_.watch(phonebook);
    connect(&storeWatch_, &StoreFileWatch::changed, this, &ServerCore::storeFileChanged, Qt::UniqueConnection);
}

void ServerCore::storeFileChanged(const std::string &path)
{
    // The phonebook edited beside the server: the entry list follows.
    if (path != users_.path()) {
        dialOps_.getentry();
        return;
    }
    std::string why;
    if (users_.updateuserlist(&why))
        emit usersChanged();
}

}  // namespace velora::server::frame
