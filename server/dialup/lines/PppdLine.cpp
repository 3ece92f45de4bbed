#include "server/dialup/lines/PppdLine.h"

#include "server/dialup/entries/PhonebookFile.h"
#include "server/dialup/entries/RasTexts.h"
#include "common/TextCodec.h"

#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <set>

#include <sys/stat.h>

namespace velora::server::dialup {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxLine = 4096;
constexpr std::int64_t kHideAfterHangupMs = 5000;

// Options whose next word is their value, so that a value is never taken
// for a device or a speed.
const std::set<std::string> kOptionsWithValue{
    "active-filter", "asyncmap", "call", "chap-interval", "chap-max-challenge", "chap-restart",
    "connect", "connect-delay", "demand", "disconnect", "domain", "escape", "file", "holdoff",
    "idle", "ifname", "init", "ipcp-max-configure", "ipcp-max-failure", "ipcp-max-terminate",
    "ipcp-restart", "ipparam", "ipv6cp-max-configure", "ipv6cp-restart", "kdebug",
    "lcp-echo-failure", "lcp-echo-interval", "lcp-max-configure", "lcp-max-failure",
    "lcp-max-terminate", "lcp-restart", "linkname", "logfd", "logfile", "maxconnect", "maxfail",
    "mru", "mtu", "ms-dns", "ms-wins", "name", "netmask", "pap-max-authreq", "pap-restart",
    "pap-timeout", "pass-filter", "password", "plugin", "pppoe-mac", "pty", "remotename",
    "rp_pppoe_ac", "rp_pppoe_service", "socket", "unit", "user", "welcome"};

std::int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::optional<std::string> readText(const std::string &path)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return std::nullopt;
    return phonebook::load(path);
}

bool allDigits(const std::string &s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

bool containsNoCase(std::string_view hay, std::string_view needle)
{
    const auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
    return it != hay.end();
}

bool validPhone(const std::string &phone)
{
    return std::all_of(phone.begin(), phone.end(), [](char c) {
        return (c >= '0' && c <= '9') || std::string_view(" *#,+-().WwPp!@").find(c) != std::string_view::npos;
    });
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

bool saveSecrets(const std::string &path, const std::string &content)
{
    if (!phonebook::save(path, content))
        return false;
    // Secrets are for root's eyes only, whatever mode the file had.
    return ::chmod(path.c_str(), 0600) == 0;
}

}  // namespace

// ---- pppd's file syntax ----

std::vector<OptionWord> optionWords(std::string_view content)
{
    std::vector<OptionWord> words;
    std::size_t i = 0, line = 0;
    const std::size_t n = content.size();
    while (i < n) {
        const char c = content[i];
        if (c == '\n') {
            ++line;
            ++i;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#') {
            while (i < n && content[i] != '\n')
                ++i;
            continue;
        }
        OptionWord w;
        w.begin = i;
        w.line = line;
        while (i < n) {
            const char d = content[i];
            if (d == ' ' || d == '\t' || d == '\r' || d == '\n')
                break;
            if (d == '"' || d == '\'') {
                for (++i; i < n && content[i] != d; ++i) {
                    if (content[i] == '\\' && d == '"' && i + 1 < n)
                        ++i;
                    if (content[i] == '\n')
                        ++line;
                    w.text += content[i];
                }
                if (i < n)
                    ++i;  // the closing quote; an unclosed one ends at the file's end
                continue;
            }
            if (d == '\\' && i + 1 < n) {
                if (content[i + 1] != '\n')
                    w.text += content[i + 1];
                i += 2;
                continue;
            }
            w.text += d;
            ++i;
        }
        w.end = i;
        words.push_back(std::move(w));
    }
    return words;
}

std::string quoteOptionWord(std::string_view word)
{
    std::string out = "\"";
    for (const char c : word) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

std::string phoneFromChat(std::string_view text)
{
    if (const auto words = splitCommand(text)) {
        for (std::size_t i = 0; i + 1 < words->size(); ++i)
            if ((*words)[i] == "-T")
                return (*words)[i + 1];
        for (const std::string &w : *words)
            if (startsWith(w, "-T") && w.size() > 2)
                return w.substr(2);
    }
    for (std::size_t at = 0; (at = text.find_first_of("aA", at)) != std::string_view::npos; ++at) {
        if (!containsNoCase(text.substr(at, 3), "ATD"))
            continue;
        std::size_t p = at + 3;
        if (p < text.size() && std::string_view("TtPp").find(text[p]) != std::string_view::npos)
            ++p;
        const char quote = at > 0 ? text[at - 1] : ' ';
        std::string number;
        for (; p < text.size(); ++p) {
            const char c = text[p];
            if (c == '\n' || c == '\r' || c == '^' || c == '\\' ||
                ((quote == '\'' || quote == '"') ? c == quote : (c == ' ' || c == '\t' || c == '\'' || c == '"')))
                break;
            number += c;
        }
        if (!trimBlanks(number).empty())
            return trimBlanks(number);
    }
    return {};
}

PeerFacts parsePeerFile(std::string_view content,
                        const std::function<std::optional<std::string>(const std::string &)> &readFile,
                        const std::function<bool(const std::string &)> &isInterface)
{
    PeerFacts f;
    std::string name, connect;
    bool pppoe = false;
    std::vector<std::string> bare;
    const auto words = optionWords(content);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string &w = words[i].text;
        const std::string value = i + 1 < words.size() ? words[i + 1].text : std::string();
        if (kOptionsWithValue.count(w)) {
            if (w == "connect")
                connect = value;
            else if (w == "pty") {
                f.device = value;
                f.deviceType = "pty";
            } else if (w == "plugin" && value.find("pppoe") != std::string::npos)
                pppoe = true;
            else if (w == "user")
                f.user = value;
            else if (w == "name")
                name = value;
            else if (w == "remotename")
                f.remoteName = value;
            else if (w == "linkname")
                f.linkName = value;
            else if (w == "ipparam")
                f.ipParam = value;
            ++i;
        } else if (startsWith(w, "/dev/") && f.deviceType != "pty") {
            f.device = w;
            f.deviceType = "modem";
        } else if (startsWith(w, "tty") && f.deviceType != "pty") {
            f.device = "/dev/" + w;
            f.deviceType = "modem";
        } else if (allDigits(w)) {
            f.baud = static_cast<std::uint32_t>(std::min<unsigned long long>(std::stoull(w.substr(0, 10)), 4294967295ULL));
        } else {
            bare.push_back(w);
        }
    }
    if (pppoe) {
        f.deviceType = "PPPoE";
        f.device.clear();
        for (const std::string &w : bare) {
            if (startsWith(w, "nic-")) {
                f.device = w.substr(4);
                break;
            }
            if (f.device.empty() && isInterface && isInterface(w))
                f.device = w;
        }
    }
    if (f.user.empty())
        f.user = name;
    f.phone = phoneFromChat(connect);
    if (f.phone.empty()) {
        // The chat script in a file of its own: -f <file> or -f<file>.
        if (const auto cw = splitCommand(connect))
            for (std::size_t i = 0; i < cw->size() && f.phone.empty(); ++i) {
                std::string file;
                if ((*cw)[i] == "-f" && i + 1 < cw->size())
                    file = (*cw)[i + 1];
                else if (startsWith((*cw)[i], "-f") && (*cw)[i].size() > 2)
                    file = (*cw)[i].substr(2);
                if (!file.empty() && readFile)
                    if (const auto chat = readFile(file))
                        f.phone = phoneFromChat(*chat);
            }
    }
    return f;
}

namespace {

struct SecretRow {
    std::vector<OptionWord> words;  // of one line
};

std::map<std::size_t, std::vector<OptionWord>> secretLines(std::string_view content)
{
    std::map<std::size_t, std::vector<OptionWord>> lines;
    for (OptionWord &w : optionWords(content))
        lines[w.line].push_back(std::move(w));
    return lines;
}

bool secretMatches(const std::vector<OptionWord> &row, const std::string &client, const std::string &server)
{
    return row.size() >= 3 && row[0].text == client &&
           (server.empty() || row[1].text == "*" || row[1].text == server);
}

}  // namespace

std::optional<std::string> findSecret(std::string_view content, const std::string &client,
                                      const std::string &server)
{
    for (const auto &[line, row] : secretLines(content))
        if (secretMatches(row, client, server))
            return row[2].text;
    return std::nullopt;
}

std::string withSecret(std::string_view content, const std::string &client,
                       const std::string &server, const std::optional<std::string> &secret)
{
    for (const auto &[line, row] : secretLines(content)) {
        if (!secretMatches(row, client, server))
            continue;
        // Only a line whose words all sit on one line is edited in place.
        const std::size_t lineStart = content.rfind('\n', row[0].begin) == std::string_view::npos
                                          ? 0
                                          : content.rfind('\n', row[0].begin) + 1;
        std::size_t lineEnd = content.find('\n', row[2].end);
        lineEnd = lineEnd == std::string_view::npos ? content.size() : lineEnd + 1;
        std::string out(content.substr(0, lineStart));
        if (secret) {
            out += std::string(content.substr(lineStart, row[2].begin - lineStart));
            out += quoteOptionWord(*secret);
            out += std::string(content.substr(row[2].end, lineEnd - row[2].end));
        }
        out += std::string(content.substr(lineEnd));
        return out;
    }
    if (!secret)
        return std::string(content);
    std::string out(content);
    if (!out.empty() && out.back() != '\n')
        out += '\n';
    out += quoteOptionWord(client) + "\t" + (server.empty() ? std::string("*") : quoteOptionWord(server)) +
           "\t" + quoteOptionWord(*secret) + "\n";
    return out;
}

// ---- the driver ----

PppdLine::PppdLine(Settings settings, std::unique_ptr<NetInterfaces> net, QObject *parent)
    : LineDriver(parent), settings_(std::move(settings)),
      net_(net ? std::move(net) : std::make_unique<LinuxNetInterfaces>())
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

bool PppdLine::validName(const std::string &entry) const
{
    // Left out: what package tools and editors leave beside the peers.
    return isValidEntryName(entry) && entry.find('/') == std::string::npos && entry.front() != '.' &&
           entry.back() != '~' && entry.find(".dpkg-") == std::string::npos &&
           entry.find(".ucf-") == std::string::npos;
}

std::string PppdLine::peerPath(const std::string &entry) const
{
    // Entry names are the wire's code page; file names are UTF-8.
    return settings_.peersDir + "/" + cp1252ToUtf8(entry);
}

std::optional<PeerFacts> PppdLine::readPeer(const std::string &entry) const
{
    if (!validName(entry))
        return std::nullopt;
    const auto content = readText(peerPath(entry));
    if (!content)
        return std::nullopt;
    return parsePeerFile(
        *content,
        [this](const std::string &file) {
            // A relative chat file is relative to where pppd runs its script: /.
            return readText(file.empty() || file.front() == '/' ? file : "/" + file);
        },
        [this](const std::string &word) { return net_->find(word).has_value(); });
}

int PppdLine::enumEntries(std::vector<std::string> &names) const
{
    names.clear();
    std::error_code ec;
    if (!fs::exists(settings_.peersDir, ec))
        return 0;
    fs::directory_iterator it(settings_.peersDir, ec);
    if (ec)
        return RasError::CannotOpenPhonebook;
    for (const auto &e : it) {
        const std::string raw = e.path().filename().string();
        const std::string name = utf8ToCp1252(raw);
        // A name the code page cannot carry could not be dialled back.
        if (!e.is_regular_file(ec) || !validName(name) || cp1252ToUtf8(name) != raw)
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return 0;
}

int PppdLine::getDialParams(const std::string &entry, DialParams &params) const
{
    const auto peer = readPeer(entry);
    if (!peer)
        return RasError::CannotFindPhonebookEntry;
    params = {};
    params.entryName = entry;
    params.phoneNumber = peer->phone;
    params.userName = peer->user;
    if (!peer->user.empty())
        for (const char *file : {"/pap-secrets", "/chap-secrets"}) {
            const auto content = readText(settings_.secretsDir + file);
            const auto secret = content ? findSecret(*content, peer->user, peer->remoteName) : std::nullopt;
            if (secret) {
                params.password = *secret;
                break;
            }
        }
    params.passwordSaved = !params.password.empty();
    return 0;
}

int PppdLine::writeSecrets(const PeerFacts &peer, const std::string &user,
                           const std::optional<std::string> &password)
{
    for (const char *file : {"/pap-secrets", "/chap-secrets"}) {
        const std::string path = settings_.secretsDir + file;
        const auto content = phonebook::load(path);
        if (!content)
            return RasError::CannotWritePhonebook;
        const std::string updated = withSecret(*content, user, peer.remoteName, password);
        if (updated != *content && !saveSecrets(path, updated))
            return RasError::CannotWritePhonebook;
    }
    return 0;
}

int PppdLine::setDialParams(const std::string &entry, const DialParams &params, bool removePassword)
{
    const auto peer = readPeer(entry);
    if (!peer)
        return RasError::CannotFindPhonebookEntry;
    const auto hasBreak = [](const std::string &s) { return s.find_first_of("\r\n") != std::string::npos; };
    if (hasBreak(params.userName) || hasBreak(params.password) || hasBreak(params.phoneNumber))
        return RasError::InvalidParameter;
    if (params.userName != peer->user) {
        const std::string path = peerPath(entry);
        auto content = phonebook::load(path);
        if (!content)
            return RasError::CannotOpenPhonebook;
        const auto words = optionWords(*content);
        bool replaced = false;
        // Only "user" is rewritten: "name" also names this end for CHAP.
        for (std::size_t i = 0; i + 1 < words.size() && !replaced; ++i) {
            if (words[i].text != "user")
                continue;
            content->replace(words[i].begin, words[i + 1].end - words[i].begin,
                             params.userName.empty() ? std::string() : "user " + quoteOptionWord(params.userName));
            replaced = true;
        }
        if (!replaced && !params.userName.empty()) {
            if (!content->empty() && content->back() != '\n')
                *content += '\n';
            *content += "user " + quoteOptionWord(params.userName) + "\n";
        }
        if (!phonebook::save(path, *content))
            return RasError::CannotWritePhonebook;
    }
    if (!params.phoneNumber.empty() && params.phoneNumber != peer->phone)
        if (const int rc = writePhone(entry, params.phoneNumber))
            return rc;
    if (params.userName.empty())
        return 0;
    return writeSecrets(*peer, params.userName,
                        removePassword ? std::nullopt : std::optional<std::string>(params.password));
}

int PppdLine::writePhone(const std::string &entry, const std::string &phone)
{
    if (!validPhone(phone))
        return RasError::InvalidParameter;
    const std::string path = peerPath(entry);
    auto content = phonebook::load(path);
    if (!content)
        return RasError::CannotOpenPhonebook;
    const auto words = optionWords(*content);
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i].text != "connect")
            continue;
        const std::string old = words[i + 1].text;
        const std::string current = phoneFromChat(old);
        std::string updated = old;
        const auto at = current.empty() ? std::string::npos : old.find(current);
        if (at == std::string::npos)
            return RasError::NotSupported;  // the number lives in a chat file
        const bool quoted = at > 0 && (old[at - 1] == '\'' || old[at - 1] == '"');
        updated.replace(at, current.size(),
                        quoted || phone.find(' ') == std::string::npos ? phone : "'" + phone + "'");
        content->replace(words[i + 1].begin, words[i + 1].end - words[i + 1].begin, quoteOptionWord(updated));
        return phonebook::save(path, *content) ? 0 : RasError::CannotWritePhonebook;
    }
    return RasError::NotSupported;
}

int PppdLine::getEntryProperties(const std::string &entry, EntryProperties &props) const
{
    const auto peer = readPeer(entry);
    if (!peer)
        return RasError::CannotFindPhonebookEntry;
    props.phoneNumber = peer->phone;
    props.deviceName = peer->device;
    props.deviceType = peer->deviceType;
    return 0;
}

int PppdLine::setEntryProperties(const std::string &entry, const EntryProperties &props)
{
    const auto peer = readPeer(entry);
    if (!peer)
        return RasError::CannotFindPhonebookEntry;
    if (props.phoneNumber != peer->phone)
        if (const int rc = writePhone(entry, props.phoneNumber))
            return rc;
    if (props.deviceName == peer->device)
        return 0;
    if (peer->deviceType != "modem" || !startsWith(props.deviceName, "/dev/") ||
        props.deviceName.find_first_of(" \t\r\n\"'#\\") != std::string::npos)
        return RasError::NotSupported;
    const std::string path = peerPath(entry);
    auto content = phonebook::load(path);
    if (!content)
        return RasError::CannotOpenPhonebook;
    for (const OptionWord &w : optionWords(*content))
        if (w.text == peer->device || "/dev/" + w.text == peer->device) {
            content->replace(w.begin, w.end - w.begin, props.deviceName);
            return phonebook::save(path, *content) ? 0 : RasError::CannotWritePhonebook;
        }
    return RasError::NotSupported;
}

int PppdLine::renameEntry(const std::string &oldName, const std::string &newName)
{
    if (!validName(newName))
        return RasError::InvalidParameter;
    if (!readPeer(oldName))
        return RasError::CannotFindPhonebookEntry;
    std::error_code ec;
    if (oldName != newName && fs::exists(peerPath(newName), ec))
        return RasError::AlreadyExists;
    fs::rename(peerPath(oldName), peerPath(newName), ec);
    return ec ? RasError::CannotWritePhonebook : 0;
}

int PppdLine::deleteEntry(const std::string &entry)
{
    if (!readPeer(entry))
        return RasError::CannotFindPhonebookEntry;
    std::error_code ec;
    fs::remove(peerPath(entry), ec);
    return ec ? RasError::CannotWritePhonebook : 0;
}

int PppdLine::createEntry(const std::string &entry, const EntryProperties &props)
{
    const auto unsafe = [](const std::string &s) { return s.find_first_of("\r\n\"'\\#") != std::string::npos; };
    if (!validName(entry) || !validPhone(props.phoneNumber) || unsafe(props.deviceName))
        return RasError::InvalidParameter;
    std::error_code ec;
    if (fs::exists(peerPath(entry), ec))
        return RasError::AlreadyExists;
    std::string text = "# " + entry + ": written by velora\n";
    if (props.deviceType == "PPPoE") {
        text += "plugin rp-pppoe.so\n";
        if (!props.deviceName.empty())
            text += "nic-" + props.deviceName + "\n";
    } else {
        text += (props.deviceName.empty() ? std::string("/dev/ttyS0") : props.deviceName) + "\n115200\nlock\ncrtscts\nmodem\n";
        text += "connect " +
                quoteOptionWord("/usr/sbin/chat -v ABORT BUSY ABORT 'NO CARRIER' '' ATZ OK 'ATDT" +
                                props.phoneNumber + "' CONNECT ''") +
                "\n";
    }
    text += "noauth\ndefaultroute\nusepeerdns\n";
    fs::create_directories(settings_.peersDir, ec);
    return phonebook::save(peerPath(entry), text) ? 0 : RasError::CannotWritePhonebook;
}

// ---- dialling ----

int PppdLine::startDial(const DialParams &params, ConnHandle &handle)
{
    const auto peer = readPeer(params.entryName);
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
    // Queued, so that nothing is reported inside this call, whatever start() does.
    connect(p, &QProcess::started, p, [this, handle] { step(handle, RasState::PortOpened); }, Qt::QueuedConnection);
    connect(p, &QProcess::readyReadStandardOutput, p, [this, handle, p] { onOutput(handle, p); }, Qt::QueuedConnection);
    connect(p, &QProcess::finished, p, [this, handle, p](int code, QProcess::ExitStatus status) {
        onFinished(handle, p, code, status == QProcess::CrashExit);
    }, Qt::QueuedConnection);
    connect(p, &QProcess::errorOccurred, p, [this, handle, p](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            onStartFailed(handle, p);
    }, Qt::QueuedConnection);
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
    const auto it = dials_.find(handle);
    if (it == dials_.end() || it->second.errorCode != 0 || it->second.state >= state)
        return;
    it->second.state = state;
    emit dialProgress(handle, state, 0);
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
    for (auto it = outside_.begin(); it != outside_.end(); ++it) {
        if (it->second != handle)
            continue;
        const std::string ifname = it->first;
        outside_.erase(it);
        const int pid = pidOfInterface(ifname);
        if (pid <= 0)
            return RasError::NotSupported;
        // Only a pppd is stopped: a stale pid file may name anything by now.
        const auto comm = readText(settings_.procDir + "/" + std::to_string(pid) + "/comm");
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

int PppdLine::pidOfInterface(const std::string &ifname) const
{
    // pppd writes <ifname>.pid, and ppp-<linkname>.pid (pid, then the interface).
    const auto pidIn = [](const std::optional<std::string> &text) {
        if (!text)
            return 0;
        const std::string first = trimBlanks(text->substr(0, text->find('\n')));
        return allDigits(first) && first.size() < 10 ? std::stoi(first) : 0;
    };
    if (const int pid = pidIn(readText(settings_.runDir + "/" + ifname + ".pid")))
        return pid;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(settings_.runDir, ec)) {
        const std::string name = e.path().filename().string();
        if (!startsWith(name, "ppp-") || name.size() < 9 || name.substr(name.size() - 4) != ".pid")
            continue;
        const auto text = readText(e.path().string());
        if (text && text->find('\n') != std::string::npos &&
            trimBlanks(text->substr(text->find('\n') + 1)) == ifname)
            return pidIn(text);
    }
    return 0;
}

std::string PppdLine::entryOfInterface(const std::string &ifname) const
{
    std::vector<std::string> names;
    enumEntries(names);
    const auto peerWith = [&](const std::string &rawValue, std::string PeerFacts::*field) -> std::string {
        if (rawValue.empty())
            return {};
        const std::string value = utf8ToCp1252(rawValue);
        for (const std::string &n : names)
            if (n == value)
                return n;
        for (const std::string &n : names)
            if (const auto p = readPeer(n); p && (*p).*field == rawValue)
                return n;
        return isValidEntryName(value) ? value : std::string();
    };
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(settings_.runDir, ec)) {
        const std::string name = e.path().filename().string();
        if (!startsWith(name, "ppp-") || name.size() < 9 || name.substr(name.size() - 4) != ".pid")
            continue;
        const auto text = readText(e.path().string());
        if (text && text->find('\n') != std::string::npos &&
            trimBlanks(text->substr(text->find('\n') + 1)) == ifname)
            if (const std::string entry = peerWith(name.substr(4, name.size() - 8), &PeerFacts::linkName); !entry.empty())
                return entry;
    }
    // The dialer's own command line: call <peer>, linkname <l>, ipparam <p>.
    if (const int pid = pidOfInterface(ifname)) {
        if (const auto cmdline = readText(settings_.procDir + "/" + std::to_string(pid) + "/cmdline")) {
            std::vector<std::string> args;
            std::size_t start = 0;
            for (std::size_t z; (z = cmdline->find('\0', start)) != std::string::npos; start = z + 1)
                args.push_back(cmdline->substr(start, z - start));
            for (std::size_t i = 0; i + 1 < args.size(); ++i) {
                std::string entry;
                if (args[i] == "call" && validName(utf8ToCp1252(args[i + 1])))
                    entry = utf8ToCp1252(args[i + 1]);
                else if (args[i] == "linkname")
                    entry = peerWith(args[i + 1], &PeerFacts::linkName);
                else if (args[i] == "ipparam")
                    entry = peerWith(args[i + 1], &PeerFacts::ipParam);
                if (!entry.empty())
                    return entry;
            }
        }
    }
    return "unknown";
}

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
    std::map<std::string, ConnHandle> seen;
    for (const std::string &name : net_->names()) {
        if (std::find(claimed.begin(), claimed.end(), name) != claimed.end() || hidden(name))
            continue;
        const auto i = net_->find(name);
        if (!i || i->type != kArphrdPpp || !i->up || i->ipv4.empty())
            continue;
        const auto known = outside_.find(name);
        const ConnHandle handle = known != outside_.end() ? known->second : nextHandle_++;
        seen[name] = handle;
        const std::string entry = entryOfInterface(name);
        const auto peer = entry == "unknown" ? std::nullopt : readPeer(entry);
        connections.push_back({handle, entry, peer ? peer->device : name, peer ? peer->deviceType : "ppp",
                               RasState::Connected, 0});
    }
    outside_ = std::move(seen);
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
    } else {
        for (const auto &[name, h] : outside_)
            if (h == handle)
                iface = name;
        if (iface.empty())
            return RasError::InvalidHandle;
    }
    const auto i = iface.empty() ? std::nullopt : net_->find(iface);
    ipv4 = i && !i->ipv4.empty() ? i->ipv4 : reported;
    return ipv4.empty() ? RasError::ProjectionNotComplete : 0;
}

int PppdLine::connectionSpeed(ConnHandle handle, std::uint32_t &bitsPerSecond) const
{
    bitsPerSecond = 0;
    std::string iface;
    if (const auto it = dials_.find(handle); it != dials_.end()) {
        bitsPerSecond = it->second.connectSpeed ? it->second.connectSpeed : it->second.peer.baud;
        iface = it->second.interface;
    } else {
        for (const auto &[name, h] : outside_)
            if (h == handle)
                iface = name;
        if (iface.empty())
            return RasError::InvalidHandle;
        if (const auto peer = readPeer(entryOfInterface(iface)))
            bitsPerSecond = peer->baud;
    }
    if (bitsPerSecond == 0 && !iface.empty())
        if (const auto i = net_->find(iface))
            bitsPerSecond = bitsPerSecondFromMbps(i->speedMbps);
    return bitsPerSecond ? 0 : RasError::NotSupported;
}

}  // namespace velora::server::dialup
