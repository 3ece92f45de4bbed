// The TLS port of ServerCore: its identity is read (or made) at Online.

#include "server/frame/ServerCore.h"

#include <algorithm>

namespace velora::server::frame {

bool ServerCore::listenEncrypted(const QHostAddress &address, std::string *why)
{
    const int port = config_.tlsPort();
    if (port == 0)
        return true;
    std::string reason;
    if (!tlsIdentity(&reason)) {
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

bool ServerCore::tlsIdentity(std::string *why)
{
    if (!tls_)
        tls_ = std::make_unique<TlsIdentity>(options_.baseDir + "/config/tls");
    return tls_->isLoaded() || tls_->loadOrMake(why);
}

bool ServerCore::listenWeb(const QHostAddress &address, std::string *why)
{
    const int port = config_.webPort();
    if (port == 0)
        return true;
    std::string reason;
    if (!tlsIdentity(&reason)) {
        *why = "no web page: " + reason;
        return false;
    }
    auto context = tls_->serverContext(&reason);
    if (!context) {
        *why = "no web page: " + reason;
        return false;
    }
    web_.setMetrics(config_.webMetrics());
    const std::int64_t handshakeMs = std::int64_t{clients_.strangers().limits().loginTimeoutSeconds} * 1000;
    if (!web_.start(address, port, std::move(context),
                    config_.wanAccess() ? nullptr : &sharing_.dialledSide(), DescriptorReserve, handshakeMs,
                    &reason)) {
        *why = "cannot listen on port " + std::to_string(port) + " (web page): " + reason;
        return false;
    }
    return true;
}

std::string ServerCore::tlsFingerprint() const { return tls_ ? tls_->fingerprint() : std::string(); }

}  // namespace velora::server::frame
