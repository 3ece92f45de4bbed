#pragma once
// What the main window shows of the server's line: the values of the last
// status record, the local online clock, and the rules that derive buttons,
// icons and the tray hint from them. Texts are Windows-1252 bytes.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/WireCodec.h"

namespace velora::client::core {

class StatusModel {
public:
    // Tray images.
    enum TrayImage { NoServer = 0, LineConnected = 1, LineNotConnected = 2 };
    enum class LockIcon { Hidden, Shown, Unchanged };

    // What UpdateGUI decides beyond the labels.
    struct Controls {
        bool dialEnabled = false;        // Button2 and Button4
        bool trayDialEnabled = false;
        bool trayHangupEnabled = false;
        LockIcon lockIcon = LockIcon::Unchanged;
        bool showUnlock = false;         // Button5a instead of Button5
        bool showHangup = false;         // Button4 instead of Button2
        bool lineConnected = false;      // Image1 instead of Image2
        int trayImage = NoServer;
    };

    // The most entries and client rows taken from one record. Every entry
    // becomes a menu item and two list items; a record with tens of thousands
    // would hold the window for seconds each time it arrives.
    static constexpr std::size_t MaxEntries = 200;
    static constexpr std::size_t MaxClients = 500;

    StatusModel() { reset(); }

    // The values shown while there is no session.
    void reset();

    // Takes items 1 to 13. Returns false when item 13 is not a whole number:
    // the earlier values are taken, the rest of the update is skipped.
    // `now` (seconds since the epoch) is when a record is first seen locking.
    bool apply(const wire::StatusRecord &record, std::int64_t now = wallClock());
    static std::int64_t wallClock();
    Controls controls(const std::string &dialHangupPrivilege) const;

    // The one-second clock: counts while connected, "--" when idle.
    void clockTick();

    // The status text, or the client's own progress text until the next record.
    std::string message;
    std::string activeEntry;    // "Connected via"
    std::string lockStatus;     // line lock word
    std::string errorNotice;
    std::string speed;
    std::string device;
    std::string onlineText;     // "Time Online"
    std::string ownLock;
    std::vector<std::string> entries;
    std::vector<std::string> clientNames;
    std::vector<std::string> clientLocks;
    std::vector<std::string> clientAddresses;
    // Beside each client: since when this client has seen it locking; 0 when free.
    std::vector<std::int64_t> clientLockedSince;
    // The first record holding the lock, and since when; empty while free.
    std::string lockHolder;
    std::int64_t lockHolderSince = 0;
    std::uint64_t secondsOnline = 0;

    // Four lines when an entry and a speed are known, else the status text.
    std::string shortOrFullHint() const;
    std::string fullHint() const;

private:
    // Name and address of each record seen locking, and when it was first seen so.
    std::map<std::pair<std::string, std::string>, std::int64_t> lockingSeen_;
};

}  // namespace velora::client::core
