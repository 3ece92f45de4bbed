// Process start-up of the server: switches, single instance, base dir, run
// mode, then the core on one event loop. This is the composition root: the
// only place that builds the real platform parts and hands them to the core.

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "common/NumberFormat.h"
#include "common/FileIo.h"
#include "common/Licence.h"
#include "common/IniProfile.h"
#include "server/app/ServerCommandLine.h"
#include "server/dialup/keepalive/LinuxIcmpPort.h"
#include "server/dialup/keepalive/QtHostLookup.h"
#include "server/dialup/lines/LineFactory.h"
#include "server/frame/AdminCommands.h"
#include "server/frame/FileChecks.h"
#include "server/frame/Autostart.h"
#include "server/frame/LogindShutdown.h"
#include "server/frame/ProcessSupport.h"
#include "server/frame/ServerCore.h"
#include "server/app/UsageCommand.h"
#include "server/log/LogReport.h"
#include "server/sharing/NftUsageCounters.h"
#include "server/frame/SimulatedInterfaceTable.h"
#include "server/frame/TlsIdentity.h"
#include "server/sharing/NftSharing.h"
#include "server/state/Text.h"
#include "server/ui/TForm1.h"
#include "widgets/AccessibleNames.h"
#include "widgets/MessageBoxPrompter.h"

namespace dialup = velora::server::dialup;
using namespace velora::server::frame;
using namespace velora::server::ui;
using namespace velora::server::state;
using velora::server::app::ServerArgs;

namespace {

bool haveDisplay()
{
    const char *qpa = std::getenv("QT_QPA_PLATFORM");
    if (qpa && *qpa)
        return true;
    const char *x = std::getenv("DISPLAY");
    const char *w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

std::string selfExecutable(const char *argv0)
{
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return p.string();
    return std::filesystem::absolute(argv0, ec).string();
}

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

// SIGTERM (systemd stop) and SIGINT end the loop, so the core closes its
// sessions and files in order.
void quitOnSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char c;
        [[maybe_unused]] auto n = ::read(signalPipe[0], &c, 1);
        // exit, not quit: quit would first ask the window, whose close asks the operator.
        QCoreApplication::exit(0);
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
}

// The real parts: the line that [line] in config.ini names, Qt's resolver,
// the ICMP socket, logind (or only a log line), the desktop's autostart,
// nftables for connection sharing.
ServerPlatform realPlatform(const std::string &baseDir, bool noShutdown, const std::string &self)
{
    ServerPlatform p;
    const velora::IniProfile ini(baseDir + "/config/config.ini");
    p.line = dialup::makeLineDriver(ini, baseDir, p.lineProblem);
    p.interfaces = interfaceTableFor(*p.line);
    p.lookup = std::make_unique<dialup::QtHostLookup>();
    p.icmp = std::make_unique<dialup::LinuxIcmpPort>();
    if (noShutdown)
        p.shutdown = std::make_unique<LoggingShutdown>();
    else
        p.shutdown = std::make_unique<LogindShutdown>();
    p.autostart = std::make_unique<XdgAutostart>("velora-server.desktop", "Velora server",
                                                 desktopExecQuote(self) + " --basedir " + desktopExecQuote(baseDir));
    p.sharing = std::make_unique<velora::server::sharing::NftSharing>(
        [](const std::string &note) { std::fprintf(stderr, "velora: %s\n", note.c_str()); });
    p.usage = std::make_unique<velora::server::sharing::NftUsageCounters>();
    return p;
}

// Status texts are Windows-1252; the terminal wants its own encoding.
std::string forTerminal(const std::string &cp1252) { return terminalText(shownText(cp1252)); }

void report(const ServiceUnitResult &r, bool silent, int argc, char **argv)
{
    if (silent)
        return;
    if (haveDisplay() && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        QApplication app(argc, argv);
        if (r.ok)
            QMessageBox::information(nullptr, QStringLiteral("Velora server"), shownMessage(r.message));
        else
            QMessageBox::critical(nullptr, QStringLiteral("Velora server"), shownMessage(r.message));
        return;
    }
    std::fprintf(r.ok ? stdout : stderr, "%s\n", terminalText(shownMessage(r.message)).c_str());
}

}  // namespace

// `velora user ...` and `velora entry ...`, beside a running server or not.
int runAdminAndExit(const ServerArgs &args, const std::string &baseDir, int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    AdminIo io;
    io.readSecret = readSecretLine;
    if (args.command == "tls") {
        TlsIdentity identity(baseDir + "/config/tls");
        const auto ask = [](const char *question) {
            std::fputs(question, stderr);
            char answer[16] = {};
            return std::fgets(answer, sizeof answer, stdin) && (answer[0] == 'y' || answer[0] == 'Y');
        };
        return runTlsCommand(args.commandArgs, identity, ask, stdout, stderr);
    }
    if (args.command == "user") {
        velora::server::users::UserStore users(baseDir + "/config/user.cfg");
        return runUserCommand(args.commandArgs, users, io);
    }
    std::string problem;
    const velora::IniProfile ini(baseDir + "/config/config.ini");
    const auto line = dialup::makeLineDriver(ini, baseDir, problem);
    if (!problem.empty())
        std::fprintf(stderr, "velora: %s\n", problem.c_str());
    velora::server::log::LogDatabase log;
    std::string why;
    if (!log.open(baseDir + "/config/log.db", &why))
        std::fprintf(stderr, "velora: %s\n", why.c_str());
    return runEntryCommand(args.commandArgs, line->entries(), log, io);
}

// The report for a server without a window: 0 written, 1 failed (why on stderr).
int writeReportAndExit(const ServerArgs &args, const std::string &baseDir, int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (args.output.empty()) {
        std::fputs("velora: --report needs --output FILE.xlsx or FILE.txt\n", stderr);
        return 1;
    }
    const auto format = velora::server::log::knownReportFormat(args.output);
    if (!format) {
        std::fprintf(stderr, "velora: no report: %s ends in neither .xlsx (a workbook) nor .txt (tab-delimited text)\n",
                     args.output.c_str());
        return 1;
    }
    auto stored = [](const std::string &arg) { return velora::server::state::typedText(QString::fromLocal8Bit(arg.c_str())); };
    velora::server::log::LogFilter filter;
    velora::server::log::ReportHeading heading;
    std::string why;
    if (!velora::server::log::reportRequest(args.month, args.year, stored(args.entry), stored(args.user), filter,
                                            heading, &why) ||
        !velora::server::log::writeReport(baseDir + "/config/log.db", filter, heading,
                                          velora::server::state::localeSeparators(), args.output,
                                          *format, {}, &why)) {
        std::fprintf(stderr, "velora: no report: %s\n", terminalText(shownMessage(why)).c_str());
        return 1;
    }
    return 0;
}

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ServerArgs args = velora::server::app::parseServerArgs(arguments);
    if (args.help) {
        std::fputs(velora::server::app::serverUsage(AdminUsage).c_str(), stdout);
        return 0;
    }
    if (args.version) {
        std::printf("velora %s\n%s", VELORA_VERSION, velora::LicenceNotice);
        return 0;
    }
    if (!args.bad.empty()) {
        std::fprintf(stderr, "velora: %s\n\n%s", args.bad.c_str(), velora::server::app::serverUsage(AdminUsage).c_str());
        return 2;
    }

    std::string baseDir = args.baseDir;
    if (baseDir.empty()) {
        const char *env = std::getenv("VELORA_BASEDIR");
        baseDir = env && *env ? env : velora::server::app::defaultBaseDir(args, DefaultServiceBaseDir);
    }
    // Made on first start; a folder that was named must exist already.
    std::error_code made;
    if (!args.install && !args.uninstall && !args.service &&
        baseDir == velora::server::app::defaultBaseDir(args, DefaultServiceBaseDir))
        std::filesystem::create_directories(baseDir, made);
    std::error_code ec;
    baseDir = std::filesystem::absolute(baseDir, ec).lexically_normal().string();
    if (baseDir.size() > 1 && baseDir.back() == '/')
        baseDir.pop_back();

    if (args.install || args.uninstall) {
        const ServiceUnitResult r = args.install ? installService(selfExecutable(argv[0]), baseDir)
                                                 : uninstallService();
        report(r, args.silent, argc, argv);
        return r.ok ? 0 : 1;
    }

    if (args.report)
        return writeReportAndExit(args, baseDir, argc, argv);
    if (args.command == "usage")
        return velora::server::app::printUsage(args, baseDir);
    if (!args.command.empty())
        return runAdminAndExit(args, baseDir, argc, argv);

    std::string why;
    // The service makes its own base dir; config/ is private from the start.
    if (args.service && !velora::makeFolder(baseDir, 0700, &why))
        std::fprintf(stderr, "velora: %s\n", why.c_str());
    if (!std::filesystem::is_directory(baseDir, ec)) {
        std::fprintf(stderr, "velora: base dir %s does not exist\n", baseDir.c_str());
        return 1;
    }
    why.clear();
    if (!velora::makeFolder(baseDir + "/config", 0700, &why))
        std::fprintf(stderr, "velora: %s\n", why.c_str());

    SingleInstance instance(baseDir);
    if (instance.acquire(&why) != SingleInstance::Outcome::Acquired) {
        std::fprintf(stderr, "velora: %s; not started\n", why.c_str());
        return 1;
    }

    why.clear();
    if (args.service && !prepareServiceBaseDir(baseDir, &why))
        std::fprintf(stderr, "velora: %s\n", why.c_str());
    // A service runs as root: whoever may change its files may make it run anything.
    if (args.service) {
        const auto writable = writableByOthers(baseDir);
        for (const std::string &line : writable)
            std::fprintf(stderr, "velora: %s\n", terminalText(shownPath(line)).c_str());
        if (!writable.empty()) {
            std::fputs("velora: the service does not start while other users may change its files\n", stderr);
            return 1;
        }
    }

    bool headless = args.headless;
    if (!headless && !haveDisplay()) {
        std::fputs("velora: no display found, running without window (headless)\n", stderr);
        headless = true;
    }
    std::unique_ptr<QCoreApplication> app;
    if (headless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELORA_VERSION));
    quitOnSignals();

    ServerPlatform platform = realPlatform(baseDir, args.noShutdown, selfExecutable(argv[0]));
    auto *logind = dynamic_cast<LogindShutdown *>(platform.shutdown.get());

    // Before anything opens files: an office of a few hundred computers and
    // the strangers around them need more than the usual 1024.
    std::fprintf(stderr, "velora: %s\n", velora::server::clientservice::SessionListener::raiseDescriptorLimit().c_str());

    ServerOptions options;
    options.baseDir = baseDir;
    options.serviceMode = args.service;
    options.secondStageDelayMs = headless ? 0 : 1000;
    ServerCore core(options, std::move(platform));
    QObject::connect(&core.clients(), &velora::server::clientservice::ClientService::notice,
                     [](const std::string &text) { std::fprintf(stderr, "velora: %s\n", terminalText(shownText(text)).c_str()); });
    QObject::connect(&core, &ServerCore::problem, [](const QString &text) {
        std::fprintf(stderr, "velora: %s\n", terminalText(text).c_str());
    });
    if (logind)
        logind->onLateError = [&core](const std::string &why) {
            emit core.problem(shownMessage("the system refused a client's shutdown request: " + why));
        };
    QObject::connect(&core, &ServerCore::secondStageDone, [&core, baseDir] {
        std::fprintf(stderr, "velora: line: %s, %zu entries\n", core.line().driverName().c_str(),
                     core.entryNames().size());
        if (!core.isOnline())
            std::fprintf(stderr, "velora: offline (base dir %s)\n", baseDir.c_str());
        else
            std::fprintf(stderr, "velora: online, listening on port %u of %s (base dir %s)\n", core.listeningPort(),
                         core.listeningAddress().c_str(), baseDir.c_str());
        if (core.listeningWebPort() != 0)
            std::fprintf(stderr, "velora: web page on https port %u\n", core.listeningWebPort());
        if (core.isOnline() && core.listeningTlsPort() != 0)
            std::fprintf(stderr, "velora: encrypted connections on port %u, certificate fingerprint (SHA-256) %s\n",
                         core.listeningTlsPort(), core.tlsFingerprint().c_str());
        notifySystemdReady();
    });
    // Declared after the core, so that the window is destroyed before it.
    std::unique_ptr<velora::widgets::MessageBoxPrompter> prompter;
    std::unique_ptr<TForm1> window;
    if (!headless) {
        // The window hides to the tray; only the operator's exit ends the program.
        QApplication::setQuitOnLastWindowClosed(false);
        velora::widgets::nameWindowsOnShow(qApp);
        prompter = std::make_unique<velora::widgets::MessageBoxPrompter>(QStringLiteral("Velora XP"));
        window = std::make_unique<TForm1>(core, *prompter);
        prompter->setParent(window.get());
        // The operator has already answered; quit would ask the window again.
        QObject::connect(window.get(), &TForm1::quitRequested, qApp, [] { QCoreApplication::exit(0); },
                         Qt::QueuedConnection);
    }
    // Without a window the person running the server still sees it work.
    if (headless) {
        QObject::connect(&core, &ServerCore::statusChanged, [&core] {
            const auto &st = core.state();
            std::string clients;
            // A line per change, so not the whole of a large office.
            const auto rows = core.clientRows();
            for (std::size_t i = 0; i < rows.size() && i < 10; ++i)
                clients += (clients.empty() ? "" : ", ") + rows[i].name + " (" + rows[i].address + ", " + rows[i].lock + ")";
            if (rows.size() > 10)
                clients += " and " + std::to_string(rows.size() - 10) + " more";
            std::fprintf(stderr, "velora: status %s | entry %s | lock %s | clients: %s\n",
                         forTerminal(st.StatusText).c_str(), forTerminal(st.ActiveEntry).c_str(),
                         forTerminal(toText(st.LockStatus)).c_str(),
                         clients.empty() ? "none" : forTerminal(clients).c_str());
        });
        // The month's cost only when it moved, so a busy line does not repeat it.
        QObject::connect(&core, &ServerCore::statusChanged, [&core, last = std::string()]() mutable {
            const auto cost = core.monthCost();
            if (!cost)
                return;
            char line[64];
            std::snprintf(line, sizeof line, "%.2f", static_cast<double>(*cost) / 10000.0);
            const PolicySettings policy = core.config().policySettings();
            std::string text = std::string("month cost ") + line + ofBudget(policy.monthlybudget);
            if (policy.capBytes() > 0)
                if (const auto used = core.usage().bytesThisCycle(policy.billingday))
                    text += ", used " + velora::formatBytes(*used) + " of " + velora::formatBytes(policy.capBytes());
            if (text == last)
                return;
            last = text;
            std::fprintf(stderr, "velora: %s\n", forTerminal(text).c_str());
        });
    }
    core.start();
    core.checkFiles();
    return app->exec();
}
