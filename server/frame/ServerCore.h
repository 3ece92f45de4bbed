#pragma once
// The server's core: wires the modules to the platform it is handed, owns
// the state block, runs start-up and the ticks, and takes the listener online
// and offline. The window sees it only as an OperatorConsole.

#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>

#include "common/Prompter.h"
#include "server/clientservice/ClientService.h"
#include "server/dialup/engine/DialupOperations.h"
#include "server/dialup/engine/TDialUp.h"
#include "server/dialup/keepalive/TPing.h"
#include "server/frame/LinePolicy.h"
#include "server/frame/OperatorConsole.h"
#include "server/frame/ServerConfig.h"
#include "server/frame/ServerPlatform.h"
#include "server/frame/StoreFileWatch.h"
#include "server/log/LogDatabase.h"
#include "server/sharing/SmtpRelay.h"
#include "server/state/DialledSide.h"
#include "server/state/ServerState.h"
#include "server/traffic/TrafficSampler.h"
#include "server/users/UserStore.h"

class QHostAddress;
class QTcpServer;
class QTcpSocket;

namespace velora::server::frame {

struct ServerOptions {
    std::string baseDir;
    bool serviceMode = false;
    // Where to listen; tests pin the loopback interface.
    std::string listenAddress = "0.0.0.0";
    // The second start-up stage waits for the window to settle; without a
    // window there is nothing to wait for.
    int secondStageDelayMs = 1000;
};

class ServerCore : public OperatorConsole, private dialup::SharingSwitch {
    Q_OBJECT
public:
    // Every part of the platform must be there; a missing one throws
    // std::invalid_argument naming it.
    ServerCore(ServerOptions options, ServerPlatform platform, QObject *parent = nullptr);
    ~ServerCore() override;

    // The modules, for main's headless report and for tests.
    state::ServerState &state() { return state_; }
    ServerConfig &config() { return config_; }
    users::UserStore &users() { return users_; }
    state::Shutdown &shutdown() { return *platform_.shutdown; }
    clientservice::ClientService &clients() { return clients_; }
    dialup::LineDriver &line() { return *platform_.line; }
    dialup::TDialUp &dialUp() { return dialUp_; }
    dialup::DialupOperations &dialup() { return dialOps_; }
    dialup::TPing &ping() { return ping_; }
    log::LogDatabase &logDatabase() { return log_; }
    traffic::TrafficSampler &sampler() { return sampler_; }
    LinePolicy &policy() { return policy_; }
    // This month's cost of the log, in ten-thousandths.
    std::optional<std::int64_t> monthCost();
    // What a dial reads of config.ini, in one read.
    state::DialSettings readAtDial();
    // A row of the current connection is in the log and still to be finalised.
    bool logRecordOpen() const { return LogRecordOpen; }
    // Why the configured line could not be used, if it could not.
    const std::string &lineProblem() const { return platform_.lineProblem; }
    const ServerSettings &settings() const { return settings_; }
    ServerSettings &settings() override { return settings_; }

    // Initial set-up; then the second stage one second later (or at once
    // when called directly).
    void inisiasiawal();
    void start();
    // Files of the base dir that others may read or that give nothing, each
    // told as a problem; main asks once the users and entries are read.
    void checkFiles();
    void Timer2Timer();

    // Online / Offline. goOnline reports a port that cannot be bound and
    // stays offline.
    bool goOnline() override;
    void goOffline() override;
    bool isOnline() const override { return clients_.transport().isListening(); }
    quint16 listeningPort() const;
    std::string listeningAddress() const;
    const std::string &lastListenError() const { return listenError_; }

    // The status tick, every 500 ms; tests call it directly.
    void Timer1Timer();
    int tickCounter() const { return tickCounter_; }
    // The online-time tick, every second while connected.
    void Timer3Timer();
    bool onlineTimeTicking() const { return timer3_.isActive(); }
    void Getspeed();

    // loadcfg / savecfg against the settings model.
    void loadcfg() override;
    ServerConfig::SaveResult savecfg();
    // savecfg, then tells the person what step 9 (or a failed write) calls for.
    ServerConfig::SaveResult savecfg(Prompter &prompter) override;

    // ---- OperatorConsole ----
    void operatorDial(const std::string &selected, Prompter &prompter) override;
    void zanfel(std::size_t position, Prompter &prompter) override;
    void operatorHangup(Prompter &prompter) override;
    void operatorLock() override;
    void operatorUnlock() override;
    void unlockAll() override;
    void getentry() override;
    // EndProgram or KeepOpen, after asking.
    CloseAction FormClose(Prompter &prompter) override;

    users::UserStore &userStore() override { return users_; }
    EntryDetails entryDetails(const std::string &entry) override;
    std::optional<std::string> saveEntryCredentials(const std::string &entry, const std::string &userName,
                                                    const std::string &password) override;
    std::optional<std::string> saveEntryCost(const std::string &entry, const std::string &cost) override;
    std::optional<std::string> renameEntry(const std::string &oldName, const std::string &newName) override;
    std::optional<std::string> deleteEntry(const std::string &entry, bool withLog) override;
    std::vector<dialup::EntryField> entryFields(const std::string &entry) override;
    std::optional<std::string> saveEntryFields(const std::string &entry, const std::vector<dialup::EntryField> &fields,
                                               bool create) override;

    log::LogDatabase *logBook() override { return log_.isOpen() ? &log_ : nullptr; }
    bool clearLog(const log::LogFilter &filter, Prompter &prompter) override;
    std::string logPath() const override { return options_.baseDir + "/config/log.db"; }
    NumberSeparators numberSeparators() const override;

    const StatusView &statusView() const override { return view_; }
    const std::vector<std::string> &entryNames() const override { return state_.EntryNames; }
    std::vector<clientservice::ClientRow> clientRows() const override;
    bool onlineDecided() const override { return !state_.ServerState.empty(); }
    std::string baseDir() const override { return options_.baseDir; }
    bool serviceMode() const override { return state_.ServiceMode; }
    bool showWindowAtStart() const override { return !config_.startMinimizedAtStartup(); }
    bool showTipAtStart() const override { return config_.tipAtStartup(); }
    std::string tipFilePath() const override { return options_.baseDir + "/config/tip.cfg"; }

    // ---- sharing and relay (ServerCoreSharing.cpp) ----
    // Connection sharing follows the entry about to be dialled; false (and
    // the dial is aborted) when the switch refused.
    bool executeics(const std::string &entry, std::string *why = nullptr);
    // The relay of the entry's smtp row takes over from the previous one;
    // false when the entry has no complete row or the port cannot be bound.
    bool executesmtp(const std::string &entry);
    bool sharingUsable() override;
    // Null until a relay was started.
    const sharing::SmtpRelay *smtpRelay() const { return relay_.get(); }
    void setRelayLimits(const sharing::RelayLimits &limits) { relayLimits_ = limits; }

    // The server's own client record: "Admin@" + host name, local address.
    static std::string ownClientName();
    static std::string ownAddress();

    // ---- chat ----
    void pesanserver(const std::string &recipient, const std::string &record) override;
    std::string operatorName() const override { return ownClientName(); }
    std::string operatorAddress() const override { return ownAddress(); }

signals:
    // Items 1 to 11 of the status record changed on this tick.
    void statusChanged();

private:
    // user.cfg and the phonebook edited beside the server (the user and
    // entry commands, an editor) are read again within a second or two.
    void watchUsers();
    void storeFileChanged(const std::string &path);
    // Descriptors kept free below the limit for the log, children, look-ups.
    static constexpr int DescriptorReserve = 16;

    void updateStatusView();
    // Where [server] listen= says; nothing (and why) while its interface
    // has no address.
    std::optional<QHostAddress> listenAddress(std::string *why);
    void applyStrangerLimits();
    void recordConnection();
    // Audit rows older than [log] auditdays go, a few at a time.
    void pruneAuditStep();
    // Step 3 of the status tick: the sample and the entry update.
    void sampleTraffic();
    traffic::ConnectionView connectionView();
    // dialup::SharingSwitch: the engine's hook before each dial.
    bool switchTo(const std::string &entry, std::string *error) override { return executeics(entry, error); }
    // A link whose interface showed only once up gets its rule now.
    void completeSharing();
    void startRelayIfDue();
    // A dial is about to raise the entry's link: its interface faces the
    // provider, so the ports are closed to it.
    void guardDialledSide(const std::string &entry);
    // The status tick: the interfaces of the line's connections.
    void followLineInterfaces();
    void readEntryInterfaces(const std::vector<std::string> &entries);
    void endSharing();
    LinePolicy::Parts policyParts();
    // One audit row; a failed write is told once, the line goes on.
    void audit(const std::string &user, const std::string &action, const std::string &detail);
    void audit(const std::string &user, const std::string &host, const std::string &address,
               const std::string &action, const std::string &detail);
    // A dial past a spent budget only after the operator confirmed it.
    bool confirmPastBudget(Prompter &prompter);

    // First: every module below is built on its parts.
    ServerPlatform platform_;
    ServerOptions options_;
    state::ServerState state_;
    ServerConfig config_;
    users::UserStore users_;
    ServerSettings settings_;
    clientservice::ClientService clients_;
    // Which local addresses face the line: the client port and the relay
    // close what comes in there.
    state::DialledSide dialledSide_;
    dialup::TDialUp dialUp_;
    dialup::DialupOperations dialOps_;
    dialup::TPing ping_;
    log::LogDatabase log_;
    traffic::TrafficSampler sampler_;
    LinePolicy policy_;
    bool LogRecordOpen = false;
    bool auditFailureTold_ = false;
    StoreFileWatch storeWatch_;
    std::vector<std::string> configProblems_;  // the last load's, said once
    QTimer timer1_;
    QTimer timer3_;
    QTimer timer2_;
    QTimer listenRetry_;
    int tickCounter_ = 0;
    int pruneCountdown_ = 1;
    std::string listenError_;
    StatusView view_;
    std::unique_ptr<sharing::SmtpRelay> relay_;
    sharing::RelayLimits relayLimits_;
    std::string shareWhenUp_;  // the entry whose interface was not known at its dial
    bool sharedThisRun_ = false;
    std::vector<std::string> entryInterfaces_;
    std::string dialIface_;  // the interface of the last dial, when the line names one
    bool guardFailureTold_ = false;
    // [server] wanaccess as the dial in progress read it.
    bool wanAccessAtDial_ = false;
};

}  // namespace velora::server::frame
