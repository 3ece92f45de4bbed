#include "server/dialup/lines/PppdOutsideLinks.h"

#include "common/TextCodec.h"

#include <algorithm>
#include <filesystem>

namespace velora::server::dialup {

namespace fs = std::filesystem;
using pppd::allDigits;
using pppd::readRegularFile;
using pppd::startsWith;

namespace {

struct LinkPidFile {
    std::string linkName;
    std::string text;
};

int pidIn(const std::optional<std::string> &text)
{
    if (!text)
        return 0;
    const std::string first = trimBlanks(text->substr(0, text->find('\n')));
    return allDigits(first) && first.size() < 10 ? std::stoi(first) : 0;
}

// pppd writes ppp-<linkname>.pid with the pid, then the interface.
std::vector<LinkPidFile> linkPidFiles(const std::string &runDir, const std::string &ifname)
{
    std::vector<LinkPidFile> files;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(runDir, ec)) {
        const std::string name = e.path().filename().string();
        if (!startsWith(name, "ppp-") || name.size() < 9 || name.substr(name.size() - 4) != ".pid")
            continue;
        auto text = readRegularFile(e.path().string());
        if (text && text->find('\n') != std::string::npos &&
            trimBlanks(text->substr(text->find('\n') + 1)) == ifname)
            files.push_back({name.substr(4, name.size() - 8), std::move(*text)});
    }
    return files;
}

}  // namespace

PppdOutsideLinks::PppdOutsideLinks(const PppdPeers &peers, const NetInterfaces &net, std::string runDir,
                                   std::string procDir)
    : peers_(peers), net_(net), runDir_(std::move(runDir)), procDir_(std::move(procDir))
{
}

const std::vector<PppdOutsideLinks::Link> &PppdOutsideLinks::refresh(
    const std::function<bool(const std::string &)> &skip, ConnHandle &nextHandle)
{
    std::vector<Link> now;
    for (const std::string &name : net_.names()) {
        if (skip && skip(name))
            continue;
        const auto i = net_.find(name);
        if (!i || i->type != kArphrdPpp || !i->up || i->ipv4.empty())
            continue;
        const auto known = std::find_if(links_.begin(), links_.end(), [&](const Link &l) {
            return l.interface == name && l.index == i->index;
        });
        if (known != links_.end()) {
            now.push_back(std::move(*known));
            continue;
        }
        Link link = read(name, i->index);
        link.handle = nextHandle++;
        now.push_back(std::move(link));
    }
    links_ = std::move(now);
    return links_;
}

const PppdOutsideLinks::Link *PppdOutsideLinks::find(ConnHandle handle) const
{
    for (const Link &l : links_)
        if (l.handle == handle)
            return &l;
    return nullptr;
}

void PppdOutsideLinks::forget(ConnHandle handle)
{
    std::erase_if(links_, [&](const Link &l) { return l.handle == handle; });
}

PppdOutsideLinks::Link PppdOutsideLinks::read(const std::string &ifname, int index) const
{
    ++readings_;
    Link link;
    link.interface = ifname;
    link.index = index;
    link.entry = entryOf(ifname);
    const auto peer = link.entry == "unknown" ? std::nullopt : peers_.readPeer(link.entry);
    link.device = peer ? peer->device : ifname;
    link.deviceType = peer ? peer->deviceType : "ppp";
    link.baud = peer ? peer->baud : 0;
    return link;
}

int PppdOutsideLinks::pidOf(const std::string &ifname) const
{
    // pppd writes <ifname>.pid, and ppp-<linkname>.pid.
    if (const int pid = pidIn(readRegularFile(runDir_ + "/" + ifname + ".pid")))
        return pid;
    const auto files = linkPidFiles(runDir_, ifname);
    return files.empty() ? 0 : pidIn(files.front().text);
}

std::string PppdOutsideLinks::entryOf(const std::string &ifname) const
{
    std::vector<std::string> names;
    peers_.enumEntries(names);
    const auto peerWith = [&](const std::string &rawValue, std::string PeerFacts::*field) -> std::string {
        if (rawValue.empty())
            return {};
        const std::string value = utf8ToCp1252(rawValue);
        for (const std::string &n : names)
            if (n == value)
                return n;
        for (const std::string &n : names)
            if (const auto p = peers_.readPeer(n); p && (*p).*field == rawValue)
                return n;
        return isValidEntryName(value) ? value : std::string();
    };
    for (const LinkPidFile &f : linkPidFiles(runDir_, ifname))
        if (const std::string entry = peerWith(f.linkName, &PeerFacts::linkName); !entry.empty())
            return entry;
    // The dialer's own command line: call <peer>, linkname <l>, ipparam <p>.
    if (const int pid = pidOf(ifname)) {
        if (const auto cmdline = readRegularFile(procDir_ + "/" + std::to_string(pid) + "/cmdline")) {
            std::vector<std::string> args;
            std::size_t start = 0;
            for (std::size_t z; (z = cmdline->find('\0', start)) != std::string::npos; start = z + 1)
                args.push_back(cmdline->substr(start, z - start));
            for (std::size_t i = 0; i + 1 < args.size(); ++i) {
                std::string entry;
                if (args[i] == "call" && peers_.validName(utf8ToCp1252(args[i + 1])))
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

}  // namespace velora::server::dialup
