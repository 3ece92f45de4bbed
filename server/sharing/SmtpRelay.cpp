#include "server/sharing/SmtpRelay.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <tuple>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server/state/DialledSide.h"

namespace velora::server::sharing {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kListener = 0;
constexpr std::uint64_t kWake = 1;

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// One direction of a relayed connection: what was read from one side and
// still has to be written to the other.
struct Channel {
    int pipeRead = -1, pipeWrite = -1;  // splice
    std::unique_ptr<char[]> buffer;     // copy; untouched pages cost nothing
    std::size_t offset = 0;
    std::size_t held = 0;
    bool eof = false;
    // The far side has been told that this direction is over.
    bool shut = false;

    ~Channel()
    {
        closeFd(pipeRead);
        closeFd(pipeWrite);
    }
};

struct Connection {
    int client = -1;
    int target = -1;
    bool connecting = true;
    bool halfClosed = false;
    // Connecting: until when; half-closed: until when the other side may send.
    Clock::time_point deadline;
    Channel up;    // client -> target
    Channel down;  // target -> client
    std::uint32_t clientMask = 0, targetMask = 0;

    ~Connection()
    {
        closeFd(client);
        closeFd(target);
    }
};

enum class Step { Progress, Blocked, Closed };

}  // namespace

// The relay's thread: its epoll set, the connections and what it remembers
// between events. Nothing here is seen by another thread but the counters.
class SmtpRelay::Loop {
public:
    explicit Loop(SmtpRelay &relay)
        : relay_(relay), limits_(relay.limits_),
          capacity_(relay.limits_.bufferBytes ? relay.limits_.bufferBytes : 65536)
    {
    }
    ~Loop()
    {
        conns_.clear();
        relay_.connections_ = 0;
        relay_.buffered_ = 0;
        if (ep_ >= 0)
            ::close(ep_);
    }

    void run();

private:
    bool add(int fd, std::uint64_t tag, std::uint32_t events);
    void setMask(int fd, std::uint64_t tag, std::uint32_t &current, std::uint32_t wanted);
    void updateMasks(std::uint64_t id, Connection &c);
    void changeBuffered(std::ptrdiff_t delta);
    void report(const std::string &text) const
    {
        if (relay_.report_)
            relay_.report_(text);
    }

    // Takes every waiting connection: refused over the dialled line or over
    // the cap, else connecting to the target.
    void accept();
    // Finds the target once; false (said once) while it cannot be found.
    bool resolve();
    bool makeChannel(Channel &ch);
    // Moves what it can from `from` into the channel, and from the channel to `to`.
    Step fill(Channel &ch, int from);
    Step drain(Channel &ch, int to);
    // Both directions until neither moves; false when the connection ends.
    bool pump(Connection &c);
    // One event of a relayed connection's socket.
    void serve(std::uint64_t tag);
    void drop(std::uint64_t id);
    // Until the nearest deadline of a connecting or half-closed connection; -1: none.
    int nextTimeoutMs() const;
    void dropLate();

    SmtpRelay &relay_;
    const RelayLimits &limits_;
    int ep_ = -1;
    std::map<std::uint64_t, std::unique_ptr<Connection>> conns_;
    std::uint64_t nextId_ = 1;
    std::size_t capacity_;
    bool capReported_ = false;
    bool lookupReported_ = false;
    std::vector<char> resolved_;  // the target's sockaddr, once found
    socklen_t resolvedLen_ = 0;
    int resolvedFamily_ = AF_INET;
    std::size_t dialledRefused_ = 0;
    Clock::time_point dialledToldAt_{};
};

void SmtpRelay::Loop::run()
{
    // Mail is bulk: under load the server's own ticks go first.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), ::getpriority(PRIO_PROCESS, 0) + 5);
    ep_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (ep_ < 0) {
        report(std::string("SMTP relay stopped: no epoll: ") + std::strerror(errno));
        return;
    }
    add(relay_.listenFd_, kListener, EPOLLIN);
    add(relay_.wakeFd_, kWake, EPOLLIN);

    std::vector<epoll_event> events(256);
    for (;;) {
        const int n = ::epoll_wait(ep_, events.data(), static_cast<int>(events.size()), nextTimeoutMs());
        if (n < 0 && errno != EINTR)
            break;
        for (int i = 0; i < n; ++i) {
            const std::uint64_t tag = events[static_cast<std::size_t>(i)].data.u64;
            if (tag == kWake)
                return;
            if (tag == kListener)
                accept();
            else
                serve(tag);
        }
        dropLate();
    }
}

bool SmtpRelay::Loop::add(int fd, std::uint64_t tag, std::uint32_t events)
{
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = tag;
    return ::epoll_ctl(ep_, EPOLL_CTL_ADD, fd, &ev) == 0;
}

void SmtpRelay::Loop::setMask(int fd, std::uint64_t tag, std::uint32_t &current, std::uint32_t wanted)
{
    if (wanted == current)
        return;
    epoll_event ev{};
    ev.events = wanted;
    ev.data.u64 = tag;
    ::epoll_ctl(ep_, EPOLL_CTL_MOD, fd, &ev);
    current = wanted;
}

void SmtpRelay::Loop::updateMasks(std::uint64_t id, Connection &c)
{
    std::uint32_t client = 0, target = 0;
    if (c.connecting) {
        target = EPOLLOUT;
    } else {
        if (!c.up.eof && c.up.held < capacity_)
            client |= EPOLLIN;
        if (c.down.held > 0)
            client |= EPOLLOUT;
        if (!c.down.eof && c.down.held < capacity_)
            target |= EPOLLIN;
        if (c.up.held > 0)
            target |= EPOLLOUT;
    }
    setMask(c.client, id << 1, c.clientMask, client);
    setMask(c.target, (id << 1) | 1, c.targetMask, target);
}

void SmtpRelay::Loop::changeBuffered(std::ptrdiff_t delta)
{
    const std::size_t now =
        relay_.buffered_.fetch_add(static_cast<std::size_t>(delta)) + static_cast<std::size_t>(delta);
    std::size_t peak = relay_.peakBuffered_.load();
    while (now > peak && !relay_.peakBuffered_.compare_exchange_weak(peak, now)) {
    }
}

void SmtpRelay::Loop::drop(std::uint64_t id)
{
    auto it = conns_.find(id);
    if (it == conns_.end())
        return;
    changeBuffered(-static_cast<std::ptrdiff_t>(it->second->up.held + it->second->down.held));
    // Closing removes the descriptors from the epoll set.
    conns_.erase(it);
    relay_.connections_ = conns_.size();
    if (conns_.size() < static_cast<std::size_t>(limits_.maxConnections))
        capReported_ = false;
}

Step SmtpRelay::Loop::fill(Channel &ch, int from)
{
    if (ch.eof || ch.held >= capacity_)
        return Step::Blocked;
    const std::size_t want = capacity_ - ch.held;
    ssize_t n;
    if (limits_.splice) {
        n = ::splice(from, nullptr, ch.pipeWrite, nullptr, want, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    } else {
        if (!ch.buffer)
            ch.buffer.reset(new char[capacity_]);
        if (ch.offset + ch.held == capacity_ && ch.offset > 0) {
            std::memmove(ch.buffer.get(), ch.buffer.get() + ch.offset, ch.held);
            ch.offset = 0;
        }
        n = ::read(from, ch.buffer.get() + ch.offset + ch.held, capacity_ - ch.offset - ch.held);
    }
    if (n > 0) {
        ch.held += static_cast<std::size_t>(n);
        changeBuffered(n);
        return Step::Progress;
    }
    if (n == 0) {
        ch.eof = true;
        return Step::Progress;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Step::Blocked : Step::Closed;
}

Step SmtpRelay::Loop::drain(Channel &ch, int to)
{
    if (ch.held == 0)
        return Step::Blocked;
    ssize_t n;
    if (limits_.splice)
        n = ::splice(ch.pipeRead, nullptr, to, nullptr, ch.held, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    else
        n = ::send(to, ch.buffer.get() + ch.offset, ch.held, MSG_NOSIGNAL);
    if (n > 0) {
        ch.held -= static_cast<std::size_t>(n);
        if (!limits_.splice)
            ch.offset = ch.held ? ch.offset + static_cast<std::size_t>(n) : 0;
        changeBuffered(-n);
        return Step::Progress;
    }
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? Step::Blocked : Step::Closed;
}

bool SmtpRelay::Loop::pump(Connection &c)
{
    for (int round = 0; round < 32; ++round) {
        bool moved = false;
        for (auto [ch, from, to] : {std::tuple{&c.up, c.client, c.target}, std::tuple{&c.down, c.target, c.client}}) {
            const Step f = fill(*ch, from);
            if (f == Step::Closed)
                return false;
            const Step d = drain(*ch, to);
            if (d == Step::Closed)
                return false;
            moved = moved || f == Step::Progress || d == Step::Progress;
            // One side finished sending: once all it sent has gone on,
            // the other side hears the same, and may still answer.
            if (ch->eof && ch->held == 0 && !ch->shut) {
                ch->shut = true;
                if (::shutdown(to, SHUT_WR) != 0)
                    return false;
                if (!c.halfClosed) {
                    c.halfClosed = true;
                    c.deadline = Clock::now() + std::chrono::milliseconds(limits_.halfCloseTimeoutMs);
                }
            }
        }
        if (c.up.shut && c.down.shut)
            return false;
        if (!moved)
            break;
    }
    return true;
}

bool SmtpRelay::Loop::makeChannel(Channel &ch)
{
    if (!limits_.splice)
        return true;
    int p[2];
    if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    ch.pipeRead = p[0];
    ch.pipeWrite = p[1];
    const int size = ::fcntl(ch.pipeWrite, F_SETPIPE_SZ, static_cast<int>(capacity_));
    // The pipe may be smaller than asked (pipe-max-size): never hold more than it takes.
    if (size > 0)
        capacity_ = std::min(capacity_, static_cast<std::size_t>(size));
    else
        capacity_ = std::min<std::size_t>(capacity_, 65536);
    return true;
}

bool SmtpRelay::Loop::resolve()
{
    if (resolvedLen_)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    const int rc =
        ::getaddrinfo(relay_.targetHost_.c_str(), std::to_string(relay_.targetPort_).c_str(), &hints, &res);
    if (rc != 0 || !res) {
        if (!lookupReported_)
            report("SMTP relay: cannot find " + relay_.targetHost_ + ": " + ::gai_strerror(rc));
        lookupReported_ = true;
        return false;
    }
    resolved_.assign(reinterpret_cast<char *>(res->ai_addr), reinterpret_cast<char *>(res->ai_addr) + res->ai_addrlen);
    resolvedLen_ = res->ai_addrlen;
    resolvedFamily_ = res->ai_family;
    ::freeaddrinfo(res);
    return true;
}

void SmtpRelay::Loop::accept()
{
    for (;;) {
        const int fd = ::accept4(relay_.listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (relay_.dialled_ && relay_.dialled_->isDialledSocket(fd)) {
            ::close(fd);
            ++dialledRefused_;
            // Told at the first, then at most once a minute with the count.
            const auto t = Clock::now();
            if (relay_.report_ &&
                (dialledToldAt_ == Clock::time_point{} || t - dialledToldAt_ >= std::chrono::minutes(1))) {
                report("SMTP relay: refused " + std::to_string(dialledRefused_) + " connection" +
                       (dialledRefused_ == 1 ? "" : "s") + " that came in over the dialled line (" +
                       relay_.dialled_->lastInterface() + ")");
                dialledRefused_ = 0;
                dialledToldAt_ = t;
            }
            continue;
        }
        if (conns_.size() >= static_cast<std::size_t>(limits_.maxConnections)) {
            if (relay_.report_ && !capReported_)
                report("SMTP relay: " + std::to_string(limits_.maxConnections) +
                       " connections are being relayed, the most it takes; new ones are closed");
            capReported_ = true;
            ::close(fd);
            continue;
        }
        if (!resolve()) {
            ::close(fd);
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->client = fd;
        c->target = ::socket(resolvedFamily_, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (c->target < 0 || !makeChannel(c->up) || !makeChannel(c->down))
            continue;  // the connection closes as it goes
        const int one = 1;
        ::setsockopt(c->target, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(c->client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(c->target, reinterpret_cast<const sockaddr *>(resolved_.data()), resolvedLen_) != 0 &&
            errno != EINPROGRESS)
            continue;
        c->deadline = Clock::now() + std::chrono::milliseconds(limits_.connectTimeoutMs);
        const std::uint64_t id = nextId_++;
        add(c->client, id << 1, 0);
        add(c->target, (id << 1) | 1, EPOLLOUT);
        c->targetMask = EPOLLOUT;
        conns_.emplace(id, std::move(c));
        relay_.connections_ = conns_.size();
    }
}

void SmtpRelay::Loop::serve(std::uint64_t tag)
{
    const std::uint64_t id = tag >> 1;
    auto it = conns_.find(id);
    if (it == conns_.end())
        return;  // closed earlier in this round
    Connection &c = *it->second;
    if (c.connecting) {
        if ((tag & 1) == 0)
            return;
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(c.target, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
            // The target refused or is unreachable: the caller is let go at once.
            drop(id);
            return;
        }
        c.connecting = false;
    }
    if (!pump(c)) {
        drop(id);
        return;
    }
    updateMasks(id, c);
}

int SmtpRelay::Loop::nextTimeoutMs() const
{
    int timeoutMs = -1;
    const auto now = Clock::now();
    for (const auto &[id, c] : conns_)
        if (c->connecting || c->halfClosed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c->deadline - now).count() + 1;
            timeoutMs = timeoutMs < 0 ? static_cast<int>(std::max<long long>(0, left))
                                      : std::min(timeoutMs, static_cast<int>(std::max<long long>(0, left)));
        }
    return timeoutMs;
}

void SmtpRelay::Loop::dropLate()
{
    const auto later = Clock::now();
    std::vector<std::uint64_t> late;
    for (const auto &[id, c] : conns_)
        if ((c->connecting || c->halfClosed) && later >= c->deadline)
            late.push_back(id);
    for (const std::uint64_t id : late)
        drop(id);
}

SmtpRelay::SmtpRelay(RelayLimits limits, Report report) : limits_(limits), report_(std::move(report)) {}

SmtpRelay::~SmtpRelay() { stop(); }

bool SmtpRelay::start(const std::string &listenAddress, int listenPort, const std::string &targetHost,
                      int targetPort, std::string *why)
{
    stop();
    auto fail = [&](const std::string &text) {
        if (why)
            *why = text;
        closeFd(listenFd_);
        closeFd(wakeFd_);
        return false;
    };
    if (listenPort < 0 || listenPort > 65535)
        return fail("not a port number: " + std::to_string(listenPort));
    if (targetPort < 1 || targetPort > 65535)
        return fail("not a port number: " + std::to_string(targetPort));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(listenPort));
    if (::inet_pton(AF_INET, listenAddress.c_str(), &addr.sin_addr) != 1)
        return fail("not an IPv4 address: " + listenAddress);
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (listenFd_ < 0)
        return fail(std::string("no socket: ") + std::strerror(errno));
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 128) != 0)
        return fail("cannot listen on port " + std::to_string(listenPort) + ": " + std::strerror(errno));
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&bound), &len);
    port_ = ntohs(bound.sin_port);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        return fail(std::string("no eventfd: ") + std::strerror(errno));
    targetHost_ = targetHost;
    targetPort_ = targetPort;
    try {
        thread_ = std::thread([this] { Loop(*this).run(); });
    } catch (const std::system_error &e) {
        return fail(std::string("no relay thread: ") + e.what());
    }
    return true;
}

void SmtpRelay::stop()
{
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    closeFd(listenFd_);
    closeFd(wakeFd_);
    port_ = 0;
    connections_ = 0;
    buffered_ = 0;
}

}  // namespace velora::server::sharing
