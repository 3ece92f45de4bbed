#pragma once
// Looks at the base dir's files at start-up, before they are used: which of
// them others may read although they hold passwords or the log, and which
// are there but give nothing. Each finding is one line for the operator.

#include <string>
#include <vector>

namespace velora::server::users {
class UserStore;
}

namespace velora::server::frame {

struct PrivateFile {
    std::string path;
    std::string holds;  // "passwords", "the connection log"
};

// Existing files that group or others may read.
std::vector<std::string> readableByOthers(const std::vector<PrivateFile> &files);

// The base dir, config/ and whatever config/ holds, where group or others
// may write: one line each.
std::vector<std::string> writableByOthers(const std::string &baseDir);

// A file in the place of a file that is not one, or a store that was read
// but gave no user (no entry) although it is not empty.
std::vector<std::string> unusableFiles(const users::UserStore &users, const std::string &phonebookPath);

// config.ini or tip.cfg that is there but is no text file of its kind.
std::vector<std::string> unusableTextFiles(const std::string &configPath, const std::string &tipPath);

// All of the above for the base dir at start-up, the pppd secrets in
// secretsDir among the private files where it is not empty.
std::vector<std::string> baseDirProblems(const std::string &baseDir, const users::UserStore &users,
                                         const std::string &secretsDir);

}  // namespace velora::server::frame
