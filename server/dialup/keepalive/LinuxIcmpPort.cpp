#include "server/dialup/keepalive/LinuxIcmpPort.h"

#include <QRandomGenerator>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velora::server::dialup {

namespace {

std::uint16_t checksum(const unsigned char *data, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    if (size % 2)
        sum += static_cast<std::uint32_t>(data[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

void put16(unsigned char *at, std::uint16_t v)
{
    at[0] = static_cast<unsigned char>(v >> 8);
    at[1] = static_cast<unsigned char>(v & 0xff);
}

std::uint16_t get16(const unsigned char *at)
{
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

constexpr std::size_t kIcmpHeader = 8;
constexpr std::size_t kMaxPayload = 65507 - kIcmpHeader;

}  // namespace

IcmpPort::~IcmpPort() = default;
HostLookup::~HostLookup() = default;

LinuxIcmpPort::LinuxIcmpPort(QObject *parent)
    : IcmpPort(parent), id_(static_cast<std::uint16_t>(QRandomGenerator::global()->bounded(65536)))
{
    timeout_.setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, &LinuxIcmpPort::onTimeout);
}

LinuxIcmpPort::~LinuxIcmpPort()
{
    closeSocket();
}

bool LinuxIcmpPort::sendEcho(const std::string &address, const std::string &payload, int ttl,
                             int timeoutMs, std::string *error)
{
    auto fail = [&](std::string why) {
        closeSocket();
        if (error)
            *error = std::move(why);
        return false;
    };
    cancel();
    in_addr to{};
    if (::inet_pton(AF_INET, address.c_str(), &to) != 1)
        return fail(address + ": not an IPv4 address");
    if (payload.size() > kMaxPayload)
        return fail("echo payload too large");

    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    kind_ = SocketKind::Ping;
    if (fd_ < 0) {
        const int pingErrno = errno;
        fd_ = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        kind_ = SocketKind::Raw;
        if (fd_ < 0) {
            kind_ = SocketKind::None;
            return fail(std::string("no ICMP socket: ping socket: ") + std::strerror(pingErrno) +
                        ", raw socket: " + std::strerror(errno));
        }
    }
    if (ttl > 0 && ttl < 256)
        ::setsockopt(fd_, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);

    ++sequence_;
    std::vector<unsigned char> packet(kIcmpHeader + payload.size());
    packet[0] = ICMP_ECHO;
    packet[1] = 0;
    put16(&packet[4], id_);  // a ping socket puts its own id here
    put16(&packet[6], sequence_);
    std::memcpy(packet.data() + kIcmpHeader, payload.data(), payload.size());
    put16(&packet[2], checksum(packet.data(), packet.size()));

    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_addr = to;
    ssize_t sent;
    do
        sent = ::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&dest),
                        sizeof dest);
    while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(packet.size()))
        return fail(address + ": " + std::strerror(sent < 0 ? errno : EMSGSIZE));

    target_ = to.s_addr;
    address_ = address;
    sentAt_.start();
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &LinuxIcmpPort::onReadable);
    timeout_.start(std::max(0, timeoutMs));
    return true;
}

void LinuxIcmpPort::cancel()
{
    timeout_.stop();
    closeSocket();
}

void LinuxIcmpPort::closeSocket()
{
    if (notifier_) {
        // May run inside the notifier's own signal: let the loop delete it.
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool LinuxIcmpPort::matches(const unsigned char *data, std::size_t size, std::uint32_t from) const
{
    if (from != target_)
        return false;
    if (kind_ == SocketKind::Raw) {
        // A raw socket hands over the IP header, and every ICMP message of
        // the host: our own request on loopback, other programs' replies.
        if (size < 20)
            return false;
        const std::size_t ipHeader = static_cast<std::size_t>(data[0] & 0x0f) * 4;
        if (ipHeader < 20 || size < ipHeader + kIcmpHeader)
            return false;
        data += ipHeader;
        size -= ipHeader;
        if (get16(data + 4) != id_)
            return false;
    } else if (size < kIcmpHeader) {
        return false;
    }
    return data[0] == ICMP_ECHOREPLY && data[1] == 0 && get16(data + 6) == sequence_;
}

void LinuxIcmpPort::onReadable()
{
    unsigned char buffer[2048];
    for (;;) {
        if (fd_ < 0)
            return;
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;  // EAGAIN, or an error the time-out will report
        }
        if (matches(buffer, static_cast<std::size_t>(n), from.sin_addr.s_addr)) {
            EchoResult r;
            r.address = address_;
            r.sequence = sequence_;
            r.roundTripMs = static_cast<int>(sentAt_.elapsed());
            finish(std::move(r));
            return;
        }
    }
}

void LinuxIcmpPort::onTimeout()
{
    EchoResult r;
    r.errorCode = PingError::TimedOut;
    r.errorText = "Request timed out.";
    r.address = address_;
    r.sequence = sequence_;
    finish(std::move(r));
}

void LinuxIcmpPort::finish(EchoResult result)
{
    cancel();
    emit echoFinished(result);
}

}  // namespace velora::server::dialup
