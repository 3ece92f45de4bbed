#include "server/dialup/engine/DialupOperations.h"

#include <utility>

#include "common/WireCodec.h"
#include "server/dialup/entries/PhonebookFile.h"

namespace velora::server::dialup {

DialupOperations::DialupOperations(state::ServerState &state, TDialUp &engine,
                                   std::function<state::DialSettings()> readDialSettings, QObject *parent)
    : QObject(parent), state_(state), engine_(engine), readDialSettings_(std::move(readDialSettings))
{
    connect(&engine_, &TDialUp::OnEntryGet, this,
            [this](const std::string &name) { state_.EntryNames.push_back(name); });
    connect(&engine_, &TDialUp::OnDialing, this, [this] { state_.DialEventText = "Dialing..."; });
    connect(&engine_, &TDialUp::OnError, this, [this](int, const std::string &) {
        state_.DialEventText = "Error";
        forgetDial();
        if (policy_)
            policy_->dialFailed();
    });
    connect(&engine_, &TDialUp::OnAsyncEvent, this, &DialupOperations::onAsyncEvent);
    connect(&engine_, &TDialUp::OnActiveConnection, this, &DialupOperations::onActiveConnection);
}

void DialupOperations::getentry()
{
    state_.EntryNames.clear();
    state_.EntryListText.clear();
    engine_.GetEntries();
    for (const auto &name : state_.EntryNames) {
        state_.EntryListText += name;
        state_.EntryListText += wire::ListSep;
    }
    emit entriesChanged(state_.EntryNames);
}

void DialupOperations::setDialEntry(const std::string &entry) { engine_.setEntry(entry); }

void DialupOperations::executedial(const std::string &entry, const std::string &dialer)
{
    // The one place a dial sets the engine's entry (refused or not, as before).
    engine_.setEntry(entry);
    state_.dialSettings = readDialSettings_ ? readDialSettings_() : state::DialSettings{};
    if (std::string refusal; policy_ && !policy_->mayDial(entry, &refusal)) {
        refuse(refusal);
        return;
    }
    repeatedRefusal_.clear();
    bool failed = false;
    if (state_.dialSettings.ics && sharing_) {
        std::string why;
        failed = !sharing_->switchTo(entry, &why);
    }
    if (!failed) {
        emit dialStarting(entry);
        // An entry the line does not know ends in OnError: "Error".
        state_.DialedEntry = entry;
        state_.DialerName = dialer;
        engine_.Dial();
        if (policy_)
            policy_->dialing(entry, dialer);
    }
    if (failed)
        refuse("No matching dialup entry found");
    state_.StatusChanged = 1;
}

void DialupOperations::refuse(const std::string &text)
{
    // The same answer again would leave the status record as it was, and no
    // client would see its dial answered: "READY" for one tick, then it.
    if (state_.StatusText == text) {
        state_.StatusText = "READY";
        repeatedRefusal_ = text;
    } else {
        state_.StatusText = text;
    }
    state_.StatusChanged = 1;
}

void DialupOperations::statusPushed()
{
    if (repeatedRefusal_.empty())
        return;
    state_.StatusText = std::exchange(repeatedRefusal_, std::string());
    state_.StatusChanged = 1;
}

void DialupOperations::executehangup()
{
    state_.HangupRequested = true;
    forgetDial();
    if (policy_)
        policy_->hangingUp();
    if (state_.ActiveStatus != state::LinkState::None)
        engine_.GetActiveConnections();
    else
        engine_.HangUp();
    state_.StatusText = "READY";
    repeatedRefusal_.clear();
    state_.HangupRequested = false;
    state_.DialEventText.clear();
    state_.StatusChanged = 1;
}

bool DialupOperations::operatorDial(const std::string &selected, Prompter &prompter)
{
    if (selected.empty()) {
        prompter.tell(Prompter::Kind::Information, "You have not choose an entry yet");
        return false;
    }
    if (state_.LockStatus == state::LineLock::Locked &&
        prompter.ask("Velora has detected that connection is currently locked\nDo you want to force dialing anyway ?",
                     {Prompter::Button::Yes, Prompter::Button::No}) != Prompter::Button::Yes)
        return false;
    executedial(selected, "Local");
    return true;
}

bool DialupOperations::zanfel(std::size_t position, Prompter &prompter)
{
    if (position >= state_.EntryNames.size())
        return false;
    // Copied before asking: the list may be enumerated again while the box is open.
    const std::string entry = state_.EntryNames[position];
    if (state_.LockStatus == state::LineLock::Locked &&
        prompter.ask("Velora has detected that connection is currently locked\nDo you want to force dialing anyway ?",
                     {Prompter::Button::Yes, Prompter::Button::No}) != Prompter::Button::Yes)
        return false;
    executedial(entry, "Local");
    return true;
}

bool DialupOperations::operatorHangup(Prompter &prompter)
{
    if (state_.LockStatus == state::LineLock::Locked &&
        prompter.ask("Velora has detected that connection is currently locked\nDo you want to force hang up anyway ?",
                     {Prompter::Button::Yes, Prompter::Button::No}) != Prompter::Button::Yes)
        return false;
    state_.HangupRequested = true;
    executehangup();
    return true;
}

void DialupOperations::enumerateActive()
{
    state_.ActiveStatus = state::LinkState::None;
    state_.ActiveEntry = "--";
    state_.ActiveDevice = "--";
    activeHandle_ = 0;
    engine_.GetActiveConnections();
}

void DialupOperations::forgetDial()
{
    state_.DialedEntry.clear();
    state_.DialerName.clear();
}

std::string DialupOperations::takeDialer(const std::string &entry)
{
    // A link that no dial of ours asked for (raised by another program, or
    // of another entry) has no known dialer.
    const bool ours = !state_.DialerName.empty() && phonebook::equalsNoCase(state_.DialedEntry, entry);
    std::string dialer = ours ? state_.DialerName : std::string("Local");
    forgetDial();
    return dialer;
}

std::uint32_t DialupOperations::activeSpeed() const
{
    std::uint32_t bps = 0;
    if (activeHandle_ == 0 || engine_.driver().connectionSpeed(activeHandle_, bps) != 0)
        return 0;
    return bps;
}

void DialupOperations::onAsyncEvent(int, const std::string &text, int errorCode)
{
    state_.StatusText = text;
    if (errorCode != 0) {
        state_.DialEventText = "Error press hangup button";
        forgetDial();
        if (policy_)
            policy_->dialFailed();
    }
}

void DialupOperations::onActiveConnection(ConnHandle handle, const std::string &device, const std::string &,
                                          const std::string &entry, const std::string &statusText,
                                          const ConnectionInfo &)
{
    state_.ActiveStatus = state::linkStateFromText(statusText);
    state_.ActiveEntry = entry;
    state_.ActiveDevice = device;
    activeHandle_ = handle;
    if (state_.HangupRequested)
        engine_.HangUpConnection(handle);
}

}  // namespace velora::server::dialup
