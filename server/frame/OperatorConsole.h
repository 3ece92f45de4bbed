#pragma once
// What the server's window may do and see: the operator's actions and the
// views it shows. The window knows nothing of the modules behind it; the
// core implements this, headless mode simply has no window on it.

#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/NumberFormat.h"
#include "server/clientservice/ClientRow.h"
#include "server/dialup/entries/EntryStore.h"
#include "server/frame/ServerConfig.h"
#include "server/log/LogDatabase.h"
#include "server/users/UserStore.h"

namespace velora {
class Prompter;
}

namespace velora::server::frame {

// What the main page and the tray icon show, as of the latest status tick.
// Texts are Windows-1252 bytes.
struct StatusView {
    bool ticked = false;  // no tick yet: the value labels read "--"
    std::string entry = "--";
    std::string device = "--";
    std::string timeOnline = "--";
    std::string speed = "--";
    std::string lock = "--";
    std::string status = "--";
    std::string errorNotice;
    int trayImage = 1;  // 0 connected, 1 not connected, 2 server offline
    std::string trayHint;
    bool unlockShown = false;  // the operator holds the lock: Unlock instead of Lock
    // The first record holding the lock and since when (seconds since the
    // epoch); empty and 0 while the line is free.
    std::string lockHolder;
    std::int64_t lockedSince = 0;
};

class OperatorConsole : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~OperatorConsole() override = default;

    // ---- actions ----
    // Online reports a port that cannot be bound through problem() and stays offline.
    virtual bool goOnline() = 0;
    virtual void goOffline() = 0;
    // `selected` is empty when no entry is chosen; questions go through the prompter.
    virtual void operatorDial(const std::string &selected, Prompter &prompter) = 0;
    // A tray "dial" item: the entry at that position of entryNames().
    virtual void zanfel(std::size_t position, Prompter &prompter) = 0;
    virtual void operatorHangup(Prompter &prompter) = 0;
    virtual void operatorLock() = 0;
    virtual void operatorUnlock() = 0;
    virtual void unlockAll() = 0;
    virtual void getentry() = 0;

    // The configuration page's model: the window edits it, then saves.
    virtual ServerSettings &settings() = 0;
    virtual void loadcfg() = 0;
    virtual ServerConfig::SaveResult savecfg(Prompter &prompter) = 0;

    // Whether connection sharing can be driven here (CheckBox9); asks the
    // system, changes nothing.
    virtual bool sharingUsable() = 0;

    // The window's close request, after asking the operator.
    enum class CloseAction { EndProgram, KeepOpen };
    virtual CloseAction FormClose(Prompter &prompter) = 0;

    // ---- the connection log ----
    // Null while the log file could not be opened: the page shows nothing.
    virtual log::LogDatabase *logBook() = 0;
    // "Clear log" for the rows the grid shows: refused while connected, asked
    // first. True when rows were deleted.
    virtual bool clearLog(const log::LogFilter &filter, Prompter &prompter) = 0;
    // A local path, for a report written beside the server.
    virtual std::string logPath() const = 0;
    // The system locale's separators, for the cost.
    virtual NumberSeparators numberSeparators() const = 0;

    // ---- the operator's editors ----
    virtual users::UserStore &userStore() = 0;
    // What the properties window shows of an entry; found is false when the
    // line's store does not know it.
    struct EntryDetails {
        bool found = false;
        dialup::DialParams params;
        dialup::EntryProperties props;
        std::string cost = "0";
    };
    virtual EntryDetails entryDetails(const std::string &entry) = 0;
    // Each returns the message for the person when refused or failed (UTF-8),
    // nothing when done. The log, cost and SMTP rows follow a rename or a
    // delete only when the line's store did it.
    virtual std::optional<std::string> saveEntryCredentials(const std::string &entry, const std::string &userName,
                                                            const std::string &password) = 0;
    virtual std::optional<std::string> saveEntryCost(const std::string &entry, const std::string &cost) = 0;
    virtual std::optional<std::string> renameEntry(const std::string &oldName, const std::string &newName) = 0;
    virtual std::optional<std::string> deleteEntry(const std::string &entry, bool withLog) = 0;
    // The entry dialog: what the line's store keeps for an entry (a new one
    // when empty), and saving it (creating the entry when asked).
    virtual std::vector<dialup::EntryField> entryFields(const std::string &entry) = 0;
    virtual std::optional<std::string> saveEntryFields(const std::string &entry,
                                                       const std::vector<dialup::EntryField> &fields,
                                                       bool create) = 0;

    // ---- views ----
    virtual const StatusView &statusView() const = 0;
    virtual const std::vector<std::string> &entryNames() const = 0;
    virtual std::vector<clientservice::ClientRow> clientRows() const = 0;
    virtual bool isOnline() const = 0;
    // SHA-256 of the TLS port's certificate, 64 hex digits; empty when none.
    virtual std::string tlsFingerprint() const { return {}; }
    // Whether start-up has decided to be online or offline.
    virtual bool onlineDecided() const = 0;
    // A local path, not a wire text.
    virtual std::string baseDir() const = 0;
    virtual bool serviceMode() const = 0;
    // The second stage's window decisions, read from the file when asked.
    virtual bool showWindowAtStart() const = 0;
    virtual bool showTipAtStart() const = 0;
    virtual std::string tipFilePath() const = 0;

    // ---- chat ----
    // Deliver from the operator: a message record to an address or "All".
    virtual void pesanserver(const std::string &recipient, const std::string &record) = 0;
    // The sender of the operator's messages: the server's own record.
    virtual std::string operatorName() const = 0;
    virtual std::string operatorAddress() const = 0;

signals:
    void onlineChanged(bool online);
    // A text for the person: the listener could not start, and the like.
    void problem(const QString &text);
    void secondStageDone();
    // Every status tick, after statusView() was refreshed.
    void ticked();
    // settings() was filled from the file again.
    void configLoaded();
    void entriesChanged(const std::vector<std::string> &names);
    void clientRowsChanged(const std::vector<velora::server::clientservice::ClientRow> &rows);
    // Rows or costs of the log changed: the viewer shows them again.
    void logChanged();
    // A row was added to the audit trail.
    void auditChanged();
    // New bytes of the office's computers are in the log (the Usage tab).
    void usageChanged();
    // user.cfg was read again (an editor here or a command beside the server).
    void usersChanged();
    // On the status tick: the operator's inbox, message records as received.
    void serverInboxReady(const std::string &records);
    // The connected entry's bytes of one traffic sample, for the meter window.
    void bandwidthSample(const QString &entry, quint64 download, quint64 upload);
};

}  // namespace velora::server::frame
