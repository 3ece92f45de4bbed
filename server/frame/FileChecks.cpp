#include "server/frame/FileChecks.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/CredentialCipher.h"
#include "common/TextLines.h"
#include "server/dialup/entries/PhonebookFile.h"
#include "server/users/UserStore.h"

namespace velora::server::frame {

namespace {
std::string octal(unsigned mode)
{
    char b[8];
    std::snprintf(b, sizeof b, "%04o", mode & 07777u);
    return b;
}
// A line a person could log in with: the seven fields, a short printable
// name and a password field that deciphers.
bool usable(const std::string &line)
{
    if (std::count(line.begin(), line.end(), '\xE3') < 6)
        return false;
    const users::UserRecord r = users::UserRecord::parse(line);
    if (r.name.empty() || r.name.size() > 255)
        return false;
    for (const char c : r.name)
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    return Decrypt(r.passwordCipher).has_value();
}
}  // namespace

std::vector<std::string> readableByOthers(const std::vector<PrivateFile> &files)
{
    std::vector<std::string> out;
    for (const PrivateFile &f : files) {
        struct stat st {};
        if (::stat(f.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if ((st.st_mode & (S_IRGRP | S_IROTH)) == 0)
            continue;
        out.push_back("warning: " + f.path + " holds " + f.holds + " and other users of this computer can read it (mode " +
                      octal(st.st_mode) + "); chmod 600 " + f.path);
    }
    return out;
}

std::vector<std::string> writableByOthers(const std::string &baseDir)
{
    std::vector<std::string> out;
    auto look = [&](const std::string &path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
            return;
        out.push_back(path + " may be changed by other users of this computer (mode " + octal(st.st_mode) +
                      "), and with it what this server runs; chmod go-w " + path);
    };
    look(baseDir);
    const std::string config = baseDir + "/config";
    look(config);
    if (DIR *dir = ::opendir(config.c_str())) {
        std::vector<std::string> names;
        while (const dirent *e = ::readdir(dir))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string &name : names)
            look(config + "/" + name);
    }
    return out;
}

std::vector<std::string> unusableFiles(const users::UserStore &users, const std::string &phonebookPath)
{
    std::vector<std::string> out;
    struct stat st {};
    if (::stat(users.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        bool any = false;
        for (const auto &line : users.lines())
            any = any || usable(line);
        if (!any)
        out.push_back(users.path() + (st.st_size == 0 ? " is empty" : " holds no user line that can be read") +
                      "; every login is refused until users are added");
    }

    if (::stat(phonebookPath.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            out.push_back(phonebookPath + " is not a file; the line has no entries from it");
        } else if (const auto content = dialup::phonebook::load(phonebookPath); !content) {
            out.push_back("cannot read " + phonebookPath + ": " + std::strerror(errno) + "; the line has no entries from it");
        } else if (!content->empty() && dialup::phonebook::sectionNames(*content).empty()) {
            out.push_back(phonebookPath + " holds no [entry] section that can be read; the line has no entries from it");
        }
    }
    return out;
}

namespace {
// The first bytes of a text file that a person edits, or why there are none.
std::optional<std::string> head(const std::string &path, std::string *why)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;  // missing: the defaults, nothing to say
    if (!S_ISREG(st.st_mode)) {
        *why = path + " is not a file";
        return std::nullopt;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string bytes(64 * 1024, '\0');
    const ssize_t n = ::read(fd, bytes.data(), bytes.size());
    ::close(fd);
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return bytes;
}

}  // namespace

std::vector<std::string> unusableTextFiles(const std::string &configPath, const std::string &tipPath)
{
    std::vector<std::string> out;
    std::string why;
    if (const auto bytes = head(configPath, &why)) {
        if (!bytes->empty() && (dialup::phonebook::sectionNames(*bytes).empty() || !looksLikeText(*bytes)))
            out.push_back(configPath + " does not read as settings (no [section] lines, or not text); "
                          "the defaults are used for what it does not say");
    } else if (!why.empty()) {
        out.push_back(why + "; the defaults are used");
    }
    why.clear();
    if (const auto bytes = head(tipPath, &why)) {
        if (!looksLikeText(*bytes))
            out.push_back(tipPath + " is not text (control bytes or a line over 4096 bytes); the built-in tips are shown");
    } else if (!why.empty()) {
        out.push_back(why + "; the built-in tips are shown");
    }
    return out;
}

std::vector<std::string> baseDirProblems(const std::string &baseDir, const users::UserStore &users,
                                         const std::string &secretsDir)
{
    const std::string config = baseDir + "/config/";
    std::vector<PrivateFile> files{{config + "user.cfg", "passwords"},
                                   {config + "phonebook.ini", "passwords"},
                                   {config + "log.db", "the connection log"}};
    if (!secretsDir.empty()) {
        files.push_back({secretsDir + "/pap-secrets", "passwords"});
        files.push_back({secretsDir + "/chap-secrets", "passwords"});
    }
    std::vector<std::string> lines = unusableFiles(users, config + "phonebook.ini");
    for (std::string &line : unusableTextFiles(config + "config.ini", config + "tip.cfg"))
        lines.push_back(std::move(line));
    for (std::string &line : readableByOthers(files))
        lines.push_back(std::move(line));
    for (const std::string &line : writableByOthers(baseDir))
        lines.push_back("warning: " + line);
    return lines;
}

}  // namespace velora::server::frame
