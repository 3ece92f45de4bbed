#pragma once
// Shutting the server computer down at a client's request.

#include <QObject>
#include <string>
#include <vector>

namespace velora::server {

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

// logind over the system bus: PowerOff for shut down and power off,
// TerminateUser of the session's user for the log-offs.
class LogindShutdown : public Shutdown {
public:
    bool MyExitWindows(int flags) override;
    std::string lastError() const override { return error_; }

private:
    std::string error_;
};

// --no-shutdown: says what would have happened and does nothing.
class LoggingShutdown : public Shutdown {
public:
    bool MyExitWindows(int flags) override;
};

// Tests: records every request.
class RecordingShutdown : public Shutdown {
public:
    std::vector<int> calls;
    bool result = true;
    std::string error;
    bool MyExitWindows(int flags) override
    {
        calls.push_back(flags);
        return result;
    }
    std::string lastError() const override { return result ? std::string() : error; }
};

}  // namespace velora::server
