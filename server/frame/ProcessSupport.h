#pragma once
// What the process needs from the system around it: one instance per base
// dir, the systemd unit of the service, and systemd's readiness message.

#include <string>

namespace velora::server::frame {

// Holds an exclusive lock for the life of the object. Another process
// holding the lock of the same base dir makes acquire() return false.
class SingleInstance {
public:
    explicit SingleInstance(const std::string &baseDir);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    bool acquire();
    const std::string &lockPath() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

inline constexpr const char *ServiceName = "VLOOSERVER";
inline constexpr const char *ServiceDisplayName = "Velora server";

struct ServiceUnitResult {
    bool ok = false;
    std::string message;  // the text to report
};

// $VELORA_UNIT_DIR, else /etc/systemd/system.
std::string unitDirectory();
std::string unitText(const std::string &executable, const std::string &baseDir);
ServiceUnitResult installService(const std::string &executable, const std::string &baseDir);
ServiceUnitResult uninstallService();

// Sends READY=1 when started by systemd with a notify socket; a no-op otherwise.
void notifySystemdReady();

}  // namespace velora::server::frame
