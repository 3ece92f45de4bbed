#pragma once
// How both programs show since when a record holds the line's lock.

#include <QDateTime>
#include <QString>

#include <cstdint>

namespace velora::widgets {

// "HH:MM" today, with the date before it on another day; empty for 0.
QString lockedSinceText(std::int64_t secondsSinceEpoch, const QDateTime &now = QDateTime::currentDateTime());

// "locked by NAME since HH:MM"; empty while nobody holds the lock.
QString lockedByText(const QString &holder, std::int64_t secondsSinceEpoch,
                     const QDateTime &now = QDateTime::currentDateTime());

}  // namespace velora::widgets
