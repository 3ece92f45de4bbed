#pragma once
// The line of pppd: every file of the peers directory is an entry, dialled as
// "pppd call <entry> nodetach"; pppd's log lines on its stdout give the dial
// steps and its exit status the failure.
//
// Read from a peer file (pppd's own word syntax: blanks, '#' comments,
// "..." and '...' quotes, backslash escapes):
//   /dev/<tty> or tty<x>      device, type "modem"
//   a bare number             the serial speed (nominal speed of the line)
//   connect "<command>"       phone number from "-T <number>", from
//                             ATD[T|P]<number> in the command, or from the
//                             chat file named by "-f <file>"
//   pty "<command>"           device is the command, type "pty"
//   plugin <...pppoe.so>      type "PPPoE"; device from "nic-<if>" or a bare
//                             word that names a network interface
//   user <name> (else name <name>), remotename, linkname, ipparam
// Passwords: the first line of pap-secrets, then chap-secrets, whose client
// is the user name and whose server is "*" or the remotename.

#include "server/dialup/lines/LineDriver.h"
#include "server/dialup/lines/LineProcess.h"
#include "server/dialup/lines/NetInterfaces.h"

#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class QProcess;

namespace velora::server::dialup {

// One word of a pppd options or secrets file, with its bytes in the file.
struct OptionWord {
    std::string text;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t line = 0;
};
std::vector<OptionWord> optionWords(std::string_view content);
// A word as pppd reads it back.
std::string quoteOptionWord(std::string_view word);

struct PeerFacts {
    std::string device;
    std::string deviceType;
    std::string phone;
    std::string user;
    std::string remoteName;
    std::string linkName;
    std::string ipParam;
    std::uint32_t baud = 0;
};
// readFile reads a chat file a connect command names; isInterface tells
// whether a bare word is a network interface (the PPPoE device).
PeerFacts parsePeerFile(std::string_view content,
                        const std::function<std::optional<std::string>(const std::string &)> &readFile,
                        const std::function<bool(const std::string &)> &isInterface);
// The number a chat script or connect command dials: "-T <n>" or ATD<n>.
std::string phoneFromChat(std::string_view text);

// The secret of (client, server) by the rule above; nothing when none.
std::optional<std::string> findSecret(std::string_view content, const std::string &client,
                                      const std::string &server);
// The file with that line's secret replaced (or the line removed when secret
// is empty), or a new line appended; every other line keeps its bytes.
std::string withSecret(std::string_view content, const std::string &client,
                       const std::string &server, const std::optional<std::string> &secret);

class PppdLine final : public LineDriver {
    Q_OBJECT
public:
    struct Settings {
        std::string pppd = "pppd";
        std::string peersDir = "/etc/ppp/peers";
        std::string secretsDir = "/etc/ppp";
        std::string runDir = "/var/run";  // pppd's pid files
        std::string procDir = "/proc";
        int connectedSettleMs = 1000;     // after the addresses when no ip-up line comes
        int killAfterMs = ProcessReaper::kGraceMs;  // SIGKILL when SIGTERM was not enough
    };

    explicit PppdLine(Settings settings, std::unique_ptr<NetInterfaces> net = nullptr,
                      QObject *parent = nullptr);
    ~PppdLine() override;

    const Settings &settings() const { return settings_; }
    std::size_t childrenLeft() const { return reaper_.count(); }

    std::string driverName() const override { return "pppd"; }
    int enumEntries(std::vector<std::string> &names) const override;
    int getDialParams(const std::string &entry, DialParams &params) const override;
    int setDialParams(const std::string &entry, const DialParams &params,
                      bool removePassword) override;
    int getEntryProperties(const std::string &entry, EntryProperties &props) const override;
    int setEntryProperties(const std::string &entry, const EntryProperties &props) override;
    int renameEntry(const std::string &oldName, const std::string &newName) override;
    int deleteEntry(const std::string &entry) override;
    int createEntry(const std::string &entry, const EntryProperties &props) override;
    int enumConnections(std::vector<ConnectionInfo> &connections) const override;
    int projectionAddress(ConnHandle handle, std::string &ipv4) const override;
    int connectionSpeed(ConnHandle handle, std::uint32_t &bitsPerSecond) const override;

protected:
    int startDial(const DialParams &params, ConnHandle &handle) override;
    int endConnection(ConnHandle handle) override;

private:
    struct Dial {
        std::string entry;
        PeerFacts peer;
        QProcess *process = nullptr;
        std::string partial;  // an unfinished output line
        std::string interface;
        std::string localAddress;
        std::uint32_t connectSpeed = 0;
        int state = -1;
        int errorCode = 0;
        bool waiting = false;  // for the entry's previous pppd to end
    };
    struct Dying {
        QPointer<QProcess> process;
        std::string interface;
        std::string entry;
    };

    std::string peerPath(const std::string &entry) const;
    bool validName(const std::string &entry) const;
    std::optional<PeerFacts> readPeer(const std::string &entry) const;
    std::string entryOfInterface(const std::string &ifname) const;
    int pidOfInterface(const std::string &ifname) const;
    bool hidden(const std::string &ifname) const;
    void step(ConnHandle handle, int state);
    void onOutput(ConnHandle handle, QProcess *process);
    void onLine(ConnHandle handle, const std::string &line);
    void onFinished(ConnHandle handle, QProcess *process, int exitCode, bool crashed);
    void onStartFailed(ConnHandle handle, QProcess *process);
    void failWith(ConnHandle handle, int code);
    void startWaiting(const std::string &entry);
    int writeSecrets(const PeerFacts &peer, const std::string &user,
                     const std::optional<std::string> &password);
    int writePhone(const std::string &entry, const std::string &phone);

    Settings settings_;
    std::unique_ptr<NetInterfaces> net_;
    std::map<ConnHandle, Dial> dials_;
    std::vector<Dying> dying_;
    mutable std::map<std::string, ConnHandle> outside_;  // interface → handle
    mutable ConnHandle nextHandle_ = 1;
    std::map<std::string, std::int64_t> hiddenUntil_;  // interface → steady ms
    ProcessReaper reaper_;
};

}  // namespace velora::server::dialup
