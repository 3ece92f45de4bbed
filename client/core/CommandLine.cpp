#include "client/core/CommandLine.h"
#include "client/core/SavedLogin.h"
#include "client/core/ServerPins.h"

#include <algorithm>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QTextStream>

#include "client/core/WireText.h"
#include "common/NumberFormat.h"

namespace velora::client::core {

namespace {

std::string joined(const std::vector<std::string> &items)
{
    std::string out;
    for (const auto &i : items) {
        if (!out.empty())
            out += ", ";
        out += i;
    }
    return out;
}

struct Switch {
    const char *name;
    const char *value;  // nullptr: a flag
    const char *help;
};

// One table for the parser and the help text, so that neither misses one.
const Switch Switches[] = {
    {"clientdir", "DIR", "the client's folder (default: $VELORA_CLIENTDIR, else ~/.config/velora-client)"},
    {"host", "H", "the server's address (default: the saved one)"},
    {"port", "P", "the server's port (default: the saved one)"},
    {"user", "U", "log in as U instead of the saved login"},
    {"password", "P", "the password of --user (else $VELORA_PASSWORD)"},
    {"tls", nullptr, "connect encrypted, to the server's TLS port (default 226 or the saved one)"},
    {"fingerprint", "HEX", "trust only the certificate with this SHA-256 fingerprint (implies --tls)"},
    {"accept-new", nullptr, "trust a server's certificate on first use without asking"},
    {"timeout", "SECONDS", "give up after this long (default 30, 120 for --dial)"},
    {"status", nullptr, "print the line status once and exit"},
    {"dial", "ENTRY", "dial ENTRY, print the status that follows and exit"},
    {"hangup", nullptr, "hang up, print the status that follows and exit"},
    {"help", nullptr, "print this text and exit (also -h)"},
    {"version", nullptr, "print the version and the licence and exit"},
};

// The server's answers to a dial it would not start: the line stays as it
// was, so the status text is all the answer there is.
bool isDialRefusal(const std::string &status)
{
    return status == "Monthly budget reached" || status == "No matching dialup entry found";
}

bool hasSpeed(const wire::StatusRecord &r) { return !r.speedValue.empty() && r.speedValue != "0"; }

}  // namespace

QString commandLineUsage()
{
    QString text = QStringLiteral(
        "usage: velora-client [--clientdir DIR]\n"
        "       velora-client [--clientdir DIR] [--host H] [--port P] [--user U --password P]\n"
        "                     [--tls] [--fingerprint HEX] [--accept-new]\n"
        "                     [--timeout SECONDS] --status | --dial ENTRY | --hangup\n"
        "       velora-client --help | --version\n"
        "Without --status, --dial or --hangup it opens the window.\n\nOptions:\n");
    for (const Switch &s : Switches) {
        QString left = QStringLiteral("--") + QLatin1String(s.name);
        if (s.value)
            left += QLatin1Char(' ') + QLatin1String(s.value);
        text += QStringLiteral("  ") + left.leftJustified(19) + QLatin1Char(' ') + QLatin1String(s.help) +
                QLatin1Char('\n');
    }
    text += QStringLiteral("The login is the saved one unless --user is given. Exit codes: 0 done,\n"
                           "1 refused or failed, 2 cannot reach the server.\n");
    return text;
}

CommandLineOptions parseCommandLine(const QStringList &arguments)
{
    CommandLineOptions o;
    QCommandLineParser parser;
    for (const Switch &s : Switches) {
        QStringList names{QLatin1String(s.name)};
        if (QLatin1String(s.name) == QLatin1String("help"))
            names.prepend(QStringLiteral("h"));
        QCommandLineOption option(names, QLatin1String(s.help));
        if (s.value)
            option.setValueName(QLatin1String(s.value));
        parser.addOption(option);
    }
    const bool parsed = parser.parse(arguments);
    auto isSet = [&parser](const char *name) { return parser.isSet(QLatin1String(name)); };
    auto value = [&parser](const char *name) { return parser.value(QLatin1String(name)); };
    if (isSet("help")) {
        o.action = CommandLineOptions::Action::Help;
        return o;
    }
    if (isSet("version")) {
        o.action = CommandLineOptions::Action::Version;
        return o;
    }
    if (!parsed) {
        o.error = parser.errorText();
        return o;
    }
    if (!parser.positionalArguments().isEmpty()) {
        o.error = QStringLiteral("unknown argument %1").arg(parser.positionalArguments().first());
        return o;
    }
    const int actions = int(isSet("status")) + int(isSet("dial")) + int(isSet("hangup"));
    if (actions > 1) {
        o.error = QStringLiteral("choose one of --status, --dial and --hangup");
        return o;
    }
    if (isSet("status"))
        o.action = CommandLineOptions::Action::Status;
    else if (isSet("hangup"))
        o.action = CommandLineOptions::Action::Hangup;
    else if (isSet("dial")) {
        o.action = CommandLineOptions::Action::Dial;
        o.entry = wireText(value("dial"));
    }
    o.clientDir = value("clientdir");
    o.host = value("host");
    o.port = value("port");
    if (isSet("user"))
        o.user = wireText(value("user"));
    if (isSet("password")) {
        o.password = secretText(value("password"));
        o.warning = QStringLiteral("warning: --password can be read by every user of this computer (in the process "
                                   "list); give it in VELORA_PASSWORD or use the saved login instead");
    }
    if (isSet("timeout")) {
        bool ok = false;
        o.timeoutSeconds = value("timeout").toInt(&ok);
        if (!ok || o.timeoutSeconds < 1) {
            o.error = QStringLiteral("--timeout needs a number of seconds");
            return o;
        }
    }
    o.tls = isSet("tls") || isSet("fingerprint");
    o.acceptNew = isSet("accept-new");
    if (isSet("fingerprint")) {
        const auto fingerprint = normalFingerprint(value("fingerprint").toStdString());
        if (!fingerprint) {
            o.error = QStringLiteral("--fingerprint needs 64 hex digits (colons allowed)");
            return o;
        }
        o.fingerprint = *fingerprint;
    }
    if (o.user && !o.password) {
        o.password = secretText(qEnvironmentVariable("VELORA_PASSWORD"));
    }
    return o;
}

ScriptedCommand::ScriptedCommand(ClientSettings &settings, const CommandLineOptions &options,
                                 QTextStream &out, QTextStream &err, QObject *parent)
    : QObject(parent), settings_(settings), options_(options), out_(out), err_(err),
      session_(settings)
{
    deadline_.setSingleShot(true);
    int seconds = options.timeoutSeconds;
    if (seconds <= 0)
        seconds = options.action == CommandLineOptions::Action::Dial ? 120 : 30;
    deadline_.setInterval(seconds * 1000);

    connect(&deadline_, &QTimer::timeout, this, [this] {
        finish(commandSent_ || session_.inSession() ? ExitFailed : ExitUnreachable,
               QStringLiteral("no answer from the server in time"));
    });
    connect(&session_, &ClientSession::connectFailed, this, [this](const QString &reason) {
        finish(ExitUnreachable, QStringLiteral("cannot reach the server %1:%2: %3")
                                    .arg(shownText(session_.applied().host))
                                    .arg(session_.applied().port)
                                    .arg(reason));
    });
    connect(&session_, &ClientSession::handshakeFailed, this, [this] {
        finish(ExitUnreachable, QStringLiteral("the server did not answer the login"));
    });
    connect(&session_, &ClientSession::loginFailed, this, [this] {
        finish(ExitFailed, QStringLiteral("the saved login in %1 cannot be read")
                               .arg(settings_.savedLoginFile()));
    });
    connect(&session_, &ClientSession::loginRefused, this, [this](const std::string &reason) {
        finish(ExitFailed, QStringLiteral("login refused: %1").arg(shownText(reason)));
    });
    // Queued: a refusal or a handshake error that follows the reset names the cause.
    connect(
        &session_, &ClientSession::disconnectedState, this,
        [this] { finish(ExitUnreachable, QStringLiteral("the server closed the connection")); },
        Qt::QueuedConnection);
    connect(&session_, &ClientSession::fingerprintRefused, this,
            [this](const QString &trusted, const QString &presented, const QString &) {
                finish(ExitUnreachable, QStringLiteral("refused: the server's certificate fingerprint is %1, not the "
                                                       "trusted %2; nothing was sent")
                                            .arg(presented, trusted));
            });
    connect(&session_, &ClientSession::fingerprintNotTrusted, this, [this](const QString &presented) {
        finish(ExitUnreachable, QStringLiteral("the server's certificate is not trusted yet; its fingerprint is %1: "
                                               "check it with the server's operator, then give --accept-new or "
                                               "--fingerprint")
                                    .arg(presented));
    });
    if (options_.acceptNew)
        session_.trustFirstUse = [](const std::string &) { return true; };
    session_.setFixedFingerprint(options_.fingerprint);
    connect(&session_, &ClientSession::statusReceived, this, &ScriptedCommand::onStatus);
    // The line's speed is read a tick after it connected.
    speedWait_.setSingleShot(true);
    speedWait_.setInterval(SpeedWaitMs);
    connect(&speedWait_, &QTimer::timeout, this, [this] {
        print(connected_);
        finish(ExitDone);
    });
}

void ScriptedCommand::start()
{
    const bool saved = settings_.loadcfg();
    if (!saved && !settings_.loadError().isEmpty())
        err_ << "velora-client: " << settings_.loadError() << "; using the defaults\n";
    if (!options_.host.isEmpty())
        settings_.setValue(ClientSettings::ServerAddress, wireText(options_.host));
    // Scripts written before encryption name the plain port: without a saved
    // choice only --tls encrypts.
    if (options_.tls || !saved)
        settings_.setValue(ClientSettings::Encrypted, options_.tls ? "1" : "0");
    if (!options_.port.isEmpty())
        settings_.setValue(settings_.flag(ClientSettings::Encrypted) ? ClientSettings::EncryptedPort
                                                                     : ClientSettings::ServerPort,
                           wireText(options_.port));
    QString error;
    if (!session_.activatecfg(&error)) {
        finish(ExitUnreachable, error);
        return;
    }
    if (session_.applied().host.empty()) {
        finish(ExitUnreachable, QStringLiteral("no server address: give --host or configure one"));
        return;
    }
    if (options_.user) {
        session_.setFixedLogin(*options_.user, options_.password.value_or(std::string()));
    } else {
        // Without a remembered login there is nothing to send but an empty one.
        SavedLogin saved(settings_.savedLoginFile());
        bool corrupt = false;
        if (saved.load() && !saved.remembered(&corrupt) && !corrupt) {
            finish(ExitFailed, QStringLiteral("no saved login in %1: give --user and --password")
                                   .arg(settings_.savedLoginFile()));
            return;
        }
    }
    deadline_.start();
    session_.executeconnect(1);
}

void ScriptedCommand::print(const wire::StatusRecord &r)
{
    const bool connected = r.statusText == "Connected";
    out_ << "Status        : " << shownText(r.statusText) << '\n'
         << "Connected via : " << shownText(r.activeEntry) << '\n'
         << "Lock status   : " << shownText(r.lockStatus) << '\n'
         << "Speed         : " << shownText(r.speedValue) << '\n'
         << "Device name   : " << shownText(r.activeDevice) << '\n'
         << "Time online   : "
         << (connected ? shownText(olahwaktu(std::strtoull(r.secondsOnline.c_str(), nullptr, 10)))
                       : QStringLiteral("--"))
         << '\n';
    if (!r.errorNotice.empty())
        out_ << "Error         : " << shownText(r.errorNotice) << '\n';
    out_ << "Entries       : " << shownText(joined(r.entryNames)) << '\n';
    out_.flush();
}

void ScriptedCommand::onStatus(const wire::StatusRecord &record)
{
    if (done_)
        return;
    if (!commandSent_) {
        act(record);
        return;
    }
    const bool dialing = options_.action == CommandLineOptions::Action::Dial;
    if (dialing && isDialRefusal(record.statusText)) {
        print(record);
        finish(ExitFailed, shownText(record.statusText));
        return;
    }
    if (dialing && record.statusText == "Connected") {
        connected_ = record;
        if (hasSpeed(record)) {
            print(record);
            finish(ExitDone);
        } else if (!speedWait_.isActive()) {
            speedWait_.start();
        }
        return;
    }
    if (speedWait_.isActive()) {
        // The connection went before its speed came.
        print(connected_);
        finish(ExitDone);
        return;
    }
    // Progress while waiting for the outcome, one line per change.
    if (record.statusText != lastShown_) {
        lastShown_ = record.statusText;
        if (record.statusText != "READY" && record.statusText != "Connected") {
            sawChange_ = true;
            out_ << shownText(record.statusText) << '\n';
            out_.flush();
        }
    }
    if (!record.errorNotice.empty()) {
        print(record);
        finish(ExitFailed, QStringLiteral("the server reports an error"));
    } else if (record.statusText == "READY" && (!dialing || sawChange_)) {
        print(record);
        finish(dialing ? ExitFailed : ExitDone, dialing ? QStringLiteral("the dial did not connect") : QString());
    }
}

void ScriptedCommand::act(const wire::StatusRecord &r)
{
    using Action = CommandLineOptions::Action;
    if (options_.action == Action::Status) {
        print(r);
        finish(ExitDone);
        return;
    }
    const bool dial = options_.action == Action::Dial;
    if (session_.privileges().dialHangup != "1") {
        print(r);
        finish(ExitFailed, dial ? QStringLiteral("this user may not dial")
                                : QStringLiteral("this user may not hang up"));
        return;
    }
    if (r.lockStatus != "free") {
        print(r);
        finish(ExitFailed, QStringLiteral("the line is locked"));
        return;
    }
    if (dial) {
        if (std::find(r.entryNames.begin(), r.entryNames.end(), options_.entry) == r.entryNames.end()) {
            print(r);
            finish(ExitFailed, QStringLiteral("the server has no entry \"%1\"").arg(shownText(options_.entry)));
            return;
        }
        // A refused dial left its answer as the status; the line is idle.
        if (r.statusText != "READY" && !isDialRefusal(r.statusText)) {
            print(r);
            finish(ExitFailed, QStringLiteral("the line is busy"));
            return;
        }
        session_.sendDial(options_.entry);
    } else {
        if (r.statusText == "READY") {
            print(r);
            finish(ExitDone);
            return;
        }
        session_.sendHangup();
    }
    commandSent_ = true;
    lastShown_ = r.statusText;
}

void ScriptedCommand::finish(int code, const QString &why)
{
    if (done_)
        return;
    done_ = true;
    deadline_.stop();
    speedWait_.stop();
    if (!why.isEmpty()) {
        err_ << "velora-client: " << why << '\n';
        err_.flush();
    }
    session_.executedisconnect(0);
    emit finished(code);
}

}  // namespace velora::client::core
