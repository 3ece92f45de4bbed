#include "server/frame/ServerCore.h"

#include <QHostAddress>

#include "common/NumberFormat.h"
#include "common/TextCodec.h"
#include "common/WireCodec.h"
#include "server/frame/FileChecks.h"
#include "server/frame/LineConnectionView.h"
#include "server/frame/ListenAddress.h"
#include "server/state/Text.h"

namespace velora::server::frame {

namespace {

using state::localeSeparators;

}  // namespace

ServerCore::ServerCore(ServerOptions options, ServerPlatform platform, QObject *parent)
    : OperatorConsole(parent), platform_(completePlatform(std::move(platform))), options_(std::move(options)),
      config_(options_.baseDir, *platform_.autostart), users_(options_.baseDir + "/config/user.cfg"),
      sharing_(state_, sharingParts()),
      clients_(state_, users_, *platform_.shutdown, [this] { return config_.shutdownMode(); }),
      dialUp_(*platform_.line),
      dialOps_(state_, dialUp_, [this] { return readAtDial(); }),
      ping_(*platform_.lookup, *platform_.icmp),
      sampler_(*platform_.interfaces, lineConnectionView(*platform_.line, dialOps_)),
      usage_(state_, usageParts()),
      policy_(state_, policyParts()),
      settingsModel_(config_, state_, [this] { return sharing_.sharingUsable(); }),
      commands_({state_, dialUp_, dialOps_, policy_, clients_, log_}),
      web_(webParts())
{
    sampler_.onFigures = [this](const std::string &entry, std::uint64_t download, std::uint64_t upload) {
        policy_.countBytes(download + upload);
        web_.meterSample(download, upload);
        emit bandwidthSample(state::shownText(entry), download, upload);
    };
    clients_.setDialControl(&dialOps_);
    dialOps_.setSharingSwitch(&sharing_);
    dialOps_.setDialPolicy(&policy_);
    timer3_.setInterval(1000);
    connect(&timer3_, &QTimer::timeout, this, &ServerCore::Timer3Timer);
    timer1_.setInterval(500);
    connect(&timer1_, &QTimer::timeout, this, &ServerCore::Timer1Timer);
    connect(&clients_, &clientservice::ClientService::statusRecordChanged, this, &ServerCore::statusChanged);
    connect(&clients_, &clientservice::ClientService::problem, this,
            [this](const std::string &text) { emit problem(state::shownMessage(text)); });
    connect(&clients_, &clientservice::ClientService::clientListUpdated, this, &OperatorConsole::clientRowsChanged);
    connect(&clients_, &clientservice::ClientService::serverInboxReady, this, &OperatorConsole::serverInboxReady);
    connect(&dialOps_, &dialup::DialupOperations::entriesChanged, this, &OperatorConsole::entriesChanged);
    connect(&dialOps_, &dialup::DialupOperations::dialStarting, &sharing_, &SharingCoordinator::guardDialledSide);
    connect(&dialOps_, &dialup::DialupOperations::entriesChanged, &sharing_,
            &SharingCoordinator::readEntryInterfaces);
    connect(&clients_, &clientservice::ClientService::commandHeard, &log_,
            qOverload<const std::string &, const std::string &, const std::string &, const std::string &,
                      const std::string &>(&ConnectionLog::audit));
    connect(&log_, &ConnectionLog::problem, this, &OperatorConsole::problem);
    connect(&sharing_, &SharingCoordinator::problem, this, &OperatorConsole::problem);
    connect(&settingsModel_, &SettingsModel::problem, this, &OperatorConsole::problem);
    connect(&log_, &ConnectionLog::rowsChanged, this, &OperatorConsole::logChanged);
    connect(&commands_, &OperatorCommands::logChanged, this, &OperatorConsole::logChanged);
    connect(&log_, &ConnectionLog::auditChanged, this, &OperatorConsole::auditChanged);
    connect(&usage_, &UsageMeter::usageChanged, this, &OperatorConsole::usageChanged);
    connect(&usage_, &UsageMeter::usageChanged, &web_, &web::WebServer::figuresChanged);
    connect(&log_, &ConnectionLog::rowsChanged, &web_, &web::WebServer::figuresChanged);
    connect(&commands_, &OperatorCommands::logChanged, &web_, &web::WebServer::figuresChanged);
    connect(&usage_, &UsageMeter::problem, this, &OperatorConsole::problem);
    connect(&settingsModel_, &SettingsModel::loaded, this, &OperatorConsole::configLoaded);
    state_.BaseDir = options_.baseDir;
    state_.ServiceMode = options_.serviceMode;
    listenRetry_.setSingleShot(true);
    listenRetry_.setInterval(60'000);
    connect(&listenRetry_, &QTimer::timeout, this, [this] { goOnline(); });
    timer2_.setSingleShot(true);
    timer2_.setInterval(options_.secondStageDelayMs);
    connect(&timer2_, &QTimer::timeout, this, &ServerCore::Timer2Timer);
}

ServerCore::~ServerCore()
{
    goOffline();
    sharing_.endSharing();
}

void ServerCore::Timer1Timer()
{
    tickCounter_ = tickCounter_ >= 10 ? 0 : tickCounter_ + 1;
    dialOps_.enumerateActive();
    sharing_.followLineInterfaces();
    const bool connected = state_.ActiveStatus == state::LinkState::Connected;
    sharing_.completeSharing();
    if (connected && tickCounter_ % 2 == 0)
        sampleTraffic();
    if (connected && !timer3_.isActive()) {
        // Taken now, so a dial made before the next online second cannot
        // be credited with this connection.
        state_.ConnectionDialer = dialOps_.takeDialer(state_.ActiveEntry);
        timer3_.start();
    }
    if (connected && (state_.SpeedText == "--" || state_.SpeedText.empty()))
        Getspeed();
    else if (state_.ActiveStatus == state::LinkState::None) {
        state_.SpeedText = "--";
        state_.SpeedValue = "0";
    }
    if (state_.StatusText == "Connected" && state_.ActiveStatus == state::LinkState::None)
        state_.StatusText = "READY";
    if (connected)
        state_.StatusText = state::toText(state_.ActiveStatus);
    policy_.statusTick();
    // A failure about to be redialled is not final: the waiting text stands instead.
    state_.ErrorNotice = state_.DialEventText == "Error press hangup button" && !policy_.redialPending()
                             ? state_.DialEventText
                             : std::string();
    clients_.runTickSteps();
    web_.tick();
    dialOps_.statusPushed();
    log_.pruneAuditStep([this] { return config_.auditDays(); });
    updateStatusView();
    emit ticked();
}

void ServerCore::updateStatusView()
{
    StatusView &v = view_;
    v.ticked = true;
    // Named while dialling or failing too: only a line that is up connects through it.
    v.entry = state_.ActiveStatus == state::LinkState::Connected ? state_.ActiveEntry : "--";
    v.device = state_.ActiveDevice;
    v.timeOnline = state_.TimeOnlineText;
    v.speed = state_.SpeedText;
    v.lock = state::toText(state_.LockStatus);
    v.status = state_.StatusText;
    v.errorNotice = state_.ErrorNotice;
    const std::string status = "Status : " + state_.StatusText;
    const std::string server = "Server status : " + state::toText(state_.ServerState);
    if (state_.ServerState == state::ServerMode::Offline) {
        v.trayImage = 2;
        v.trayHint = status + "\n" + server;
    } else if (state_.StatusText == "Connected") {
        v.trayImage = 0;
        v.trayHint = status + "\nConnected via : " + state_.ActiveEntry + "\nSpeed : " + state_.SpeedText +
                     "\n" + server;
    } else {
        v.trayImage = 1;
        v.trayHint = status + "\n" + server;
    }
    v.unlockShown = clients_.operatorLockState() == state::ClientLock::Locking;
    v.lockHolder.clear();
    v.lockedSince = 0;
    for (const clientservice::TSimpleClient *r : clients_.clientList())
        if (r->LockState == state::ClientLock::Locking) {
            v.lockHolder = r->ClientName;
            v.lockedSince = r->LockedSince;
            break;
        }
}

void ServerCore::Getspeed()
{
    if (state_.StatusText != "Connected") {
        state_.SpeedText = "--";
        state_.SpeedValue = "0";
        return;
    }
    // No interface of the entry yet: empty, so the next tick asks again.
    std::uint32_t bps = 0;
    state_.SpeedText = sampler_.speedOfEntry(state_.ActiveEntry, bps, localeSeparators());
    if (!state_.SpeedText.empty())
        state_.SpeedValue = std::to_string(bps);
}

void ServerCore::sampleTraffic()
{
    sampler_.sample();
    // The entry of this tick's connection.
    sampler_.entryUpdate(state_.ActiveEntry);
    clients_.setTrafficText(sampler_.BandwidthText());
}

void ServerCore::Timer3Timer()
{
    state_.TimeOnlineText = olahwaktu(state_.SecondsOnline);
    if (state_.dialSettings.keepalive && state_.SecondsOnline % 30 == 0) {
        std::string why;
        if (!ping_.startRound(state_.dialSettings.pingip, &why)) {
            state_.dialSettings.keepalive = false;
            emit problem(state::shownMessage("keep-alive off until the next dial: " + why));
        }
    }
    log_.recordConnection(state_);
    sharing_.startRelayIfDue();
    // Before the policy: the minute's bytes count against the cap.
    usage_.secondTick();
    if (state_.ActiveStatus == state::LinkState::Connected)
        policy_.secondTick();
    if (state_.ActiveStatus != state::LinkState::Connected) {
        state_.SecondsOnline = 0;
        state_.TimeOnlineText = olahwaktu(0);
        state_.ConnectionDialer.clear();
        state_.SmtpRelayStarted = false;
        timer3_.stop();
    } else {
        ++state_.SecondsOnline;
    }
}

NumberSeparators ServerCore::numberSeparators() const { return localeSeparators(); }

void ServerCore::inisiasiawal()
{
    std::string why;
    if (!log_.database().isOpen() && !log_.database().open(options_.baseDir + "/config/log.db", &why))
        emit problem(state::shownMessage(why));
    why.clear();
    if (!users_.updateuserlist(&why))
        emit problem(state::shownMessage("Cannot read the user store: " + why +
                                         "; every login is refused until it can be read."));
    else
        emit usersChanged();
    watchUsers();
    state_.LastStatusRecord = "w";
    state_.StatusChanged = 0;
    state_.SmtpRelayStarted = false;
    state_.StatusText = "READY";
    state_.SpeedText = "--";
    state_.EntryNames.clear();
    state_.SecondsOnline = 0;
    state_.EntryListText.clear();
    if (!platform_.lineProblem.empty())
        emit problem(state::shownText(platform_.lineProblem));
    dialOps_.getentry();
}

void ServerCore::checkFiles()
{
    const std::string secrets = platform_.line->driverName() == "pppd"
                                    ? config_.ini().readString("line", "secretsdir", "/etc/ppp")
                                    : std::string();
    for (const std::string &line : baseDirProblems(options_.baseDir, users_, secrets))
        emit problem(state::shownMessage(line));
}

void ServerCore::start()
{
    inisiasiawal();
    timer1_.start();
    timer2_.start();
}

void ServerCore::Timer2Timer()
{
    timer2_.stop();
    loadcfg();
    if (config_.onlineAtStartup())
        goOnline();
    else
        goOffline();
    // Showing the window, the tip and the log view belong to the windows.
    emit secondStageDone();
}

bool ServerCore::goOnline()
{
    if (clients_.transport().isListening())
        return true;
    loadcfg();
    const int port = config_.listenPort();
    applyStrangerLimits();
    clients_.transport().setDescriptorReserve(DescriptorReserve);
    // The provider's side of the line is not the office, unless asked for.
    clients_.transport().setDialledSide(config_.wanAccess() ? nullptr : &sharing_.dialledSide());
    std::string why;
    const auto offline = [this](const std::string &reason, bool tell) {
        listenError_ = reason;
        state_.ServerState = state::ServerMode::Offline;
        if (tell)
            emit problem(state::shownMessage(reason));
        emit onlineChanged(false);
        return false;
    };
    const std::optional<QHostAddress> address =
        listenAddressFor(config_.listenSetting(), options_.listenAddress, config_.path(), &why);
    if (!address) {
        listenRetry_.start();
        return offline(why, true);
    }
    // With no TLS port the plain one stays open whatever plaintext says.
    if ((config_.plaintext() || config_.tlsPort() == 0) && !clients_.transport().listen(*address, port, &why)) {
        return offline("cannot listen on port " + std::to_string(port) + ": " + why, true);
    }
    if (!listenEncrypted(*address, &why)) {
        emit problem(state::shownMessage(why));
        if (!clients_.transport().isListening())
            return offline(why, false);
    }
    if (!listenWeb(*address, &why))
        emit problem(state::shownMessage(why));
    listenError_.clear();
    state_.ServerState = state::ServerMode::Online;
    clients_.addOwnRecord(ownClientName(), ownAddress());
    // As the first tick would leave it: a dial that arrives before that tick
    // must find the line "free", not an empty lock word.
    clients_.updateLockStatus();
    emit onlineChanged(true);
    return true;
}

void ServerCore::goOffline()
{
    listenRetry_.stop();
    web_.stop();
    clients_.transport().stopListening();
    clients_.goOffline();
    policy_.offline();
    const bool changed = state_.ServerState != state::ServerMode::Offline;
    state_.ServerState = state::ServerMode::Offline;
    if (changed)
        emit onlineChanged(false);
}

std::vector<clientservice::ClientRow> ServerCore::clientRows() const
{
    std::vector<clientservice::ClientRow> rows;
    for (const clientservice::TSimpleClient *r : clients_.clientList())
        rows.push_back({r->ClientName, r->Address, state::toText(r->LockState), r->LockedSince});
    return rows;
}

void ServerCore::pesanserver(const std::string &recipient, const std::string &record)
{
    clients_.pesanserver(recipient, record);
}

void ServerCore::applyStrangerLimits()
{
    std::vector<std::string> problems;
    clients_.setStrangerLimits(config_.strangerLimits(&problems));
    for (const std::string &p : problems)
        emit problem(state::shownMessage(p));
}

quint16 ServerCore::listeningPort() const { return clients_.transport().port(); }

std::string ServerCore::listeningAddress() const
{
    if (!clients_.transport().isListening())
        return {};
    const QHostAddress a = clients_.transport().address();
    return a == QHostAddress::AnyIPv4 || a == QHostAddress::Any ? "all addresses" : a.toString().toStdString();
}

void ServerCore::watchUsers()
{
    const std::string phonebook = options_.baseDir + "/config/phonebook.ini";
    storeWatch_.watch(users_.path());
    storeWatch_.watch(phonebook);
    connect(&storeWatch_, &StoreFileWatch::changed, this, &ServerCore::storeFileChanged, Qt::UniqueConnection);
}

void ServerCore::storeFileChanged(const std::string &path)
{
    // The phonebook edited beside the server: the entry list follows.
    if (path != users_.path()) {
        dialOps_.getentry();
        return;
    }
    std::string why;
    if (users_.updateuserlist(&why))
        emit usersChanged();
}

}  // namespace velora::server::frame
