#pragma once
// The line protocol between server and clients: five separator bytes, the
// splitting rule, and the lines built from them. Texts are Windows-1252 bytes.

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace velora::wire {

inline constexpr char FieldSep = '\xE0';   // à: command fields, login reply, push parts
inline constexpr char ItemSep = '\xE2';    // â: status items, message part, traffic values
inline constexpr char ListSep = '\xE3';    // ã: list elements, message and user record fields
inline constexpr char LineSep = '\xE4';    // ä: lines of a message body
inline constexpr char RecordSep = '\xE5';  // å: message records

inline constexpr std::size_t MaxCommandFields = 6;
inline constexpr const char *ServerVersion = "4";

bool isSeparator(char c);

// Each separator ends the element before it; bytes after the last separator
// are dropped, so "x" gives no element and "\xE0\xE0" gives two empty ones.
std::vector<std::string> split(std::string_view text, char sep,
                               std::size_t maxElements = std::numeric_limits<std::size_t>::max());

// Element i of a split, or "" when the line was too short.
const std::string &at(const std::vector<std::string> &elements, std::size_t i);

// Every element followed by sep, the last one included.
std::string join(const std::vector<std::string> &elements, char sep);

// Appends the CR LF that ends every line on the wire.
std::string terminated(std::string_view line);

// ---- command lines (client to server) ----
std::string buildCommandLine(std::string_view word, const std::vector<std::string> &args = {});
// At most six fields: the word and five arguments.
std::vector<std::string> parseCommandLine(std::string_view line);

// ---- login reply ----
struct LoginReply {
    enum class Kind { Accepted, Refused, Invalid };
    Kind kind = Kind::Invalid;
    // accepted
    std::string description;
    std::string disabledFlag;
    std::string unlockAllPrivilege;
    std::string serverVersion;
    std::string dialHangupPrivilege;
    std::string shutdownPrivilege;
    // refused
    std::string reason;
};
std::string buildLoginAccepted(std::string_view description, std::string_view unlockAll,
                               std::string_view dialHangup, std::string_view shutdown);
std::string buildLoginRefused(std::string_view reason);
LoginReply parseLoginReply(std::string_view line);

// ---- message records (chat) ----
struct MessageRecord {
    std::string senderAddress;
    std::string senderName;
    std::vector<std::string> bodyLines;
};
std::string buildMessageRecord(const MessageRecord &record);
std::vector<MessageRecord> parseMessageRecords(std::string_view text);
// A record as one text (the body's lines joined by '\n'), for display.
std::string bodyText(const MessageRecord &record);

// ---- push lines (server to client) ----
struct StatusRecord {
    std::string statusText;           // 1
    std::string fixedTime = "0:0:0";  // 2
    std::string activeEntry;          // 3
    std::string lockStatus;           // 4
    std::string errorNotice;          // 5
    std::string speedValue;           // 6
    std::string activeDevice;         // 7
    std::vector<std::string> entryNames;       // 8
    std::vector<std::string> clientNames;      // 9
    std::vector<std::string> clientLocks;      // 10
    std::vector<std::string> clientAddresses;  // 11
    std::string ownLock;              // 12
    std::string secondsOnline;        // 13
};

// Items 1 to 11, the part shared by every client on a tick.
std::string buildSharedStatusItems(const StatusRecord &record);
// Appends the two per-client items to the shared part.
std::string buildStatusRecord(std::string_view sharedItems, std::string_view ownLock,
                              std::string_view secondsOnline);
std::string buildStatusRecord(const StatusRecord &record);

std::string buildTrafficPart(unsigned long long download, unsigned long long upload);

// status record à mailbox â à traffic à ; an empty status record means
// "nothing changed".
std::string buildPushLine(std::string_view statusRecord, std::string_view mailbox,
                          std::string_view traffic);

struct PushLine {
    bool hasStatus = false;
    StatusRecord status;
    std::vector<MessageRecord> messages;
    std::vector<std::string> traffic;  // download, upload; empty before the first sample
};
PushLine parsePushLine(std::string_view line);

}  // namespace velora::wire
