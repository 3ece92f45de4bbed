#pragma once
// The new-message popup `msn`: a small frameless window near the tray corner
// that never takes the focus and closes itself after a few seconds, and the
// announcement of new messages (popup, desktop notification, sound) that both
// programs make the same way.

#include <QFrame>
#include <QObject>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "common/WireCodec.h"

#include "widgets/SoundPlayer.h"

class QLabel;

namespace velora::widgets {

class NewMessagePopup : public QFrame {
    Q_OBJECT
public:
    static constexpr int ShowMs = 6000;

    // textIsLink: the text is a link of its own, clicked apart from the popup.
    NewMessagePopup(const QString &text, bool textIsLink, QWidget *parent = nullptr);

    // Shows the popup in the corner of the screen where the tray is.
    void popUp(const QString &title);
    QTimer &closeTimer() { return closeTimer_; }

    QLabel *title = nullptr;
    QLabel *text = nullptr;

signals:
    void clicked();
    void linkClicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QTimer closeTimer_;
};

// The desktop notifications' answers, on the window's thread: which
// notification is whose, and the "Reply" clicked on one of them.
class NotificationReplies : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t MostRemembered = 64;
    // A notification offering "Reply" to this sender (Windows-1252 bytes).
    void expect(uint id, const std::string &name, const std::string &address);

signals:
    void replyRequested(const std::string &name, const std::string &address);

private slots:
    void actionInvoked(uint id, const QString &action);

private:
    std::map<uint, std::pair<std::string, std::string>> senders_;
    bool listening_ = false;
};

class NewMessageAlert : public QObject {
    Q_OBJECT
public:
    NewMessageAlert(const QString &popupText, bool textIsLink, QObject *parent = nullptr);
    ~NewMessageAlert() override;

    // The sound file is looked up in dataDir at each announcement.
    void setSoundDir(const QString &dataDir) { soundDir_ = dataDir; }
    void setSoundPlayer(std::unique_ptr<SoundPlayer> player) { sound_ = std::move(player); }
    // Off, nothing goes to the session bus (tests turn it off).
    void setDesktopNotifications(bool on) { desktop_ = on; }

    // Messages were shown, the newest of them `latest`: the popup and the
    // desktop notification when they are wanted, the sound in any case.
    void announce(bool popupWanted, const wire::MessageRecord &latest);

    NewMessagePopup *popup() const { return msn_.get(); }
    // 1 while the popup is up and not yet acknowledged.
    int tag() const { return tag_; }

    static const char *const Title;
    static const char *const ReplyAction;
    // The desktop notification's texts for a message: who sent it, its first line.
    static QString notificationSummary(const wire::MessageRecord &record);
    static QString notificationBody(const wire::MessageRecord &record);

signals:
    // The popup's link: show the send-message window.
    void openRequested();
    // "Reply" on the desktop notification: the send window, addressed to the sender.
    void replyRequested(const std::string &name, const std::string &address);

private:
    void notifyDesktop(const wire::MessageRecord &latest);

    std::unique_ptr<NewMessagePopup> msn_;
    std::unique_ptr<SoundPlayer> sound_;
    QString soundDir_;
    // Deleted on its own thread once the last notification let go of it.
    std::shared_ptr<NotificationReplies> replies_;
    bool desktop_ = true;
    int tag_ = 0;
};

}  // namespace velora::widgets
