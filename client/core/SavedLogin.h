#pragma once
// The remembered login (config/user.cfg): line 1 is user name ã cipher ã.
// Only line 1 is read or replaced; other lines are kept as they are.

#include <optional>
#include <string>
#include <vector>

#include <QString>

namespace velora::client::core {

struct LoginCredentials {
    std::string user;      // Windows-1252
    std::string password;  // plain, Windows-1252
};

class SavedLogin {
public:
    explicit SavedLogin(QString path);

    // A missing file counts as empty (nothing remembered). False when the
    // file exists but cannot be read.
    bool load();
    bool save(QString *error = nullptr) const;

    bool empty() const { return lines_.empty(); }
    // The remembered login; std::nullopt when nothing is remembered.
    // Sets *corrupt when line 1 holds a password that does not decipher.
    std::optional<LoginCredentials> remembered(bool *corrupt = nullptr) const;
    void remember(const std::string &user, const std::string &password);
    void forget();

    const std::vector<std::string> &lines() const { return lines_; }
    const QString &path() const { return path_; }

private:
    QString path_;
    std::vector<std::string> lines_;
};

}  // namespace velora::client::core
