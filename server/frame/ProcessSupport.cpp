#include "server/frame/ProcessSupport.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velora::server::frame {

namespace fs = std::filesystem;

SingleInstance::SingleInstance(const std::string &baseDir)
{
    std::error_code ec;
    fs::path dir = fs::weakly_canonical(fs::absolute(baseDir, ec), ec);
    if (dir.empty())
        dir = baseDir;
    // The lock lives in the runtime dir so a read-only base dir still works;
    // its name follows the base dir so servers of other base dirs run side by side.
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string root = runtime && *runtime == '/' ? runtime : "/tmp";
    const auto hash = std::hash<std::string>{}(dir.string());
    char name[64];
    std::snprintf(name, sizeof name, "/velora-server-%u-%016zx.lock", static_cast<unsigned>(::getuid()), hash);
    path_ = root + name;
}

SingleInstance::~SingleInstance()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool SingleInstance::acquire()
{
    if (fd_ >= 0)
        return true;
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return false;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

std::string unitDirectory()
{
    const char *dir = std::getenv("VELORA_UNIT_DIR");
    return dir && *dir ? dir : "/etc/systemd/system";
}

namespace {

std::string unitPath() { return unitDirectory() + "/" + ServiceName + ".service"; }

// systemd's own quoting for one word of ExecStart.
std::string systemdQuote(const std::string &s)
{
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '%')
            out += '%';
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

std::string unitText(const std::string &executable, const std::string &baseDir)
{
    // Kept line for line with packaging/service/VLOOSERVER.service.in (a test compares them).
    const std::string stateDir = baseDir == DefaultServiceBaseDir
                                     ? "StateDirectory=velora\nStateDirectoryMode=0750\n"
                                     : "";
    return std::string("[Unit]\n") + "Description=" + ServiceDisplayName + "\n" +
           "Documentation=man:velora(1)\n" +
           "Wants=network-online.target\nAfter=network-online.target\n\n[Service]\n" +
           "Type=notify\nExecStart=" + systemdQuote(executable) + " --service --headless --basedir " +
           systemdQuote(baseDir) + "\nRestart=on-failure\n" + stateDir +
           "# Root for pppd and the serial line, bounded to what dialling, the ICMP\n"
           "# keep-alive, nftables and the SMTP port need; logind's power-off is asked\n"
           "# over D-Bus and needs none.\n"
           "CapabilityBoundingSet=CAP_NET_ADMIN CAP_NET_RAW CAP_NET_BIND_SERVICE\n"
           "ProtectSystem=true\nProtectHome=true\nPrivateTmp=true\nProtectControlGroups=true\n"
           "ProtectKernelModules=true\nProtectClock=true\nProtectHostname=true\nLockPersonality=true\n"
           "RestrictRealtime=true\nRestrictSUIDSGID=true\nRestrictNamespaces=true\n"
           "SystemCallArchitectures=native\n"
           "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK AF_PACKET AF_PPPOX\n"
           "\n[Install]\nWantedBy=multi-user.target\n";
}

ServiceUnitResult installService(const std::string &executable, const std::string &baseDir)
{
    const std::string path = unitPath();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out)
        out << unitText(executable, baseDir);
    out.close();
    if (!out) {
        const int e = errno;
        return {false, std::string("Service ") + ServiceName + " could not be installed: " + path + ": " +
                           std::strerror(e ? e : EIO)};
    }
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
    if (fs::exists(path, ec))
        return true;
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        if (why)
            *why = path.string() + ": " + std::strerror(errno ? errno : EIO);
        return false;
    }
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, ec);
    return true;
}

}  // namespace

bool prepareServiceBaseDir(const std::string &baseDir, std::string *why)
{
    const fs::path config = fs::path(baseDir) / "config";
    std::error_code ec;
    fs::create_directories(config, ec);
    if (ec) {
        if (why)
            *why = config.string() + ": " + ec.message();
        return false;
    }
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
