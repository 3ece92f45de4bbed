#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "server/traffic/LinuxInterfaceTable.h"

using namespace velora::server::traffic;

namespace {

const InterfaceRow *loopback(const std::vector<InterfaceRow> &rows)
{
    const auto it = std::find_if(rows.begin(), rows.end(), [](const InterfaceRow &r) { return r.name == "lo"; });
    return it == rows.end() ? nullptr : &*it;
}

}  // namespace

TEST(LinuxInterfaceTable, ReadsTheLoopbackAndItsCountersMove)
{
    LinuxInterfaceTable table;
    std::vector<InterfaceRow> rows;
    ASSERT_TRUE(table.read(rows));
    const InterfaceRow *lo = loopback(rows);
    ASSERT_NE(lo, nullptr);
    EXPECT_EQ(lo->type, static_cast<std::uint32_t>(ARPHRD_LOOPBACK));
    EXPECT_EQ(lo->address, "127.0.0.1");
    EXPECT_GT(lo->index, 0u);
    EXPECT_FALSE(lo->counters32);
    const std::uint64_t in = lo->inOctets, out = lo->outOctets;

    // 20 datagrams of 1000 bytes to a port of our own on 127.0.0.1.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    const std::string payload(1000, 'x');
    for (int i = 0; i < 20; ++i)
        ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::close(fd);

    ASSERT_TRUE(table.read(rows));
    lo = loopback(rows);
    ASSERT_NE(lo, nullptr);
    EXPECT_GE(lo->inOctets - in, 20000u);
    EXPECT_GE(lo->outOctets - out, 20000u);
}
