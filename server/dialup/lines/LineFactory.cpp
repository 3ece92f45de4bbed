#include "server/dialup/lines/LineFactory.h"

#include "server/dialup/lines/CommandLine.h"
#include "server/dialup/lines/PppdLine.h"
#include "server/dialup/lines/SimulatedLine.h"

#include <QStandardPaths>
#include <QStringList>

namespace velora::server::dialup {

namespace {

// pppd lives in /usr/sbin, which an ordinary user's PATH often lacks.
std::string findProgram(const std::string &name)
{
    const QString q = QString::fromStdString(name);
    QString found = QStandardPaths::findExecutable(q);
    if (found.isEmpty() && !name.empty() && name.find('/') == std::string::npos)
        found = QStandardPaths::findExecutable(q, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found.toStdString();
}

}  // namespace

std::unique_ptr<LineDriver> makeLineDriver(const IniProfile &config, const std::string &baseDir,
                                           std::string &problem)
{
    const std::string driver = config.readString("line", "driver", "simulated");
    if (driver == "command") {
        CommandLine::Settings s;
        std::vector<std::string> problems;
        s.timeoutSeconds = config.readNumber("line", "timeout", 1, 86400, s.timeoutSeconds, &problems);
        if (!problems.empty())
            problem = problems.front();
        return std::make_unique<CommandLine>(baseDir, nullptr, s);
    }
    if (driver == "pppd") {
        PppdLine::Settings s;
        s.peersDir = config.readString("line", "peersdir", s.peersDir);
        s.secretsDir = config.readString("line", "secretsdir", s.secretsDir);
        s.runDir = config.readString("line", "rundir", s.runDir);
        const std::string pppd = config.readString("line", "pppd", "pppd");
        s.pppd = findProgram(pppd);
        if (!s.pppd.empty())
            return std::make_unique<PppdLine>(s);
        problem = "pppd not found (\"" + pppd + "\" in [line] pppd); using the simulated line";
    } else if (driver != "simulated") {
        problem = "unknown line driver \"" + driver + "\" in [line] driver; using the simulated line";
    }
    return std::make_unique<SimulatedLine>(baseDir);
}

}  // namespace velora::server::dialup
