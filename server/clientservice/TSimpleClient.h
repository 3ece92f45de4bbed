#pragma once
// The server's record of one client connection, and of itself (item 0).

#include <cstdint>
#include <string>

#include "server/state/StateWords.h"

class QTcpSocket;

namespace velora::server::clientservice {

class Session;

struct TSimpleClient {
    state::ClientLock LockState = state::ClientLock::Free;
    std::string ClientName = "login";
    std::string Address = "0.0.0.0";
    // The user it logged in as, for the audit trail.
    std::string UserName;
    // When it last took the lock, in seconds since the epoch; 0 while free.
    std::int64_t LockedSince = 0;
    std::string Mailbox;
    bool PushPending = false;
    bool MeterWanted = false;
    std::string Alive = "1";
    // Sent "dial" or "hangup": the next tick pushes the status record to it
    // even when the status did not follow, so its view does not stick.
    bool StatusOwed = false;
    // The connection; none for the server's own record.
    Session *session = nullptr;
};

}  // namespace velora::server::clientservice
