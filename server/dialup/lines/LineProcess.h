#pragma once
// Child processes of the real lines: what a child reports, the tail of what
// a command said, and stopping a child without waiting for it on the event
// loop.

#include <QObject>

#include <functional>
#include <string>
#include <string_view>

class QProcess;

namespace velora::server::dialup {

// The last non-blank line of a child's output as a status text can carry it:
// Windows-1252, no separators or control bytes, at most maxChars long with
// the end kept, since a message's reason comes last.
std::string outputTail(std::string_view output, std::size_t maxChars);

// A dial's child as its line sees it. Each event comes from the event loop,
// never from inside start(); output is either channel having bytes.
struct ChildEvents {
    std::function<void()> started;
    std::function<void()> output;
    std::function<void(int exitCode, bool crashed)> finished;
    std::function<void()> startFailed;
};
// Connects the events to the process; ProcessReaper::retire cuts them off.
void watchChild(QProcess *process, ChildEvents events);

// Owns children that are being stopped: SIGTERM at once, SIGKILL after the
// grace time, deleted once they have exited. Never waits on the event loop.
class ProcessReaper : public QObject {
    Q_OBJECT
public:
    static constexpr int kGraceMs = 3000;
    static constexpr int kKillWaitMs = 1000;
    using QObject::QObject;
    // Stops what is left at the owner's end, blocking (at exit only): SIGTERM
    // to all, one wait of the longest grace time for all, then SIGKILL.
    ~ProcessReaper() override;

    // Takes the process over; a child that has already exited is just deleted.
    void retire(QProcess *process, int graceMs = kGraceMs);
    // Lets a process run to its end (e.g. a disconnect command) and then
    // deletes it; it is killed when it outlives limitMs.
    void adopt(QProcess *process, int limitMs);
    std::size_t count() const;
};

}  // namespace velora::server::dialup
