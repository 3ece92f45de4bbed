#include "server/dialup/lines/PppdLine.h"

#include "server/dialup/entries/RasTexts.h"
#include "common/TextCodec.h"

#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>

namespace velora::server::dialup {

using pppd::allDigits;
using pppd::readRegularFile;
using pppd::startsWith;

namespace {

constexpr std::size_t kMaxLine = 4096;
constexpr std::int64_t kHideAfterHangupMs = 5000;

std::int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string firstWordAfter(std::string_view line, std::string_view marker)
{
    const auto at = line.find(marker);
    if (at == std::string_view::npos)
        return {};
    std::string_view rest = line.substr(at + marker.size());
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    return std::string(rest.substr(0, rest.find_first_of(" \t\r")));
}

}  // namespace

PppdLine::PppdLine(Settings settings, std::unique_ptr<NetInterfaces> net, QObject *parent)
    : LineDriver(peers_, parent), settings_(std::move(settings)),
      net_(net ? std::move(net) : std::make_unique<LinuxNetInterfaces>()),
      peers_(settings_.peersDir, settings_.secretsDir,
             [this](const std::string &word) { return net_->find(word).has_value(); }),
      outside_(peers_, *net_, settings_.runDir, settings_.procDir)
{
}

PppdLine::~PppdLine()
{
    for (const Dying &x : dying_)
        if (x.process)
            x.process->disconnect(this);
    for (auto &[handle, d] : dials_)
        if (d.process)
            reaper_.retire(std::exchange(d.process, nullptr), settings_.killAfterMs);
}

// ---- dialling ----

int PppdLine::startDial(const DialParams &params, ConnHandle &handle)
{
    const auto peer = peers_.readPeer(params.entryName);
    if (!peer)
        return RasError::CannotFindPhonebookEntry;
    for (const auto &[h, d] : dials_)
        if (d.entry == params.entryName)
            return RasError::PortAlreadyOpen;
    handle = nextHandle_++;
    auto *p = new QProcess(this);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->setStandardInputFile(QProcess::nullDevice());
    p->setProgram(QString::fromStdString(settings_.pppd));
    p->setArguments({QStringLiteral("call"), QString::fromStdString(cp1252ToUtf8(params.entryName)),
                     QStringLiteral("nodetach")});
    Dial d;
    d.entry = params.entryName;
    d.peer = *peer;
    d.process = p;
    // A redial right after a hang-up waits until the old pppd has let go of
    // the device and its lock.
    d.waiting = std::any_of(dying_.begin(), dying_.end(),
                            [&](const Dying &x) { return x.process && x.entry == params.entryName; });
    const bool waiting = d.waiting;
    dials_.emplace(handle, std::move(d));
    watchChild(p, {[this, handle] { step(handle, RasState::PortOpened); },
                   [this, handle, p] { onOutput(handle, p); },
                   [this, handle, p](int code, bool crashed) { onFinished(handle, p, code, crashed); },
                   [this, handle, p] { onStartFailed(handle, p); }});
    if (!waiting)
        p->start();
    QTimer::singleShot(0, this, [this, handle] { step(handle, RasState::OpenPort); });
    return 0;
}

void PppdLine::startWaiting(const std::string &entry)
{
    for (auto &[h, d] : dials_)
        if (d.waiting && d.entry == entry && d.process) {
            d.waiting = false;
            d.process->start();
        }
}

void PppdLine::step(ConnHandle handle, int state)
{
    if (const auto it = dials_.find(handle); it != dials_.end())
        reportStep(handle, it->second.state, it->second.errorCode, state);
}

void PppdLine::onOutput(ConnHandle handle, QProcess *process)
{
    const auto it = dials_.find(handle);
    if (it == dials_.end() || it->second.process != process)
        return;
    std::string &partial = it->second.partial;
    partial += process->readAllStandardOutput().toStdString();
    std::vector<std::string> lines;
    std::size_t lf;
    while ((lf = partial.find('\n')) != std::string::npos) {
        lines.push_back(partial.substr(0, lf));
        partial.erase(0, lf + 1);
    }
    if (partial.size() > kMaxLine)
        partial.clear();  // no log line is this long; drop the noise
    for (const std::string &line : lines)
        onLine(handle, line);  // looks the dial up anew: a receiver may hang up
}

void PppdLine::onLine(ConnHandle handle, const std::string &rawLine)
{
    const auto it = dials_.find(handle);
    if (it == dials_.end() || it->second.errorCode != 0)
        return;
    Dial &d = it->second;
    const std::string line = trimBlanks(rawLine);
    const bool chatEcho = line.find("expect (") != std::string::npos || startsWith(line, "abort on");
    if (line.find("send (ATD") != std::string::npos || line.find("send (atd") != std::string::npos) {
        step(handle, RasState::ConnectDevice);
    } else if (!chatEcho && line.find("CONNECT") != std::string::npos) {
        const std::string speed = firstWordAfter(line, "CONNECT");
        if (allDigits(speed) && speed.size() < 10)
            d.connectSpeed = static_cast<std::uint32_t>(std::stoul(speed));
        step(handle, RasState::DeviceConnected);
    } else if (startsWith(line, "Serial connection established") || startsWith(line, "PPP session is") ||
               (startsWith(line, "Connected to ") && line.find(" via interface ") != std::string::npos)) {
        step(handle, RasState::DeviceConnected);
    } else if (startsWith(line, "Using interface ")) {
        d.interface = firstWordAfter(line, "Using interface ");
        step(handle, RasState::AllDevicesConnected);
    } else if (startsWith(line, "Connect: ") && line.find(" <--> ") != std::string::npos) {
        if (d.interface.empty())
            d.interface = firstWordAfter(line, "Connect: ");
        step(handle, RasState::AllDevicesConnected);
    } else if (line.find("sent [PAP AuthReq") != std::string::npos || line.find("rcvd [CHAP Challenge") != std::string::npos ||
               line.find("sent [EAP") != std::string::npos) {
        step(handle, RasState::Authenticate);
    } else if (line.find("authentication succeeded") != std::string::npos) {
        step(handle, RasState::Authenticated);
    } else if (startsWith(line, "local  IP address") || startsWith(line, "local IP address")) {
        d.localAddress = firstWordAfter(line, "IP address");
        step(handle, RasState::Projected);
    } else if (startsWith(line, "remote IP address")) {
        // Without "debug" pppd does not report its ip-up script; the link is
        // usable once both addresses are set.
        QTimer::singleShot(settings_.connectedSettleMs, this, [this, handle] {
            const auto i = dials_.find(handle);
            if (i != dials_.end() && i->second.state == RasState::Projected)
                step(handle, RasState::Connected);
        });
    } else if (line.find("ip-up finished") != std::string::npos) {
        step(handle, RasState::Connected);
    }
}

void PppdLine::failWith(ConnHandle handle, int code)
{
    const auto it = dials_.find(handle);
    if (it == dials_.end() || it->second.errorCode != 0)
        return;
    it->second.errorCode = code;
    emit dialProgress(handle, std::max(0, it->second.state), code);
}

void PppdLine::onFinished(ConnHandle handle, QProcess *process, int exitCode, bool crashed)
{
    const auto it = dials_.find(handle);
    if (it == dials_.end() || it->second.process != process)
        return;
    onOutput(handle, process);
    const auto again = dials_.find(handle);
    if (again == dials_.end() || again->second.process != process)
        return;
    again->second.process = nullptr;
    process->deleteLater();
    // Once up, pppd's end is the line dropping: the connection is just gone.
    if (again->second.state == RasState::Connected) {
        dials_.erase(again);
        return;
    }
    failWith(handle, crashed ? RasError::DialerCrashed : RasError::PppdExit + std::clamp(exitCode, 0, 255));
}

void PppdLine::onStartFailed(ConnHandle handle, QProcess *process)
{
    const auto it = dials_.find(handle);
    if (it == dials_.end() || it->second.process != process)
        return;
    it->second.process = nullptr;
    process->deleteLater();
    failWith(handle, RasError::DialerNotStarted);
}

int PppdLine::endConnection(ConnHandle handle)
{
    if (const auto it = dials_.find(handle); it != dials_.end()) {
        Dial d = std::move(it->second);
        dials_.erase(it);
        if (d.process) {
            std::erase_if(dying_, [](const Dying &x) { return x.process.isNull(); });
            dying_.push_back({d.process, d.interface, d.entry});
            reaper_.retire(d.process, settings_.killAfterMs);
            const std::string entry = d.entry;
            connect(d.process, &QObject::destroyed, this, [this, entry] {
                QTimer::singleShot(0, this, [this, entry] { startWaiting(entry); });
            });
        }
        return 0;
    }
    if (const auto *link = outside_.find(handle)) {
        const std::string ifname = link->interface;
        outside_.forget(handle);
        const int pid = outside_.pidOf(ifname);
        if (pid <= 0)
            return RasError::NotSupported;
        // Only a pppd is stopped: a stale pid file may name anything by now.
        const auto comm = readRegularFile(settings_.procDir + "/" + std::to_string(pid) + "/comm");
        if (!comm || trimBlanks(*comm) != "pppd")
            return RasError::NotSupported;
        if (::kill(pid, SIGTERM) != 0)
            return RasError::NotSupported;
        hiddenUntil_[ifname] = steadyMs() + kHideAfterHangupMs;
        return 0;
    }
    return RasError::InvalidHandle;
}

// ---- connections ----

bool PppdLine::hidden(const std::string &ifname) const
{
    for (const Dying &d : dying_)
        if (d.process && !d.interface.empty() && d.interface == ifname)
            return true;
    const auto it = hiddenUntil_.find(ifname);
    return it != hiddenUntil_.end() && it->second > steadyMs();
}

int PppdLine::enumConnections(std::vector<ConnectionInfo> &connections) const
{
    connections.clear();
    std::vector<std::string> claimed;
    for (const auto &[handle, d] : dials_) {
        // A pppd that keeps running (persist) shows while its link is there.
        if (d.state == RasState::Connected && !d.interface.empty() && !net_->find(d.interface))
            continue;
        connections.push_back({handle, d.entry, d.peer.device, d.peer.deviceType, std::max(0, d.state),
                               d.errorCode});
        claimed.push_back(d.interface);
    }
    const auto skip = [&](const std::string &name) {
        return std::find(claimed.begin(), claimed.end(), name) != claimed.end() || hidden(name);
    };
    for (const PppdOutsideLinks::Link &l : outside_.refresh(skip, nextHandle_))
        connections.push_back({l.handle, l.entry, l.device, l.deviceType, RasState::Connected, 0});
    return 0;
}

int PppdLine::projectionAddress(ConnHandle handle, std::string &ipv4) const
{
    std::string iface, reported;
    if (const auto it = dials_.find(handle); it != dials_.end()) {
        if (it->second.state < RasState::Projected)
            return RasError::ProjectionNotComplete;
        iface = it->second.interface;
        reported = it->second.localAddress;
    } else if (const auto *link = outside_.find(handle)) {
        iface = link->interface;
    } else {
        return RasError::InvalidHandle;
    }
    const auto i = iface.empty() ? std::nullopt : net_->find(iface);
    ipv4 = i && !i->ipv4.empty() ? i->ipv4 : reported;
    return ipv4.empty() ? RasError::ProjectionNotComplete : 0;
}

int PppdLine::dialParams(const std::string &entry, DialParams &params) const
{
    params = {};
    params.entryName = entry;
    return 0;
}

std::string PppdLine::interfaceOf(const std::string &entry) const
{
    for (const auto &[handle, d] : dials_)
        if (d.entry == entry && d.process && !d.interface.empty())
            return d.interface;
    return {};
}

int PppdLine::connectionSpeed(ConnHandle handle, std::uint32_t &bitsPerSecond) const
{
    bitsPerSecond = 0;
    std::string iface;
    if (const auto it = dials_.find(handle); it != dials_.end()) {
        bitsPerSecond = it->second.connectSpeed ? it->second.connectSpeed : it->second.peer.baud;
        iface = it->second.interface;
    } else if (const auto *link = outside_.find(handle)) {
        bitsPerSecond = link->baud;
        iface = link->interface;
    } else {
        return RasError::InvalidHandle;
    }
    if (bitsPerSecond == 0 && !iface.empty())
        if (const auto i = net_->find(iface))
            bitsPerSecond = bitsPerSecondFromMbps(i->speedMbps);
    return bitsPerSecond ? 0 : RasError::NotSupported;
}

}  // namespace velora::server::dialup
