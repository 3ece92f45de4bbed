#pragma once
// A line that something else brings up: NetworkManager, ifup, pon, a script.
// Entries are sections of BaseDir/config/phonebook.ini:
//   connect     command that brings the link up (required)
//   disconnect  command that takes it down
//   interface   the network interface the link appears on (required)
//   speed       nominal speed in bits per second (else the interface's own)
//   device, devicetype   shown as the connection's device (default: the
//               interface, "command")
//   phone, user, password, callback, domain   stored dial parameters
// Commands run without a shell (splitCommand gives the quoting rules) and
// see VELORA_ENTRY, VELORA_INTERFACE, VELORA_PHONE, VELORA_USER and
// VELORA_PASSWORD in their environment. The link counts as connected while
// the interface is up with an IPv4 address, whoever raised it.

#include "server/dialup/lines/LineDriver.h"
#include "server/dialup/entries/PhonebookEntries.h"
#include "server/dialup/lines/LineProcess.h"
#include "server/dialup/lines/NetInterfaces.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <map>
#include <memory>

class QProcess;

namespace velora::server::dialup {

struct CommandLineSettings {
    int timeoutSeconds = 60;  // connect command plus the wait for the address
    int pollMs = 200;
};

class CommandLine final : public LineDriver {
    Q_OBJECT
public:
    using Settings = CommandLineSettings;

    explicit CommandLine(const std::string &baseDir, std::unique_ptr<NetInterfaces> net = nullptr,
                         Settings settings = {}, QObject *parent = nullptr);
    ~CommandLine() override;

    const std::string &phonebookPath() const { return book_.path(); }
    // Children still being stopped or still disconnecting.
    std::size_t childrenLeft() const { return reaper_.count(); }

    std::string driverName() const override { return "command"; }
    int enumConnections(std::vector<ConnectionInfo> &connections) const override;
    int projectionAddress(ConnHandle handle, std::string &ipv4) const override;
    int connectionSpeed(ConnHandle handle, std::uint32_t &bitsPerSecond) const override;
    std::string connectionInterface(ConnHandle handle) const override;
    std::string errorText(int code) const override;
    std::string interfaceOf(const std::string &entry) const override;

protected:
    int startDial(const DialParams &params, ConnHandle &handle) override;
    int endConnection(ConnHandle handle) override;

private:
    struct Entry {
        std::string section;
        std::string connect;
        std::string disconnect;
        std::string interface;
        std::string device;
        std::string deviceType;
        std::uint32_t speed = 0;
    };
    struct Dial {
        Entry entry;
        QProcess *process = nullptr;  // the connect command while it runs
        QByteArray errors;            // its stderr, the last few KB
        QElapsedTimer since;
        int state = -1;  // none reported yet
        int errorCode = 0;
        bool waiting = false;  // for the entry's disconnect command to end
    };

    Entry readEntry(const std::string &section) const;
    std::vector<Entry> readAll() const;
    void purgeDropped() const;
    const Dial *dialOf(const std::string &section) const;
    void step(ConnHandle handle, int state);
    void fail(ConnHandle handle, const std::string &text);
    void onStarted(ConnHandle handle, QProcess *process);
    void onErrors(ConnHandle handle, QProcess *process);
    void onFinished(ConnHandle handle, QProcess *process, int exitCode, bool crashed);
    void onStartFailed(ConnHandle handle, QProcess *process);
    void poll();
    void pollOne(ConnHandle handle);
    void runDisconnect(const Entry &entry);
    QProcess *spawn(const std::vector<std::string> &words, const Entry &entry,
                    const DialParams &params);
    bool hangingUp(const std::string &section) const;
    void disconnectEnded(const std::string &key, QProcess *process);

    PhonebookEntries book_;
    std::unique_ptr<NetInterfaces> net_;
    Settings settings_;
    mutable std::map<ConnHandle, Dial> dials_;
    mutable std::map<std::string, ConnHandle> outside_;  // lower-case entry → handle
    mutable ConnHandle nextHandle_ = 1;
    std::map<std::string, QPointer<QProcess>> disconnecting_;  // lower-case entry
    std::map<int, std::string> failureTexts_;
    int failures_ = 0;
    QTimer poll_;
    ProcessReaper reaper_;
};

}  // namespace velora::server::dialup
