#pragma once
// Shutting the server computer down at a client's request: what the client
// service asks of the system. The logind implementation lives in frame.

#include <string>

namespace velora::server::state {

// [general] shutdownmode to the flags of the shutdown call; an unknown mode
// keeps the flags of the previous request.
inline int shutdownFlagsFor(int mode, int previousFlags)
{
    switch (mode) {
    case 0:
        return 1;  // shut down
    case 1:
        return 8;  // power off
    case 2:
        return 4;  // forced log-off
    default:
        return previousFlags;
    }
}

// The flags of the request: 1 shut down, 8 power off, 4 forced log-off,
// 0 log off.
class Shutdown {
public:
    virtual ~Shutdown() = default;
    // Returns whether the request was accepted by the system.
    virtual bool MyExitWindows(int flags) = 0;
    virtual std::string lastError() const { return {}; }
};

}  // namespace velora::server::state
