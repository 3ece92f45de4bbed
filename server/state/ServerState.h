#pragma once
// The server's process-wide state: what the ticks, the dial-up engine and the
// client sessions share. One instance, owned by the composition root and
// handed by reference to the modules; everything runs on the one event loop,
// so a tick always sees each change whole. Texts are Windows-1252 bytes.

#include <cstdint>
#include <string>
#include <vector>

#include "server/state/StateWords.h"

namespace velora::server::state {

// The six [dial] keys as read at the latest dial.
struct DialSettings {
    bool keepalive = false;
    bool ics = false;
    std::string pingip;
    bool smtpautorelay = false;
    std::string smtpport;
    bool connectionlogging = false;
};

struct ServerState {
    std::string BaseDir;
    std::string StatusText = "READY";
    LinkState ActiveStatus = LinkState::None;
    std::string ActiveEntry;
    std::string ActiveDevice;
    std::string DialEventText;
    std::string ErrorNotice;
    LineLock LockStatus = LineLock::Unset;
    ServerMode ServerState = ServerMode::Undecided;
    // The latest dial that no connection has come of yet: who asked for it
    // and its entry. The connection of that entry takes it when it comes up.
    std::string DialerName;
    std::string DialedEntry;
    // Who dialled the connection that is up; what its log row names.
    std::string ConnectionDialer;
    std::uint64_t SecondsOnline = 0;
    std::string TimeOnlineText;
    std::string SpeedText = "--";
    std::string SpeedValue;
    bool HangupRequested = false;
    int StatusChanged = 0;
    std::vector<std::string> EntryNames;
    std::string EntryListText;
    DialSettings dialSettings;
    int PollingMinutes = 0;
    bool SmtpRelayStarted = false;
    int ShutdownFlags = 0;
    bool ServiceMode = false;
    // The status record of the previous tick; "w" makes the first tick a change.
    std::string LastStatusRecord = "w";
};

}  // namespace velora::server::state
