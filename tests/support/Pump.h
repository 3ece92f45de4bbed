#pragma once
// Runs the event loop until a condition holds or the time is up.

#include <QCoreApplication>
#include <QElapsedTimer>

namespace velora::test {

template <class Pred>
bool pumpUntil(Pred pred, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace velora::test
