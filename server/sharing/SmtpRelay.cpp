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
        thread_ = std::thread([this] { loop(); });
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

void SmtpRelay::loop()
{
    // Mail is bulk: under load the server's own ticks go first.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), ::getpriority(PRIO_PROCESS, 0) + 5);
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    if (ep < 0) {
        if (report_)
            report_(std::string("SMTP relay stopped: no epoll: ") + std::strerror(errno));
        return;
    }
    auto add = [ep](int fd, std::uint64_t tag, std::uint32_t events) {
        epoll_event ev{};
        ev.events = events;
        ev.data.u64 = tag;
        return ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) == 0;
    };
    add(listenFd_, kListener, EPOLLIN);
    add(wakeFd_, kWake, EPOLLIN);

    std::map<std::uint64_t, std::unique_ptr<Connection>> conns;
    std::uint64_t nextId = 1;
    std::size_t capacity = limits_.bufferBytes ? limits_.bufferBytes : 65536;
    bool capReported = false;
    bool lookupReported = false;
    std::vector<char> resolved;  // the target's sockaddr, once found
    socklen_t resolvedLen = 0;
    int resolvedFamily = AF_INET;

    auto changeBuffered = [this](std::ptrdiff_t delta) {
        const std::size_t now = buffered_.fetch_add(static_cast<std::size_t>(delta)) + static_cast<std::size_t>(delta);
        std::size_t peak = peakBuffered_.load();
        while (now > peak && !peakBuffered_.compare_exchange_weak(peak, now)) {
        }
    };

    auto drop = [&](std::uint64_t id) {
        auto it = conns.find(id);
        if (it == conns.end())
            return;
        changeBuffered(-static_cast<std::ptrdiff_t>(it->second->up.held + it->second->down.held));
        // Closing removes the descriptors from the epoll set.
        conns.erase(it);
        connections_ = conns.size();
        if (conns.size() < static_cast<std::size_t>(limits_.maxConnections))
            capReported = false;
    };

    auto setMask = [ep](int fd, std::uint64_t tag, std::uint32_t &current, std::uint32_t wanted) {
        if (wanted == current)
            return;
        epoll_event ev{};
        ev.events = wanted;
        ev.data.u64 = tag;
        ::epoll_ctl(ep, EPOLL_CTL_MOD, fd, &ev);
        current = wanted;
    };

    auto updateMasks = [&](std::uint64_t id, Connection &c) {
        std::uint32_t client = 0, target = 0;
        if (c.connecting) {
            target = EPOLLOUT;
        } else {
            if (!c.up.eof && c.up.held < capacity)
                client |= EPOLLIN;
            if (c.down.held > 0)
                client |= EPOLLOUT;
            if (!c.down.eof && c.down.held < capacity)
                target |= EPOLLIN;
            if (c.up.held > 0)
                target |= EPOLLOUT;
        }
        setMask(c.client, id << 1, c.clientMask, client);
        setMask(c.target, (id << 1) | 1, c.targetMask, target);
    };

    // Moves what it can from `from` to `to` through the channel.
    auto fill = [&](Channel &ch, int from) -> Step {
        if (ch.eof || ch.held >= capacity)
            return Step::Blocked;
        const std::size_t want = capacity - ch.held;
        ssize_t n;
        if (limits_.splice) {
            n = ::splice(from, nullptr, ch.pipeWrite, nullptr, want, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        } else {
            if (!ch.buffer)
                ch.buffer.reset(new char[capacity]);
            if (ch.offset + ch.held == capacity && ch.offset > 0) {
                std::memmove(ch.buffer.get(), ch.buffer.get() + ch.offset, ch.held);
                ch.offset = 0;
            }
            n = ::read(from, ch.buffer.get() + ch.offset + ch.held, capacity - ch.offset - ch.held);
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
    };
    auto drain = [&](Channel &ch, int to) -> Step {
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
    };

    // Both directions until neither moves; false when the connection ends.
    auto pump = [&](Connection &c) {
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
    };

    auto makeChannel = [&](Channel &ch) {
        if (!limits_.splice)
            return true;
        int p[2];
        if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0)
            return false;
        ch.pipeRead = p[0];
        ch.pipeWrite = p[1];
        const int size = ::fcntl(ch.pipeWrite, F_SETPIPE_SZ, static_cast<int>(capacity));
        // The pipe may be smaller than asked (pipe-max-size): never hold more than it takes.
        if (size > 0)
            capacity = std::min(capacity, static_cast<std::size_t>(size));
        else
            capacity = std::min<std::size_t>(capacity, 65536);
        return true;
    };

    auto resolve = [&]() {
        if (resolvedLen)
            return true;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *res = nullptr;
        const int rc = ::getaddrinfo(targetHost_.c_str(), std::to_string(targetPort_).c_str(), &hints, &res);
        if (rc != 0 || !res) {
            if (report_ && !lookupReported)
                report_("SMTP relay: cannot find " + targetHost_ + ": " + ::gai_strerror(rc));
            lookupReported = true;
            return false;
        }
        resolved.assign(reinterpret_cast<char *>(res->ai_addr), reinterpret_cast<char *>(res->ai_addr) + res->ai_addrlen);
        resolvedLen = res->ai_addrlen;
        resolvedFamily = res->ai_family;
        ::freeaddrinfo(res);
        return true;
    };

    std::size_t dialledRefused = 0;
    Clock::time_point dialledToldAt{};
    auto acceptAll = [&]() {
        for (;;) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            if (dialled_ && dialled_->isDialledSocket(fd)) {
                ::close(fd);
                ++dialledRefused;
                // Told at the first, then at most once a minute with the count.
                const auto t = Clock::now();
                if (report_ && (dialledToldAt == Clock::time_point{} || t - dialledToldAt >= std::chrono::minutes(1))) {
                    report_("SMTP relay: refused " + std::to_string(dialledRefused) + " connection" +
                            (dialledRefused == 1 ? "" : "s") + " that came in over the dialled line (" +
                            dialled_->lastInterface() + ")");
                    dialledRefused = 0;
                    dialledToldAt = t;
                }
                continue;
            }
            if (conns.size() >= static_cast<std::size_t>(limits_.maxConnections)) {
                if (report_ && !capReported)
                    report_("SMTP relay: " + std::to_string(limits_.maxConnections) +
                            " connections are being relayed, the most it takes; new ones are closed");
                capReported = true;
                ::close(fd);
                continue;
            }
            if (!resolve()) {
                ::close(fd);
                continue;
            }
            auto c = std::make_unique<Connection>();
            c->client = fd;
            c->target = ::socket(resolvedFamily, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (c->target < 0 || !makeChannel(c->up) || !makeChannel(c->down))
                continue;  // the connection closes as it goes
            const int one = 1;
            ::setsockopt(c->target, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ::setsockopt(c->client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            if (::connect(c->target, reinterpret_cast<const sockaddr *>(resolved.data()), resolvedLen) != 0 &&
                errno != EINPROGRESS)
                continue;
            c->deadline = Clock::now() + std::chrono::milliseconds(limits_.connectTimeoutMs);
            const std::uint64_t id = nextId++;
            add(c->client, id << 1, 0);
            add(c->target, (id << 1) | 1, EPOLLOUT);
            c->targetMask = EPOLLOUT;
            conns.emplace(id, std::move(c));
            connections_ = conns.size();
        }
    };

    std::vector<epoll_event> events(256);
    for (;;) {
        int timeoutMs = -1;
        const auto now = Clock::now();
        for (const auto &[id, c] : conns)
            if (c->connecting || c->halfClosed) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(c->deadline - now).count() + 1;
                timeoutMs = timeoutMs < 0 ? static_cast<int>(std::max<long long>(0, left))
                                          : std::min(timeoutMs, static_cast<int>(std::max<long long>(0, left)));
            }
        const int n = ::epoll_wait(ep, events.data(), static_cast<int>(events.size()), timeoutMs);
        if (n < 0 && errno != EINTR)
            break;
        bool quit = false;
        for (int i = 0; i < n; ++i) {
            const std::uint64_t tag = events[static_cast<std::size_t>(i)].data.u64;
            if (tag == kWake) {
                quit = true;
                break;
            }
            if (tag == kListener) {
                acceptAll();
                continue;
            }
            const std::uint64_t id = tag >> 1;
            auto it = conns.find(id);
            if (it == conns.end())
                continue;  // closed earlier in this round
            Connection &c = *it->second;
            if (c.connecting) {
                if ((tag & 1) == 0)
                    continue;
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(c.target, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err != 0) {
                    // The target refused or is unreachable: the caller is let go at once.
                    drop(id);
                    continue;
                }
                c.connecting = false;
            }
            if (!pump(c)) {
                drop(id);
                continue;
            }
            updateMasks(id, c);
        }
        if (quit)
            break;
        const auto later = Clock::now();
        std::vector<std::uint64_t> late;
        for (const auto &[id, c] : conns)
            if ((c->connecting || c->halfClosed) && later >= c->deadline)
                late.push_back(id);
        for (const std::uint64_t id : late)
            drop(id);
    }
    conns.clear();
    connections_ = 0;
    buffered_ = 0;
    ::close(ep);
}

}  // namespace velora::server::sharing
