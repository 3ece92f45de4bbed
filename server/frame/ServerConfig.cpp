#include "server/frame/ServerConfig.h"

#include "common/TextCodec.h"
#include "server/frame/Autostart.h"

#include <algorithm>
#include <cstdint>

namespace velora::server::frame {

ServerConfig::ServerConfig(std::string baseDir, Autostart &autostart)
    : baseDir_(std::move(baseDir)), ini_(baseDir_ + "/config/config.ini"), autostart_(autostart)
{
}

ServerConfig ServerConfig::snapshot() const
{
    ServerConfig copy(*this);
    copy.ini_ = ini_.snapshot();
    return copy;
}

ServerSettings ServerConfig::loadcfg(state::ServerState &state, std::vector<std::string> *problems) const
{
    ServerSettings s;
    s.port = ini_.readString("server", "port", "225");
    ini_.readNumber("server", "port", 0, MaxPort, DefaultPort, problems);
    s.startWithSystem = autostart_.isEnabled();
    if (state.ServiceMode) {
        s.startWithSystem = false;
        s.startWithSystemEnabled = false;
        autostart_.disable();
    }
    s.onlineStartup = state::flagFromText(ini_.readString("general", "onlinestartup", "0"));
    s.startMinimized = state::flagFromText(ini_.readString("general", "startminimized", "0"));
    s.shutdownMode = ini_.readNumber("general", "shutdownmode", 0, 2, 0, problems);
    s.keepAlive = state::flagFromText(ini_.readString("dial", "keepalive", "0"));
    s.tipOfTheDay = state::flagFromText(ini_.readString("general", "tipoftheday", "0"));
    // The file decides here; the core then clears the box where sharing cannot be driven.
    s.ics = state::flagFromText(ini_.readString("dial", "ICS", "0"));
    if (!s.ics)
        state.dialSettings.ics = false;
    s.pingIp = ini_.readString("dial", "pingip", "127.0.0.1");
    s.smtpAutoRelay = state::flagFromText(ini_.readString("dial", "smtpautorelay", "0"));
    s.smtpPort = ini_.readString("dial", "smtpport", "25");
    s.connectionLogging = state::flagFromText(ini_.readString("dial", "connectionlogging", "0"));
    s.clientPolling = ini_.readNumber("general", "clientpolling", 0, MaxPollingMinutes, 0, problems);
    state.PollingMinutes = s.clientPolling;
    s.policy = policySettings(problems);
    return s;
}

ServerConfig::SaveResult ServerConfig::savecfg(ServerSettings &s, const state::ServerState &state) const
{
    SaveResult result;
    auto write = [&](const char *section, const char *key, const std::string &value) {
        std::string why;
        if (!ini_.writeString(section, key, value, &why) && result.ok) {
            result.ok = false;
            result.error = why;
        }
    };
    const bool startWithSystem = s.startWithSystem && !state.ServiceMode;
    write("server", "port", sanitizeTyped(s.port));
    write("general", "winstart", state::flagText(startWithSystem));
    write("general", "onlinestartup", state::flagText(s.onlineStartup));
    write("general", "startminimized", state::flagText(s.startMinimized));
    write("general", "shutdownmode", std::to_string(s.shutdownMode));
    write("dial", "keepalive", state::flagText(s.keepAlive));
    write("general", "tipoftheday", state::flagText(s.tipOfTheDay));
    write("dial", "ICS", state::flagText(s.ics));
    write("dial", "pingip", sanitizeTyped(trimBlanks(s.pingIp)));
    write("dial", "smtpautorelay", state::flagText(s.smtpAutoRelay));
    write("dial", "smtpport", sanitizeTyped(trimBlanks(s.smtpPort)));
    write("dial", "connectionlogging", state::flagText(s.connectionLogging));
    write("general", "clientpolling", std::to_string(s.clientPolling));
    write("policy", "redial", state::flagText(s.policy.redial));
    write("policy", "redialholdoff", std::to_string(std::max(0, s.policy.redialholdoff)));
    write("policy", "redialmaxfail", std::to_string(std::max(1, s.policy.redialmaxfail)));
    write("policy", "idlehangup", std::to_string(std::max(0, s.policy.idlehangup)));
    write("policy", "idlebytes", std::to_string(std::max(0, s.policy.idlebytes)));
    write("policy", "monthlybudget", sanitizeTyped(trimBlanks(s.policy.monthlybudget)));
    write("policy", "monthlybytes", std::to_string(std::max<std::int64_t>(0, s.policy.monthlybytes)));
    write("policy", "billingday", std::to_string(std::clamp(s.policy.billingday, 1, 28)));

    std::string why;
    const bool autostartOk = startWithSystem ? autostart_.enable(&why) : autostart_.disable(&why);
    if (!autostartOk && result.ok) {
        result.ok = false;
        result.error = why;
    }
    if (state.ServerState == state::ServerMode::Online && s.portChanged) {
        result.restartNotice = true;
        s.portChanged = false;
    }
    return result;
}

int ServerConfig::listenPort() const { return ini_.readNumber("server", "port", 0, MaxPort, DefaultPort); }

int ServerConfig::tlsPort() const
{
    // A server told to take any free plain port (a test, a bench) does not
    // claim a fixed one for the other door unless told to.
    if (trimBlanks(ini_.readString("server", "tlsport", "")).empty() && listenPort() == 0)
        return AnyFreePort;
    return ini_.readNumber("server", "tlsport", 0, MaxPort, DefaultTlsPort);
}

int ServerConfig::webPort() const { return ini_.readNumber("web", "port", 0, MaxPort, 0); }

bool ServerConfig::webMetrics() const { return trimBlanks(ini_.readString("web", "metrics", "1")) != "0"; }

bool ServerConfig::plaintext() const { return trimBlanks(ini_.readString("server", "plaintext", "1")) != "0"; }

bool ServerConfig::onlineAtStartup() const
{
    return state::flagFromText(ini_.readString("general", "onlinestartup", "1"));
}

bool ServerConfig::startMinimizedAtStartup() const
{
    return ini_.readString("general", "startminimized", "0") != "0";
}

bool ServerConfig::tipAtStartup() const
{
    return state::flagFromText(ini_.readString("general", "tipoftheday", "0"));
}

int ServerConfig::shutdownMode() const { return ini_.readNumber("general", "shutdownmode", 0, 2, 0); }

state::DialSettings ServerConfig::dialSettings() const
{
    state::DialSettings d;
    d.keepalive = state::flagFromText(ini_.readString("dial", "keepalive", "0"));
    d.ics = state::flagFromText(ini_.readString("dial", "ICS", "0"));
    d.pingip = trimBlanks(ini_.readString("dial", "pingip", "127.0.0.1"));
    d.smtpautorelay = state::flagFromText(ini_.readString("dial", "smtpautorelay", "0"));
    d.smtpport = trimBlanks(ini_.readString("dial", "smtpport", "25"));
    d.connectionlogging = state::flagFromText(ini_.readString("dial", "connectionlogging", "0"));
    return d;
}

clientservice::StrangerLimits ServerConfig::strangerLimits(std::vector<std::string> *problems) const
{
    clientservice::StrangerLimits limits;
    auto read = [&](const char *key, int &value) {
        const std::string text = trimBlanks(ini_.readString("server", key, ""));
        if (text.empty())
            return;
        const int v = ini_.readInteger("server", key, -1);
        if (v > 0) {
            value = v;
        } else if (problems) {
            problems->push_back(path() + ": [server] " + key + "=" + text +
                                " is not a positive number; using " + std::to_string(value));
        }
    };
    read("logintimeout", limits.loginTimeoutSeconds);
    read("maxpending", limits.maxPending);
    read("maxperaddress", limits.maxPerAddress);
    read("maxperuser", limits.maxPerUser);
    return limits;
}

std::string ServerConfig::listenSetting() const { return trimBlanks(ini_.readString("server", "listen", "")); }

int ServerConfig::auditDays() const
{
    const int days = ini_.readInteger("log", "auditdays", DefaultAuditDays);
    return days > 0 ? days : DefaultAuditDays;
}

bool ServerConfig::wanAccess() const
{
    return state::flagFromText(trimBlanks(ini_.readString("server", "wanaccess", "0")));
}

}  // namespace velora::server::frame

namespace velora::server::frame {

PolicySettings ServerConfig::policySettings(std::vector<std::string> *problems) const
{
    PolicySettings p;
    p.redial = state::flagFromText(ini_.readString("policy", "redial", "0"));
    p.redialholdoff = ini_.readNumber("policy", "redialholdoff", 0, 86400, p.redialholdoff, problems);
    p.redialmaxfail = ini_.readNumber("policy", "redialmaxfail", 1, 1000, p.redialmaxfail, problems);
    p.idlehangup = ini_.readNumber("policy", "idlehangup", 0, 1440, 0, problems);
    p.idlebytes = ini_.readNumber("policy", "idlebytes", 0, INT32_MAX, p.idlebytes, problems);
    p.monthlybudget = trimBlanks(ini_.readString("policy", "monthlybudget", "0"));
    p.monthlybytes = ini_.readNumber("policy", "monthlybytes", 0, INT32_MAX, 0, problems);
    p.billingday = ini_.readNumber("policy", "billingday", 1, 28, 1, problems);
    return p;
}

}  // namespace velora::server::frame
