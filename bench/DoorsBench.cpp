// The cost of the doors: the gate's privilege look-up per command (a store
// of 100 users, the user last), and the dialled-side check per accepted
// connection (a real accepted loopback socket, known address and a line
// interface named).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/CredentialCipher.h"
#include "server/clientservice/CommandGate.h"
#include "server/state/DialledSide.h"
#include "server/users/UserStore.h"

using namespace velora;
using namespace velora::server;
using Clock = std::chrono::steady_clock;

namespace {

double perCallUs(Clock::time_point t0, int n)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / n;
}

// An accepted loopback connection's descriptor, as the listener gets it.
int acceptedSocket(int &listener, int &client)
{
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    client = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(client, reinterpret_cast<sockaddr *>(&a), sizeof a);
    return ::accept(listener, nullptr, nullptr);
}

}  // namespace

int main()
{
    const auto path = std::filesystem::temp_directory_path() / "velora-bench-doors.cfg";
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < 100; ++i)
            out << "user" << i << "\xE3" "Desk\xE3" << Encrypt("password" + std::to_string(i)) << "\xE3" "0\xE3" "1\xE3" "1\xE3" "0\xE3\r\n";
    }
    users::UserStore store(path.string());
    store.updateuserlist();
    // The gate's own look-up, as each privileged command makes it.
    const std::string cipher = Encrypt("password99");
    const int n = 20000;
    std::size_t refused = 0;
    auto t0 = Clock::now();
    for (int i = 0; i < n; ++i)
        refused += clientservice::CommandGate::grants(store.check("user99", cipher).record,
                                                       clientservice::Privilege::DialHangup)
                       ? 0
                       : 1;
    const double gateUs = perCallUs(t0, n);
    std::filesystem::remove(path);

    int listener = -1, client = -1;
    const int accepted = acceptedSocket(listener, client);
    state::DialledSide side;
    side.setLineInterfaces({"ppp0", "veth-isp"});
    side.refresh();
    std::size_t dialled = 0;
    t0 = Clock::now();
    for (int i = 0; i < n; ++i)
        dialled += side.isDialledSocket(accepted) ? 1 : 0;
    const double checkUs = perCallUs(t0, n);
    t0 = Clock::now();
    const int refreshes = 2000;
    for (int i = 0; i < refreshes; ++i)
        side.refresh();
    const double refreshUs = perCallUs(t0, refreshes);
    ::close(accepted);
    ::close(client);
    ::close(listener);

    std::printf("gate: privilege look-up per command %.2f us (100 users, the last; %zu refused)\n", gateUs, refused);
    std::printf("dialled side: check per accepted connection %.2f us (%zu dialled); interface re-read %.1f us "
                "(each status tick)\n",
                checkUs, dialled, refreshUs);
    return 0;
}
