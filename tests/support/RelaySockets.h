#pragma once
// Plain non-blocking loopback sockets for the relay's tests and bench: the
// relay is not Qt, and its peers need not be either.

#include <cerrno>
#include <cstdint>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velora::test {

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(Fd &&o) noexcept : fd(o.fd) { o.fd = -1; }
    Fd &operator=(Fd &&o) noexcept
    {
        reset();
        fd = o.fd;
        o.fd = -1;
        return *this;
    }
    ~Fd() { reset(); }
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    explicit operator bool() const { return fd >= 0; }
};

inline sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A listening socket on 127.0.0.1 and a port the kernel picked.
inline Fd listenLoopback(std::uint16_t &port)
{
    Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in a = loopback(0);
    if (::bind(s.fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(s.fd, 512) != 0)
        return Fd();
    socklen_t len = sizeof a;
    ::getsockname(s.fd, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return s;
}

// Started, not finished: the connect completes in the background.
inline Fd connectLoopback(std::uint16_t port, bool blocking = false)
{
    Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0));
    sockaddr_in a = loopback(port);
    if (::connect(s.fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 && errno != EINPROGRESS)
        return Fd();
    return s;
}

// A port that nothing listens on, a moment ago.
inline std::uint16_t closedPort()
{
    std::uint16_t port = 0;
    listenLoopback(port);
    return port;
}

inline Fd acceptOne(const Fd &listener) { return Fd(::accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)); }

// What can be read now; eof is set when the peer closed.
inline void readAvailable(const Fd &s, std::string &into, bool &eof)
{
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(s.fd, buf, sizeof buf, 0);
        if (n > 0) {
            into.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            eof = true;
        return;
    }
}

}  // namespace velora::test
