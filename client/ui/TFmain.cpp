// The main window: its construction and the person's actions (settings,
// session, commands, navigation). The widgets are built in TFmainLayout.cpp,
// the view follows the server in TFmainView.cpp.
#include "client/ui/TFmain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>

#include "client/core/WireText.h"
#include "common/Licence.h"
#include "client/ui/TFpassword.h"
#include "widgets/TFsend.h"
#include "widgets/TFmeter.h"
#include "widgets/HelpPage.h"
#include "widgets/TFtip.h"

namespace velora::client::ui {

using core::shownText;
using core::wireText;

const char *const TFmain::OnlineHelpUrl = "https://velora.example.org/help/client/";

namespace {

// The tips that come with the program, for a client folder without its own.
std::string shippedTips()
{
    QFile f(QStringLiteral(":/velora-client/tip.cfg"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

}  // namespace

TFmain::TFmain(core::ClientSettings &settings, core::ClientSession &session, Prompter &prompter, QWidget *parent)
    : QWidget(parent), settings_(settings), session_(session), prompter_(prompter)
{
    setObjectName(QStringLiteral("TFmain"));
    setWindowTitle(QStringLiteral("Velora client"));
    urlOpener = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    buildWindow();
    buildMenus();
    // Texts from the server are shown as they are: a status text that looks
    // like markup must not be rendered as such.
    for (QLabel *label : findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);

    password_ = new TFpassword(settings_, session_, prompter_, this);
    tip_ = new widgets::TFtip(settings_.tipFile().toLocal8Bit().toStdString(), this);
    tip_->setFallbackTips(shippedTips());
    connect(tip_, &widgets::TFtip::saveRequested, this, [this] { savecfg(); });
    buildMeter();

    Timer2.setSingleShot(true);
    Timer2.setInterval(1000);
    connect(&Timer2, &QTimer::timeout, this, &TFmain::Timer2Timer);
    Timer2.start();
    Timer3.setInterval(1000);
    connect(&Timer3, &QTimer::timeout, this, &TFmain::Timer3Timer);
    followUp_.setSingleShot(true);
    connect(&followUp_, &QTimer::timeout, this, &TFmain::restoreView);

    connect(&session_, &core::ClientSession::loginStarted, this, &TFmain::onLoginStarted);
    connect(&session_, &core::ClientSession::loginAccepted, this, &TFmain::onLoginAccepted);
    connect(&session_, &core::ClientSession::loginRefused, this, &TFmain::onLoginRefused);
    // Queued: the error box waits in an event loop of its own, and inside the
    // socket's signal that loop would never hand on a new connection's reply.
    connect(&session_, &core::ClientSession::handshakeFailed, this, &TFmain::onHandshakeFailed,
            Qt::QueuedConnection);
    connect(&session_, &core::ClientSession::disconnectedState, this, &TFmain::onDisconnectedState);
    connect(&session_, &core::ClientSession::connectFailed, this, &TFmain::onConnectFailed);
    session_.trustFirstUse = [this](const std::string &fingerprint) {
        return prompter_.ask("This is the first encrypted connection to this server. Its certificate's "
                             "fingerprint (SHA-256) is\n\n" + fingerprint +
                                 "\n\nAsk the server's operator whether it is the one on the server's "
                                 "configuration page. Trust this server?",
                             {Prompter::Button::Yes, Prompter::Button::No}) == Prompter::Button::Yes;
    };
    // Queued: the warning waits in an event loop of its own.
    connect(
        &session_, &core::ClientSession::fingerprintRefused, this,
        [this](const QString &trusted, const QString &presented, const QString &pinFile) {
            std::string how = "If the server's operator made a new certificate (velora tls renew), check the "
                              "new fingerprint with him";
            how += pinFile.isEmpty() ? std::string(".")
                                     : ", then delete this server's line from " + wireText(pinFile) +
                                           " and connect again to be asked.";
            prompter_.tell(Prompter::Kind::Warning,
                           "The server's certificate has changed: nothing was sent to it.\n\nTrusted fingerprint:\n" +
                               trusted.toStdString() + "\n\nPresented fingerprint:\n" + presented.toStdString() +
                               "\n\nSomeone may be posing as the server. " + how);
        },
        Qt::QueuedConnection);
    connect(
        &session_, &core::ClientSession::loginFailed, this, [this] { error("fail to connect to server"); },
        Qt::QueuedConnection);
    connect(&session_, &core::ClientSession::statusReceived, this, &TFmain::UpdateGUI);
    connect(&session_, &core::ClientSession::connectionLost, this, &TFmain::onConnectionLost);
    connect(&session_, &core::ClientSession::retryScheduled, this, &TFmain::onRetryScheduled);
    // Queued: the window may be asked for from inside a socket's signal.
    connect(&session_, &core::ClientSession::loginNeeded, this, &TFmain::askLogin, Qt::QueuedConnection);

    // Initial appearance.
    Button1->show();
    Button3->hide();
    Button4->hide();
    Button5a->hide();
    Label1->clear();
    Image1->hide();
    Image2->hide();
    Image3->hide();
    Image6->show();
    Image7->hide();
    setTrayImage(core::StatusModel::NoServer);
    hangup1->setEnabled(false);
    dial1->menuAction()->setEnabled(false);
    setCommandsEnabled(false);
    showPanel(PanelNormal);
    buildChat();
}

TFmain::~TFmain()
{
    // A top-level window of its own, not a child of this one.
    delete send_;
}

// ---- settings ----

bool TFmain::loadcfg()
{
    if (!settings_.loadcfg())
        return false;
    using S = core::ClientSettings;
    IPWRITER1->setText(shownText(settings_.value(S::ServerAddress)));
    edport->setText(shownText(settings_.value(S::ServerPort)));
    comboupdate->setEditText(shownText(settings_.value(S::UpdateInterval)));
    combodefault->setEditText(shownText(settings_.value(S::DefaultEntry)));
    preselectEntry();
    ckautoconnect->setChecked(settings_.flag(S::Autoconnect));
    ckminimize->setChecked(settings_.flag(S::Minimize));
    ckstart->setChecked(settings_.autostartEnabled());
    ckreconnect->setChecked(settings_.reconnectAutomatically());
    cktls->setChecked(settings_.flag(S::Encrypted));
    edtlsport->setText(shownText(settings_.value(S::EncryptedPort)));
    edtlsport->setEnabled(cktls->isChecked());
    tip_->CheckBox1->setChecked(settings_.flag(S::ShowTips));
    return true;
}

bool TFmain::savecfg()
{
    core::ClientSettings::PanelValues v;
    v.address = wireText(IPWRITER1->text());
    v.port = wireText(edport->text());
    v.interval = wireText(comboupdate->currentText());
    v.defaultEntry = wireText(combodefault->currentText());
    v.autoconnect = ckautoconnect->isChecked();
    v.minimize = ckminimize->isChecked();
    v.startWithDesktop = ckstart->isChecked();
    v.showTips = tip_->CheckBox1->isChecked();
    v.reconnect = ckreconnect->isChecked();
    v.encrypted = cktls->isChecked();
    v.encryptedPort = wireText(edtlsport->text());
    QString why;
    if (settings_.savecfg(v, QCoreApplication::applicationFilePath(), &why))
        return true;
    error("cannot save the configuration: " + why.toStdString());
    return false;
}

void TFmain::Button6Click()
{
    savedNotice->clear();
    if (!savecfg())
        return;
    savedNotice->setText(QStringLiteral("Configuration saved."));
    if (session_.isOpen())
        prompter_.tell(Prompter::Kind::Information, "disconnet and reconnect again to activate configuration");
}

void TFmain::Timer2Timer()
{
    Timer2.stop();
    loadcfg();
    // A number that does not convert leaves the previous values in use.
    session_.activatecfg();
    if (settings_.flag(core::ClientSettings::Minimize)) {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            hide();
        else
            showMinimized();  // without a tray, hiding would lose the window
    }
    preselectEntry();
    if (settings_.flag(core::ClientSettings::Autoconnect))
        session_.executeconnect(1);
    if (settings_.flag(core::ClientSettings::ShowTips))
        tip_->show();
}

// ---- session ----

void TFmain::Button1Click()
{
    if (session_.state() != core::ClientSession::State::Disconnected)
        return;
    loadcfg();
    QString why;
    if (!session_.activatecfg(&why)) {
        error(why.toStdString());
        return;
    }
    session_.executeconnect(1);
}

void TFmain::Button3Click()
{
    if (session_.state() != core::ClientSession::State::Disconnected) {
        session_.executedisconnect(0);
        return;
    }
    if (!session_.retrying())
        return;
    session_.executedisconnect(0);
    Button1->show();
    Button3->hide();
    connectHelp->hide();
}

void TFmain::connect1Click()
{
    if (session_.state() != core::ClientSession::State::Disconnected) {
        session_.executedisconnect(0);
        return;
    }
    QString why;
    if (!session_.activatecfg(&why)) {
        error(why.toStdString());
        return;
    }
    session_.executeconnect(1);
}

// ---- commands ----

void TFmain::notConnected() { error("Not connected to server"); }

void TFmain::error(const std::string &text) { prompter_.tell(Prompter::Kind::Error, text); }

bool TFmain::dialEntry(const std::string &entry)
{
    if (!session_.isOpen()) {
        notConnected();
        return false;
    }
    setMessage("Dialing...");
    if (!session_.sendDial(entry)) {
        notConnected();
        return false;
    }
    lastDialled_ = entry;
    Button2->hide();
    Button4->show();
    expectStatus();
    return true;
}

void TFmain::Button2Click()
{
    if (session_.isOpen() && ComboBox1->currentIndex() < 0) {
        prompter_.tell(Prompter::Kind::Information, "You have not choose an entry yet");
        return;
    }
    dialEntry(wireText(ComboBox1->currentText()));
}

void TFmain::zanfel(int index)
{
    if (index < 0 || index >= ComboBox1->count())
        return;
    dialEntry(wireText(ComboBox1->itemText(index)));
}

void TFmain::Button4Click()
{
    if (!session_.isOpen())
        return notConnected();
    setMessage("Trying to hangup....");
    if (!session_.sendHangup())
        return notConnected();
    expectStatus();
}

void TFmain::hangup1Click() { session_.sendHangup(); }

void TFmain::Button5Click()
{
    if (!session_.isOpen())
        return notConnected();
    // Our own lock word tells which way the toggle goes.
    setMessage(model_.ownLock == "free" ? "Locking..." : "Unlocking...");
    if (!session_.sendLock())
        return notConnected();
    expectStatus();
}

void TFmain::SpeedButton1Click() { session_.sendUnlockAll(); }

void TFmain::SpeedButton2Click()
{
    // Enter must never shut a computer down.
    if (prompter_.ask("Do you want to shutdown server computer ? ",
                      {Prompter::Button::Yes, Prompter::Button::Cancel}, {},
                      Prompter::Button::Cancel) != Prompter::Button::Yes)
        return;
    if (!session_.sendShutdown())
        return notConnected();
    // The person sees the request went out; the server tells its operator.
    setMessage("Shutdown request sent to the server.");
}

// ---- navigation ----

void TFmain::showPanel(Panel panel)
{
    Panelnormal->setVisible(panel == PanelNormal);
    Panelconfig->setVisible(panel == PanelConfig);
    Panelclientlist->setVisible(panel == PanelClientList);
    Paneltask->setVisible(panel == PanelTask);
    Mainwindow1->setChecked(panel == PanelNormal);
    Configuration2->setChecked(panel == PanelConfig);
    if (panel == PanelConfig)
        savedNotice->clear();
    Clientlist2->setChecked(panel == PanelClientList);
    Task1->setChecked(panel == PanelTask);
}

void TFmain::TrayDblClick()
{
    if (isVisible()) {
        hide();
        return;
    }
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    activateWindow();
}

void TFmain::restore1Click()
{
    if (isVisible())
        hide();
    else
        TrayDblClick();
}

void TFmain::showEvent(QShowEvent *event)
{
    restore1->setText(QStringLiteral("hide"));
    QWidget::showEvent(event);
}

void TFmain::hideEvent(QHideEvent *event)
{
    restore1->setText(QStringLiteral("restore"));
    QWidget::hideEvent(event);
}

void TFmain::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        QSystemTrayIcon::isSystemTrayAvailable() && tray->isVisible())
        QTimer::singleShot(0, this, &QWidget::hide);
    QWidget::changeEvent(event);
}

void TFmain::closeEvent(QCloseEvent *event)
{
    if (closing_) {
        event->accept();
        return;
    }
    if (prompter_.ask("Do you want to close application ?",
                      {Prompter::Button::Yes, Prompter::Button::Cancel}) != Prompter::Button::Yes) {
        event->ignore();
        return;
    }
    closing_ = true;
    event->accept();
    emit closeConfirmed();
}

void TFmain::openHelpFile(const QString &name)
{
    const std::string problem =
        widgets::openHelpPage(settings_.helpFile(name), QStringLiteral("client help"), name, urlOpener);
    if (!problem.empty())
        error(problem);
}

void TFmain::Showhelp1Click() { openHelpFile(QStringLiteral("client.html")); }
void TFmain::Stepbystepshareinternetconnection2Click() { openHelpFile(QStringLiteral("share.html")); }
void TFmain::ipoftheday1Click()
{
    tip_->show();
    tip_->raise();
    tip_->activateWindow();
}
void TFmain::Onlinehelp2Click() { OpenURL(QUrl(QString::fromLatin1(OnlineHelpUrl))); }

bool TFmain::OpenURL(const QUrl &url)
{
    if (urlOpener(url))
        return true;
    error("No web browser could open " + url.toString().toStdString());
    return false;
}

void TFmain::About2Click()
{
    prompter_.tell(Prompter::Kind::Information,
                   "Velora client " + QCoreApplication::applicationVersion().toStdString() +
                       "\nShares the office's dial-up line.\n\nServer version : " +
                       shownText(session_.privileges().serverVersion).toStdString() + "\n\n" + AboutLicence,
                   "About");
}

void TFmain::Userpassword2Click()
{
    password_->openIn(TFpassword::Mode::Edit, QStringLiteral("Edit User/password"));
}

}  // namespace velora::client::ui
