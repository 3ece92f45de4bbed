#pragma once
// The client's half of the conversation with the server: connect, log in,
// answer and hand on the push lines, send commands, close. Everything runs on
// the thread that owns the object; nothing here blocks.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "client/core/ClientSettings.h"
#include "client/core/SavedLogin.h"
#include "common/LineFramer.h"
#include "common/WireCodec.h"

class QSslSocket;

namespace velora::client::core {

struct Privileges {
    std::string unlockAll = "0";
    std::string dialHangup = "0";
    std::string shutdown = "0";
    std::string serverVersion = "Not available";
};

class ClientSession : public QObject {
    Q_OBJECT
public:
    enum class State { Disconnected, Connecting, LoggingIn, InSession };

    static constexpr int DefaultConnectTimeoutMs = 10000;
    // The login reply must come within this after the login line; a LAN
    // round trip under load can exceed a tenth of a second.
    static constexpr int DefaultHandshakeTimeoutMs = 5000;
    static constexpr int ReconnectDelayMs = 5000;
    // After a lost session: 2, 4, 8 ... seconds between attempts, at most a minute.
    static constexpr int RetryFirstMs = 2000;
    static constexpr int RetryMaxMs = 60000;
    // A large mailbox can make a push line longer than a command line may be;
    // refusing it would cut the client off for good.
    static constexpr std::size_t MaxPushLineLength = 4 * 1024 * 1024;

    explicit ClientSession(ClientSettings &settings, QObject *parent = nullptr);
    ~ClientSession() override;

    // Applies the settings' host, port and poll interval (the settings fill
    // their own defaults). False with a reason when a number does not convert.
    bool activatecfg(QString *error = nullptr);
    void applySettings(const AppliedSettings &applied);
    const AppliedSettings &applied() const { return applied_; }

    void setConnectTimeout(int ms) { connectTimer_.setInterval(ms); }
    void setHandshakeTimeout(int ms) { handshakeTimer_.setInterval(ms); }

    // Credentials typed in the login window; a remembered login wins over
    // them, and they are used for one login only.
    void setTypedLogin(std::string user, std::string password);
    // For scripts: the given login is used every time, the remembered one never.
    void setFixedLogin(std::string user, std::string password);
    // Encrypted connections: this fingerprint for this run, whatever the
    // client folder trusts (normalised, 64 hex digits).
    void setFixedFingerprint(std::string fingerprint) { fixedFingerprint_ = std::move(fingerprint); }
    // Asked when the server's certificate is not known yet, with its
    // fingerprint; true trusts it from now on. Unset: not trusted.
    std::function<bool(const std::string &fingerprint)> trustFirstUse;
    // A login with a user name can go out: fixed, typed or remembered (a
    // remembered one that cannot be read counts, so that its fault is told).
    bool hasLogin() const;

    // Starts a connection attempt; the want-connected flag becomes flag.
    // Does nothing while an attempt or a session is under way, but for the
    // meter's subscription, sent again on an open connection. Without a
    // login to send it connects nowhere and asks for one (loginNeeded).
    void executeconnect(int flag);
    // Whether the meter window is active; the window sets it.
    std::function<bool()> meterActive;
    // Closes the connection; the want-connected flag becomes flag.
    void executedisconnect(int flag);

    State state() const { return state_; }
    bool isOpen() const;
    bool inSession() const { return state_ == State::InSession; }
    int wantConnected() const { return wantConnected_; }
    const Privileges &privileges() const { return privileges_; }
    const std::string &localHostName() const { return localHostName_; }
    const std::string &localAddress() const { return localAddress_; }
    int pollCounter() const { return pollCounter_; }
    QTimer &pollTimer() { return pollTimer_; }
    QTimer &reconnectTimer() { return reconnectTimer_; }
    // The attempts after a lost session, while the person wants to be connected.
    QTimer &retryTimer() { return retryTimer_; }
    bool retrying() const { return retrying_; }

    // Commands; false when no connection is open (nothing is sent then).
    bool sendDial(const std::string &entry);
    bool sendHangup();
    bool sendLock();
    bool sendUnlockAll();
    bool sendShutdown();
    // "pesan": a message record to an address or "All".
    bool sendMessage(const std::string &recipient, const std::string &record);
    bool sendLine(const std::string &line);

    // Ticks, called by their timers (and directly by tests).
    void pollTick();          // the poll timer: counter, lost-connection check
    void handshakeTimeout();  // no login reply in time
    void connectTimeout();    // the server did not accept in time
    void reconnectTick();     // once, a while after a resume
    void retryTick();         // the next attempt after a lost session

    // From the sleep watcher.
    void systemSuspending();
    void systemResumed();

signals:
    void loginStarted();                           // TCP is up, the login line goes out next
    void connectFailed(const QString &reason);     // the attempt failed; nothing else changed
    void loginFailed();                            // the remembered login cannot be used
    void loginNeeded();                            // nothing to log in with: ask the person
    // The session ended without the person asking, and why.
    void connectionLost(const QString &reason);
    // The next attempt after a lost session starts in this many seconds.
    void retryScheduled(int seconds);
    void loginAccepted();
    // The certificate is not the one trusted: nothing was sent. pinFile is
    // empty when the trusted one was given for this run only.
    void fingerprintRefused(const QString &trusted, const QString &presented, const QString &pinFile);
    // A new certificate the person (or the script) did not trust.
    void fingerprintNotTrusted(const QString &presented);
    void loginRefused(const std::string &reason);  // after the reset
    void handshakeFailed();                        // after the reset
    void disconnectedState();                      // the reset
    void statusReceived(const velora::wire::StatusRecord &record);
    void messagesReceived(const std::vector<velora::wire::MessageRecord> &records);
    void trafficReceived(const std::string &download, const std::string &upload);

private:
    void onConnected();
    // TLS is up: the certificate is checked before the login goes out.
    void onEncrypted();
    void sendLogin();
    void onReadyRead();
    void onSocketError();
    void onSocketDisconnected();
    void handleLoginReply(const std::string &line);
    // Hands on the queued lines, within a time budget unless told otherwise,
    // so that a backlog never holds the window for long.
    void drain(bool unbounded = false);
    // The reset that the window calls "disconnect".
    void enterDisconnected();
    // A lost session or a failed retry: the next attempt, if wanted.
    void scheduleRetry();
    void stopRetrying();
    // The session was lost: say why and try again if wanted.
    void lose();

    ClientSettings &settings_;
    AppliedSettings applied_;
    QSslSocket *socket_ = nullptr;
    LineFramer framer_{MaxPushLineLength};
    State state_ = State::Disconnected;
    int wantConnected_ = 0;
    int pollCounter_ = 0;
    Privileges privileges_;
    std::string localHostName_;
    std::string localAddress_;
    std::string typedUser_;
    std::string typedPassword_;
    bool fixedLogin_ = false;
    std::string fixedFingerprint_;
    LoginCredentials lastLogin_;
    QTimer pollTimer_;
    QTimer handshakeTimer_;
    QTimer connectTimer_;
    QTimer reconnectTimer_;
    QTimer retryTimer_;
    int retryDelayMs_ = RetryFirstMs;
    bool retrying_ = false;
    std::vector<std::string> pending_;
    std::size_t pendingPos_ = 0;
    bool drainScheduled_ = false;
    bool resetting_ = false;
};

}  // namespace velora::client::core
