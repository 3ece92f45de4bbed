#pragma once
// A small stand-in for the server: speaks the wire bytes on 127.0.0.1, answers
// the login, pushes status records and plays a dial and a hang-up.

#include <memory>
#include <string>
#include <vector>

#include <QObject>
#include <QTcpServer>

#include "common/LineFramer.h"
#include "common/WireCodec.h"

class QTcpSocket;

class FakeServer : public QObject {
    Q_OBJECT
public:
    explicit FakeServer(QObject *parent = nullptr);
    bool listen(quint16 port = 0);
    quint16 port() const { return server_.serverPort(); }

    // Login: accepted when name and password match; no reply at all when
    // silent; a reply line of choice when rawReply is set.
    std::string user = "alice";
    std::string password = "secret";
    std::string unlockAll = "1", dialHangup = "1", shutdown = "1";
    bool silent = false;
    std::string rawReply;
    // Answers "dial" with a progress text, then "Connected"; "hangup" with "READY".
    bool playDial = true;

    velora::wire::StatusRecord status;

    // Every line received, in order, from all connections.
    std::vector<std::string> received;
    std::vector<std::string> loginLines;
    int connections = 0;
    int openConnections() const;

    void push(const std::string &line);        // one push line to every logged-in client
    void pushRaw(const QByteArray &bytes);     // bytes as they are
    void pushStatus();                         // the current status record
    void dropClients();
    int count(const std::string &line) const;

signals:
    void lineReceived(const QByteArray &line);

private:
    struct Client {
        QTcpSocket *socket;
        velora::LineFramer framer;
        bool loggedIn = false;
    };
    void onNewConnection();
    void onLine(Client &c, const std::string &line);
    std::vector<std::unique_ptr<Client>> clients_;
    QTcpServer server_;
};
