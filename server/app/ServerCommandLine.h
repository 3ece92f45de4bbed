#pragma once
// The server's arguments: switches, the report's filters, and the `user` and
// `entry` editors with everything after them.

#include <string>
#include <vector>

#include <QString>
#include <QStringList>

namespace velora::server::app {

struct ServerArgs {
    std::string baseDir;
    bool headless = false;
    bool service = false;
    bool noShutdown = false;
    bool install = false;
    bool uninstall = false;
    bool silent = false;
    bool help = false;
    bool version = false;
    bool report = false;
    bool json = false;  // usage: JSON instead of lines
    std::string month, year, entry, user, output;
    // "user" or "entry"; commandArgs are what follows it, but --basedir.
    std::string command;
    std::vector<std::string> commandArgs;
    // Set when the arguments do not parse: the first complaint.
    std::string bad;
};

// arguments[0] is the program.
ServerArgs parseServerArgs(const QStringList &arguments);

// The base dir without --basedir and $VELORA_BASEDIR: the service's system
// folder, else $XDG_DATA_HOME/velora (~/.local/share/velora). A program
// started from the menu runs in the home folder, no place for its files.
std::string defaultBaseDir(const ServerArgs &args, const char *serviceBaseDir);

// The --help text; adminUsage lists the editors' commands.
std::string serverUsage(const char *adminUsage);

}  // namespace velora::server::app
