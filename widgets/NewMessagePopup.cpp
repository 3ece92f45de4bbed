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

namespace velora::widgets {

const char *const NewMessageAlert::Title = "You Have New Message";

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
      sound_(std::make_unique<EffectSoundPlayer>()), popupText_(popupText)
{
    connect(msn_.get(), &NewMessagePopup::clicked, this, [this] { tag_ = 0; });
    connect(msn_.get(), &NewMessagePopup::linkClicked, this, [this] {
        tag_ = 0;
        emit openRequested();
    });
    connect(&msn_->closeTimer(), &QTimer::timeout, this, [this] { tag_ = 0; });
}

NewMessageAlert::~NewMessageAlert() = default;

void NewMessageAlert::announce(bool popupWanted)
{
    if (popupWanted) {
        msn_->popUp(QString::fromLatin1(Title));
        tag_ = 1;
        if (desktop_)
            notifyDesktop();
    }
    sound_->play(notifySoundFile(soundDir_));
}

void NewMessageAlert::notifyDesktop()
{
    // Without a session bus there is nobody to tell; never start one.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return;
    const QString app = QCoreApplication::applicationName();
    const QString body = popupText_;
    // Connecting to the bus waits for its greeting: off the window's thread,
    // which only hands over copies of two texts.
    QThreadPool::globalInstance()->start([app, body] {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        QDBusMessage m = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        m << app << 0u << QString() << QString::fromLatin1(Title) << body << QStringList() << QVariantMap()
          << NewMessagePopup::ShowMs;
        m.setAutoStartService(false);
        // Sent, not called: the reply (or that nobody serves the name) is not awaited.
        bus.send(m);
    });
}

}  // namespace velora::widgets
