#pragma once
// The dial-up engine: lists the entries, dials one, enumerates and hangs up
// connections, and turns the line's progress and status into the state texts.
// Progress reaches OnAsyncEvent one step per event-loop pass, in order, and
// never inside a call of this class, so a receiver may dial or hang up.

#include "server/dialup/lines/LineDriver.h"

#include <QTimer>

#include <deque>
#include <string>
#include <vector>

namespace velora::server::dialup {

class TDialUp : public QObject {
    Q_OBJECT
public:
    explicit TDialUp(LineDriver &driver, QObject *parent = nullptr);
    ~TDialUp() override;

    LineDriver &driver() const { return driver_; }

    // The entry the next Dial dials.
    void setEntry(const std::string &entry) { entry_ = entry; }
    const std::string &entry() const { return entry_; }
    // Filled by GetEntries.
    const std::vector<std::string> &entries() const { return entries_; }
    // The connection this engine dialled last, 0 when none.
    ConnHandle ownHandle() const { return ownHandle_; }

    // Clears the entries and lists them again, firing OnEntryGet for each.
    // 0 or the line's error code (then the list stays empty).
    int GetEntries();
    // Hangs up this engine's own connection, reads the entry's stored dial
    // parameters and starts the dial. 0 or an error code, also reported by
    // OnError.
    int Dial();
    // Fires OnActiveConnection for each active connection in the line's order.
    int GetActiveConnections();
    // Hangs up this engine's own connection or dial in progress.
    void HangUp();
    int HangUpConnection(ConnHandle handle);

    // The state text, or the line's error text when errorCode is non-zero.
    std::string StateText(int state, int errorCode) const;

    // The entry whose connection holds `address`, "unknown" when connections
    // exist but none does, `whenNone` when there is no connection.
    std::string EntryForAddress(const std::string &address, const std::string &whenNone) const;

signals:
    void OnEntryGet(const std::string &entryName);
    void OnDialing();
    void OnAsyncEvent(int state, const std::string &text, int errorCode);
    void OnError(int errorCode, const std::string &text);
    void OnActiveConnection(velora::server::dialup::ConnHandle handle, const std::string &deviceName,
                            const std::string &deviceType, const std::string &entryName,
                            const std::string &statusText,
                            const velora::server::dialup::ConnectionInfo &status);

private:
    struct Progress {
        ConnHandle handle;
        int state;
        int errorCode;
    };
    void onDialProgress(ConnHandle handle, int state, int errorCode);
    void deliverOne();
    void forgetOwn();

    LineDriver &driver_;
    std::string entry_;
    std::vector<std::string> entries_;
    ConnHandle ownHandle_ = 0;
    std::deque<Progress> pending_;  // only steps of ownHandle_
    bool delivering_ = false;
    QTimer delivery_;
};

}  // namespace velora::server::dialup
