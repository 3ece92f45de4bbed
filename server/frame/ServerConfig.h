#pragma once
// config.ini of the server: the settings page's model, its load and save, and
// the readers used at the moments the values take effect.

#include <cstdint>
#include <string>
#include <vector>

#include "common/IniProfile.h"
#include "server/clientservice/StrangerGuard.h"
#include "server/state/ServerState.h"

namespace velora::server::frame {

class Autostart;

inline constexpr int DefaultPort = 225;
inline constexpr int DefaultTlsPort = 226;
// Port 0 asks the system for any free one.
inline constexpr int MaxPort = 65535;
// The poll's minutes: more than the page offers is kept, up to an hour.
inline constexpr int MaxPollingMinutes = 60;

// The [policy] keys; the defaults keep every policy off.
struct PolicySettings {
    bool redial = false;
    int redialholdoff = 30;  // seconds
    int redialmaxfail = 3;   // consecutive failed redials
    int idlehangup = 0;      // minutes, 0 = never
    int idlebytes = 1024;    // per minute
    std::string monthlybudget = "0";  // in the cost units of harga, 0 = none
    std::int64_t monthlybytes = 0;     // MB (of 1048576 bytes) a cycle, 0 = none
    int billingday = 1;                // the day of the month a cycle starts, 1-28
    std::uint64_t capBytes() const { return monthlybytes > 0 ? std::uint64_t(monthlybytes) * 1048576u : 0; }
    bool operator==(const PolicySettings &) const = default;
};

// What the configuration page shows and edits.
struct ServerSettings {
    std::string port = "225";
    bool startWithSystem = false;
    bool startWithSystemEnabled = true;  // off in service mode
    bool onlineStartup = false;
    bool startMinimized = false;
    int shutdownMode = 0;
    bool keepAlive = false;
    bool tipOfTheDay = false;
    bool ics = false;
    std::string pingIp = "127.0.0.1";
    bool smtpAutoRelay = false;
    std::string smtpPort = "25";
    bool connectionLogging = false;
    int clientPolling = 0;
    PolicySettings policy;
    // The port field was edited since the last save.
    bool portChanged = false;
};

class ServerConfig {
public:
    ServerConfig(std::string baseDir, Autostart &autostart);

    IniProfile &ini() { return ini_; }
    const IniProfile &ini() const { return ini_; }
    // The same readers over config.ini as it is now, read once.
    ServerConfig snapshot() const;
    const std::string &path() const { return ini_.path(); }

    // File (and autostart entry) -> page. Sets PollingMinutes; in service
    // mode removes the autostart entry. The ICS check also clears the cached
    // ICS value when it is off.
    // A number that is not a whole decimal in its range reads as its default,
    // with a line in problems.
    ServerSettings loadcfg(state::ServerState &state, std::vector<std::string> *problems = nullptr) const;

    struct SaveResult {
        bool ok = true;
        std::string error;
        // "you should stop the server ..." is due: online and the port was edited.
        bool restartNotice = false;
    };
    // Page -> file, in the fixed order; clears settings.portChanged when the
    // notice is due.
    SaveResult savecfg(ServerSettings &settings, const state::ServerState &state) const;

    // Readers at the moments the values take effect.
    int listenPort() const;          // start-up and Online
    // [server] tlsport: the same lines inside TLS; 0 serves none,
    // AnyFreePort (the default beside port=0) a port the system picks.
    int tlsPort() const;
    static constexpr int AnyFreePort = -1;
    // [server] plaintext=0 leaves the plain port closed.
    bool plaintext() const;
    // [web] port: the web page over HTTPS; 0 (the default) serves none.
    int webPort() const;
    // [web] metrics: /metrics beside the page, on unless 0.
    bool webMetrics() const;
    bool onlineAtStartup() const;    // second-stage start-up, default on
    bool startMinimizedAtStartup() const;
    bool tipAtStartup() const;
    int shutdownMode() const;        // each shutdown request
    state::DialSettings dialSettings() const;  // each dial
    // [server] logintimeout, maxpending, maxperaddress (Online); a value
    // that is not a positive number gives the default and a line in problems.
    clientservice::StrangerLimits strangerLimits(std::vector<std::string> *problems = nullptr) const;
    // [server] listen as written, blanks trimmed; empty: all addresses.
    std::string listenSetting() const;
    // [server] wanaccess=1 serves connections that come in over the dialled
    // line too (the provider's side: anyone on the Internet).
    bool wanAccess() const;
    // [log] auditdays: how long audit rows are kept.
    int auditDays() const;
    static constexpr int DefaultAuditDays = 400;
    PolicySettings policySettings(std::vector<std::string> *problems = nullptr) const;  // each dial

private:
    std::string baseDir_;
    IniProfile ini_;
    Autostart &autostart_;
};

}  // namespace velora::server::frame
