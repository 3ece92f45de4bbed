#pragma once
// Whether anything is still in flight on this process's TCP connections:
// the kernel's queues of every connected TCP socket it holds, both ways.
// With both ends of each connection in the process (tests on loopback),
// empty queues mean every byte handed to the kernel has been read at the
// other end. What Qt still buffers is the caller's to check.

#include <dirent.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>

namespace velora::test {

inline bool tcpQueuesEmpty()
{
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return false;
    bool empty = true;
    const int own = ::dirfd(dir);
    while (const dirent *e = ::readdir(dir)) {
        const int fd = std::atoi(e->d_name);
        struct stat st {};
        if (e->d_name[0] == '.' || fd == own || ::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
            continue;
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        int type = 0;
        socklen_t typeLength = sizeof type;
        // Connected TCP only: not the listeners, not local sockets.
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != SOCK_STREAM ||
            ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) != 0 ||
            (peer.ss_family != AF_INET && peer.ss_family != AF_INET6))
            continue;
        int in = 0, out = 0;
        if (::ioctl(fd, SIOCINQ, &in) != 0 || ::ioctl(fd, SIOCOUTQ, &out) != 0 || in > 0 || out > 0) {
            empty = false;
            break;
        }
    }
    ::closedir(dir);
    return empty;
}

}  // namespace velora::test
