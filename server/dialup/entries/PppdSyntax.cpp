#include "server/dialup/entries/PppdSyntax.h"

#include "common/TextCodec.h"
#include "server/dialup/entries/CommandWords.h"
#include "server/dialup/entries/PhonebookFile.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace velora::server::dialup {

namespace pppd {

std::optional<std::string> readRegularFile(const std::string &path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    return phonebook::load(path);
}

bool allDigits(const std::string &s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

}  // namespace pppd

using pppd::allDigits;
using pppd::startsWith;

namespace {

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

bool containsNoCase(std::string_view hay, std::string_view needle)
{
    const auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
    return it != hay.end();
}

}  // namespace

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

namespace {
// What ends the file's last line for a line added after it: a line break,
// and before it the quote a broken last line left open, or a second break
// after a backslash that would join the next line to it.
std::string endOfLastLine(std::string_view content)
{
    char open = 0;
    bool escaped = false, inWord = false, breakEscaped = false;
    for (std::size_t i = 0; i < content.size(); ++i) {
        const char c = content[i];
        breakEscaped = escaped && c == '\n';
        if (escaped) {
            escaped = false;
        } else if (open) {
            if (c == '\\' && open == '"')
                escaped = true;
            else if (c == open)
                open = 0;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            inWord = false;
        } else if (c == '#' && !inWord) {
            while (i + 1 < content.size() && content[i + 1] != '\n')
                ++i;
        } else {
            inWord = true;
            if (c == '"' || c == '\'')
                open = c;
            else if (c == '\\')
                escaped = true;
        }
    }
    if (open)
        return std::string(escaped ? " " : "") + open + "\n";
    // A backslash at the very end, or before the last break, joins lines.
    if (escaped)
        return "\n\n";
    if (breakEscaped)
        return "\n";
    return content.empty() || content.back() == '\n' ? "" : "\n";
}
}  // namespace

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
        // A password taken away must not live on in a second line for the
        // same pair.
        return secret ? out : withSecret(out, client, server, secret);
    }
    if (!secret)
        return std::string(content);
    std::string out(content);
    out += endOfLastLine(content);
    out += quoteOptionWord(client) + "\t" + (server.empty() ? std::string("*") : quoteOptionWord(server)) +
           "\t" + quoteOptionWord(*secret) + "\n";
    return out;
}

}  // namespace velora::server::dialup
