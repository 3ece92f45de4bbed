#include "support/FakeServer.h"

#include <QTcpSocket>
#include <QTimer>

#include "common/CredentialCipher.h"


using namespace velora;

FakeServer::FakeServer(QObject *parent) : QObject(parent), server_(this)
{
    status.statusText = "READY";
    status.activeEntry = "--";
    status.lockStatus = "free";
    status.speedValue = "0";
    status.activeDevice = "--";
    status.entryNames = {"Office", "Home", "Backup"};
    status.clientNames = {"server"};
    status.clientLocks = {"free"};
    status.clientAddresses = {"127.0.0.1"};
    status.ownLock = "free";
    status.secondsOnline = "0";
    connect(&server_, &QTcpServer::newConnection, this, &FakeServer::onNewConnection);
}

bool FakeServer::listen(quint16 port) { return server_.listen(QHostAddress::LocalHost, port); }

int FakeServer::openConnections() const
{
    int n = 0;
    for (const auto &c : clients_)
        n += c->socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return n;
}

void FakeServer::onNewConnection()
{
    while (QTcpSocket *s = server_.nextPendingConnection()) {
        ++connections;
        clients_.push_back(std::make_unique<Client>(Client{s, LineFramer{}}));
        Client *c = clients_.back().get();
        connect(s, &QTcpSocket::readyRead, this, [this, c] {
            const QByteArray data = c->socket->readAll();
            std::vector<std::string> lines;
            c->framer.feed(std::string_view(data.constData(), static_cast<std::size_t>(data.size())), lines);
            for (const auto &l : lines)
                onLine(*c, l);
        });
    }
}

void FakeServer::onLine(Client &c, const std::string &line)
{
    received.push_back(line);
    emit lineReceived(QByteArray::fromStdString(line));
    const auto f = wire::parseCommandLine(line);
    const std::string &word = wire::at(f, 0);
    auto send = [&c](const std::string &l) {
        const std::string bytes = wire::terminated(l);
        c.socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
    };
    if (word == "connect") {
        loginLines.push_back(line);
        if (silent)
            return;
        if (!rawReply.empty()) {
            send(rawReply);
            return;
        }
        const auto pw = Decrypt(wire::at(f, 4));
        if (wire::at(f, 3) == user && pw && *pw == password) {
            send(wire::buildLoginAccepted("Test user", unlockAll, dialHangup, shutdown));
            c.loggedIn = true;
        } else {
            send(wire::buildLoginRefused("wrong username/password"));
            c.socket->disconnectFromHost();
        }
    } else if (word == "stat") {
        pushStatus();
    } else if (word == "dial" && playDial) {
        const std::string entry = wire::at(f, 1);
        QTimer::singleShot(10, this, [this, entry] {
            status.statusText = "Dialing";
            status.activeEntry = entry;
            pushStatus();
            QTimer::singleShot(10, this, [this] {
                status.statusText = "Connected";
                status.speedValue = "115200";
                status.activeDevice = "modem0";
                status.secondsOnline = "1";
                pushStatus();
            });
        });
    } else if (word == "hangup" && playDial) {
        QTimer::singleShot(10, this, [this] {
            status.statusText = "READY";
            status.activeEntry = "--";
            status.speedValue = "0";
            status.activeDevice = "--";
            status.secondsOnline = "0";
            pushStatus();
        });
    }
}

void FakeServer::pushRaw(const QByteArray &bytes)
{
    for (const auto &c : clients_)
        if (c->loggedIn && c->socket->state() == QAbstractSocket::ConnectedState)
            c->socket->write(bytes);
}

void FakeServer::push(const std::string &line)
{
    pushRaw(QByteArray::fromStdString(wire::terminated(line)));
}

void FakeServer::pushStatus()
{
    push(wire::buildPushLine(wire::buildStatusRecord(status), "", ""));
}

void FakeServer::dropClients()
{
    for (const auto &c : clients_)
        c->socket->disconnectFromHost();
}

int FakeServer::count(const std::string &line) const
{
    int n = 0;
    for (const auto &l : received)
        n += l == line ? 1 : 0;
    return n;
}
