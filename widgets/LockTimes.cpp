#include "widgets/LockTimes.h"

namespace velora::widgets {

QString lockedSinceText(std::int64_t secondsSinceEpoch, const QDateTime &now)
{
    if (secondsSinceEpoch <= 0)
        return {};
    const QDateTime at = QDateTime::fromSecsSinceEpoch(secondsSinceEpoch).toLocalTime();
    // A lock held overnight would read as a time of today.
    if (at.date() == now.toLocalTime().date())
        return at.toString(QStringLiteral("HH:mm"));
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString lockedByText(const QString &holder, std::int64_t secondsSinceEpoch, const QDateTime &now)
{
    if (holder.isEmpty())
        return {};
    const QString since = lockedSinceText(secondsSinceEpoch, now);
    return since.isEmpty() ? QStringLiteral("locked by %1").arg(holder)
                           : QStringLiteral("locked by %1 since %2").arg(holder, since);
}

}  // namespace velora::widgets
