#include "server/app/ServerCommandLine.h"

#include <cstdlib>

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace velora::server::app {

namespace {

struct Switch {
    const char *name;
    const char *value;  // nullptr: a flag
    const char *help;
    bool windowsStyle = false;  // written -NAME or /NAME, any case
};

// One table for the parser and the help text, so that neither misses one.
const Switch Switches[] = {
    {"basedir", "DIR", "the folder holding config/ (default: $VELORA_BASEDIR, else ~/.local/share/velora; the service: /var/lib/velora)"},
    {"headless", nullptr, "no window and no tray icon"},
    {"service", nullptr, "run as the system service (the unit passes it)"},
    {"no-shutdown", nullptr, "log clients' shutdown requests instead of carrying them out"},
    {"INSTALL", nullptr, "write the systemd unit of the service VLOOSERVER and exit", true},
    {"UNINSTALL", nullptr, "remove the unit of the service VLOOSERVER and exit", true},
    {"SILENT", nullptr, "with -INSTALL or -UNINSTALL: report nothing", true},
    {"report", nullptr, "write the connection log report to --output and exit (server may run)"},
    {"month", "M", "the report's month, 1-12 or a name (default: all)"},
    {"year", "YYYY", "the report's year (default: all)"},
    {"entry", "E", "the report's dial-up entry (default: all)"},
    {"user", "U", "the report's user (default: all)"},
    {"output", "FILE", "the report's file: .xlsx for a workbook, .txt for text"},
    {"json", nullptr, "with usage: print the figures as JSON"},
    {"help", nullptr, "print this text and exit (also -h)"},
    {"version", nullptr, "print the version and the licence and exit"},
};

const char *const Commands[][2] = {
    {"user list", "list the users of config/user.cfg"},
    {"user add NAME", "add a user with the privileges given"},
    {"user edit NAME", "change a user's description or privileges"},
    {"user passwd NAME", "set a user's password (asked twice, or --password-stdin)"},
    {"user delete NAME", "delete a user"},
    {"entry list", "list the dial-up entries"},
    {"entry rename OLD NEW", "rename an entry with its log rows, cost and SMTP server"},
    {"entry delete NAME", "delete an entry (--with-log: its log rows too)"},
    {"entry cost NAME [VALUE]", "print or set an entry's cost per hour"},
    {"usage [--month M --year YYYY] [--json]", "bytes per office computer in a billing cycle"},
};

bool isWindowsSwitch(const QString &arg, const char *name)
{
    return (arg.startsWith(QLatin1Char('-')) || arg.startsWith(QLatin1Char('/'))) &&
           arg.mid(1).compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

bool isCommand(const QString &arg)
{
    return arg == QLatin1String("user") || arg == QLatin1String("entry") || arg == QLatin1String("tls") ||
           arg == QLatin1String("usage");
}

// The parser knows only -x and --name: -INSTALL, /install and the like become
// --INSTALL, up to the editors' command, whose arguments are theirs.
QStringList normalised(const QStringList &arguments)
{
    QStringList out;
    bool inCommand = false;
    for (int i = 0; i < arguments.size(); ++i) {
        QString a = arguments[i];
        if (i == 0 || inCommand) {
            out << a;
            continue;
        }
        bool valueFollows = false;
        for (const Switch &s : Switches) {
            if (s.windowsStyle && isWindowsSwitch(a, s.name))
                a = QLatin1String("--") + QLatin1String(s.name);
            valueFollows = valueFollows || (s.value && a == QLatin1String("--") + QLatin1String(s.name));
        }
        out << a;
        // A value may be "user" without starting the command.
        if (valueFollows && i + 1 < arguments.size())
            out << arguments[++i];
        else
            inCommand = isCommand(a);
    }
    return out;
}

std::string local(const QString &s) { return s.toLocal8Bit().toStdString(); }

}  // namespace

ServerArgs parseServerArgs(const QStringList &arguments)
{
    ServerArgs a;
    QCommandLineParser parser;
    // Everything after the first positional argument is the command's.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    for (const Switch &s : Switches) {
        QStringList names{QLatin1String(s.name)};
        if (QLatin1String(s.name) == QLatin1String("help"))
            names.prepend(QStringLiteral("h"));
        QCommandLineOption o(names, QLatin1String(s.help));
        if (s.value)
            o.setValueName(QLatin1String(s.value));
        parser.addOption(o);
    }
    const bool parsed = parser.parse(normalised(arguments));
    auto flag = [&](const char *name) { return parser.isSet(QLatin1String(name)); };
    auto value = [&](const char *name, std::string &into) {
        if (parser.isSet(QLatin1String(name)))
            into = local(parser.value(QLatin1String(name)));
    };
    a.help = flag("help");
    a.version = flag("version");
    if (!parsed) {
        a.bad = local(parser.errorText());
        return a;
    }
    a.headless = flag("headless");
    a.service = flag("service");
    a.noShutdown = flag("no-shutdown");
    a.install = flag("INSTALL");
    a.uninstall = flag("UNINSTALL");
    a.silent = flag("SILENT");
    a.report = flag("report");
    a.json = flag("json");
    value("basedir", a.baseDir);
    value("month", a.month);
    value("year", a.year);
    value("entry", a.entry);
    value("user", a.user);
    value("output", a.output);

    const QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return a;
    if (!isCommand(rest.first())) {
        a.bad = "unknown argument: " + local(rest.first());
        return a;
    }
    a.command = local(rest.first());
    // --basedir may also follow the command.
    for (int i = 1; i < rest.size(); ++i) {
        const QString &s = rest[i];
        if (s == QLatin1String("--basedir") && i + 1 < rest.size())
            a.baseDir = local(rest[++i]);
        else if (s.startsWith(QLatin1String("--basedir=")))
            a.baseDir = local(s.mid(10));
        else
            a.commandArgs.push_back(local(s));
    }
    return a;
}

std::string serverUsage(const char *adminUsage)
{
    std::string text =
        "Usage: velora [--basedir DIR] [--headless] [--service] [--no-shutdown]\n"
        "       velora --help | --version\n"
        "       velora -INSTALL [-SILENT] [--basedir DIR]\n"
        "       velora -UNINSTALL [-SILENT]\n"
        "       velora [--basedir DIR] --report [--month M] [--year YYYY] [--entry E] [--user U]\n"
        "              --output FILE.xlsx|FILE.txt\n";
    text += adminUsage;
    text += "\nShares one dial-up line among the computers of the office.\n\nOptions:\n";
    auto line = [&text](const std::string &left, const char *help) {
        text += "  " + left + std::string(left.size() < 24 ? 24 - left.size() : 1, ' ') + help + "\n";
    };
    for (const Switch &s : Switches)
        line(std::string(s.windowsStyle ? "-" : "--") + s.name + (s.value ? std::string(" ") + s.value : ""), s.help);
    text += "\nCommands (also while the server runs; exit status 0 done, 1 refused, 2 usage):\n";
    for (const auto &c : Commands)
        line(c[0], c[1]);
    return text;
}

std::string defaultBaseDir(const ServerArgs &args, const char *serviceBaseDir)
{
    if (args.install || args.service)
        return serviceBaseDir;
    const char *data = std::getenv("XDG_DATA_HOME");
    // As the XDG base directories have it: a relative value is ignored.
    if (data && data[0] == '/')
        return std::string(data) + "/velora";
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : "/") + "/.local/share/velora";
}

}  // namespace velora::server::app
