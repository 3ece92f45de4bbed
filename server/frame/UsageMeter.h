#pragma once
// Who used the shared line: while a dial shares it ([dial] ICS=1) the usage
// counters count on the line's interface; they are read at each whole
// minute online and once more when the line has dropped, and what they
// gained since the previous read goes into the day's rows of UsageBook. A
// counter smaller than at the previous read was made again: all of it is new.

#include <QDate>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "server/log/UsageBook.h"
#include "server/sharing/UsageCounters.h"
#include "server/state/ServerState.h"

namespace velora::server::frame {

class UsageMeter : public QObject {
    Q_OBJECT
public:
    struct Parts {
        sharing::UsageCounters &counters;
        log::LogDatabase &log;
        // The interface of the connected entry; empty while not known.
        std::function<std::string()> lineInterface;
        // Who is at an address: a logged-in client's name, else the address.
        std::function<std::string(const std::string &address)> nameOf;
        // The name of this computer's row.
        std::function<std::string()> ownName;
        // The day the bytes are booked on; today when not given.
        std::function<QDate()> today;
    };

    UsageMeter(state::ServerState &state, Parts parts, QObject *parent = nullptr);

    // Online-time tick, before SecondsOnline advances.
    void secondTick();
    // One read now, its gains booked; false when nothing could be read.
    bool readNow();

    log::UsageBook &book() { return book_; }
    QDate today() const { return parts_.today ? parts_.today() : QDate::currentDate(); }
    // The cycle of today for a billing day, and its rows.
    std::optional<log::CycleUsage> thisCycle(int billingDay, std::uint64_t capBytes);
    std::optional<std::uint64_t> bytesThisCycle(int billingDay);

signals:
    // New bytes are in the book.
    void usageChanged();
    void problem(const QString &text);

private:
    void tellOnce(const std::string &text);

    state::ServerState &state_;
    Parts parts_;
    log::UsageBook book_;
    struct Counts {
        std::uint64_t down = 0, up = 0;
    };
    std::map<std::string, Counts> last_;  // as read last time, by address
    Counts lastOwn_;
    std::string counting_;  // the interface counted on, empty when none
    bool readThisRun_ = false;
    bool failureTold_ = false;
};

}  // namespace velora::server::frame
