#include "server/dialup/lines/LineProcess.h"

#include "common/TextCodec.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QVariant>
#include <QTimer>

#include <algorithm>

namespace velora::server::dialup {

std::string outputTail(std::string_view output, std::size_t maxChars)
{
    std::string_view last;
    std::size_t end = output.size();
    while (end > 0) {
        const std::size_t lf = output.rfind('\n', end - 1);
        const std::size_t start = lf == std::string_view::npos ? 0 : lf + 1;
        const std::string line = trimBlanks(output.substr(start, end - start));
        if (!line.empty()) {
            last = output.substr(start, end - start);
            break;
        }
        if (lf == std::string_view::npos)
            break;
        end = lf;
    }
    // Children speak the locale's encoding (UTF-8 here); the wire speaks 1252.
    const QString text = QString::fromLocal8Bit(last.data(), static_cast<qsizetype>(last.size()));
    std::string bytes = utf8ToCp1252(text.toStdString());
    std::string clean;
    for (const char ch : sanitizeTyped(bytes)) {
        const auto c = static_cast<unsigned char>(ch);
        clean += (c < 0x20 || c == 0x7f) ? ' ' : ch;
    }
    clean = trimBlanks(clean);
    if (clean.size() > maxChars)
        clean = trimBlanks(clean.substr(clean.size() - maxChars));
    return clean;
}

namespace {

const char *const kGraceProperty = "veloraGraceMs";

std::vector<QProcess *> running(const QObject &owner)
{
    std::vector<QProcess *> list;
    for (QProcess *p : owner.findChildren<QProcess *>(Qt::FindDirectChildrenOnly))
        if (p->state() != QProcess::NotRunning)
            list.push_back(p);
    return list;
}

// One deadline for all: the children end side by side, not one after another.
void waitAll(const std::vector<QProcess *> &children, int ms)
{
    const QDeadlineTimer deadline(ms);
    for (QProcess *p : children)
        if (p->state() != QProcess::NotRunning)
            p->waitForFinished(static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
}

}  // namespace

ProcessReaper::~ProcessReaper()
{
    const std::vector<QProcess *> children = running(*this);
    int graceMs = 0;
    for (QProcess *p : children) {
        p->disconnect();
        p->terminate();
        graceMs = std::max(graceMs, p->property(kGraceProperty).toInt());
    }
    waitAll(children, graceMs);
    std::vector<QProcess *> left;
    for (QProcess *p : children)
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            left.push_back(p);
        }
    waitAll(left, kKillWaitMs);
}

void ProcessReaper::retire(QProcess *process, int graceMs)
{
    if (!process)
        return;
    process->disconnect();
    process->setParent(this);
    process->setProperty(kGraceProperty, graceMs);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    // A start that has not reached exec yet is killed outright.
    if (process->state() == QProcess::Starting)
        process->kill();
    else
        process->terminate();
    QTimer::singleShot(graceMs, process, [process] { process->kill(); });
}

void ProcessReaper::adopt(QProcess *process, int limitMs)
{
    if (!process)
        return;
    process->setParent(this);
    // At the owner's end a disconnect command gets what a dial gets.
    process->setProperty(kGraceProperty, std::min(limitMs, kGraceMs));
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            process->deleteLater();
    });
    QTimer::singleShot(limitMs, process, [process] { process->kill(); });
}

std::size_t ProcessReaper::count() const
{
    return static_cast<std::size_t>(findChildren<QProcess *>(Qt::FindDirectChildrenOnly).size());
}

void watchChild(QProcess *process, ChildEvents events)
{
    // Queued, so that nothing is reported inside start() or inside the caller.
    const auto queued = Qt::QueuedConnection;
    if (events.started)
        QObject::connect(process, &QProcess::started, process, events.started, queued);
    if (events.output) {
        QObject::connect(process, &QProcess::readyReadStandardOutput, process, events.output, queued);
        QObject::connect(process, &QProcess::readyReadStandardError, process, events.output, queued);
    }
    QObject::connect(process, &QProcess::finished, process,
                     [f = std::move(events.finished)](int code, QProcess::ExitStatus status) {
                         if (f)
                             f(code, status == QProcess::CrashExit);
                     }, queued);
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [f = std::move(events.startFailed)](QProcess::ProcessError e) {
                         if (e == QProcess::FailedToStart && f)
                             f();
                     }, queued);
}

}  // namespace velora::server::dialup
