#include "server/dialup/engine/DialupOperations.h"

#include "common/WireCodec.h"

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
    state_.dialSettings = readDialSettings_ ? readDialSettings_() : state::DialSettings{};
    if (std::string refusal; policy_ && !policy_->mayDial(entry, &refusal)) {
        state_.StatusText = refusal;
        state_.StatusChanged = 1;
        return;
    }
    bool failed = false;
    if (state_.dialSettings.ics == "1" && sharing_) {
        std::string why;
        failed = !sharing_->switchTo(entry, &why);
    }
    if (!failed) {
        emit dialStarting(entry);
        // An entry the line does not know ends in OnError: "Error".
        engine_.setEntry(entry);
        engine_.Dial();
        state_.DialerName = dialer;
        if (policy_)
            policy_->dialing(entry, dialer);
    }
    if (failed)
        state_.StatusText = "No matching dialup entry found";
    state_.StatusChanged = 1;
}

void DialupOperations::executehangup()
{
    state_.HangupRequested = true;
    if (policy_)
        policy_->hangingUp();
    if (!state_.ActiveStatus.empty())
        engine_.GetActiveConnections();
    else
        engine_.HangUp();
    state_.StatusText = "READY";
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
    if (state_.LockStatus == "locked" &&
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
    if (state_.LockStatus == "locked" &&
        prompter.ask("Velora has detected that connection is currently locked\nDo you want to force dialing anyway ?",
                     {Prompter::Button::Yes, Prompter::Button::No}) != Prompter::Button::Yes)
        return false;
    executedial(entry, "Local");
    return true;
}

bool DialupOperations::operatorHangup(Prompter &prompter)
{
    if (state_.LockStatus == "locked" &&
        prompter.ask("Velora has detected that connection is currently locked\nDo you want to force hang up anyway ?",
                     {Prompter::Button::Yes, Prompter::Button::No}) != Prompter::Button::Yes)
        return false;
    state_.HangupRequested = true;
    executehangup();
    return true;
}

void DialupOperations::enumerateActive()
{
    state_.ActiveStatus.clear();
    state_.ActiveEntry = "--";
    state_.ActiveDevice = "--";
    activeHandle_ = 0;
    engine_.GetActiveConnections();
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
        if (policy_)
            policy_->dialFailed();
    }
}

void DialupOperations::onActiveConnection(ConnHandle handle, const std::string &device, const std::string &,
                                          const std::string &entry, const std::string &statusText,
                                          const ConnectionInfo &)
{
    state_.ActiveStatus = statusText;
    state_.ActiveEntry = entry;
    state_.ActiveDevice = device;
    activeHandle_ = handle;
    if (state_.HangupRequested)
        engine_.HangUpConnection(handle);
}

}  // namespace velora::server::dialup
