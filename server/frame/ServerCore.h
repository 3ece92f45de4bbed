#pragma once
// The server's core: wires the modules to the platform it is handed, owns
// the state block, runs start-up and the ticks, and takes the listener online
// and offline. Beside it, one concern each: the connection log and audit rows
// (ConnectionLog), sharing, the relay and the dialled side
// (SharingCoordinator), the configuration page (SettingsModel) and the
// operator's commands (OperatorCommands). The window sees it only as an
// OperatorConsole.

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
#include "server/frame/ConnectionLog.h"
#include "server/frame/LinePolicy.h"
#include "server/frame/OperatorCommands.h"
#include "server/frame/OperatorConsole.h"
#include "server/frame/OwnRecord.h"
#include "server/frame/ServerConfig.h"
#include "server/frame/ServerPlatform.h"
#include "server/frame/SettingsModel.h"
#include "server/frame/SharingCoordinator.h"
#include "server/frame/StoreFileWatch.h"
#include "server/frame/TlsIdentity.h"
#include "server/frame/UsageMeter.h"
#include "server/log/LogDatabase.h"
#include "server/sharing/SmtpRelay.h"
#include "server/state/ServerState.h"
#include "server/traffic/TrafficSampler.h"
#include "server/users/UserStore.h"
#include "server/web/WebServer.h"

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

class ServerCore : public OperatorConsole {
    Q_OBJECT
public:
    // Every part of the platform must be there; a missing one throws
    // std::invalid_argument naming it.
    ServerCore(ServerOptions options, ServerPlatform platform, QObject *parent = nullptr);
    ~ServerCore() override;

    // The modules, for main's headless report and for tests.
    const state::ServerState &state() const { return state_; }
    const ServerConfig &config() const { return config_; }
    const users::UserStore &users() const { return users_; }
    const clientservice::ClientService &clients() const { return clients_; }
    const dialup::LineDriver &line() const { return *platform_.line; }
    dialup::DialupOperations &dialup() { return dialOps_; }
    log::LogDatabase &logDatabase() { return log_.database(); }
    const traffic::TrafficSampler &sampler() const { return sampler_; }
    const LinePolicy &policy() const { return policy_; }
    const ConnectionLog &connectionLog() const { return log_; }
    const SharingCoordinator &sharing() const { return sharing_; }
    // The billing cycle's cost of the log, in ten-thousandths.
    std::optional<std::int64_t> monthCost();
    // Who used the line: the meter and its book (UsageBook).
    UsageMeter &usage() { return usage_; }
    // This cycle's rows per computer and bytes used of the cap, as config.ini says now.
    std::optional<log::CycleUsage> usageThisCycle();
    // A row of the current connection is in the log and still to be finalised.
    bool logRecordOpen() const { return log_.rowOpen(); }
    // Why the configured line could not be used, if it could not.
    const std::string &lineProblem() const { return platform_.lineProblem; }
    const ServerSettings &settings() const { return settingsModel_.settings(); }
    ServerSettings &settings() override { return settingsModel_.settings(); }

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
    // The TLS port (0: not served) and the fingerprint of its certificate
    // (empty until the first Online has read or made it).
    quint16 listeningTlsPort() const { return clients_.transport().tlsPort(); }
    std::string tlsFingerprint() const override;
    // The web page's port (0: not served).
    quint16 listeningWebPort() const { return web_.port(); }
    web::WebServer &web() { return web_; }
    const std::string &lastListenError() const { return listenError_; }

    // The status tick, every 500 ms; tests call it directly.
    void Timer1Timer();
    int tickCounter() const { return tickCounter_; }
    // The online-time tick, every second while connected.
    void Timer3Timer();
    bool onlineTimeTicking() const { return timer3_.isActive(); }
    void Getspeed();

    // loadcfg / savecfg against the settings model.
    void loadcfg() override { settingsModel_.load(); }
    ServerConfig::SaveResult savecfg() { return settingsModel_.save(); }
    // savecfg, then tells the person what step 9 (or a failed write) calls for.
    ServerConfig::SaveResult savecfg(Prompter &prompter) override { return settingsModel_.save(prompter); }

    // ---- OperatorConsole: the operator's commands ----
    void operatorDial(const std::string &selected, Prompter &prompter) override
    {
        commands_.operatorDial(selected, prompter);
    }
    void zanfel(std::size_t position, Prompter &prompter) override { commands_.zanfel(position, prompter); }
    void operatorHangup(Prompter &prompter) override { commands_.operatorHangup(prompter); }
    void operatorLock() override { commands_.operatorLock(); }
    void operatorUnlock() override { commands_.operatorUnlock(); }
    void unlockAll() override { commands_.unlockAll(); }
    void getentry() override { dialOps_.getentry(); }
    // EndProgram or KeepOpen, after asking.
    CloseAction FormClose(Prompter &prompter) override { return commands_.FormClose(prompter); }

    users::UserStore &userStore() override { return users_; }
    EntryDetails entryDetails(const std::string &entry) override { return commands_.entryDetails(entry); }
    std::optional<std::string> saveEntryCredentials(const std::string &entry, const std::string &userName,
                                                    const std::string &password) override
    {
        return commands_.saveEntryCredentials(entry, userName, password);
    }
    std::optional<std::string> saveEntryCost(const std::string &entry, const std::string &cost) override
    {
        return commands_.saveEntryCost(entry, cost);
    }
    std::optional<std::string> renameEntry(const std::string &oldName, const std::string &newName) override
    {
        return commands_.renameEntry(oldName, newName);
    }
    std::optional<std::string> deleteEntry(const std::string &entry, bool withLog) override
    {
        return commands_.deleteEntry(entry, withLog);
    }
    std::vector<dialup::EntryField> entryFields(const std::string &entry) override
    {
        return commands_.entryFields(entry);
    }
    std::optional<std::string> saveEntryFields(const std::string &entry, const std::vector<dialup::EntryField> &fields,
                                               bool create) override
    {
        return commands_.saveEntryFields(entry, fields, create);
    }

    log::LogDatabase *logBook() override { return log_.database().isOpen() ? &log_.database() : nullptr; }
    bool clearLog(const log::LogFilter &filter, Prompter &prompter) override
    {
        return log_.clearLog(filter, state_.ActiveStatus == state::LinkState::Connected, prompter);
    }
    std::string logPath() const override { return options_.baseDir + "/config/log.db"; }
    NumberSeparators numberSeparators() const override;

    const StatusView &statusView() const override { return view_; }
    const std::vector<std::string> &entryNames() const override { return state_.EntryNames; }
    std::vector<clientservice::ClientRow> clientRows() const override;
    bool onlineDecided() const override { return state_.ServerState != state::ServerMode::Undecided; }
    std::string baseDir() const override { return options_.baseDir; }
    bool serviceMode() const override { return state_.ServiceMode; }
    bool showWindowAtStart() const override { return !config_.startMinimizedAtStartup(); }
    bool showTipAtStart() const override { return config_.tipAtStartup(); }
    std::string tipFilePath() const override { return options_.baseDir + "/config/tip.cfg"; }

    // ---- sharing and relay ----
    bool sharingUsable() override { return sharing_.sharingUsable(); }
    // Null until a relay was started.
    const sharing::SmtpRelay *smtpRelay() const { return sharing_.smtpRelay(); }
    void setRelayLimits(const sharing::RelayLimits &limits) { sharing_.setRelayLimits(limits); }

    // The server's own client record: "Admin@" + host name, local address.
    static std::string ownClientName() { return frame::ownClientName(); }
    static std::string ownAddress() { return frame::ownAddress(); }

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
    void applyStrangerLimits();
    // Step 3 of the status tick: the sample and the entry update.
    void sampleTraffic();
    // What each module is handed (ServerCoreParts.cpp).
    LinePolicy::Parts policyParts();
    SharingCoordinator::Parts sharingParts();
    UsageMeter::Parts usageParts();
    web::WebParts webParts();
    // What a dial reads of config.ini, in one read.
    state::DialSettings readAtDial();

    // First: every module below is built on its parts.
    ServerPlatform platform_;
    ServerOptions options_;
    state::ServerState state_;
    ServerConfig config_;
    users::UserStore users_;
    ConnectionLog log_;
    // Before the client service: its listener asks the dialled side.
    SharingCoordinator sharing_;
    clientservice::ClientService clients_;
    dialup::TDialUp dialUp_;
    dialup::DialupOperations dialOps_;
    dialup::TPing ping_;
    traffic::TrafficSampler sampler_;
    UsageMeter usage_;
    LinePolicy policy_;
    SettingsModel settingsModel_;
    OperatorCommands commands_;
    StoreFileWatch storeWatch_;
    QTimer timer1_;
    QTimer timer3_;
    QTimer timer2_;
    QTimer listenRetry_;
    int tickCounter_ = 0;
    std::string listenError_;
    // Serves the TLS port where config.ini asks for it; false with why.
    bool listenEncrypted(const QHostAddress &address, std::string *why);
    // Serves the web page where config.ini asks for it; false with why.
    bool listenWeb(const QHostAddress &address, std::string *why);
    // The identity of both encrypted doors, read or made at first need.
    bool tlsIdentity(std::string *why);
    std::unique_ptr<TlsIdentity> tls_;
    web::WebServer web_;
    StatusView view_;
};

}  // namespace velora::server::frame
