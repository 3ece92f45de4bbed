#pragma once
// ICMP echo through a socket of the kernel: an unprivileged ping socket where
// the system allows it, else a raw socket (needs root or CAP_NET_RAW). The
// reply is awaited with a socket notifier and a timer, never by blocking.

#include "server/dialup/keepalive/IcmpPort.h"

#include <QElapsedTimer>
#include <QTimer>

#include <memory>

class QSocketNotifier;

namespace velora::server::dialup {

class LinuxIcmpPort final : public IcmpPort {
    Q_OBJECT
public:
    enum class SocketKind { None, Ping, Raw };

    explicit LinuxIcmpPort(QObject *parent = nullptr);
    ~LinuxIcmpPort() override;

    bool sendEcho(const std::string &address, const std::string &payload, int ttl,
                  int timeoutMs, std::string *error) override;
    void cancel() override;

    // The kind of socket the last echo went out on.
    SocketKind lastSocketKind() const { return kind_; }

private:
    void onReadable();
    void onTimeout();
    bool matches(const unsigned char *data, std::size_t size, std::uint32_t from) const;
    void closeSocket();
    void finish(EchoResult result);

    int fd_ = -1;
    SocketKind kind_ = SocketKind::None;
    QSocketNotifier *notifier_ = nullptr;
    QTimer timeout_;
    QElapsedTimer sentAt_;
    std::uint32_t target_ = 0;  // network byte order
    std::string address_;
    std::uint16_t id_ = 0;
    std::uint16_t sequence_ = 0;
};

}  // namespace velora::server::dialup
