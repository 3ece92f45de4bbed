#include "server/log/ReportJob.h"

#include <QThread>

#include "server/state/Text.h"

namespace velora::server::log {

ReportJob::ReportJob(QObject *parent) : QObject(parent) {}

ReportJob::~ReportJob()
{
    if (thread_) {
        stop_ = true;
        thread_->wait();
        delete thread_;
    }
}

bool ReportJob::start(std::string databasePath, LogFilter filter, ReportHeading heading, NumberSeparators seps,
                      std::string outPath, ReportFormat format)
{
    if (thread_)
        return false;
    stop_ = false;
    // The worker owns copies of everything it reads; it reports only through
    // signals, which Qt queues to this object's thread.
    thread_ = QThread::create([this, databasePath = std::move(databasePath), filter = std::move(filter),
                               heading = std::move(heading), seps = std::move(seps), outPath = std::move(outPath),
                               format] {
        std::string why;
        ok_ = writeReport(
            databasePath, filter, heading, seps, outPath, format,
            [this](std::int64_t done, std::int64_t total) {
                emit progressed(done, total);
                return !stop_.load();
            },
            &why);
        why_ = state::shownMessage(why);
    });
    // Told once the thread is gone, so a listener may start the next report.
    connect(thread_, &QThread::finished, this, [this] {
        thread_->deleteLater();
        thread_ = nullptr;
        emit finished(ok_, why_);
    });
    thread_->start(QThread::LowPriority);
    return true;
}

}  // namespace velora::server::log
