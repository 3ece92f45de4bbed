#pragma once
// Load for benchmarks: N raw loopback connections in a child process that log
// in and then read and drop whatever the server sends.

#include <QtGlobal>

#include <cstdio>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/CredentialCipher.h"
#include "common/WireCodec.h"

namespace velora::bench {

// The child: N raw connections that log in (and send `after` behind the
// login), then read and drop whatever comes until the parent closes the
// control pipe.
[[noreturn]] inline void runClients(int n, quint16 port, int control, const std::string &user = "bench",
                                   const std::string &password = "bench", const std::string &after = {})
{
    const std::string login = wire::terminated(wire::buildCommandLine(
        "connect", {"bench", "10.1.2.3", user, Encrypt(password)})) + after;
    const int ep = ::epoll_create1(0);
    std::vector<int> fds;
    for (int i = 0; i < n; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        // One loopback address per computer of the office: the server takes
        // only so many connections from one address.
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7F010000u + static_cast<quint32>(i / 250) * 256u + static_cast<quint32>(i % 250 + 1));
        ::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            std::perror("connect");
            ::_exit(1);
        }
        [[maybe_unused]] auto w = ::write(fd, login.data(), login.size());
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
        fds.push_back(fd);
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = control;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, control, &ev);
    std::vector<epoll_event> events(1024);
    static char buf[1 << 16];
    for (;;) {
        const int k = ::epoll_wait(ep, events.data(), static_cast<int>(events.size()), 1000);
        for (int i = 0; i < k; ++i) {
            if (events[i].data.fd == control)
                ::_exit(0);
            while (::recv(events[i].data.fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
            }
        }
    }
}

}  // namespace velora::bench
