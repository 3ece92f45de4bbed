// velora-client: the window program, or with --status / --dial / --hangup a
// command that prints the line's status and exits.

#include <cstdio>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>
#include <QTimer>

#include "client/core/ClientSession.h"
#include "common/Licence.h"
#include "client/core/ClientSettings.h"
#include "client/core/CommandLine.h"
#include "client/core/SingleInstance.h"
#include "client/core/SleepWatcher.h"
#include "widgets/AccessibleNames.h"
#include "widgets/MessageBoxPrompter.h"
#include "client/ui/TFmain.h"

using namespace velora::client::core;
using namespace velora::client::ui;

namespace {

QStringList rawArguments(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

int runCommand(int argc, char **argv, const CommandLineOptions &options)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    ClientSettings settings(resolveClientDir(options.clientDir), defaultAutostartFile());
    ScriptedCommand command(settings, options, out, err);
    int code = ExitFailed;
    QObject::connect(&command, &ScriptedCommand::finished, &app, [&](int c) {
        code = c;
        app.quit();
    });
    // Started from the loop, so that an early finish can still end it.
    QTimer::singleShot(0, &command, &ScriptedCommand::start);
    app.exec();
    return code;
}

int runWindow(int argc, char **argv, const CommandLineOptions &options)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velora-client"));
    QApplication::setApplicationVersion(QStringLiteral(VELORA_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    velora::widgets::nameWindowsOnShow(&app);

    const QString clientDir = resolveClientDir(options.clientDir);
    // The default folder is made on first start; a folder that was named must exist already.
    if (clientDir == defaultClientDir())
        QDir().mkpath(clientDir + QStringLiteral("/config"));
    SingleInstance instance(clientDir);
    if (!instance.acquire())
        return 0;

    ClientSettings settings(clientDir, defaultAutostartFile());
    ClientSession session(settings);
    velora::widgets::MessageBoxPrompter prompter(QStringLiteral("Velora client"));
    TFmain window(settings, session, prompter);
    session.setFixedFingerprint(options.fingerprint);
    if (options.acceptNew)
        session.trustFirstUse = [](const std::string &) { return true; };
    prompter.setParent(&window);
    SleepWatcher sleep;
    QObject::connect(&sleep, &SleepWatcher::suspending, &session, &ClientSession::systemSuspending);
    QObject::connect(&sleep, &SleepWatcher::resumed, &session, &ClientSession::systemResumed);
    QObject::connect(&window, &TFmain::closeConfirmed, &app, [&] {
        session.executedisconnect(0);
        app.quit();
    });
    window.show();
    return app.exec();
}

}  // namespace

int main(int argc, char **argv)
{
    const CommandLineOptions options = parseCommandLine(rawArguments(argc, argv));
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "velora-client: %s\n%s", qPrintable(options.error),
                     qPrintable(commandLineUsage()));
        return ExitFailed;
    }
    if (!options.warning.isEmpty())
        std::fprintf(stderr, "velora-client: %s\n", qPrintable(options.warning));
    switch (options.action) {
    case CommandLineOptions::Action::Help:
        std::fputs(qPrintable(commandLineUsage()), stdout);
        return ExitDone;
    case CommandLineOptions::Action::Version:
        std::printf("velora-client %s\n%s", VELORA_VERSION, velora::LicenceNotice);
        return ExitDone;
    case CommandLineOptions::Action::Window:
        return runWindow(argc, argv, options);
    default:
        return runCommand(argc, argv, options);
    }
}
