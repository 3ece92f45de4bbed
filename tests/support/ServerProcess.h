#pragma once
// Runs the real server binary on a temporary base dir and reads its stderr.

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/TestFiles.h"

namespace velora::test {

// A port that was free a moment ago on loopback. Another test's server may
// take it before the one it is meant for: a server under test is given
// port=0 instead and its port read back (ServerProcess::listeningPort).
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class ServerProcess {
public:
    explicit ServerProcess(std::string baseDir) : baseDir_(std::move(baseDir))
    {
        std::filesystem::create_directories(baseDir_ + "/config");
        process_.setProcessChannelMode(QProcess::SeparateChannels);
    }
    ~ServerProcess() { stop(); }

    const std::string &baseDir() const { return baseDir_; }
    QProcess &process() { return process_; }

    void writeConfig(const std::string &content) { writeFile(baseDir_ + "/config/config.ini", content); }

    void start(QStringList extra = {})
    {
        QStringList args{QStringLiteral("--headless"), QStringLiteral("--no-shutdown"),
                         QStringLiteral("--basedir"), QString::fromStdString(baseDir_)};
        args += extra;
        // What an earlier run said (its port among it) is not this run's.
        errors_.clear();
        process_.start(QStringLiteral(VELORA_SERVER_BINARY), args);
        process_.waitForStarted(5000);
    }

    // Waits until stderr holds the text; returns whether it arrived in time.
    bool waitForOutput(const std::string &text, int ms = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (errors_.find(text) == std::string::npos) {
            if (t.elapsed() > ms)
                return false;
            if (!process_.waitForReadyRead(50) && process_.state() == QProcess::NotRunning) {
                errors_ += process_.readAllStandardError().toStdString();
                return errors_.find(text) != std::string::npos;
            }
            errors_ += process_.readAllStandardError().toStdString();
        }
        return true;
    }
    std::string output()
    {
        errors_ += process_.readAllStandardError().toStdString();
        return errors_;
    }

    // The ports the server reported at start (given port=0, the ones the
    // system picked); 0 until it has said so.
    quint16 listeningPort() { return reportedPort("listening on port "); }
    quint16 tlsPort() { return reportedPort("encrypted connections on port "); }

    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }

private:
    quint16 reportedPort(const std::string &before)
    {
        const std::string out = output();
        const std::size_t at = out.rfind(before);
        return at == std::string::npos ? 0 : static_cast<quint16>(std::atoi(out.c_str() + at + before.size()));
    }

    std::string baseDir_;
    QProcess process_;
    std::string errors_;
};

}  // namespace velora::test
