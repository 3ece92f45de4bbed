#pragma once
// A wire client that works on raw bytes, not on the project's codec, so the
// whole-program tests check the bytes a peer of any make would see.

#include <QElapsedTimer>
#include <QTcpSocket>

#include <algorithm>
#include <string>
#include <vector>

namespace velora::test {

// "à" and friends as the single bytes they are on the wire.
inline const std::string F = "\xE0", I = "\xE2", L = "\xE3";

inline std::vector<std::string> splitBy(const std::string &s, char sep)
{
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    return out;
}

// The thirteen items of a push line's status record.
inline std::vector<std::string> statusItems(const std::string &line)
{
    const auto parts = splitBy(line, '\xE0');
    return parts.empty() ? std::vector<std::string>{} : splitBy(parts[0], '\xE2');
}

struct RawClient {
    QTcpSocket socket;
    std::string buffer;

    bool open(quint16 port)
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        return socket.waitForConnected(2000);
    }
    void send(const std::string &bytes)
    {
        socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
        socket.waitForBytesWritten(1000);
    }
    // The next CR LF line without its terminator; "" on time-out.
    std::string line(int ms = 3000)
    {
        QElapsedTimer t;
        t.start();
        while (buffer.find("\r\n") == std::string::npos && t.elapsed() < ms) {
            if (socket.waitForReadyRead(50))
                buffer += socket.readAll().toStdString();
            else if (socket.state() != QAbstractSocket::ConnectedState)
                break;
        }
        const auto end = buffer.find("\r\n");
        if (end == std::string::npos)
            return {};
        std::string l = buffer.substr(0, end);
        buffer.erase(0, end + 2);
        return l;
    }
    // The next push line holding the text; every push line is answered "trm".
    std::string lineWith(const std::string &text, int ms = 8000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            const std::string l = line(ms - static_cast<int>(t.elapsed()));
            if (l.empty())
                return {};
            send("trm" + F + "\r\n");
            if (l.find(text) != std::string::npos)
                return l;
        }
        return {};
    }
    bool closedByPeer(int ms = 3000)
    {
        QElapsedTimer t;
        t.start();
        while (socket.state() == QAbstractSocket::ConnectedState && t.elapsed() < ms)
            socket.waitForReadyRead(50);
        return socket.state() != QAbstractSocket::ConnectedState;
    }
};

// The traffic part (third) of a push line.
inline std::string trafficPart(const std::string &line)
{
    const auto parts = splitBy(line, '\xE0');
    return parts.size() >= 3 ? parts[2] : std::string("<no traffic part>");
}

// Every push line for a while, each answered as a client does.
inline std::vector<std::string> linesFor(RawClient &c, int ms)
{
    std::vector<std::string> lines;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        const std::string l = c.line(std::max(1, ms - static_cast<int>(t.elapsed())));
        if (l.empty())
            break;
        c.send("trm" + F + "\r\n");
        lines.push_back(l);
    }
    return lines;
}

}  // namespace velora::test
