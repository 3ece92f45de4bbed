#include "server/frame/OperatorCommands.h"

#include <QString>

#include "server/dialup/entries/RasTexts.h"
#include "server/frame/AdminCommands.h"

namespace velora::server::frame {

OperatorConsole::CloseAction OperatorCommands::FormClose(Prompter &prompter)
{
    using B = Prompter::Button;
    if (p_.state.ActiveStatus == state::LinkState::Connected && !p_.state.ServiceMode) {
        switch (prompter.ask("Close application ?\nVelora ditect that connection is still online\n"
                             "Do you want to hangup current dial up connection ?\n"
                             "Or Velora will not correctly record the online time",
                             {B::Yes, B::No, B::Cancel})) {
        case B::Yes:
            p_.state.HangupRequested = true;
            p_.dialUp.HangUp();
            return OperatorConsole::CloseAction::EndProgram;
        case B::No:
            return OperatorConsole::CloseAction::EndProgram;
        default:
            return OperatorConsole::CloseAction::KeepOpen;
        }
    }
    if (!p_.state.ServiceMode)
        return prompter.ask("Do you really want to stop Velora ?\nVelora will stop tracking your connection",
                            {B::Ok, B::Cancel}) == B::Ok
                   ? OperatorConsole::CloseAction::EndProgram
                   : OperatorConsole::CloseAction::KeepOpen;
    prompter.ask("You can not close Velora because it runs in service mode\n"
                 "Plese go to Start menu > Velora > dialer server > server manager to stop the service.",
                 {B::Ok});
    return OperatorConsole::CloseAction::KeepOpen;
}

bool OperatorCommands::confirmPastBudget(Prompter &prompter)
{
    const bool budget = p_.policy.budgetReached();
    if (!budget && !p_.policy.volumeReached())
        return true;
    if (prompter.ask(budget ? "Monthly budget reached\nDo you want to dial anyway ?"
                            : "Monthly volume reached\nDo you want to dial anyway ?",
                     {Prompter::Button::Yes, Prompter::Button::No}) != Prompter::Button::Yes)
        return false;
    p_.policy.allowNextDial();
    p_.log.audit("operator", budget ? "dial past the budget" : "dial past the volume cap", "");
    return true;
}

void OperatorCommands::operatorDial(const std::string &selected, Prompter &prompter)
{
    if (!selected.empty() && !confirmPastBudget(prompter))
        return;
    // Written once carried out: a dial the operator called off is no dial.
    if (p_.dialOps.operatorDial(selected, prompter))
        p_.log.audit("operator", "dial", selected);
    p_.policy.forgetAllowance();
}

void OperatorCommands::zanfel(std::size_t position, Prompter &prompter)
{
    if (position < p_.state.EntryNames.size() && !confirmPastBudget(prompter))
        return;
    const std::string entry = position < p_.state.EntryNames.size() ? p_.state.EntryNames[position] : std::string();
    if (p_.dialOps.zanfel(position, prompter))
        p_.log.audit("operator", "dial", entry);
    p_.policy.forgetAllowance();
}

void OperatorCommands::operatorHangup(Prompter &prompter)
{
    if (p_.dialOps.operatorHangup(prompter))
        p_.log.audit("operator", "hangup", "");
}

void OperatorCommands::operatorLock()
{
    p_.log.audit("operator", "lock", "");
    p_.clients.operatorLock();
}

void OperatorCommands::operatorUnlock()
{
    p_.log.audit("operator", "unlock", "");
    p_.clients.operatorUnlock();
}

void OperatorCommands::unlockAll()
{
    p_.log.audit("operator", "unlockall", "");
    p_.clients.unlockAll();
}

OperatorConsole::EntryDetails OperatorCommands::entryDetails(const std::string &entry)
{
    OperatorConsole::EntryDetails d;
    dialup::EntryStore &store = entries();
    d.found = store.getDialParams(entry, d.params) == 0 && store.getEntryProperties(entry, d.props) == 0;
    if (const auto cost = p_.log.database().harga(entry); cost && !cost->empty())
        d.cost = *cost;
    return d;
}

std::optional<std::string> OperatorCommands::saveEntryCredentials(const std::string &entry, const std::string &userName,
                                                            const std::string &password)
{
    if (userName.size() > 256)
        return "(TRASControl) Value assigned to UserName is longer than 256";
    if (password.size() > 256)
        return "(TRASControl) Value assigned to Password is longer than 256";
    dialup::EntryStore &store = entries();
    dialup::DialParams p;
    if (const int rc = store.getDialParams(entry, p))
        return storeError(rc);
    p.userName = userName;
    p.password = password;
    if (const int rc = store.setDialParams(entry, p, false))
        return "(TRASControl) SetDialParams failed: " + dialup::rasErrorText(rc);
    return std::nullopt;
}

std::optional<std::string> OperatorCommands::saveEntryCost(const std::string &entry, const std::string &cost)
{
    const std::string value = cost.empty() ? "0" : cost;
    bool number = false;
    QString::fromStdString(value).toDouble(&number);
    if (!number)
        return "The cost per hour must be a number (for example 3000 or 1.5).";
    if (!p_.log.database().saveHarga(entry, value))
        return std::string("The cost could not be saved: the connection log is not open.");
    emit logChanged();
    return std::nullopt;
}

std::optional<std::string> OperatorCommands::renameEntry(const std::string &oldName, const std::string &newName)
{
    if (p_.state.ActiveEntry == oldName)
        return std::string("You can not rename entry while it is online");
    auto refused = renameEntryWithRows(entries(), p_.log.database(), oldName, newName);
    p_.dialOps.getentry();
    emit logChanged();
    return refused;
}

std::optional<std::string> OperatorCommands::deleteEntry(const std::string &entry, bool withLog)
{
    if (p_.state.ActiveEntry == entry)
        return std::string("You can not delete entry while it is online");
    auto refused = deleteEntryWithRows(entries(), p_.log.database(), entry, withLog);
    p_.dialOps.getentry();
    emit logChanged();
    return refused;
}

std::vector<dialup::EntryField> OperatorCommands::entryFields(const std::string &entry)
{
    return entries().entryFields(entry);
}

std::optional<std::string> OperatorCommands::saveEntryFields(const std::string &entry,
                                                       const std::vector<dialup::EntryField> &fields, bool create)
{
    if (create && !dialup::isValidEntryName(entry))
        return std::string(BadEntryNameText);
    std::string why;
    if (const int rc = entries().saveEntryFields(entry, fields, create, &why))
        return !why.empty() ? why
                            : std::string(create ? "(TRASControl) OSAddEntry failed. " : "(TRASControl) OSEditEntry failed. ") +
                                  dialup::rasErrorText(rc);
    p_.dialOps.getentry();
    return std::nullopt;
}

}  // namespace velora::server::frame
