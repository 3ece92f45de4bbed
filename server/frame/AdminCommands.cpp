#include "server/frame/AdminCommands.h"

#include <iostream>
#include <string_view>

#include <termios.h>
#include <unistd.h>

#include "common/TextCodec.h"
#include "server/dialup/entries/RasTexts.h"
#include "server/state/Text.h"
#include "server/users/UserEditor.h"

namespace velora::server::frame {

const char AdminUsage[] =
    "       velora [--basedir DIR] user list\n"
    "       velora [--basedir DIR] user add|edit NAME [--description TEXT] [--[no-]disabled] [--[no-]unlockall]\n"
    "                                  [--[no-]dial] [--[no-]shutdown] [--password-stdin]\n"
    "       velora [--basedir DIR] user passwd NAME [--password-stdin]\n"
    "       velora [--basedir DIR] user delete NAME\n"
    "       velora [--basedir DIR] entry list\n"
    "       velora [--basedir DIR] entry rename OLD NEW\n"
    "       velora [--basedir DIR] entry delete NAME [--with-log]\n"
    "       velora [--basedir DIR] entry cost NAME [VALUE]\n"
    "       velora [--basedir DIR] tls fingerprint\n"
    "       velora [--basedir DIR] tls renew [--yes]\n";

const char BadEntryNameText[] = "An entry name must not be empty, start or end with a blank, or hold brackets, "
                                "control characters or the characters \u00e0 \u00e2 \u00e3 \u00e4 \u00e5.";

namespace {
const std::string StoreClass = "(TRASControl) ";
}  // namespace

std::string storeError(int code) { return StoreClass + dialup::rasErrorText(code); }

namespace {

// Arguments arrive in the terminal's encoding; the files hold Windows-1252.
std::string stored(const std::string &arg) { return utf8ToCp1252(arg); }
// Names from the files may hold control bytes: shown escaped on the terminal.
std::string shown(const std::string &cp1252) { return state::terminalText(state::shownText(cp1252)); }

int usage(AdminIo &io, const std::string &why)
{
    std::fprintf(io.err, "velora: %s\nUsage:\n%s", why.c_str(), AdminUsage);
    return 2;
}

int refused(AdminIo &io, const std::string &why)
{
    std::fprintf(io.err, "velora: %s\n", why.c_str());
    return 1;
}

// The store's texts carry a class name for the windows; a person at the
// terminal gets the sentence alone.
std::string plain(const std::string &text)
{
    return text.rfind(StoreClass, 0) == 0 ? text.substr(StoreClass.size()) : text;
}

struct UserOptions {
    std::optional<std::string> description;
    std::optional<bool> disabled, unlockAll, dial, shutdown;
    bool passwordStdin = false;
    std::string bad;
};

UserOptions userOptions(const std::vector<std::string> &args, std::size_t from)
{
    UserOptions o;
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto flag = [&](const char *name, std::optional<bool> &into) {
            if (a == std::string("--") + name)
                into = true;
            else if (a == std::string("--no-") + name)
                into = false;
            else
                return false;
            return true;
        };
        if (a == "--description" && i + 1 < args.size())
            o.description = args[++i];
        else if (a.rfind("--description=", 0) == 0)
            o.description = a.substr(14);
        else if (a == "--password-stdin")
            o.passwordStdin = true;
        else if (!flag("disabled", o.disabled) && !flag("unlockall", o.unlockAll) && !flag("dial", o.dial) &&
                 !flag("shutdown", o.shutdown) && o.bad.empty())
            o.bad = a;
    }
    return o;
}

std::optional<std::string> newPassword(AdminIo &io, bool fromStdin)
{
    const auto first = io.readSecret("Password: ", fromStdin);
    if (!first)
        return std::nullopt;
    if (fromStdin)
        return first;
    const auto again = io.readSecret("Retype password: ", false);
    if (!again || *again != *first) {
        std::fprintf(io.err, "velora: The password you have typed is not the same\n");
        return std::nullopt;
    }
    return first;
}

}  // namespace

std::optional<std::string> renameEntryWithRows(dialup::EntryStore &store, log::LogDatabase &log,
                                               const std::string &oldName, const std::string &newName)
{
    if (!dialup::isValidEntryName(newName))
        return std::string(BadEntryNameText);
    if (const int rc = store.renameEntry(oldName, newName))
        return storeError(rc);
    // Only now: a refused rename leaves the rows with the name that still exists.
    if (log.isOpen() && !log.renameEntry(oldName, newName))
        return std::string("The entry was renamed, but its log rows could not follow: the log database is busy or "
                           "read-only.");
    return std::nullopt;
}

std::optional<std::string> deleteEntryWithRows(dialup::EntryStore &store, log::LogDatabase &log,
                                               const std::string &entry, bool withLog)
{
    if (const int rc = store.deleteEntry(entry))
        return storeError(rc);
    if (withLog && log.isOpen() && !log.deleteEntryData(entry))
        return std::string("The entry was deleted, but its log rows could not be: the log database is busy or "
                           "read-only.");
    return std::nullopt;
}

int runUserCommand(const std::vector<std::string> &args, users::UserStore &users, AdminIo &io)
{
    if (args.empty())
        return usage(io, "user: say what to do");
    const std::string &verb = args[0];
    users::UserEditor editor(users);
    std::string why;
    if (!editor.load(&why))
        return refused(io, "cannot read the user store: " + why);
    if (verb == "list") {
        for (const std::string &line : editor.lines()) {
            const auto r = users::UserRecord::parse(line);
            std::string flags;
            for (const auto &[value, word] : {std::pair{r.disabled, "disabled"}, std::pair{r.unlockAll, "unlockall"},
                                              std::pair{r.dialHangup, "dial"}, std::pair{r.shutdown, "shutdown"}})
                if (value == "1")
                    flags += flags.empty() ? word : std::string(" ") + word;
            std::fprintf(io.out, "%s\t%s\t%s\n", shown(r.name).c_str(), shown(r.description).c_str(), flags.c_str());
        }
        return 0;
    }
    if (args.size() < 2)
        return usage(io, "user " + verb + ": name the user");
    const std::string name = stored(args[1]);
    const UserOptions o = userOptions(args, 2);
    if (!o.bad.empty())
        return usage(io, "unknown argument: " + o.bad);
    const int index = editor.find(name);
    if (verb == "add" || verb == "edit" || verb == "passwd") {
        users::UserFields f;
        if (verb == "add") {
            if (index >= 0)
                return refused(io, "There is already a user named " + args[1] + ".");
            f.name = name;
        } else {
            if (index < 0)
                return refused(io, "no user named " + args[1]);
            f = editor.fieldsAt(index);
        }
        if (o.description)
            f.description = stored(*o.description);
        for (const auto &[given, into] : {std::pair{o.disabled, &f.disabled}, std::pair{o.unlockAll, &f.unlockAll},
                                          std::pair{o.dial, &f.dialHangup}, std::pair{o.shutdown, &f.shutdown}})
            if (given)
                *into = *given;
        if (verb != "edit") {
            const auto password = newPassword(io, o.passwordStdin);
            if (!password)
                return refused(io, "no password given; nothing changed");
            f.password = f.retyped = stored(*password);
        }
        if (const auto no = editor.save(verb == "add" ? -1 : index, f))
            return refused(io, *no);
        std::fprintf(io.out, "user %s %s\n", args[1].c_str(), verb == "add" ? "added" : "saved");
        return 0;
    }
    if (verb == "delete") {
        if (index < 0)
            return refused(io, "no user named " + args[1]);
        if (const auto no = editor.remove(index))
            return refused(io, *no);
        std::fprintf(io.out, "user %s deleted\n", args[1].c_str());
        return 0;
    }
    return usage(io, "user: unknown command " + verb);
}

int runEntryCommand(const std::vector<std::string> &args, dialup::EntryStore &store, log::LogDatabase &log,
                    AdminIo &io)
{
    if (args.empty())
        return usage(io, "entry: say what to do");
    const std::string &verb = args[0];
    if (verb == "list" && args.size() == 1) {
        std::vector<std::string> names;
        if (const int rc = store.enumEntries(names))
            return refused(io, dialup::rasErrorText(rc));
        for (const std::string &n : names) {
            dialup::EntryProperties p;
            store.getEntryProperties(n, p);
            const auto cost = log.isOpen() ? log.harga(n) : std::nullopt;
            std::fprintf(io.out, "%s\t%s\t%s\n", shown(n).c_str(), shown(p.phoneNumber).c_str(),
                         cost ? shown(*cost).c_str() : "0");
        }
        return 0;
    }
    if (verb == "rename" && args.size() == 3) {
        if (const auto no = renameEntryWithRows(store, log, stored(args[1]), stored(args[2])))
            return refused(io, plain(*no));
        std::fprintf(io.out, "entry %s renamed to %s\n", args[1].c_str(), args[2].c_str());
        return 0;
    }
    if (verb == "delete" && (args.size() == 2 || (args.size() == 3 && args[2] == "--with-log"))) {
        if (const auto no = deleteEntryWithRows(store, log, stored(args[1]), args.size() == 3))
            return refused(io, plain(*no));
        std::fprintf(io.out, "entry %s deleted%s\n", args[1].c_str(), args.size() == 3 ? " with its log" : "");
        return 0;
    }
    if (verb == "cost" && (args.size() == 2 || args.size() == 3)) {
        const std::string entry = stored(args[1]);
        dialup::EntryProperties p;
        if (const int rc = store.getEntryProperties(entry, p))
            return refused(io, dialup::rasErrorText(rc));
        if (!log.isOpen())
            return refused(io, "the connection log cannot be opened");
        if (args.size() == 2) {
            const auto cost = log.harga(entry);
            if (!cost)
                return refused(io, "cannot read the cost");
            std::fprintf(io.out, "%s\n", shown(*cost).c_str());
            return 0;
        }
        char *end = nullptr;
        const std::string value = args[2].empty() ? "0" : args[2];
        std::strtod(value.c_str(), &end);
        if (!end || *end != '\0')
            return refused(io, "the cost per hour must be a number (for example 3000 or 1.5)");
        if (!log.saveHarga(entry, value))
            return refused(io, "the cost could not be saved");
        std::fprintf(io.out, "cost of %s: %s per hour\n", args[1].c_str(), value.c_str());
        return 0;
    }
    return usage(io, "entry: unknown command or arguments");
}

std::optional<std::string> readSecretLine(const char *prompt, bool fromStdin)
{
    std::string line;
    if (fromStdin || !::isatty(STDIN_FILENO)) {
        if (!std::getline(std::cin, line))
            return std::nullopt;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }
    std::fputs(prompt, stderr);
    termios old{};
    ::tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::fputs("\n", stderr);
    return got ? std::optional<std::string>(line) : std::nullopt;
}

}  // namespace velora::server::frame
