#include "server/dialup/lines/LineProcess.h"

#include "common/TextCodec.h"

#include <QProcess>
#include <QString>
#include <QTimer>

namespace velora::server::dialup {

std::optional<std::vector<std::string>> splitCommand(std::string_view command)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const std::size_t end = command.find('\'', i + 1);
            if (end == std::string_view::npos)
                return std::nullopt;
            word.append(command.substr(i + 1, end - i - 1));
            i = end;
        } else if (c == '"') {
            bool closed = false;
            for (++i; i < command.size(); ++i) {
                if (command[i] == '"') {
                    closed = true;
                    break;
                }
                if (command[i] == '\\' && i + 1 < command.size() &&
                    (command[i + 1] == '"' || command[i + 1] == '\\'))
                    ++i;
                word += command[i];
            }
            if (!closed)
                return std::nullopt;
        } else if (c == '\\' && i + 1 < command.size()) {
            word += command[++i];
        } else {
            word += c;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

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

ProcessReaper::~ProcessReaper()
{
    for (QProcess *p : findChildren<QProcess *>(Qt::FindDirectChildrenOnly)) {
        if (p->state() == QProcess::NotRunning)
            continue;
        p->terminate();
        if (!p->waitForFinished(kGraceMs)) {
            p->kill();
            p->waitForFinished(1000);
        }
    }
}

void ProcessReaper::retire(QProcess *process, int graceMs)
{
    if (!process)
        return;
    process->disconnect();
    process->setParent(this);
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

}  // namespace velora::server::dialup
