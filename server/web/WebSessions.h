#pragma once
// The page's logins: a token per login, carried by the cookie or the
// X-Velora-Token header. Each logged-in browser is a record of the client
// list like a wire client ("user@web"), so locks and chat reach both ways;
// it leaves the list on logout or after a quiet while with no event stream.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "server/clientservice/TSimpleClient.h"

namespace velora::server::clientservice {
class StatusPush;
}

namespace velora::server::web {

struct WebUser {
    std::string token;
    std::string loginName, loginCipher;
    std::string peer;
    std::string description;
    bool dialHangup = false, unlockAll = false, shutdown = false;
    clientservice::TSimpleClient record;
    std::int64_t lastSeen = 0;
    int streams = 0;
    // Messages for the page since its stream last took them (message records).
    std::string inbox;
};

class WebSessions {
public:
    explicit WebSessions(clientservice::StatusPush &push) : push_(push) {}
    ~WebSessions();

    WebUser &add(WebUser user, std::int64_t now);
    WebUser *find(const std::string &token, std::int64_t now);
    void remove(const std::string &token);
    // Logins quiet for longer than this, with no stream open, end.
    void expire(std::int64_t now);
    void clear();
    // Mail the list left in the records' mailboxes moves to each page's inbox.
    void collectMail();
    std::size_t size() const { return users_.size(); }
    std::vector<WebUser *> all();

    static std::string newToken();
    static constexpr std::int64_t QuietMs = 15 * 60 * 1000;
    static constexpr std::size_t MaxUsers = 256;
    static constexpr std::size_t MaxInboxBytes = 256 * 1024;

private:
    clientservice::StatusPush &push_;
    std::map<std::string, std::unique_ptr<WebUser>> users_;
};

}  // namespace velora::server::web
