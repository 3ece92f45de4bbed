#pragma once
// pppd's own file syntax: the words of a peer (options) file and of the
// pap-/chap-secrets files, and what a peer file says about its link.
//
// Read from a peer file (blanks, '#' comments, "..." and '...' quotes,
// backslash escapes):
//   /dev/<tty> or tty<x>      device, type "modem"
//   a bare number             the serial speed (nominal speed of the line)
//   connect "<command>"       phone number from "-T <number>", from
//                             ATD[T|P]<number> in the command, or from the
//                             chat file named by "-f <file>"
//   pty "<command>"           device is the command, type "pty"
//   plugin <...pppoe.so>      type "PPPoE"; device from "nic-<if>" or a bare
//                             word that names a network interface
//   user <name> (else name <name>), remotename, linkname, ipparam
// Passwords: the first line of pap-secrets, then chap-secrets, whose client
// is the user name and whose server is "*" or the remotename.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velora::server::dialup {

// One word of a pppd options or secrets file, with its bytes in the file.
struct OptionWord {
    std::string text;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t line = 0;
};
std::vector<OptionWord> optionWords(std::string_view content);
// A word as pppd reads it back.
std::string quoteOptionWord(std::string_view word);

struct PeerFacts {
    std::string device;
    std::string deviceType;
    std::string phone;
    std::string user;
    std::string remoteName;
    std::string linkName;
    std::string ipParam;
    std::uint32_t baud = 0;
};
// readFile reads a chat file a connect command names; isInterface tells
// whether a bare word is a network interface (the PPPoE device).
PeerFacts parsePeerFile(std::string_view content,
                        const std::function<std::optional<std::string>(const std::string &)> &readFile,
                        const std::function<bool(const std::string &)> &isInterface);
// The number a chat script or connect command dials: "-T <n>" or ATD<n>.
std::string phoneFromChat(std::string_view text);

// The secret of (client, server) by the rule above; nothing when none.
std::optional<std::string> findSecret(std::string_view content, const std::string &client,
                                      const std::string &server);
// The file with that line's secret replaced (or the line removed when secret
// is empty), or a new line appended; every other line keeps its bytes.
std::string withSecret(std::string_view content, const std::string &client,
                       const std::string &server, const std::optional<std::string> &secret);

namespace pppd {
// A regular file's bytes; nothing for a missing file, a directory or a device.
std::optional<std::string> readRegularFile(const std::string &path);
bool allDigits(const std::string &s);
bool startsWith(std::string_view s, std::string_view p);
}  // namespace pppd

}  // namespace velora::server::dialup
