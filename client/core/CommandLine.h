#pragma once
// The client as a command for people and scripts: log in, print the line's
// status, optionally dial or hang up, and exit with 0 (done), 1 (refused or
// failed) or 2 (the server cannot be reached).

#include <optional>
#include <string>

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "client/core/ClientSession.h"

class QTextStream;

namespace velora::client::core {

struct CommandLineOptions {
    enum class Action { Window, Status, Dial, Hangup, Help, Version };
    Action action = Action::Window;
    std::string entry;  // Windows-1252
    QString clientDir;
    QString host;
    QString port;
    std::optional<std::string> user;
    std::optional<std::string> password;
    int timeoutSeconds = 0;  // 0: the action's default
    bool tls = false;         // encrypted, whatever the folder says
    std::string fingerprint;  // trusted for this run, normalised
    bool acceptNew = false;   // trust a server's first certificate unasked
    QString error;           // set when the arguments do not parse
    QString warning;         // to be said before anything else, on stderr
};

enum ExitCode { ExitDone = 0, ExitFailed = 1, ExitUnreachable = 2 };

CommandLineOptions parseCommandLine(const QStringList &arguments);
QString commandLineUsage();

class ScriptedCommand : public QObject {
    Q_OBJECT
public:
    ScriptedCommand(ClientSettings &settings, const CommandLineOptions &options, QTextStream &out,
                    QTextStream &err, QObject *parent = nullptr);
    void start();
    ClientSession &session() { return session_; }

signals:
    void finished(int exitCode);

private:
    void onStatus(const wire::StatusRecord &record);
    void act(const wire::StatusRecord &record);
    void print(const wire::StatusRecord &record);
    void finish(int code, const QString &why = {});

    ClientSettings &settings_;
    CommandLineOptions options_;
    QTextStream &out_;
    QTextStream &err_;
    ClientSession session_;
    QTimer deadline_;
    // After "Connected", how long a record with the line's speed is awaited.
    static constexpr int SpeedWaitMs = 2000;
    QTimer speedWait_;
    wire::StatusRecord connected_;
    bool commandSent_ = false;
    bool sawChange_ = false;
    bool done_ = false;
    std::string lastShown_;
};

}  // namespace velora::client::core
