#pragma once
// The accounts that may log in from a client: one line per user in
// BaseDir/config/user.cfg, seven fields each ended by the list separator.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velora::server::users {

struct UserRecord {
    std::string name;
    std::string description;
    std::string passwordCipher;
    std::string disabled = "0";
    std::string unlockAll = "0";
    std::string dialHangup = "0";
    std::string shutdown = "0";

    static UserRecord parse(std::string_view line);
    std::string format() const;
};

struct LoginResult {
    enum class Outcome {
        Accepted,
        Refused,
        // A password field that is not a cipher text: the session ends unanswered.
        Malformed,
    };
    Outcome outcome = Outcome::Refused;
    UserRecord record;   // when accepted
    std::string reason;  // when refused
};

class UserStore {
public:
    explicit UserStore(std::string path);

    const std::string &path() const { return path_; }

    // Replaces the user list by the file's lines as a whole. On a read error
    // the list stays as it was and the error text is returned.
    bool updateuserlist(std::string *error = nullptr);

    const std::vector<std::string> &lines() const { return *lines_; }
    std::vector<UserRecord> records() const;

    LoginResult check(std::string_view name, std::string_view passwordCipher) const;

    // Writes the records (owner-only permissions) and reloads the list.
    // Refused while the file is there but could not be read.
    bool save(const std::vector<UserRecord> &records, std::string *error = nullptr);
    // The same with lines as they are (the editor keeps lines it did not touch).
    bool saveLines(const std::vector<std::string> &lines, std::string *error = nullptr);

private:
    std::string path_;
    std::shared_ptr<const std::vector<std::string>> lines_;
    bool lastReadFailed_ = false;
};

}  // namespace velora::server::users
