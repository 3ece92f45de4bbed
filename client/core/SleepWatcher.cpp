#include "client/core/SleepWatcher.h"

#include <QDBusConnection>

namespace velora::client::core {

SleepWatcher::SleepWatcher(QObject *parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    listening_ = bus.connect(QStringLiteral("org.freedesktop.login1"),
                             QStringLiteral("/org/freedesktop/login1"),
                             QStringLiteral("org.freedesktop.login1.Manager"),
                             QStringLiteral("PrepareForSleep"), this,
                             SLOT(onPrepareForSleep(bool)));
}

void SleepWatcher::onPrepareForSleep(bool start)
{
    if (start)
        emit suspending();
    else
        emit resumed();
}

}  // namespace velora::client::core
