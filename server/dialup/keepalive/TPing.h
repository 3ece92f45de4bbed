#pragma once
// The keep-alive ping: each round resolves the host anew, then sends one ICMP
// echo and reports the outcome. Nothing waits on the event loop; a failed
// round only ends that round.

#include "server/dialup/keepalive/IcmpPort.h"

#include <string>

namespace velora::server::dialup {

class TPing : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultSize = 56;
    static constexpr int kDefaultTtl = 64;
    static constexpr int kDefaultTimeoutMs = 400;
    // The first bytes of every echo's payload, so that a capture shows whose
    // echo it is.
    static constexpr char kSignature[] = "Velora keep-alive: the shared line is in use.";

    TPing(HostLookup &lookup, IcmpPort &icmp, QObject *parent = nullptr);
    ~TPing() override;

    void setSize(int bytes);
    int size() const { return size_; }
    void setTtl(int ttl) { ttl_ = ttl; }
    int ttl() const { return ttl_; }
    void setTimeout(int ms) { timeoutMs_ = ms; }
    int timeout() const { return timeoutMs_; }

    // Starts a round for a host name or a dotted IPv4 address (which needs no
    // look-up). A round still running is dropped. False with the reason
    // "<host>: can't start DNS lookup, error #<code>" when the look-up cannot
    // start; otherwise OnDnsLookupDone and roundFinished follow, never inside
    // this call.
    bool startRound(const std::string &host, std::string *error = nullptr);
    void cancel();
    bool busy() const { return stage_ != Stage::Idle; }
    // The address the last look-up gave.
    const std::string &address() const { return address_; }

    // Size bytes: the signature, then blanks (the signature cut to a smaller size).
    static std::string payload(int size);

signals:
    void OnDnsLookupDone(int errorCode);
    // The round's outcome: a reply, a time-out, a failed look-up, or no socket.
    void roundFinished(const velora::server::dialup::EchoResult &result);

private:
    enum class Stage { Idle, Dotted, LookingUp, Echoing };
    void onLookupFinished(int errorCode, const std::string &address);
    void onEchoFinished(const velora::server::dialup::EchoResult &result);
    void finish(EchoResult result);

    HostLookup &lookup_;
    IcmpPort &icmp_;
    int size_ = kDefaultSize;
    int ttl_ = kDefaultTtl;
    int timeoutMs_ = kDefaultTimeoutMs;
    Stage stage_ = Stage::Idle;
    unsigned round_ = 0;
    std::string host_;
    std::string address_;
};

}  // namespace velora::server::dialup
