#pragma once
// The operator's user editor on user.cfg: it reads the file as it is when it
// opens, changes one line, and writes the whole file back. Texts are
// Windows-1252 bytes as typed; nothing is sanitised silently: a name the
// store cannot hold is refused with a message.

#include <optional>
#include <string>
#include <vector>

#include "server/users/UserStore.h"

namespace velora::server::users {

struct UserFields {
    std::string name;
    std::string description;
    std::string password;
    std::string retyped;
    bool disabled = false;
    bool unlockAll = false;
    bool dialHangup = false;
    bool shutdown = false;
};

class UserEditor {
public:
    explicit UserEditor(UserStore &store) : store_(store) {}

    // The file's lines now; a missing file is an empty store. False with why
    // when it exists but cannot be read.
    bool load(std::string *why = nullptr);
    const std::vector<std::string> &lines() const { return lines_; }

    // The last line of that name (as the editor edits it), -1 when none.
    int find(const std::string &name) const;
    // A line's fields with the password deciphered.
    UserFields fieldsAt(int index) const;

    // OK: appends (editIndex < 0) or replaces the line in place, writes the
    // file and reloads the store. The message to show when refused or failed.
    std::optional<std::string> save(int editIndex, const UserFields &fields);
    // Delete: "No user to delete" for a line that is not there.
    std::optional<std::string> remove(int editIndex);

private:
    // The file changed under the editor: the line it edits is no longer the
    // one it showed.
    std::optional<std::string> stillAsLoaded(int editIndex);

    UserStore &store_;
    std::vector<std::string> lines_;
};

}  // namespace velora::server::users
