#pragma once
// The load of the soak test, on raw non-blocking sockets in a thread of its
// own (no Qt there): logged-in clients in four kinds and strangers that
// never log in, each from an address of its own group in 127.0.0.0/8.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace velora::test::soak {

enum class Kind { Reader, Flooder, NeverReads, Reconnects, Stranger };

struct LoadCounts {
    std::atomic<int> loggedIn{0};
    std::atomic<int> readersClosed{0};   // must stay 0
    std::atomic<int> floodersClosed{0};  // must stay 0
    std::atomic<int> neverReadClosed{0};
    std::atomic<int> reconnects{0};
    std::atomic<int> strangerConnects{0};
    std::atomic<int> strangersRefused{0};   // closed within 200 ms of connecting
    std::atomic<int> strangersTimedOut{0};  // closed later
    std::atomic<long long> messagesSent{0};
    std::atomic<long long> bytesRead{0};
};

struct LoadPlan {
    int readers = 440, flooders = 20, neverReads = 20, reconnects = 20, strangers = 300;
    std::uint16_t port = 0;
};

class Load {
public:
    Load(LoadPlan plan, LoadCounts &counts);
    ~Load();
    // Logs every client in (blocking, a few seconds at most); false when
    // they were not all answered.
    bool logIn(std::chrono::milliseconds within);
    // Runs the flood, the reconnects and the strangers until stop().
    void start();
    void stop();

private:
    struct Conn {
        Kind kind;
        int fd = -1;
        std::uint32_t from = 0;
        std::string in;
        bool loggedIn = false;
        std::chrono::steady_clock::time_point opened;
    };
    bool open(Conn &c);
    void close(Conn &c);
    void run();
    void onReadable(Conn &c);

    LoadPlan plan_;
    LoadCounts &counts_;
    std::vector<Conn> conns_;
    int epoll_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace velora::test::soak
