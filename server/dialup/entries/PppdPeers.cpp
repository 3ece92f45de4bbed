#include "server/dialup/entries/PppdPeers.h"

#include "common/TextCodec.h"
#include "server/dialup/entries/PhonebookFile.h"
#include "server/dialup/entries/RasTexts.h"

#include <algorithm>
#include <filesystem>

#include <sys/stat.h>

namespace velora::server::dialup {

namespace fs = std::filesystem;
using pppd::readRegularFile;
using pppd::startsWith;

namespace {

bool validPhone(const std::string &phone)
{
    return std::all_of(phone.begin(), phone.end(), [](char c) {
        return (c >= '0' && c <= '9') || std::string_view(" *#,+-().WwPp!@").find(c) != std::string_view::npos;
    });
}

bool saveSecrets(const std::string &path, const std::string &content)
{
    if (!phonebook::save(path, content))
        return false;
    // Secrets are for root's eyes only, whatever mode the file had.
    return ::chmod(path.c_str(), 0600) == 0;
}

}  // namespace

PppdPeers::PppdPeers(std::string peersDir, std::string secretsDir, InterfaceTest isInterface)
    : peersDir_(std::move(peersDir)), secretsDir_(std::move(secretsDir)), isInterface_(std::move(isInterface))
{
}

bool PppdPeers::validName(const std::string &entry) const
{
    // Left out: what package tools and editors leave beside the peers.
    return isValidEntryName(entry) && entry.find('/') == std::string::npos && entry.front() != '.' &&
           entry.back() != '~' && entry.find(".dpkg-") == std::string::npos &&
           entry.find(".ucf-") == std::string::npos;
}

std::string PppdPeers::peerPath(const std::string &entry) const
{
    // Entry names are the wire's code page; file names are UTF-8.
    return peersDir_ + "/" + cp1252ToUtf8(entry);
}

std::optional<PeerFacts> PppdPeers::readPeer(const std::string &entry) const
{
    if (!validName(entry))
        return std::nullopt;
    const auto content = readRegularFile(peerPath(entry));
    if (!content)
        return std::nullopt;
    return parsePeerFile(
        *content,
        [](const std::string &file) {
            // A relative chat file is relative to where pppd runs its script: /.
            return readRegularFile(file.empty() || file.front() == '/' ? file : "/" + file);
        },
        isInterface_);
}

int PppdPeers::enumEntries(std::vector<std::string> &names) const
{
    names.clear();
    std::error_code ec;
    if (!fs::exists(peersDir_, ec))
        return 0;
    fs::directory_iterator it(peersDir_, ec);
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

int PppdPeers::getDialParams(const std::string &entry, DialParams &params) const
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
            const auto content = readRegularFile(secretsDir_ + file);
            const auto secret = content ? findSecret(*content, peer->user, peer->remoteName) : std::nullopt;
            if (secret) {
                params.password = *secret;
                break;
            }
        }
    params.passwordSaved = !params.password.empty();
    return 0;
}

int PppdPeers::writeSecrets(const PeerFacts &peer, const std::string &user,
                           const std::optional<std::string> &password)
{
    for (const char *file : {"/pap-secrets", "/chap-secrets"}) {
        const std::string path = secretsDir_ + file;
        const auto content = phonebook::load(path);
        if (!content)
            return RasError::CannotWritePhonebook;
        const std::string updated = withSecret(*content, user, peer.remoteName, password);
        if (updated != *content && !saveSecrets(path, updated))
            return RasError::CannotWritePhonebook;
    }
    return 0;
}

int PppdPeers::setDialParams(const std::string &entry, const DialParams &params, bool removePassword)
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

int PppdPeers::writePhone(const std::string &entry, const std::string &phone)
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

int PppdPeers::getEntryProperties(const std::string &entry, EntryProperties &props) const
{
    const auto peer = readPeer(entry);
    if (!peer)
        return RasError::CannotFindPhonebookEntry;
    props.phoneNumber = peer->phone;
    props.deviceName = peer->device;
    props.deviceType = peer->deviceType;
    return 0;
}

int PppdPeers::setEntryProperties(const std::string &entry, const EntryProperties &props)
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

int PppdPeers::renameEntry(const std::string &oldName, const std::string &newName)
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

int PppdPeers::deleteEntry(const std::string &entry)
{
    if (!readPeer(entry))
        return RasError::CannotFindPhonebookEntry;
    std::error_code ec;
    fs::remove(peerPath(entry), ec);
    return ec ? RasError::CannotWritePhonebook : 0;
}

int PppdPeers::createEntry(const std::string &entry, const EntryProperties &props)
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
    fs::create_directories(peersDir_, ec);
    return phonebook::save(peerPath(entry), text) ? 0 : RasError::CannotWritePhonebook;
}

std::vector<EntryField> PppdPeers::entryFields(const std::string &entry) const
{
    using K = EntryField::Kind;
    std::vector<EntryField> f{{"device", "Device", "/dev/ttyS0", K::Device, false, true},
                              {"phone", "Phone number", {}, K::Text},
                              {"user", "User name", {}, K::Text},
                              {"password", "Password", {}, K::Text, true}};
    if (entry.empty())
        return f;
    EntryProperties props;
    DialParams params;
    if (getEntryProperties(entry, props) == 0) {
        f[0].value = props.deviceName;
        f[1].value = props.phoneNumber;
    }
    if (getDialParams(entry, params) == 0) {
        f[2].value = params.userName;
        f[3].value = params.password;
    }
    return f;
}

int PppdPeers::saveEntryFields(const std::string &entry, const std::vector<EntryField> &fields, bool create,
                               std::string *why)
{
    std::vector<EntryField> known = entryFields({});
    for (EntryField &k : known)
        for (const EntryField &f : fields)
            if (f.key == k.key)
                k.value = f.value;
    if (const std::string wrong = checkEntryFields(known); !wrong.empty()) {
        if (why)
            *why = wrong;
        return RasError::InvalidParameter;
    }
    const EntryProperties props{known[1].value, known[0].value, "modem"};
    if (const int rc = create ? createEntry(entry, props) : setEntryProperties(entry, props))
        return rc;
    DialParams params;
    if (const int rc = getDialParams(entry, params))
        return rc;
    params.userName = known[2].value;
    params.password = known[3].value;
    // The secrets files are written at 0600 by setDialParams.
    return setDialParams(entry, params, false);
}

}  // namespace velora::server::dialup
