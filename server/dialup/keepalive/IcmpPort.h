#pragma once
// One ICMP echo at a time, and the host-name look-up before it: the two
// platform parts of the keep-alive ping, each with a real implementation and
// a fake for tests. Both finish through a signal on the event loop.

#include <QObject>

#include <cstdint>
#include <string>

namespace velora::server::dialup {

namespace PingError {
inline constexpr int TimedOut = 11010;
inline constexpr int InvalidHostAddress = 11018;
inline constexpr int HostNotFound = 11001;
inline constexpr int TryAgain = 11002;
inline constexpr int NoAddress = 11004;
inline constexpr int InvalidArgument = 10022;
inline constexpr int GeneralFailure = 11050;
}  // namespace PingError

struct EchoResult {
    int errorCode = 0;  // 0: the reply arrived
    std::string errorText;
    std::string address;    // dotted IPv4 that was pinged (or looked up)
    std::uint16_t sequence = 0;
    int roundTripMs = -1;
    int replies() const { return errorCode == 0 ? 1 : 0; }
};

class IcmpPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~IcmpPort() override;

    // Sends one echo request with exactly these payload bytes to a dotted
    // IPv4 address, with the given TTL; echoFinished
    // follows (reply or time-out), never inside this call. False with a reason
    // when nothing could be sent; then no signal follows. A new echo replaces
    // one still in flight, which then reports nothing.
    virtual bool sendEcho(const std::string &address, const std::string &payload, int ttl,
                          int timeoutMs, std::string *error) = 0;
    // Forgets the echo in flight; no signal follows for it.
    virtual void cancel() = 0;

signals:
    void echoFinished(const velora::server::dialup::EchoResult &result);
};

class HostLookup : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~HostLookup() override;

    // Starts resolving a host name; finished follows, never inside this call.
    // False with a reason when the look-up cannot start. A new look-up
    // replaces a pending one, which then reports nothing.
    virtual bool start(const std::string &host, std::string *error) = 0;
    virtual void cancel() = 0;

signals:
    // errorCode 0: `address` is the first IPv4 address of the host.
    void finished(int errorCode, const std::string &address);
};

}  // namespace velora::server::dialup
