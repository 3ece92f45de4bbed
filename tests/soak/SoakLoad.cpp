#include "soak/SoakLoad.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/WireCodec.h"

namespace velora::test::soak {

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string Cipher = "245-53-210-81-";  // "demo"

// 127.<group>.<n / 4>.<n % 4 + 1>: four connections to an address, well
// below the server's cap per address; strangers eight.
std::uint32_t addressFor(Kind k, int n)
{
    const int per = k == Kind::Stranger ? 8 : 4;
    const std::uint32_t group = 10 + static_cast<std::uint32_t>(k);
    return (127u << 24) | (group << 16) | (static_cast<std::uint32_t>(n / per) << 8) |
           static_cast<std::uint32_t>(n % per + 1);
}

std::string loginLine(std::uint32_t from, int n)
{
    in_addr a{htonl(from)};
    char text[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return wire::terminated(wire::buildCommandLine("connect", {"soak" + std::to_string(n), text, "demo", Cipher}));
}

bool sendAll(int fd, const std::string &bytes)
{
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return n == static_cast<ssize_t>(bytes.size());
}
}  // namespace

Load::Load(LoadPlan plan, LoadCounts &counts) : plan_(plan), counts_(counts)
{
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    // Never to move: epoll holds pointers to the entries.
    conns_.reserve(static_cast<std::size_t>(plan_.readers + plan_.flooders + plan_.neverReads + plan_.reconnects +
                                            plan_.strangers));
    auto add = [&](Kind k, int count) {
        for (int i = 0; i < count; ++i)
            conns_.push_back(Conn{k, -1, addressFor(k, i), {}, false, {}});
    };
    add(Kind::Reader, plan_.readers);
    add(Kind::Flooder, plan_.flooders);
    add(Kind::NeverReads, plan_.neverReads);
    add(Kind::Reconnects, plan_.reconnects);
}

Load::~Load()
{
    stop();
    for (Conn &c : conns_)
        close(c);
    ::close(epoll_);
}

bool Load::open(Conn &c)
{
    c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (c.kind == Kind::NeverReads) {
        // Fills sooner: the server's queue for it is what is measured.
        const int small = 4096;
        ::setsockopt(c.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    sockaddr_in src{};
    src.sin_family = AF_INET;
    src.sin_addr.s_addr = htonl(c.from);
    sockaddr_in dst{};
    dst.sin_family = AF_INET;
    dst.sin_port = htons(plan_.port);
    dst.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(c.fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(c.fd, reinterpret_cast<sockaddr *>(&src), sizeof src) != 0 ||
        ::connect(c.fd, reinterpret_cast<sockaddr *>(&dst), sizeof dst) != 0) {
        ::close(c.fd);
        c.fd = -1;
        return false;
    }
    ::fcntl(c.fd, F_SETFL, ::fcntl(c.fd, F_GETFL) | O_NONBLOCK);
    c.in.clear();
    c.loggedIn = false;
    c.opened = Clock::now();
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.ptr = &c;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, c.fd, &ev);
    return true;
}

void Load::close(Conn &c)
{
    if (c.fd < 0)
        return;
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, c.fd, nullptr);
    ::close(c.fd);
    c.fd = -1;
}

void Load::onReadable(Conn &c)
{
    char buf[65536];
    for (;;) {
        // One that never reads takes only its login answer.
        const std::size_t want = c.kind == Kind::NeverReads && c.loggedIn ? 0 : sizeof buf;
        if (want == 0) {
            char probe;
            const ssize_t n = ::recv(c.fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                ++counts_.neverReadClosed;
                close(c);
            }
            return;
        }
        const ssize_t n = ::recv(c.fd, buf, want, MSG_DONTWAIT);
        if (n > 0) {
            counts_.bytesRead += n;
            if (!c.loggedIn) {
                c.in.append(buf, static_cast<std::size_t>(n));
                if (c.in.find("\r\n") != std::string::npos) {
                    c.loggedIn = c.in.rfind("OK\xE0", 0) == 0;
                    if (c.loggedIn)
                        ++counts_.loggedIn;
                    c.in.clear();
                    if (c.kind == Kind::NeverReads)
                        return;
                }
            }
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        // Closed by the server.
        switch (c.kind) {
        case Kind::Reader: ++counts_.readersClosed; break;
        case Kind::Flooder: ++counts_.floodersClosed; break;
        case Kind::NeverReads: ++counts_.neverReadClosed; break;
        case Kind::Stranger:
            ++(Clock::now() - c.opened < 200ms ? counts_.strangersRefused : counts_.strangersTimedOut);
            break;
        case Kind::Reconnects: break;
        }
        if (c.loggedIn)
            --counts_.loggedIn;
        close(c);
        return;
    }
}

bool Load::logIn(std::chrono::milliseconds within)
{
    // In groups of 32, each logged in before the next comes: well below the
    // server's cap on connections waiting to log in.
    const auto deadline = Clock::now() + within;
    std::vector<epoll_event> events(1024);
    int n = 0;
    for (std::size_t first = 0; first < conns_.size(); first += 32) {
        const std::size_t last = std::min(conns_.size(), first + 32);
        for (std::size_t i = first; i < last; ++i) {
            if (!open(conns_[i]))
                return false;
            sendAll(conns_[i].fd, loginLine(conns_[i].from, n++));
        }
        while (counts_.loggedIn < static_cast<int>(last) && Clock::now() < deadline) {
            const int k = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 20);
            for (int i = 0; i < k; ++i)
                onReadable(*static_cast<Conn *>(events[i].data.ptr));
        }
    }
    return counts_.loggedIn == static_cast<int>(conns_.size());
}

void Load::start()
{
    for (int i = 0; i < plan_.strangers; ++i)
        conns_.push_back(Conn{Kind::Stranger, -1, addressFor(Kind::Stranger, i), {}, false, {}});
    thread_ = std::thread([this] { run(); });
}

void Load::stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    for (Conn &c : conns_)
        close(c);
}

void Load::run()
{
    // conns_ does not grow from here on: the pointers in epoll stay good.
    std::vector<epoll_event> events(1024);
    auto nextFlood = Clock::now();
    std::vector<Clock::time_point> due(conns_.size(), Clock::now());
    int round = 0;
    while (!stop_) {
        const int k = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 10);
        for (int i = 0; i < k; ++i)
            onReadable(*static_cast<Conn *>(events[i].data.ptr));
        const auto now = Clock::now();
        if (now >= nextFlood) {
            nextFlood = now + 200ms;
            ++round;
            for (Conn &c : conns_) {
                if (c.kind != Kind::Flooder || c.fd < 0 || !c.loggedIn)
                    continue;
                const std::string record = wire::buildMessageRecord(
                    {"10.9.9.9", "flood", {"round " + std::to_string(round) + " " + std::string(80, 'x')}});
                if (sendAll(c.fd, wire::terminated(wire::buildCommandLine("pesan", {"All", record}))))
                    ++counts_.messagesSent;
            }
        }
        for (std::size_t i = 0; i < conns_.size(); ++i) {
            Conn &c = conns_[i];
            if (now < due[i])
                continue;
            if (c.kind == Kind::Reconnects) {
                // Logged in a moment, gone, back again.
                due[i] = now + 300ms;
                close(c);
                if (open(c)) {
                    sendAll(c.fd, loginLine(c.from, static_cast<int>(i)));
                    ++counts_.reconnects;
                }
            } else if (c.kind == Kind::Stranger && c.fd < 0) {
                due[i] = now + 100ms;
                if (open(c))
                    ++counts_.strangerConnects;
            }
        }
    }
}

}  // namespace velora::test::soak
