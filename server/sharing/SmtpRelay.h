#pragma once
// The SMTP auto relay: a TCP port mapper that passes every connection on its
// listening port, byte for byte, to one target server. It runs on a thread
// of its own with its own epoll loop and shares nothing with the rest of the
// server. Bytes move between the two sockets through a buffer of ours per
// direction, or through a pipe with splice(2): bench_relay found the two
// alike in speed (both about twice socat on loopback) and the pipes cost
// three times the descriptors, so the buffer is the default. Each direction
// holds at most `bufferBytes`: while that much waits for the slow side, the
// fast side is not read.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace velora::server::state {
class DialledSide;
}

namespace velora::server::sharing {

struct RelayLimits {
    int maxConnections = 200;
    int connectTimeoutMs = 15000;
    std::size_t bufferBytes = 256 * 1024;  // per direction
    bool splice = false;
    // After one side has finished sending, how long the other may still take.
    int halfCloseTimeoutMs = 120000;
};

class SmtpRelay {
public:
    // Hears the relay's notes (a connection cap reached, a target that cannot
    // be found); called on the relay's thread.
    using Report = std::function<void(const std::string &)>;

    explicit SmtpRelay(RelayLimits limits = {}, Report report = {});
    ~SmtpRelay();
    SmtpRelay(const SmtpRelay &) = delete;
    SmtpRelay &operator=(const SmtpRelay &) = delete;

    // Connections whose local address faces the dialled line are closed
    // unread. Set before start(); null relays for every side.
    void setDialledSide(state::DialledSide *side) { dialled_ = side; }
    // Binds the port here and now (so that a port in use or a privileged one
    // is known at once), then relays on the thread. False with why when the
    // port cannot be bound or the thread not started.
    bool start(const std::string &listenAddress, int listenPort, const std::string &targetHost, int targetPort,
               std::string *why = nullptr);
    // Closes the port and every relayed connection, and ends the thread.
    void stop();
    bool active() const { return thread_.joinable(); }

    std::uint16_t port() const { return port_; }
    const std::string &targetHost() const { return targetHost_; }
    int targetPort() const { return targetPort_; }
    // Connections being relayed (or connecting to the target) right now.
    std::size_t connections() const { return connections_.load(); }
    // Bytes read from one side and not yet written to the other, all
    // connections together.
    std::size_t bufferedBytes() const { return buffered_.load(); }
    // The most that bufferedBytes() has been since start.
    std::size_t peakBufferedBytes() const { return peakBuffered_.load(); }

private:
    // The relay's thread: accept, resolve, pump and drain on its epoll set.
    class Loop;

    RelayLimits limits_;
    Report report_;
    state::DialledSide *dialled_ = nullptr;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::uint16_t port_ = 0;
    std::string targetHost_;
    int targetPort_ = 0;
    std::thread thread_;
    std::atomic<std::size_t> connections_{0};
    std::atomic<std::size_t> buffered_{0};
    std::atomic<std::size_t> peakBuffered_{0};
};

}  // namespace velora::server::sharing
