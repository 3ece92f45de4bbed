#pragma once
// The line of pppd: every file of the peers directory is an entry (see
// PppdPeers), dialled as "pppd call <entry> nodetach"; pppd's log lines on
// its stdout give the dial steps and its exit status the failure. Links
// that other dialers raised show as connections too (PppdOutsideLinks).

#include "server/dialup/entries/PppdPeers.h"
#include "server/dialup/lines/LineDriver.h"
#include "server/dialup/lines/LineProcess.h"
#include "server/dialup/lines/NetInterfaces.h"
#include "server/dialup/lines/PppdOutsideLinks.h"

#include <QPointer>

#include <map>
#include <memory>

class QProcess;

namespace velora::server::dialup {

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
    const PppdOutsideLinks &outsideLinks() const { return outside_; }
    std::size_t childrenLeft() const { return reaper_.count(); }

    std::string driverName() const override { return "pppd"; }
    int enumConnections(std::vector<ConnectionInfo> &connections) const override;
    int projectionAddress(ConnHandle handle, std::string &ipv4) const override;
    int connectionSpeed(ConnHandle handle, std::uint32_t &bitsPerSecond) const override;
    // Known once pppd has said which interface it uses.
    std::string interfaceOf(const std::string &entry) const override;
    // pppd reads the peer and its secrets itself: the name is all a dial
    // needs, and startDial reads the peer file once.
    int dialParams(const std::string &entry, DialParams &params) const override;

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

    bool hidden(const std::string &ifname) const;
    void step(ConnHandle handle, int state);
    void onOutput(ConnHandle handle, QProcess *process);
    void onLine(ConnHandle handle, const std::string &line);
    void onFinished(ConnHandle handle, QProcess *process, int exitCode, bool crashed);
    void onStartFailed(ConnHandle handle, QProcess *process);
    void failWith(ConnHandle handle, int code);
    void startWaiting(const std::string &entry);

    Settings settings_;
    std::unique_ptr<NetInterfaces> net_;
    PppdPeers peers_;
    mutable PppdOutsideLinks outside_;
    std::map<ConnHandle, Dial> dials_;
    std::vector<Dying> dying_;
    mutable ConnHandle nextHandle_ = 1;
    std::map<std::string, std::int64_t> hiddenUntil_;  // interface → steady ms
    ProcessReaper reaper_;
};

}  // namespace velora::server::dialup
