#pragma once
// The core's states that are also words on the wire, in files or in the
// window. The core compares the enums; a word is made (toText) only where a
// line, a file or a window is written, and read (fromText) only where one is
// read. Each word is the exact text the clients and files have always had.

#include <string>
#include <string_view>

namespace velora::server::state {

// Whether the server serves its clients; undecided until start-up has chosen.
enum class ServerMode { Undecided, Online, Offline };

// One client record's hold on the line.
enum class ClientLock { Free, Locking };

// The line as the status record tells it: locked while any record holds it.
// Unset until the first tick has looked at the records.
enum class LineLock { Unset, Free, Locked };

// The connection the dial-up engine reports: none, one that is up, or one in
// any other state (dialling, dropping). Only "up" matters to the core, so the
// other state's own text is not kept.
enum class LinkState { None, Down, Connected };

inline std::string toText(ServerMode m)
{
    switch (m) {
    case ServerMode::Online:
        return "online";
    case ServerMode::Offline:
        return "offline";
    case ServerMode::Undecided:
        break;
    }
    return {};
}

inline ServerMode serverModeFromText(std::string_view t)
{
    return t == "online" ? ServerMode::Online : t == "offline" ? ServerMode::Offline : ServerMode::Undecided;
}

inline std::string toText(ClientLock l) { return l == ClientLock::Locking ? "locking" : "free"; }

inline ClientLock clientLockFromText(std::string_view t)
{
    return t == "locking" ? ClientLock::Locking : ClientLock::Free;
}

inline std::string toText(LineLock l)
{
    switch (l) {
    case LineLock::Free:
        return "free";
    case LineLock::Locked:
        return "locked";
    case LineLock::Unset:
        break;
    }
    return {};
}

inline LineLock lineLockFromText(std::string_view t)
{
    return t == "locked" ? LineLock::Locked : t == "free" ? LineLock::Free : LineLock::Unset;
}

inline std::string toText(LinkState s)
{
    switch (s) {
    case LinkState::Connected:
        return "Connected";
    case LinkState::Down:
        return "Disconnected";
    case LinkState::None:
        break;
    }
    return {};
}

inline LinkState linkStateFromText(std::string_view t)
{
    return t.empty() ? LinkState::None : t == "Connected" ? LinkState::Connected : LinkState::Down;
}

// A 0/1 flag of config.ini or of a user's record: only "1" is on.
inline std::string flagText(bool on) { return on ? "1" : "0"; }
inline bool flagFromText(std::string_view t) { return t == "1"; }

}  // namespace velora::server::state
