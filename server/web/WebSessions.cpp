#include "server/web/WebSessions.h"

#include <QRandomGenerator>

#include "server/clientservice/StatusPush.h"

namespace velora::server::web {

WebSessions::~WebSessions() { clear(); }

std::string WebSessions::newToken()
{
    static const char hex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 8; ++i) {
        quint32 word = QRandomGenerator::system()->generate();
        for (int j = 0; j < 8; ++j, word >>= 4)
            token += hex[word & 0xF];
    }
    return token;
}

WebUser &WebSessions::add(WebUser user, std::int64_t now)
{
    if (users_.size() >= MaxUsers) {
        // The quietest login makes room: a new one always gets in.
        auto oldest = users_.begin();
        for (auto it = users_.begin(); it != users_.end(); ++it)
            if (it->second->lastSeen < oldest->second->lastSeen)
                oldest = it;
        remove(oldest->first);
    }
    user.lastSeen = now;
    auto owned = std::make_unique<WebUser>(std::move(user));
    WebUser &u = *owned;
    users_[u.token] = std::move(owned);
    push_.join(u.record);
    return u;
}

WebUser *WebSessions::find(const std::string &token, std::int64_t now)
{
    auto it = users_.find(token);
    if (token.empty() || it == users_.end())
        return nullptr;
    it->second->lastSeen = now;
    return it->second.get();
}

void WebSessions::remove(const std::string &token)
{
    auto it = users_.find(token);
    if (it == users_.end())
        return;
    push_.leave(it->second->record);
    users_.erase(it);
}

void WebSessions::expire(std::int64_t now)
{
    std::vector<std::string> quiet;
    for (const auto &[token, u] : users_)
        if (u->streams == 0 && now - u->lastSeen > QuietMs)
            quiet.push_back(token);
    for (const std::string &token : quiet)
        remove(token);
}

void WebSessions::clear()
{
    for (const auto &[token, u] : users_)
        push_.leave(u->record);
    users_.clear();
}

void WebSessions::collectMail()
{
    for (const auto &[token, u] : users_) {
        if (u->record.Mailbox.empty())
            continue;
        u->inbox += u->record.Mailbox;
        u->record.Mailbox.clear();
        // A page that never reads keeps only the latest.
        if (u->inbox.size() > MaxInboxBytes)
            u->inbox.erase(0, u->inbox.size() - MaxInboxBytes);
    }
}

std::vector<WebUser *> WebSessions::all()
{
    std::vector<WebUser *> out;
    for (const auto &[token, u] : users_)
        out.push_back(u.get());
    return out;
}

}  // namespace velora::server::web
