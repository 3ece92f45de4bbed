#pragma once
// Shutting the server computer down at a client's request.

#include <QObject>
#include <functional>
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
// TerminateUser of the seat's user for the log-offs. Nothing waits on the bus:
// the request goes out and its answer arrives later.
class LogindShutdown : public Shutdown {
public:
    // False at once when there is no system bus; a refusal that logind
    // answers later goes to onLateError.
    bool MyExitWindows(int flags) override;
    std::string lastError() const override { return error_; }
    std::function<void(const std::string &)> onLateError;

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
