// The TLS port of ServerCore: its identity is read (or made) at Online.

#include "server/frame/ServerCore.h"

#include <algorithm>

namespace velora::server::frame {

bool ServerCore::listenEncrypted(const QHostAddress &address, std::string *why)
{
    const int port = config_.tlsPort();
    if (port == 0)
        return true;
    if (!tls_)
        tls_ = std::make_unique<TlsIdentity>(options_.baseDir + "/config/tls");
    std::string reason;
    if (!tls_->isLoaded() && !tls_->loadOrMake(&reason)) {
        *why = "no encrypted connections: " + reason;
        return false;
    }
    auto context = tls_->serverContext(&reason);
    if (!context) {
        *why = "no encrypted connections: " + reason;
        return false;
    }
    if (!clients_.transport().listenTls(address, std::max(port, 0), std::move(context), &reason)) {
        *why = "cannot listen on port " + std::to_string(std::max(port, 0)) + " (encrypted connections): " + reason;
        return false;
    }
    return true;
}

std::string ServerCore::tlsFingerprint() const { return tls_ ? tls_->fingerprint() : std::string(); }

}  // namespace velora::server::frame
