#include "server/users/UserEditor.h"

#include <cerrno>
#include <cstring>

#include "common/CredentialCipher.h"
#include "common/FileIo.h"
#include "common/TextCodec.h"
#include "common/TextLines.h"
#include "common/WireCodec.h"

namespace velora::server::users {

namespace {

bool storable(const std::string &text)
{
    for (const char c : text)
        if (wire::isSeparator(c) || c == '\r' || c == '\n')
            return false;
    return true;
}

// Messages are UTF-8, for the person.
const char kUnstorable[] = " may not hold the characters à â ã ä å or a line break.";

}  // namespace

bool UserEditor::load(std::string *why)
{
    int e = 0;
    const auto content = readWholeFile(store_.path(), &e);
    if (!content && e == ENOENT) {
        lines_.clear();
        return true;
    }
    if (!content) {
        if (why)
            *why = store_.path() + ": " + std::strerror(e);
        return false;
    }
    lines_ = splitTextLines(*content);
    return true;
}

int UserEditor::find(const std::string &name) const
{
    int found = -1;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (UserRecord::parse(lines_[i]).name == name)
            found = static_cast<int>(i);
    return found;
}

UserFields UserEditor::fieldsAt(int index) const
{
    UserFields f;
    if (index < 0 || static_cast<std::size_t>(index) >= lines_.size())
        return f;
    const UserRecord r = UserRecord::parse(lines_[static_cast<std::size_t>(index)]);
    f.name = r.name;
    f.description = r.description;
    f.password = f.retyped = Decrypt(r.passwordCipher).value_or(std::string());
    f.disabled = r.disabled == "1";
    f.unlockAll = r.unlockAll == "1";
    f.dialHangup = r.dialHangup == "1";
    f.shutdown = r.shutdown == "1";
    return f;
}

std::optional<std::string> UserEditor::stillAsLoaded(int editIndex)
{
    const std::vector<std::string> shown = lines_;
    std::string why;
    if (!load(&why))
        return "The user store cannot be read: " + why;
    const auto at = static_cast<std::size_t>(editIndex);
    if (editIndex >= 0 && (at >= shown.size() || at >= lines_.size() || lines_[at] != shown[at]))
        return std::string("The user store was changed since this window opened; open the user again.");
    return std::nullopt;
}

std::optional<std::string> UserEditor::save(int editIndex, const UserFields &f)
{
    if (f.password != f.retyped)
        return std::string("The password you have typed is not the same\nRetype password");
    const std::string name = trimBlanks(f.name), description = trimBlanks(f.description);
    if (name.empty())
        return std::string("Type a user name.");
    if (!storable(name))
        return std::string("A user name") + kUnstorable;
    if (!storable(description))
        return std::string("A description") + kUnstorable;
    if (auto changed = stillAsLoaded(editIndex))
        return changed;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (static_cast<int>(i) != editIndex && UserRecord::parse(lines_[i]).name == name)
            return "There is already a user named " + cp1252ToUtf8(name) + ".";
    UserRecord r;
    r.name = name;
    r.description = description;
    r.passwordCipher = Encrypt(trimBlanks(f.password));
    r.disabled = f.disabled ? "1" : "0";
    r.unlockAll = f.unlockAll ? "1" : "0";
    r.dialHangup = f.dialHangup ? "1" : "0";
    r.shutdown = f.shutdown ? "1" : "0";
    std::vector<std::string> next = lines_;
    if (editIndex < 0)
        next.push_back(r.format());
    else
        next[static_cast<std::size_t>(editIndex)] = r.format();
    std::string why;
    if (!store_.saveLines(next, &why))
        return why;
    lines_ = std::move(next);
    return std::nullopt;
}

std::optional<std::string> UserEditor::remove(int editIndex)
{
    if (editIndex < 0 || static_cast<std::size_t>(editIndex) >= lines_.size())
        return std::string("No user to delete");
    if (auto changed = stillAsLoaded(editIndex))
        return changed;
    std::vector<std::string> next = lines_;
    next.erase(next.begin() + editIndex);
    std::string why;
    if (!store_.saveLines(next, &why))
        return why;
    lines_ = std::move(next);
    return std::nullopt;
}

}  // namespace velora::server::users
