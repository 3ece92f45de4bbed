#pragma once
// The one way a test waits: run the event loop until a condition holds or
// the deadline passes. Never sleep blindly; where a test needs time to pass,
// it drives a fake clock or calls the tick itself.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

namespace velora::test {

template <class Pred>
bool waitFor(Pred pred, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace velora::test
