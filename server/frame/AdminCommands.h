#pragma once
// The operator's editors for a server without a window: `velora user ...`
// and `velora entry ...` on the base dir's files, beside a running server
// (which reads user.cfg and the phonebook again when they change).

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/dialup/entries/EntryStore.h"
#include "server/log/LogDatabase.h"
#include "server/users/UserStore.h"

namespace velora::server::frame {

// A rename or delete of the line's store, and then, only when it was done,
// the entry's rows in log, harga and smtp. The message when refused (UTF-8).
std::optional<std::string> renameEntryWithRows(dialup::EntryStore &store, log::LogDatabase &log,
                                               const std::string &oldName, const std::string &newName);
std::optional<std::string> deleteEntryWithRows(dialup::EntryStore &store, log::LogDatabase &log,
                                               const std::string &entry, bool withLog);

// The store's own refusal, with the class name its texts always carried.
std::string storeError(int code);
// Why a name cannot be an entry's (UTF-8).
extern const char BadEntryNameText[];

struct AdminIo {
    // Asks for a secret (no echo on a terminal); nullopt when none could be read.
    std::function<std::optional<std::string>(const char *prompt, bool fromStdin)> readSecret;
    std::FILE *out = stdout;
    std::FILE *err = stderr;
};

// Exit codes: 0 done, 1 refused or failed (why on err), 2 usage.
int runUserCommand(const std::vector<std::string> &args, users::UserStore &users, AdminIo &io);
int runEntryCommand(const std::vector<std::string> &args, dialup::EntryStore &store, log::LogDatabase &log,
                    AdminIo &io);

// Reads a line from the terminal without echo, or from stdin.
std::optional<std::string> readSecretLine(const char *prompt, bool fromStdin);

extern const char AdminUsage[];

}  // namespace velora::server::frame
