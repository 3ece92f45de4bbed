#pragma once
// What the benches read of their own process, and the event loop they run.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <fstream>
#include <string>

namespace velora::bench {

// Resident memory of this process, in KiB.
inline long rssKiB()
{
    std::ifstream in("/proc/self/status");
    std::string key;
    while (in >> key) {
        if (key == "VmRSS:") {
            long v = 0;
            in >> v;
            return v;
        }
        in.ignore(1 << 20, '\n');
    }
    return 0;
}

// Runs the event loop for a while: a bench measures across real sockets.
inline void pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace velora::bench
