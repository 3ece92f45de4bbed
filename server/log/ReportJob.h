#pragma once
// A report written on a thread of its own: the window stays responsive and
// hears progress and the end through queued signals.

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

#include "server/log/LogReport.h"

class QThread;

namespace velora::server::log {

class ReportJob : public QObject {
    Q_OBJECT
public:
    explicit ReportJob(QObject *parent = nullptr);
    // Waits for a report still being written (after asking it to stop).
    ~ReportJob() override;

    // False when a report is already being written.
    bool start(std::string databasePath, LogFilter filter, ReportHeading heading, NumberSeparators seps,
               std::string outPath, ReportFormat format);
    bool running() const { return thread_ != nullptr; }
    void stop() { stop_ = true; }

signals:
    void progressed(qint64 done, qint64 total);
    // why is empty when the report was written.
    void finished(bool ok, const QString &why);

private:
    QThread *thread_ = nullptr;
    std::atomic<bool> stop_{false};
    // Written by the worker, read once its thread has finished.
    bool ok_ = false;
    QString why_;
};

}  // namespace velora::server::log
