#pragma once
// The server's composition root: builds the modules, owns the state block,
// runs start-up, and takes the listener online and offline.

#include <QObject>
#include <QTimer>
#include <memory>
#include <string>

#include "common/Prompter.h"
#include "server/clientservice/ClientService.h"
#include "server/dialup/engine/DialupOperations.h"
#include "server/dialup/keepalive/IcmpPort.h"
#include "server/dialup/lines/LineDriver.h"
#include "server/dialup/engine/TDialUp.h"
#include "server/dialup/keepalive/TPing.h"
#include "server/frame/ServerConfig.h"
#include "server/state/ServerState.h"
#include "server/users/UserStore.h"

class QTcpServer;
class QTcpSocket;

namespace velora::server::state {
class Shutdown;
}

namespace velora::server::frame {

class Autostart;

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

struct ServerOptions {
    std::string baseDir;
    bool serviceMode = false;
    // Where to listen; tests pin the loopback interface.
    std::string listenAddress = "0.0.0.0";
    // The second start-up stage waits for the window to settle; without a
    // window there is nothing to wait for.
    int secondStageDelayMs = 1000;
};

// The parts that touch the system; tests hand in fakes, the program leaves
// them empty and gets the real ones.
struct ServerPlatform {
    std::unique_ptr<dialup::LineDriver> line;
    std::unique_ptr<dialup::HostLookup> lookup;
    std::unique_ptr<dialup::IcmpPort> icmp;
};

class ServerCore : public QObject {
    Q_OBJECT
public:
    ServerCore(ServerOptions options, state::Shutdown &shutdown, Autostart &autostart,
               ServerPlatform platform = {}, QObject *parent = nullptr);
    ~ServerCore() override;

    state::ServerState &state() { return state_; }
    ServerConfig &config() { return config_; }
    users::UserStore &users() { return users_; }
    state::Shutdown &shutdown() { return shutdown_; }
    clientservice::ClientService &clients() { return clients_; }
    dialup::LineDriver &line() { return *line_; }
    dialup::TDialUp &dialUp() { return dialUp_; }
    dialup::DialupOperations &dialup() { return dialOps_; }
    dialup::TPing &ping() { return ping_; }
    // Why the configured line could not be used, if it could not.
    const std::string &lineProblem() const { return lineProblem_; }
    const ServerSettings &settings() const { return settings_; }
    ServerSettings &settings() { return settings_; }

    // Initial set-up; then the second stage one second later (or at once
    // when called directly).
    void inisiasiawal();
    void start();
    void Timer2Timer();

    // Online / Offline. goOnline reports a port that cannot be bound and
    // stays offline.
    bool goOnline();
    void goOffline();
    bool isOnline() const { return listener_ != nullptr; }
    quint16 listeningPort() const;
    const std::string &lastListenError() const { return listenError_; }

    // The status tick, every 500 ms; tests call it directly.
    void Timer1Timer();
    int tickCounter() const { return tickCounter_; }
    // The online-time tick, every second while connected.
    void Timer3Timer();
    bool onlineTimeTicking() const { return timer3_.isActive(); }
    void Getspeed();

    // loadcfg / savecfg against the settings model.
    void loadcfg();
    ServerConfig::SaveResult savecfg();
    // savecfg, then tells the person what step 9 (or a failed write) calls for.
    ServerConfig::SaveResult savecfg(Prompter &prompter);

    const StatusView &statusView() const { return view_; }

    // The window's close request: EndProgram or KeepOpen, after asking.
    enum class CloseAction { EndProgram, KeepOpen };
    CloseAction FormClose(Prompter &prompter);

    // The second stage's window decisions, read from the file when asked.
    bool showWindowAtStart() const { return !config_.startMinimizedAtStartup(); }
    bool showTipAtStart() const { return config_.tipAtStartup(); }
    std::string tipFilePath() const { return options_.baseDir + "/config/tip.cfg"; }

    // The server's own client record: "Admin@" + host name, local address.
    static std::string ownClientName();
    static std::string ownAddress();

signals:
    void onlineChanged(bool online);
    // A text for the person: the listener could not start, and the like.
    void problem(const QString &text);
    void secondStageDone();
    void newConnection(QTcpSocket *socket);
    // Items 1 to 11 of the status record changed on this tick.
    void statusChanged();
    // Every status tick, after statusView() was refreshed.
    void ticked();
    // settings() was filled from the file again.
    void configLoaded();

private:
    void updateStatusView();

    ServerOptions options_;
    state::ServerState state_;
    state::Shutdown &shutdown_;
    Autostart &autostart_;
    ServerConfig config_;
    users::UserStore users_;
    ServerSettings settings_;
    QTcpServer *listener_ = nullptr;
    clientservice::ClientService clients_;
    std::unique_ptr<dialup::LineDriver> line_;
    std::string lineProblem_;
    dialup::TDialUp dialUp_;
    dialup::DialupOperations dialOps_;
    std::unique_ptr<dialup::HostLookup> lookup_;
    std::unique_ptr<dialup::IcmpPort> icmp_;
    dialup::TPing ping_;
    QTimer timer1_;
    QTimer timer3_;
    QTimer timer2_;
    int tickCounter_ = 0;
    std::string listenError_;
    StatusView view_;
};

}  // namespace velora::server::frame
