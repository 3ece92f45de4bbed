#include "common/WireCodec.h"

namespace velora::wire {

bool isSeparator(char c)
{
    return c == FieldSep || c == ItemSep || c == ListSep || c == LineSep || c == RecordSep;
}

std::vector<std::string> split(std::string_view text, char sep, std::size_t maxElements)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (out.size() < maxElements) {
        const std::size_t pos = text.find(sep, start);
        if (pos == std::string_view::npos)
            break;
        out.emplace_back(text.substr(start, pos - start));
        start = pos + 1;
    }
    return out;
}

const std::string &at(const std::vector<std::string> &elements, std::size_t i)
{
    static const std::string empty;
    return i < elements.size() ? elements[i] : empty;
}

std::string join(const std::vector<std::string> &elements, char sep)
{
    std::string out;
    for (const auto &e : elements) {
        out += e;
        out += sep;
    }
    return out;
}

std::string terminated(std::string_view line)
{
    std::string out(line);
    out += "\r\n";
    return out;
}

std::string buildCommandLine(std::string_view word, const std::vector<std::string> &args)
{
    std::string out(word);
    out += FieldSep;
    for (const auto &a : args) {
        out += a;
        out += FieldSep;
    }
    return out;
}

std::vector<std::string> parseCommandLine(std::string_view line)
{
    return split(line, FieldSep, MaxCommandFields);
}

std::string buildLoginAccepted(std::string_view description, std::string_view unlockAll,
                               std::string_view dialHangup, std::string_view shutdown)
{
    return join({"OK", std::string(description), "0", std::string(unlockAll), ServerVersion,
                 std::string(dialHangup), std::string(shutdown)},
                FieldSep);
}

std::string buildLoginRefused(std::string_view reason)
{
    return join({"FAIL", std::string(reason)}, FieldSep);
}

LoginReply parseLoginReply(std::string_view line)
{
    const auto f = split(line, FieldSep);
    LoginReply r;
    if (at(f, 0) == "OK") {
        r.kind = LoginReply::Kind::Accepted;
        r.description = at(f, 1);
        r.disabledFlag = at(f, 2);
        r.unlockAllPrivilege = at(f, 3);
        r.serverVersion = at(f, 4);
        r.dialHangupPrivilege = at(f, 5);
        r.shutdownPrivilege = at(f, 6);
    } else if (at(f, 0) == "FAIL") {
        r.kind = LoginReply::Kind::Refused;
        r.reason = at(f, 1);
    }
    return r;
}

std::string buildMessageRecord(const MessageRecord &record)
{
    std::string out = record.senderAddress;
    out += ListSep;
    out += record.senderName;
    out += ListSep;
    out += join(record.bodyLines, LineSep);
    out += ListSep;
    out += RecordSep;
    return out;
}

std::vector<MessageRecord> parseMessageRecords(std::string_view text)
{
    std::vector<MessageRecord> out;
    for (const auto &rec : split(text, RecordSep)) {
        const auto f = split(rec, ListSep, 3);
        out.push_back({at(f, 0), at(f, 1), split(at(f, 2), LineSep)});
    }
    return out;
}

std::string bodyText(const MessageRecord &record)
{
    std::string out;
    for (std::size_t i = 0; i < record.bodyLines.size(); ++i) {
        if (i)
            out += '\n';
        out += record.bodyLines[i];
    }
    return out;
}

std::string buildSharedStatusItems(const StatusRecord &r)
{
    std::string out;
    for (const std::string *item : {&r.statusText, &r.fixedTime, &r.activeEntry, &r.lockStatus,
                                    &r.errorNotice, &r.speedValue, &r.activeDevice}) {
        out += *item;
        out += ItemSep;
    }
    for (const auto *list : {&r.entryNames, &r.clientNames, &r.clientLocks, &r.clientAddresses}) {
        out += join(*list, ListSep);
        out += ItemSep;
    }
    return out;
}

std::string buildStatusRecord(std::string_view sharedItems, std::string_view ownLock,
                              std::string_view secondsOnline)
{
    std::string out(sharedItems);
    out += ownLock;
    out += ItemSep;
    out += secondsOnline;
    out += ItemSep;
    return out;
}

std::string buildStatusRecord(const StatusRecord &record)
{
    return buildStatusRecord(buildSharedStatusItems(record), record.ownLock, record.secondsOnline);
}

std::string buildTrafficPart(unsigned long long download, unsigned long long upload)
{
    return join({std::to_string(download), std::to_string(upload)}, ItemSep);
}

std::string buildPushLine(std::string_view statusRecord, std::string_view mailbox,
                          std::string_view traffic)
{
    std::string out;
    out.reserve(statusRecord.size() + mailbox.size() + traffic.size() + 4);
    out += statusRecord;
    out += FieldSep;
    out += mailbox;
    out += ItemSep;
    out += FieldSep;
    out += traffic;
    out += FieldSep;
    return out;
}

PushLine parsePushLine(std::string_view line)
{
    const auto parts = split(line, FieldSep, 3);
    PushLine p;
    const std::string &status = at(parts, 0);
    if (!status.empty()) {
        p.hasStatus = true;
        const auto items = split(status, ItemSep);
        StatusRecord &s = p.status;
        s.statusText = at(items, 0);
        s.fixedTime = at(items, 1);
        s.activeEntry = at(items, 2);
        s.lockStatus = at(items, 3);
        s.errorNotice = at(items, 4);
        s.speedValue = at(items, 5);
        s.activeDevice = at(items, 6);
        s.entryNames = split(at(items, 7), ListSep);
        s.clientNames = split(at(items, 8), ListSep);
        s.clientLocks = split(at(items, 9), ListSep);
        s.clientAddresses = split(at(items, 10), ListSep);
        s.ownLock = at(items, 11);
        s.secondsOnline = at(items, 12);
    }
    // The message part is records then one item separator; what follows the
    // last record separator (that item separator) belongs to no record.
    p.messages = parseMessageRecords(at(parts, 1));
    p.traffic = split(at(parts, 2), ItemSep, 2);
    return p;
}

}  // namespace velora::wire
