#pragma once
// The server's record of one client connection, and of itself (item 0).

#include <string>

class QTcpSocket;

namespace velora::server::clientservice {

class Session;

struct TSimpleClient {
    std::string LockState = "free";
    std::string ClientName = "login";
    std::string Address = "0.0.0.0";
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
