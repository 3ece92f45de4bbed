#pragma once
// What the server does with the dial-up engine: the entry list, dialling and
// hanging up for the operator or a client, and the engine's events turned
// into the state block's texts. Requests run one at a time, in arrival order,
// on the event loop.

#include <QObject>
#include <functional>
#include <string>
#include <vector>

#include "common/Prompter.h"
#include "server/state/DialControl.h"
#include "server/dialup/engine/TDialUp.h"
#include "server/state/ServerState.h"

namespace velora::server::dialup {

// Switches connection sharing to the dialled entry before the dial.
class SharingSwitch {
public:
    virtual ~SharingSwitch() = default;
    // False with a reason when sharing could not be switched.
    virtual bool switchTo(const std::string &entry, std::string *error) = 0;
};

// Line policies watch every dial and hang-up and may refuse a dial.
class DialPolicy {
public:
    virtual ~DialPolicy() = default;
    // False with the status text to show when the dial must not start.
    virtual bool mayDial(const std::string &entry, std::string *refusal) = 0;
    virtual void dialing(const std::string &entry, const std::string &dialer) = 0;
    virtual void hangingUp() = 0;
    // The dial in progress failed; told by the engine so no status text is parsed.
    virtual void dialFailed() {}
};

class DialupOperations : public QObject, public state::DialControl {
    Q_OBJECT
public:
    DialupOperations(state::ServerState &state, TDialUp &engine,
                     std::function<state::DialSettings()> readDialSettings, QObject *parent = nullptr);

    void setSharingSwitch(SharingSwitch *sharing) { sharing_ = sharing; }
    void setDialPolicy(DialPolicy *policy) { policy_ = policy; }
    TDialUp &engine() { return engine_; }

    // Lists the entries again into EntryNames and EntryListText.
    void getentry();

    // DialControl
    void setDialEntry(const std::string &entry) override;
    void executedial(const std::string &entry, const std::string &dialer) override;
    void executehangup() override;

    // The operator's commands; their questions go through the prompter.
    // `selected` is empty when no entry is chosen. Each says whether it was
    // carried out (not when the operator said no).
    bool operatorDial(const std::string &selected, Prompter &prompter);
    bool operatorHangup(Prompter &prompter);
    // A tray "dial" item: the entry at that position of EntryNames.
    bool zanfel(std::size_t position, Prompter &prompter);

    // Status tick: clear the active fields and enumerate the connections.
    void enumerateActive();
    // Status tick, after the push lines went out: a refusal repeated since
    // the last tick shows now.
    void statusPushed();
    // Bits per second of the connection seen last, 0 when unknown.
    std::uint32_t activeSpeed() const;
    ConnHandle activeHandle() const { return activeHandle_; }
    // A connection of `entry` came up: who dialled it, "Local" when no dial
    // of ours is waiting for that entry. The dial is used up.
    std::string takeDialer(const std::string &entry);

    std::string EntryForAddress(const std::string &address, const std::string &whenNone) const
    {
        return engine_.EntryForAddress(address, whenNone);
    }

signals:
    // The entry list changed (window list and tray menu follow).
    void entriesChanged(const std::vector<std::string> &names);
    // A dial of the entry is about to start (its checks passed).
    void dialStarting(const std::string &entry);

private:
    void forgetDial();
    // A dial that will not start: its reason becomes the status text.
    void refuse(const std::string &text);
    void onAsyncEvent(int state, const std::string &text, int errorCode);
    void onActiveConnection(ConnHandle handle, const std::string &device, const std::string &deviceType,
                            const std::string &entry, const std::string &statusText,
                            const ConnectionInfo &status);

    state::ServerState &state_;
    TDialUp &engine_;
    std::function<state::DialSettings()> readDialSettings_;
    SharingSwitch *sharing_ = nullptr;
    DialPolicy *policy_ = nullptr;
    ConnHandle activeHandle_ = 0;
    std::string repeatedRefusal_;
};

}  // namespace velora::server::dialup
