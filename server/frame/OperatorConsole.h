#pragma once
// What the server's window may do and see: the operator's actions and the
// views it shows. The window knows nothing of the modules behind it; the
// core implements this, headless mode simply has no window on it.

#include <QObject>
#include <QString>
#include <string>
#include <vector>

#include "common/NumberFormat.h"
#include "server/clientservice/ClientRow.h"
#include "server/frame/ServerConfig.h"
#include "server/log/LogDatabase.h"

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

    // ---- views ----
    virtual const StatusView &statusView() const = 0;
    virtual const std::vector<std::string> &entryNames() const = 0;
    virtual std::vector<clientservice::ClientRow> clientRows() const = 0;
    virtual bool isOnline() const = 0;
    // "online"/"offline" once start-up has decided, else empty.
    virtual bool onlineDecided() const = 0;
    // A local path, not a wire text.
    virtual std::string baseDir() const = 0;
    virtual bool serviceMode() const = 0;
    // The second stage's window decisions, read from the file when asked.
    virtual bool showWindowAtStart() const = 0;
    virtual bool showTipAtStart() const = 0;
    virtual std::string tipFilePath() const = 0;

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
};

}  // namespace velora::server::frame
