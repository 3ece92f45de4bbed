#pragma once
// What the process needs from the system around it: one instance per base
// dir, the systemd unit of the service, and systemd's readiness message.

#include <optional>
#include <string>

namespace velora::server::frame {

// Holds an exclusive lock for the life of the object: config/velora.lock of
// the base dir (made 0700 when missing), or a file of $XDG_RUNTIME_DIR
// where config/ cannot be written. Another process holding the lock of the
// same base dir makes acquire() say Held.
class SingleInstance {
public:
    explicit SingleInstance(const std::string &baseDir);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    enum class Outcome { Acquired, Held, Failed };
    // Held and Failed come with the reason in why.
    Outcome acquire(std::string *why = nullptr);
    const std::string &lockPath() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

inline constexpr const char *ServiceName = "VLOOSERVER";
inline constexpr const char *ServiceDisplayName = "Velora server";
// The service's base dir when -INSTALL is given none; systemd creates it.
inline constexpr const char *DefaultServiceBaseDir = "/var/lib/velora";

struct ServiceUnitResult {
    bool ok = false;
    std::string message;  // the text to report
};

// $VELORA_UNIT_DIR, else /etc/systemd/system.
std::string unitDirectory();
// Why a path cannot be written into a unit (control bytes, quotes,
// backslashes); nothing when it can.
std::optional<std::string> unitRefuses(const std::string &path);
std::string unitText(const std::string &executable, const std::string &baseDir);
ServiceUnitResult installService(const std::string &executable, const std::string &baseDir);
ServiceUnitResult uninstallService();

// The service's first start: creates baseDir and config/ (0700) and, where it has no config.ini
// yet, a fresh one with a phone book for the simulated line and no users.
// Existing files are never touched. False with why when it cannot write.
bool prepareServiceBaseDir(const std::string &baseDir, std::string *why);

// Sends READY=1 when started by systemd with a notify socket; a no-op otherwise.
void notifySystemdReady();

}  // namespace velora::server::frame
