#pragma once
// Child processes of the real lines: command words, the tail of what a
// command said, and stopping a child without waiting for it on the event loop.

#include <QObject>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QProcess;

namespace velora::server::dialup {

// Splits a command into its words without a shell: blanks separate words;
// "..." groups and inside it \" and \\ stand for " and \; '...' groups
// literally; outside quotes a backslash takes the next character as it is.
// Nothing else is special. Nothing on an unmatched quote.
std::optional<std::vector<std::string>> splitCommand(std::string_view command);

// The last non-blank line of a child's output as a status text can carry it:
// Windows-1252, no separators or control bytes, at most maxChars long with
// the end kept, since a message's reason comes last.
std::string outputTail(std::string_view output, std::size_t maxChars);

// Owns children that are being stopped: SIGTERM at once, SIGKILL after the
// grace time, deleted once they have exited. Never waits on the event loop.
class ProcessReaper : public QObject {
    Q_OBJECT
public:
    static constexpr int kGraceMs = 3000;
    using QObject::QObject;
    // Stops what is left at the owner's end, briefly blocking (at exit only).
    ~ProcessReaper() override;

    // Takes the process over; a child that has already exited is just deleted.
    void retire(QProcess *process, int graceMs = kGraceMs);
    // Lets a process run to its end (e.g. a disconnect command) and then
    // deletes it; it is killed when it outlives limitMs.
    void adopt(QProcess *process, int limitMs);
    std::size_t count() const;
};

}  // namespace velora::server::dialup
