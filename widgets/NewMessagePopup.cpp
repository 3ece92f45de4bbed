#include "widgets/NewMessagePopup.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QVariantMap>

#include "common/TextCodec.h"

namespace velora::widgets {

const char *const NewMessageAlert::Title = "You Have New Message";
const char *const NewMessageAlert::ReplyAction = "reply";

namespace {
const QString NotificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString NotificationsPath = QStringLiteral("/org/freedesktop/Notifications");

QString shown(const std::string &cp1252) { return QString::fromStdString(cp1252ToUtf8(cp1252)); }
}  // namespace

void NotificationReplies::expect(uint id, const std::string &name, const std::string &address)
{
    if (!listening_) {
        // The worker that sent the notification has connected the bus by now.
        listening_ = QDBusConnection::sessionBus().connect(QString(), NotificationsPath, NotificationsService,
                                                           QStringLiteral("ActionInvoked"), this,
                                                           SLOT(actionInvoked(uint, QString)));
    }
    senders_[id] = {name, address};
    // Ids only grow: the oldest are those nobody will answer any more.
    while (senders_.size() > MostRemembered)
        senders_.erase(senders_.begin());
}

void NotificationReplies::actionInvoked(uint id, const QString &action)
{
    const auto it = senders_.find(id);
    if (it == senders_.end() || action != QLatin1String(NewMessageAlert::ReplyAction))
        return;
    emit replyRequested(it->second.first, it->second.second);
}

NewMessagePopup::NewMessagePopup(const QString &textValue, bool textIsLink, QWidget *parent)
    : QFrame(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
{
    setObjectName(QStringLiteral("msn"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(230, 92);
    setStyleSheet(QStringLiteral(
        "#msn { border: 1px solid #5b8fc7; background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
        " stop:0 #b9dcff, stop:1 #ffffff); }"
        "#msnTitle { color: #007f7f; font-weight: bold; }"
        "#msnText { color: #0000ff; font-family: Arial; }"));

    title = new QLabel(this);
    title->setObjectName(QStringLiteral("msnTitle"));
    title->setTextFormat(Qt::PlainText);
    text = new QLabel(this);
    text->setObjectName(QStringLiteral("msnText"));
    text->setAlignment(Qt::AlignCenter);
    if (textIsLink) {
        text->setTextFormat(Qt::RichText);
        text->setText(QStringLiteral("<a href=\"read\" style=\"color:#0000ff;\">%1</a>").arg(textValue.toHtmlEscaped()));
        text->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        connect(text, &QLabel::linkActivated, this, [this] {
            hide();
            emit linkClicked();
        });
    } else {
        text->setTextFormat(Qt::PlainText);
        text->setText(textValue);
    }
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->addWidget(title);
    layout->addWidget(text, 1);

    closeTimer_.setSingleShot(true);
    closeTimer_.setInterval(ShowMs);
    connect(&closeTimer_, &QTimer::timeout, this, &QWidget::hide);
}

void NewMessagePopup::popUp(const QString &titleText)
{
    title->setText(titleText);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.right() - width() - 8, area.bottom() - height() - 8);
    }
    show();
    raise();
    closeTimer_.start();
}

void NewMessagePopup::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        hide();
        emit clicked();
    }
    QFrame::mousePressEvent(event);
}

NewMessageAlert::NewMessageAlert(const QString &popupText, bool textIsLink, QObject *parent)
    : QObject(parent), msn_(std::make_unique<NewMessagePopup>(popupText, textIsLink)),
      sound_(std::make_unique<EffectSoundPlayer>()),
      replies_(new NotificationReplies, [](NotificationReplies *r) { r->deleteLater(); })
{
    connect(replies_.get(), &NotificationReplies::replyRequested, this, &NewMessageAlert::replyRequested);
    connect(msn_.get(), &NewMessagePopup::clicked, this, [this] { tag_ = 0; });
    connect(msn_.get(), &NewMessagePopup::linkClicked, this, [this] {
        tag_ = 0;
        emit openRequested();
    });
    connect(&msn_->closeTimer(), &QTimer::timeout, this, [this] { tag_ = 0; });
}

NewMessageAlert::~NewMessageAlert() = default;

void NewMessageAlert::announce(bool popupWanted, const wire::MessageRecord &latest)
{
    if (popupWanted) {
        msn_->popUp(QString::fromLatin1(Title));
        tag_ = 1;
        if (desktop_)
            notifyDesktop(latest);
    }
    sound_->play(notifySoundFile(soundDir_));
}

QString NewMessageAlert::notificationSummary(const wire::MessageRecord &record)
{
    return QStringLiteral("Message from ") + shown(record.senderName);
}

QString NewMessageAlert::notificationBody(const wire::MessageRecord &record)
{
    // Notification services may read the body as markup.
    return record.bodyLines.empty() ? QString() : shown(record.bodyLines.front()).toHtmlEscaped();
}

void NewMessageAlert::notifyDesktop(const wire::MessageRecord &latest)
{
    // Without a session bus there is nobody to tell; never start one.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return;
    const QString app = QCoreApplication::applicationName();
    const QString summary = notificationSummary(latest);
    const QString body = notificationBody(latest);
    const std::string name = latest.senderName, address = latest.senderAddress;
    std::shared_ptr<NotificationReplies> replies = replies_;
    // Connecting to the bus waits for its greeting, and the service answers
    // in its own time: off the window's thread, which hands over copies.
    QThreadPool::globalInstance()->start([app, summary, body, name, address, replies] {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        auto call = [](const QString &method) {
            QDBusMessage m =
                QDBusMessage::createMethodCall(NotificationsService, NotificationsPath, NotificationsService, method);
            m.setAutoStartService(false);
            return m;
        };
        constexpr int AnswerMs = 2000;
        const QDBusMessage caps = bus.call(call(QStringLiteral("GetCapabilities")), QDBus::Block, AnswerMs);
        const bool actions = caps.type() == QDBusMessage::ReplyMessage &&
                             caps.arguments().value(0).toStringList().contains(QStringLiteral("actions"));
        QDBusMessage m = call(QStringLiteral("Notify"));
        m << app << 0u << QString() << summary << body
          << (actions ? QStringList{QString::fromLatin1(ReplyAction), QStringLiteral("Reply")} : QStringList())
          << QVariantMap() << NewMessagePopup::ShowMs;
        if (!actions) {
            bus.send(m);
            return;
        }
        const QDBusMessage reply = bus.call(m, QDBus::Block, AnswerMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            return;
        const uint id = reply.arguments().value(0).toUInt();
        QMetaObject::invokeMethod(
            replies.get(), [replies, id, name, address] { replies->expect(id, name, address); },
            Qt::QueuedConnection);
    });
}

}  // namespace velora::widgets
