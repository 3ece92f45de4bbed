#include "server/dialup/lines/CommandLine.h"

#include "server/dialup/entries/CommandWords.h"
#include "server/dialup/entries/PhonebookFile.h"
#include "server/dialup/entries/RasTexts.h"
#include "server/dialup/lines/SimulatedLine.h"
#include "common/IniProfile.h"
#include "common/TextCodec.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <cctype>

namespace velora::server::dialup {

namespace {

constexpr int kTailBytes = 4096;
constexpr std::size_t kMaxText = 100;  // the engine's limit for a status text
constexpr int kFirstFailureCode = 21000;
constexpr int kFailureCodes = 1000;

std::string lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

QString fromWire(const std::string &cp1252)
{
    return QString::fromStdString(cp1252ToUtf8(cp1252));
}

std::string cut(std::string text)
{
    if (text.size() > kMaxText)
        text.resize(kMaxText);
    return text;
}

}  // namespace

CommandLine::CommandLine(const std::string &baseDir, std::unique_ptr<NetInterfaces> net,
                         Settings settings, QObject *parent)
    : LineDriver(book_, parent),
      book_(SimulatedLine::phonebookPathFor(baseDir), {{}, "command", "interface"}),
      net_(net ? std::move(net) : std::make_unique<LinuxNetInterfaces>()), settings_(settings)
{
    using K = EntryField::Kind;
    book_.setFields({{"connect", "Connect command", {}, K::Command, false, true},
                     {"disconnect", "Disconnect command", {}, K::Command},
                     {"interface", "Interface", {}, K::Interface, false, true},
                     {"speed", "Speed (bit/s)", {}, K::Number},
                     {"device", "Device", {}, K::Text}});
    settings_.timeoutSeconds = std::clamp(settings_.timeoutSeconds, 1, 3600);
    settings_.pollMs = std::clamp(settings_.pollMs, 10, 5000);
    poll_.setInterval(settings_.pollMs);
    connect(&poll_, &QTimer::timeout, this, &CommandLine::poll);
}

CommandLine::~CommandLine()
{
    poll_.stop();
    for (auto &[handle, d] : dials_)
        if (d.process)
            reaper_.retire(std::exchange(d.process, nullptr));
}

// ---- phone book ----

CommandLine::Entry CommandLine::readEntry(const std::string &section) const
{
    const IniProfile ini(book_.path());
    const EntryProperties props = book_.properties(section);
    Entry e;
    e.section = section;
    e.connect = ini.readString(section, "connect", "");
    e.disconnect = ini.readString(section, "disconnect", "");
    e.interface = ini.readString(section, "interface", "");
    e.device = props.deviceName;
    e.deviceType = props.deviceType;
    e.speed = static_cast<std::uint32_t>(std::max(0, ini.readInteger(section, "speed", 0)));
    return e;
}

std::string CommandLine::interfaceOf(const std::string &entry) const
{
    std::string section;
    return book_.locate(entry, section) == 0 ? readEntry(section).interface : std::string();
}

std::vector<CommandLine::Entry> CommandLine::readAll() const
{
    std::vector<Entry> all;
    const auto content = phonebook::load(book_.path());
    if (!content)
        return all;
    for (const std::string &name : phonebook::sectionNames(*content))
        if (isValidEntryName(name))
            all.push_back(readEntry(name));
    return all;
}

// ---- connections ----

void CommandLine::purgeDropped() const
{
    // A link that went down after it was up is gone, as a dropped line is.
    for (auto it = dials_.begin(); it != dials_.end();) {
        if (it->second.state == RasState::Connected && !net_->connected(it->second.entry.interface))
            it = dials_.erase(it);
        else
            ++it;
    }
}

const CommandLine::Dial *CommandLine::dialOf(const std::string &section) const
{
    for (const auto &[handle, d] : dials_)
        if (phonebook::equalsNoCase(d.entry.section, section))
            return &d;
    return nullptr;
}

bool CommandLine::hangingUp(const std::string &section) const
{
    const auto it = disconnecting_.find(lower(section));
    return it != disconnecting_.end() && it->second;
}

int CommandLine::enumConnections(std::vector<ConnectionInfo> &connections) const
{
    connections.clear();
    purgeDropped();
    std::vector<std::string> claimed;
    const auto isClaimed = [&](const std::string &iface) {
        return std::find(claimed.begin(), claimed.end(), iface) != claimed.end();
    };
    for (const auto &[handle, d] : dials_) {
        connections.push_back({handle, d.entry.section, d.entry.device, d.entry.deviceType,
                               std::max(0, d.state), d.errorCode});
        claimed.push_back(d.entry.interface);
    }
    // Links raised by someone else count for the first entry naming their
    // interface; one being taken down is not shown while its command runs.
    for (const Entry &e : readAll()) {
        const std::string key = lower(e.section);
        const bool skip = e.interface.empty() || dialOf(e.section) || isClaimed(e.interface);
        if (!skip && hangingUp(e.section))
            claimed.push_back(e.interface);
        if (skip || hangingUp(e.section) || !net_->connected(e.interface)) {
            if (!dialOf(e.section))
                outside_.erase(key);
            continue;
        }
        auto it = outside_.find(key);
        if (it == outside_.end())
            it = outside_.emplace(key, nextHandle_++).first;
        connections.push_back({it->second, e.section, e.device, e.deviceType, RasState::Connected, 0});
        claimed.push_back(e.interface);
    }
    return 0;
}

int CommandLine::projectionAddress(ConnHandle handle, std::string &ipv4) const
{
    std::string iface;
    if (const auto it = dials_.find(handle); it != dials_.end()) {
        if (it->second.state != RasState::Connected)
            return RasError::ProjectionNotComplete;
        iface = it->second.entry.interface;
    } else {
        for (const auto &[key, h] : outside_)
            if (h == handle)
                for (const Entry &e : readAll())
                    if (lower(e.section) == key)
                        iface = e.interface;
        if (iface.empty())
            return RasError::InvalidHandle;
    }
    const auto i = net_->find(iface);
    if (!i || i->ipv4.empty())
        return RasError::ProjectionNotComplete;
    ipv4 = i->ipv4;
    return 0;
}

std::string CommandLine::connectionInterface(ConnHandle handle) const
{
    if (const auto it = dials_.find(handle); it != dials_.end())
        return it->second.entry.interface;
    for (const auto &[key, h] : outside_)
        if (h == handle)
            for (const Entry &e : readAll())
                if (lower(e.section) == key)
                    return e.interface;
    return {};
}

int CommandLine::connectionSpeed(ConnHandle handle, std::uint32_t &bitsPerSecond) const
{
    bitsPerSecond = 0;
    Entry entry;
    if (const auto it = dials_.find(handle); it != dials_.end()) {
        entry = it->second.entry;
    } else {
        bool found = false;
        for (const auto &[key, h] : outside_)
            if (h == handle)
                for (const Entry &e : readAll())
                    if (lower(e.section) == key) {
                        entry = e;
                        found = true;
                    }
        if (!found)
            return RasError::InvalidHandle;
    }
    if (entry.speed > 0) {
        bitsPerSecond = entry.speed;
        return 0;
    }
    const auto i = net_->find(entry.interface);
    bitsPerSecond = i ? bitsPerSecondFromMbps(i->speedMbps) : 0;
    return bitsPerSecond ? 0 : RasError::NotSupported;
}

std::string CommandLine::errorText(int code) const
{
    if (const auto it = failureTexts_.find(code); it != failureTexts_.end())
        return it->second;
    return LineDriver::errorText(code);
}

QProcess *CommandLine::spawn(const std::vector<std::string> &words, const Entry &entry,
                             const DialParams &params)
{
    auto *p = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELORA_ENTRY"), fromWire(entry.section));
    env.insert(QStringLiteral("VELORA_INTERFACE"), fromWire(entry.interface));
    env.insert(QStringLiteral("VELORA_PHONE"), fromWire(params.phoneNumber));
    env.insert(QStringLiteral("VELORA_USER"), fromWire(params.userName));
    env.insert(QStringLiteral("VELORA_PASSWORD"), fromWire(params.password));
    p->setProcessEnvironment(env);
    p->setStandardInputFile(QProcess::nullDevice());
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setProgram(fromWire(words.front()));
    QStringList args;
    for (std::size_t i = 1; i < words.size(); ++i)
        args << fromWire(words[i]);
    p->setArguments(args);
    return p;
}

int CommandLine::startDial(const DialParams &params, ConnHandle &handle)
{
    std::string section;
    if (const int rc = book_.locate(params.entryName, section))
        return rc;
    const Entry entry = readEntry(section);
    if (trimBlanks(entry.connect).empty() || entry.interface.empty())
        return RasError::EntryIncomplete;
    const auto words = splitCommand(entry.connect);
    if (!words || words->empty())
        return RasError::CommandSyntax;
    purgeDropped();
    for (const auto &[h, d] : dials_)
        if (phonebook::equalsNoCase(d.entry.section, section) || d.entry.interface == entry.interface)
            return RasError::PortAlreadyOpen;
    // A redial right after a hang-up waits for the disconnect command; the
    // link it takes down is not "someone else's" connection.
    const bool afterHangup = hangingUp(section);
    if (!afterHangup && net_->connected(entry.interface))
        return RasError::PortAlreadyOpen;

    handle = nextHandle_++;
    Dial d;
    d.entry = entry;
    d.since.start();
    d.waiting = afterHangup;
    QProcess *p = spawn(*words, entry, params);
    d.process = p;
    dials_.emplace(handle, std::move(d));
    watchChild(p, {[this, handle, p] { onStarted(handle, p); },
                   [this, handle, p] { onErrors(handle, p); },
                   [this, handle, p](int code, bool crashed) { onFinished(handle, p, code, crashed); },
                   [this, handle, p] { onStartFailed(handle, p); }});
    if (!afterHangup)
        p->start();
    QTimer::singleShot(0, this, [this, handle] { step(handle, RasState::OpenPort); });
    if (!poll_.isActive())
        poll_.start();
    return 0;
}

void CommandLine::step(ConnHandle handle, int state)
{
    if (const auto it = dials_.find(handle); it != dials_.end())
        reportStep(handle, it->second.state, it->second.errorCode, state);
}

void CommandLine::fail(ConnHandle handle, const std::string &text)
{
    const auto it = dials_.find(handle);
    if (it == dials_.end() || it->second.errorCode != 0)
        return;
    // Each failure gets its own code, so every failed dial keeps its own text.
    const int code = kFirstFailureCode + (failures_++ % kFailureCodes);
    failureTexts_[code] = cut(text);
    it->second.errorCode = code;
    if (it->second.process)
        reaper_.retire(std::exchange(it->second.process, nullptr));
    emit dialProgress(handle, std::max(0, it->second.state), code);
}

void CommandLine::onStarted(ConnHandle handle, QProcess *process)
{
    const auto it = dials_.find(handle);
    if (it == dials_.end() || it->second.process != process)
        return;
    step(handle, RasState::PortOpened);
    step(handle, RasState::ConnectDevice);
}

void CommandLine::onErrors(ConnHandle handle, QProcess *process)
{
    const auto it = dials_.find(handle);
    if (it == dials_.end() || it->second.process != process)
        return;
    QByteArray &buf = it->second.errors;
    buf += process->readAllStandardError();
    if (buf.size() > kTailBytes)
        buf.remove(0, buf.size() - kTailBytes);
}

void CommandLine::onFinished(ConnHandle handle, QProcess *process, int exitCode, bool crashed)
{
    const auto it = dials_.find(handle);
    if (it == dials_.end() || it->second.process != process)
        return;
    Dial &d = it->second;
    d.errors += process->readAllStandardError();
    d.process = nullptr;
    process->deleteLater();
    if (d.state == RasState::Connected || d.errorCode != 0)
        return;
    const std::string tail = outputTail(d.errors.toStdString(), kMaxText);
    if (crashed) {
        fail(handle, "Connect command ended abnormally" + (tail.empty() ? "." : ": " + tail));
    } else if (exitCode != 0) {
        fail(handle, tail.empty() ? "Connect command failed with exit code " + std::to_string(exitCode) + "."
                                  : "Connect failed: " + tail);
    } else {
        step(handle, RasState::DeviceConnected);
        pollOne(handle);
    }
}

void CommandLine::onStartFailed(ConnHandle handle, QProcess *process)
{
    const auto it = dials_.find(handle);
    if (it == dials_.end() || it->second.process != process)
        return;
    const std::string why = utf8ToCp1252(process->errorString().toStdString());
    fail(handle, "Cannot run the connect command: " + why);
}

void CommandLine::poll()
{
    bool waiting = false;
    std::vector<ConnHandle> handles;
    for (const auto &[h, d] : dials_)
        if (d.state != RasState::Connected && d.errorCode == 0)
            handles.push_back(h);
    for (const ConnHandle h : handles)
        pollOne(h);
    for (const auto &[h, d] : dials_)
        waiting = waiting || (d.state != RasState::Connected && d.errorCode == 0);
    if (!waiting)
        poll_.stop();
}

void CommandLine::pollOne(ConnHandle handle)
{
    const auto it = dials_.find(handle);
    if (it == dials_.end() || it->second.state == RasState::Connected || it->second.errorCode != 0)
        return;
    Dial &d = it->second;
    if (d.waiting && !hangingUp(d.entry.section)) {
        d.waiting = false;
        d.process->start();
        return;
    }
    if (!d.waiting && net_->connected(d.entry.interface)) {
        // A connect command that stays (holding the link) runs until hang-up.
        step(handle, RasState::Projected);
        step(handle, RasState::Connected);
        return;
    }
    if (d.since.elapsed() >= static_cast<qint64>(settings_.timeoutSeconds) * 1000) {
        if (d.process)
            d.errors += d.process->readAllStandardError();
        const std::string tail = outputTail(d.errors.toStdString(), kMaxText);
        fail(handle, "No address on " + d.entry.interface + " after " +
                         std::to_string(settings_.timeoutSeconds) + " s" +
                         (tail.empty() ? "." : ": " + tail));
    }
}

void CommandLine::runDisconnect(const Entry &entry)
{
    const auto words = splitCommand(entry.disconnect);
    if (!words || words->empty())
        return;
    QProcess *p = spawn(*words, entry, {});
    const std::string key = lower(entry.section);
    connect(p, &QProcess::finished, this, [this, key, p] { disconnectEnded(key, p); });
    connect(p, &QProcess::errorOccurred, this, [this, key, p](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            disconnectEnded(key, p);
    });
    p->start();
    if (p->state() != QProcess::NotRunning)
        disconnecting_[key] = p;
    reaper_.adopt(p, settings_.timeoutSeconds * 1000);
}

void CommandLine::disconnectEnded(const std::string &key, QProcess *process)
{
    const auto it = disconnecting_.find(key);
    if (it == disconnecting_.end() || it->second != process)
        return;
    disconnecting_.erase(it);
    // A dial that waited for this starts now, from the event loop.
    for (const auto &[h, d] : dials_)
        if (d.waiting && lower(d.entry.section) == key)
            QTimer::singleShot(0, this, [this, h = h] { pollOne(h); });
}

int CommandLine::endConnection(ConnHandle handle)
{
    if (const auto it = dials_.find(handle); it != dials_.end()) {
        Dial d = std::move(it->second);
        dials_.erase(it);
        if (d.process)
            reaper_.retire(d.process);
        // Also after a failed dial: the command may have done half its work.
        runDisconnect(d.entry);
        return 0;
    }
    for (auto it = outside_.begin(); it != outside_.end(); ++it) {
        if (it->second != handle)
            continue;
        const std::string key = it->first;
        outside_.erase(it);
        for (const Entry &e : readAll())
            if (lower(e.section) == key) {
                if (trimBlanks(e.disconnect).empty())
                    return RasError::NotSupported;
                runDisconnect(e);
                return 0;
            }
        return RasError::CannotFindPhonebookEntry;
    }
    return RasError::InvalidHandle;
}

}  // namespace velora::server::dialup
