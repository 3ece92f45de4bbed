#include "server/frame/ProcessSupport.h"

#include "common/FileIo.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velora::server::frame {

namespace fs = std::filesystem;

SingleInstance::SingleInstance(const std::string &baseDir)
{
    // Beside the files it guards, in a folder only the owner may write, so
    // no one else can hold or plant it; servers of other base dirs run side
    // by side. A base dir without a usable config/ falls back to the
    // runtime dir, never to a folder that everyone writes.
    const std::string config = baseDir + "/config";
    if (makeFolder(config, 0700, nullptr) && ::access(config.c_str(), W_OK) == 0) {
        path_ = config + "/velora.lock";
        return;
    }
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || *runtime != '/')
        return;
    std::error_code ec;
    fs::path dir = fs::weakly_canonical(fs::absolute(baseDir, ec), ec);
    if (dir.empty())
        dir = baseDir;
    char name[64];
    std::snprintf(name, sizeof name, "/velora-server-%016zx.lock", std::hash<std::string>{}(dir.string()));
    path_ = runtime + std::string(name);
}

SingleInstance::~SingleInstance()
{
    if (fd_ >= 0)
        ::close(fd_);
}

SingleInstance::Outcome SingleInstance::acquire(std::string *why)
{
    if (fd_ >= 0)
        return Outcome::Acquired;
    auto refuse = [&](Outcome o, const std::string &text) {
        if (why)
            *why = text;
        return o;
    };
    if (path_.empty())
        return refuse(Outcome::Failed, "no place for the single-instance lock: config/ of the base dir is not "
                                       "writable and XDG_RUNTIME_DIR is not set");
    // O_NOFOLLOW: a link planted under the name is refused, never followed.
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return refuse(Outcome::Failed, "cannot open the single-instance lock " + path_ + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        return refuse(Outcome::Failed, "the single-instance lock " + path_ + " is not a regular file");
    }
    ::fchmod(fd_, 0600);
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd_);
        fd_ = -1;
        if (e == EWOULDBLOCK)
            return refuse(Outcome::Held, "another velora server already runs on this base dir (it holds " + path_ + ")");
        return refuse(Outcome::Failed, "cannot lock " + path_ + ": " + std::strerror(e));
    }
    return Outcome::Acquired;
}

std::string unitDirectory()
{
    const char *dir = std::getenv("VELORA_UNIT_DIR");
    return dir && *dir ? dir : "/etc/systemd/system";
}

namespace {

std::string unitPath() { return unitDirectory() + "/" + ServiceName + ".service"; }

// One path as a quoted word of a unit line: specifiers are doubled, and in
// ExecStart so is "$", which would otherwise name a variable.
std::string unitWord(const std::string &s, bool exec)
{
    std::string out = "\"";
    for (const char c : s) {
        if (c == '%' || (exec && c == '$'))
            out += c;
        out += c;
    }
    return out + '"';
}

void reloadSystemd()
{
    // Only where systemd runs and reads the unit; elsewhere it is picked up at next boot.
    const char *redirected = std::getenv("VELORA_UNIT_DIR");
    if (!fs::exists("/run/systemd/system") || (redirected && *redirected))
        return;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execlp("systemctl", "systemctl", "daemon-reload", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    if (pid > 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
}

}  // namespace

std::optional<std::string> unitRefuses(const std::string &path)
{
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            return path + " holds a line break or another control character, which a systemd unit cannot carry";
        if (c == '"' || c == '\'' || c == '\\')
            return path + " holds a quote or a backslash, which a systemd unit would read as quoting";
    }
    return std::nullopt;
}

std::string unitText(const std::string &executable, const std::string &baseDir)
{
    // Kept line for line with packaging/service/VLOOSERVER.service.in (a test compares them).
    const bool systemBaseDir = baseDir == DefaultServiceBaseDir;
    const std::string stateDir = systemBaseDir ? "StateDirectory=velora\nStateDirectoryMode=0700\n" : "";
    return std::string("[Unit]\n") + "Description=" + ServiceDisplayName + "\n" +
           "Documentation=man:velora(1)\n" +
           "Wants=network-online.target\nAfter=network-online.target\n\n[Service]\n" +
           "Type=notify\nExecStart=" + unitWord(executable, true) + " --service --headless --basedir " +
           unitWord(baseDir, true) + "\nRestart=on-failure\n" + stateDir +
           "UMask=0077\n"
           "# Root for pppd and the serial line, bounded to what dialling, the ICMP\n"
           "# keep-alive, nftables and the SMTP port need; logind's power-off is asked\n"
           "# over D-Bus and needs none.\n"
           "CapabilityBoundingSet=CAP_NET_ADMIN CAP_NET_RAW CAP_NET_BIND_SERVICE\n"
           "NoNewPrivileges=yes\n"
           "# Read-only but for the base dir, pppd's own files (/etc/ppp, its pid\n"
           "# files and the serial line locks in /run) and the name servers it sets.\n"
           "ProtectSystem=strict\n"
           "ReadWritePaths=" + unitWord(baseDir, false) + " -/etc/ppp /run -/etc/resolv.conf\n" +
           "ProtectHome=true\nPrivateTmp=true\n"
           "DevicePolicy=closed\nDeviceAllow=char-ttyS rw\nDeviceAllow=char-ttyUSB rw\n"
           "DeviceAllow=char-ttyACM rw\nDeviceAllow=/dev/ppp rw\n"
           "ProtectControlGroups=true\nProtectKernelModules=true\nProtectKernelLogs=true\n"
           "ProtectClock=true\nProtectHostname=true\nProtectProc=invisible\nLockPersonality=true\n"
           "RestrictRealtime=true\nRestrictSUIDSGID=true\nRestrictNamespaces=true\n"
           "SystemCallArchitectures=native\n"
           "# A call outside the set fails with EPERM rather than killing pppd.\n"
           "SystemCallFilter=@system-service\nSystemCallErrorNumber=EPERM\n"
           "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n"
           "\n[Install]\nWantedBy=multi-user.target\n";
}

ServiceUnitResult installService(const std::string &executable, const std::string &baseDir)
{
    const std::string path = unitPath();
    auto failed = [&](const std::string &why) {
        return ServiceUnitResult{false, std::string("Service ") + ServiceName + " could not be installed: " + why};
    };
    for (const std::string *p : {&baseDir, &executable})
        if (const auto refused = unitRefuses(*p))
            return failed(*refused);
    std::string why;
    // The unit makes everything else read-only: the base dir must be there
    // before the service starts. systemd makes the default one itself.
    if (baseDir != DefaultServiceBaseDir && !makeFolder(baseDir, 0700, &why))
        return failed(why);
    if (!writeFileAtomically(path, unitText(executable, baseDir), WriteMode{0644, true}, &why))
        return failed(why);
    reloadSystemd();
    return {true, "Service installed successfully"};
}

ServiceUnitResult uninstallService()
{
    const std::string path = unitPath();
    std::error_code ec;
    if (!fs::remove(path, ec) || ec) {
        const std::string why = ec ? ec.message() : std::string("the service is not installed");
        return {false, std::string("Service ") + ServiceName + " could not be uninstalled: " + path + ": " + why};
    }
    reloadSystemd();
    return {true, "Service uninstalled successfully"};
}

namespace {

const char FreshConfig[] =
    "; Written at the service's first start. The line is simulated until\n"
    "; [line] driver names pppd or command; see velora(1).\n"
    "[line]\n"
    "driver=simulated\n";

const char FreshPhonebook[] =
    "; Phone book of the simulated line: one section per entry.\n"
    "[Simulated provider]\n"
    "phone=0800 000 0000\n"
    "speed=56000\n"
    "address=10.64.10.2\n";

bool writeNew(const fs::path &path, const char *text, std::string *why)
{
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec)))
        return true;
    return writeFileAtomically(path.string(), text, WriteMode{0600, true}, why);
}

}  // namespace

bool prepareServiceBaseDir(const std::string &baseDir, std::string *why)
{
    const fs::path config = fs::path(baseDir) / "config";
    if (!makeFolder(config.string(), 0700, why))
        return false;
    std::error_code ec;
    if (fs::exists(config / "config.ini", ec))
        return true;
    // The phone book first: a config.ini without it would look set up.
    return writeNew(config / "phonebook.ini", FreshPhonebook, why) &&
           writeNew(config / "config.ini", FreshConfig, why);
}

void notifySystemdReady()
{
    const char *socketPath = std::getenv("NOTIFY_SOCKET");
    if (!socketPath || !*socketPath)
        return;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t len = std::strlen(socketPath);
    if (len >= sizeof addr.sun_path)
        return;
    std::memcpy(addr.sun_path, socketPath, len);
    if (addr.sun_path[0] == '@')
        addr.sun_path[0] = '\0';  // abstract namespace
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    static const char msg[] = "READY=1";
    ::sendto(fd, msg, sizeof msg - 1, MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&addr),
             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len));
    ::close(fd);
}

}  // namespace velora::server::frame
