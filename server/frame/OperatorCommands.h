#pragma once
// The operator's commands as the window gives them: dial (past a spent
// budget only when confirmed), hang-up and the lock with their questions,
// closing, and the editors of the line's entries with their cost and log
// rows. Each command carried out leaves its audit row; one the operator
// called off leaves none.

#include <QObject>
#include <optional>
#include <string>
#include <vector>

#include "common/Prompter.h"
#include "server/clientservice/ClientService.h"
#include "server/dialup/engine/DialupOperations.h"
#include "server/dialup/engine/TDialUp.h"
#include "server/frame/ConnectionLog.h"
#include "server/frame/LinePolicy.h"
#include "server/frame/OperatorConsole.h"
#include "server/state/ServerState.h"

namespace velora::server::frame {

class OperatorCommands : public QObject {
    Q_OBJECT
public:
    struct Parts {
        state::ServerState &state;
        dialup::TDialUp &dialUp;
        dialup::DialupOperations &dialOps;
        LinePolicy &policy;
        clientservice::ClientService &clients;
        ConnectionLog &log;
    };
    explicit OperatorCommands(Parts parts, QObject *parent = nullptr) : QObject(parent), p_(parts) {}

    void operatorDial(const std::string &selected, Prompter &prompter);
    void zanfel(std::size_t position, Prompter &prompter);
    void operatorHangup(Prompter &prompter);
    void operatorLock();
    void operatorUnlock();
    void unlockAll();
    OperatorConsole::CloseAction FormClose(Prompter &prompter);

    OperatorConsole::EntryDetails entryDetails(const std::string &entry);
    std::optional<std::string> saveEntryCredentials(const std::string &entry, const std::string &userName,
                                                    const std::string &password);
    std::optional<std::string> saveEntryCost(const std::string &entry, const std::string &cost);
    std::optional<std::string> renameEntry(const std::string &oldName, const std::string &newName);
    std::optional<std::string> deleteEntry(const std::string &entry, bool withLog);
    std::vector<dialup::EntryField> entryFields(const std::string &entry);
    std::optional<std::string> saveEntryFields(const std::string &entry, const std::vector<dialup::EntryField> &fields,
                                               bool create);

signals:
    // An entry's cost or rows changed: the viewer shows them again.
    void logChanged();

private:
    // A dial past a spent budget only after the operator confirmed it.
    bool confirmPastBudget(Prompter &prompter);
    dialup::EntryStore &entries() { return p_.dialUp.driver().entries(); }

    Parts p_;
};

}  // namespace velora::server::frame
