#include "server/users/UserStore.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "common/CredentialCipher.h"
#include "common/FileIo.h"
#include "common/TextCodec.h"
#include "common/TextLines.h"
#include "common/WireCodec.h"

namespace velora::server::users {

UserRecord UserRecord::parse(std::string_view line)
{
    const auto f = wire::split(line, wire::ListSep, 7);
    UserRecord r;
    r.name = wire::at(f, 0);
    r.description = wire::at(f, 1);
    r.passwordCipher = wire::at(f, 2);
    r.disabled = wire::at(f, 3);
    r.unlockAll = wire::at(f, 4);
    r.dialHangup = wire::at(f, 5);
    r.shutdown = wire::at(f, 6);
    return r;
}

std::string UserRecord::format() const
{
    // Names and descriptions come from people: keep them from breaking the record.
    return wire::join({sanitizeTyped(trimBlanks(name)), sanitizeTyped(trimBlanks(description)),
                       sanitizeTyped(passwordCipher), disabled, unlockAll, dialHangup, shutdown},
                      wire::ListSep);
}

UserStore::UserStore(std::string path)
    : path_(std::move(path)), lines_(std::make_shared<const std::vector<std::string>>())
{
}

bool UserStore::updateuserlist(std::string *error)
{
    lastReadFailed_ = true;
    int e = 0;
    const auto content = readWholeFile(path_, &e);
    if (!content) {
        if (error)
            *error = path_ + (e == EISDIR ? std::string(": is a directory, not a file") : ": " + std::string(std::strerror(e)));
        // Nothing there is nothing lost by a save.
        lastReadFailed_ = e != ENOENT;
        return false;
    }
    lastReadFailed_ = false;
    auto lines = std::make_shared<const std::vector<std::string>>(splitTextLines(*content));
    lines_ = std::move(lines);
    return true;
}

std::vector<UserRecord> UserStore::records() const
{
    std::vector<UserRecord> out;
    out.reserve(lines_->size());
    for (const auto &l : *lines_)
        out.push_back(UserRecord::parse(l));
    return out;
}

LoginResult UserStore::check(std::string_view name, std::string_view passwordCipher) const
{
    const auto lines = lines_;  // a reload while checking swaps, never mutates
    LoginResult result;
    std::optional<std::string> given;  // deciphered only once a name matches
    for (const auto &line : *lines) {
        // Most lines differ by name: compare it before splitting the record.
        const std::size_t end = line.find(wire::ListSep);
        if (end == std::string::npos || std::string_view(line).substr(0, end) != name)
            continue;
        const auto f = wire::split(line, wire::ListSep, 7);
        if (!given) {
            given = Decrypt(passwordCipher);
            if (!given)
                return {LoginResult::Outcome::Malformed, {}, {}};
        }
        const auto stored = Decrypt(wire::at(f, 2));
        if (!stored)
            return {LoginResult::Outcome::Malformed, {}, {}};
        if (*stored != *given)
            continue;
        if (wire::at(f, 3) == "0")
            return {LoginResult::Outcome::Accepted, UserRecord::parse(line), {}};
        result.reason = "this user is disabled";
    }
    result.outcome = LoginResult::Outcome::Refused;
    if (result.reason.empty())
        result.reason = "wrong username/password";
    return result;
}

bool UserStore::save(const std::vector<UserRecord> &records, std::string *error)
{
    std::vector<std::string> lines;
    lines.reserve(records.size());
    for (const auto &r : records)
        lines.push_back(r.format());
    return saveLines(lines, error);
}

bool UserStore::saveLines(const std::vector<std::string> &lines, std::string *error)
{
    // The users in a file we could not read would be lost by writing ours.
    std::error_code ec;
    if (std::filesystem::exists(path_, ec) && (lastReadFailed_ || !readWholeFile(path_))) {
        if (error)
            *error = path_ + " could not be read; it is not saved over, so that the users it holds are kept";
        return false;
    }
    std::string out;
    for (const auto &l : lines) {
        out += l;
        out += "\r\n";
    }
    // Replaced atomically, so a crash never leaves a store without its users.
    if (!writeFileAtomically(path_, out, WriteMode{0600, true}, error))
        return false;
    return updateuserlist(error);
}

}  // namespace velora::server::users
