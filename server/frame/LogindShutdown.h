#pragma once
// The real shutdown: logind over the system bus, or only a line on stderr.

#include <functional>
#include <memory>
#include <string>

#include "server/state/Shutdown.h"

namespace velora::server::frame {

// logind over the system bus: PowerOff for shut down and power off,
// TerminateUser of the seat's user for the log-offs. Nothing waits on the bus:
// the request goes out and its answer arrives later. A log-off with nobody
// (but root) at seat0 is refused: it must never end the server's own session.
class LogindShutdown : public state::Shutdown {
public:
    // False at once when there is no system bus; a refusal that logind
    // answers later goes to onLateError.
    bool MyExitWindows(int flags) override;
    std::string lastError() const override { return *error_; }
    std::function<void(const std::string &)> onLateError;

private:
    // Shared with the answers still on their way.
    std::shared_ptr<std::string> error_ = std::make_shared<std::string>();
};

// --no-shutdown: says what would have happened and does nothing.
class LoggingShutdown : public state::Shutdown {
public:
    bool MyExitWindows(int flags) override;
};

}  // namespace velora::server::frame
