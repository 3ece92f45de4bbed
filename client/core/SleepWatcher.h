#pragma once
// Reports the machine going to sleep and waking up, from logind's
// PrepareForSleep signal on the system bus. Without a system bus it stays
// silent: no reconnection after a resume, and no error either.

#include <QObject>

namespace velora::client::core {

class SleepWatcher : public QObject {
    Q_OBJECT
public:
    explicit SleepWatcher(QObject *parent = nullptr);
    bool listening() const { return listening_; }

signals:
    void suspending();
    void resumed();

private slots:
    void onPrepareForSleep(bool start);

private:
    bool listening_ = false;
};

}  // namespace velora::client::core
