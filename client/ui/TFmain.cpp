#include "client/ui/TFmain.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "client/ui/ClientIcons.h"
#include "client/ui/TFpassword.h"
#include "widgets/TFtip.h"
#include "common/TextCodec.h"

namespace velora::client::ui {

const char *const TFmain::OnlineHelpUrl = "https://velora.example.org/help/client/";

namespace {

QString shown(const std::string &cp1252) { return QString::fromStdString(cp1252ToUtf8(cp1252)); }
std::string typed(const QString &text) { return typedToWire(text.toStdString()); }

template <typename W>
W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QAction *namedAction(QMenu *menu, const char *text, const char *name)
{
    QAction *a = menu->addAction(QString::fromUtf8(text));
    a->setObjectName(QLatin1String(name));
    return a;
}

QLabel *icon(QWidget *parent, const char *name, const QPixmap &pixmap)
{
    auto *l = named(new QLabel(parent), name);
    l->setPixmap(pixmap);
    l->setFixedSize(pixmap.size());
    return l;
}

// Refills an editable combo's list and keeps what its edit field shows.
void refill(QComboBox *combo, const std::vector<std::string> &items)
{
    const QString text = combo->currentText();
    combo->blockSignals(true);
    combo->clear();
    for (const auto &i : items)
        combo->addItem(shown(i));
    combo->setCurrentIndex(-1);
    combo->setEditText(text);
    combo->blockSignals(false);
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
    connect(tip_, &widgets::TFtip::saveRequested, this, [this] { savecfg(); });

    Timer2.setSingleShot(true);
    Timer2.setInterval(1000);
    connect(&Timer2, &QTimer::timeout, this, &TFmain::Timer2Timer);
    Timer2.start();
    Timer3.setInterval(1000);
    connect(&Timer3, &QTimer::timeout, this, &TFmain::Timer3Timer);

    connect(&session_, &core::ClientSession::loginStarted, this, &TFmain::onLoginStarted);
    connect(&session_, &core::ClientSession::loginAccepted, this, &TFmain::onLoginAccepted);
    connect(&session_, &core::ClientSession::loginRefused, this, &TFmain::onLoginRefused);
    // Queued: the error box waits in an event loop of its own, and inside the
    // socket's signal that loop would never hand on a new connection's reply.
    connect(&session_, &core::ClientSession::handshakeFailed, this, &TFmain::onHandshakeFailed,
            Qt::QueuedConnection);
    connect(&session_, &core::ClientSession::disconnectedState, this, &TFmain::onDisconnectedState);
    connect(&session_, &core::ClientSession::connectFailed, this, &TFmain::onConnectFailed);
    connect(
        &session_, &core::ClientSession::loginFailed, this, [this] { error("fail to connect to server"); },
        Qt::QueuedConnection);
    connect(&session_, &core::ClientSession::statusReceived, this, &TFmain::UpdateGUI);

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
    showPanel(PanelNormal);
}

TFmain::~TFmain() = default;

void TFmain::buildWindow()
{
    auto *outer = new QVBoxLayout(this);

    // Top bar.
    auto *top = new QHBoxLayout;
    SpeedButton4 = named(new QToolButton(this), "SpeedButton4");
    SpeedButton4->setText(QStringLiteral("Menu"));
    SpeedButton4->setToolButtonStyle(Qt::ToolButtonTextOnly);
    top->addWidget(SpeedButton4);
    top->addSpacing(8);
    top->addWidget(new QLabel(QStringLiteral("Entry : "), this));
    ComboBox1 = named(new QComboBox(this), "ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setToolTip(QStringLiteral("Choose dialup entry to dial"));
    ComboBox1->setMinimumWidth(180);
    top->addWidget(ComboBox1, 1);
    top->addSpacing(8);
    Image6 = icon(this, "Image6", icons::serverOffline());
    Image6->setToolTip(QStringLiteral("Not connected to server"));
    Image3 = icon(this, "Image3", icons::serverOnline());
    Image3->setToolTip(QStringLiteral("Connected to server"));
    Image1 = icon(this, "Image1", icons::lineConnected());
    Image1->setToolTip(QStringLiteral("Line connected"));
    Image2 = icon(this, "Image2", icons::lineIdle());
    Image2->setToolTip(QStringLiteral("Line not connected"));
    Image7 = icon(this, "Image7", icons::locked());
    Image7->setToolTip(QStringLiteral("Line locked"));
    // Fixed slots, so that the entry combo does not move as icons come and go.
    auto *iconBox = new QWidget(this);
    auto *iconRow = new QHBoxLayout(iconBox);
    iconRow->setContentsMargins(0, 0, 0, 0);
    iconRow->setSpacing(6);
    for (QLabel *l : {Image6, Image3, Image1, Image2, Image7})
        iconRow->addWidget(l);
    iconRow->addStretch();
    iconBox->setFixedWidth(3 * 24 + 2 * 6);
    top->addWidget(iconBox);
    outer->addLayout(top);

    auto *body = new QHBoxLayout;
    auto *panels = new QVBoxLayout;

    // Main view.
    Panelnormal = named(new QWidget(this), "Panelnormal");
    auto *grid = new QGridLayout(Panelnormal);
    grid->setColumnStretch(1, 1);
    int row = 0;
    auto pair = [&](const char *caption, const char *name) {
        grid->addWidget(new QLabel(QString::fromUtf8(caption), Panelnormal), row, 0);
        auto *value = named(new QLabel(QStringLiteral("--"), Panelnormal), name);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(value, row++, 1);
        return value;
    };
    Label8 = pair("Connected via     :", "Label8");
    Label4 = pair("Time Online         : ", "Label4");
    Label6 = pair("Lock status          :", "Label6");
    Label21 = pair("Speed                  :", "Label21");
    Label22 = pair("Device name       :", "Label22");
    Label1 = pair("Server Message  :", "Label1");
    Label1->setWordWrap(true);
    Label14 = named(new QLabel(Panelnormal), "Label14");
    Label14->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
    grid->addWidget(Label14, row++, 0, 1, 2);
    grid->setRowStretch(row, 1);
    panels->addWidget(Panelnormal);

    // Configuration.
    Panelconfig = named(new QWidget(this), "Panelconfig");
    auto *form = new QFormLayout(Panelconfig);
    IPWRITER1 = named(new QLineEdit(QStringLiteral("0.0.0.0"), Panelconfig), "IPWRITER1");
    form->addRow(QStringLiteral("Server address :"), IPWRITER1);
    auto *portRow = new QHBoxLayout;
    edport = named(new QLineEdit(Panelconfig), "edport");
    edport->setMaximumWidth(80);
    portRow->addWidget(edport);
    portRow->addWidget(new QLabel(QStringLiteral("default:  225"), Panelconfig));
    portRow->addStretch();
    form->addRow(QStringLiteral("Server port :"), portRow);
    comboupdate = named(new QComboBox(Panelconfig), "comboupdate");
    comboupdate->setEditable(true);
    comboupdate->addItems({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                           QStringLiteral("4"), QStringLiteral("5")});
    comboupdate->setCurrentIndex(-1);
    auto *updateLabel = new QLabel(QStringLiteral("Update interval :"), Panelconfig);
    form->addRow(updateLabel, comboupdate);
    // Pushed lines arrive at once, so the poll interval is no longer worth a control.
    updateLabel->hide();
    comboupdate->hide();
    combodefault = named(new QComboBox(Panelconfig), "combodefault");
    combodefault->setEditable(true);
    form->addRow(QStringLiteral("Default entry :"), combodefault);
    ckautoconnect = named(new QCheckBox(QStringLiteral("Autoconnect on startup"), Panelconfig), "ckautoconnect");
    ckminimize = named(new QCheckBox(QStringLiteral("Minimize client on startup"), Panelconfig), "ckminimize");
    ckstart = named(new QCheckBox(QStringLiteral("Start with windows"), Panelconfig), "ckstart");
    form->addRow(ckautoconnect);
    form->addRow(ckminimize);
    form->addRow(ckstart);
    Button6 = named(new QPushButton(QStringLiteral("   save   "), Panelconfig), "Button6");
    form->addRow(QString(), Button6);
    Button6->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    connect(Button6, &QPushButton::clicked, this, &TFmain::Button6Click);
    panels->addWidget(Panelconfig);

    // Client list.
    Panelclientlist = named(new QWidget(this), "Panelclientlist");
    auto *listLayout = new QVBoxLayout(Panelclientlist);
    Lvclient = named(new QTreeWidget(Panelclientlist), "Lvclient");
    Lvclient->setHeaderLabels({QStringLiteral("Client"), QStringLiteral("Lock"), QStringLiteral("Address")});
    Lvclient->setRootIsDecorated(false);
    Lvclient->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    listLayout->addWidget(Lvclient);
    SpeedButton1 = named(new QPushButton(QStringLiteral("release all lock "), Panelclientlist), "SpeedButton1");
    listLayout->addWidget(SpeedButton1, 0, Qt::AlignRight);
    connect(SpeedButton1, &QPushButton::clicked, this, &TFmain::SpeedButton1Click);
    panels->addWidget(Panelclientlist);

    // Task.
    Paneltask = named(new QWidget(this), "Paneltask");
    auto *task = new QHBoxLayout(Paneltask);
    task->addWidget(new QLabel(QStringLiteral("Shutdown server computer  "), Paneltask));
    SpeedButton2 = named(new QPushButton(QStringLiteral(" Shutdown "), Paneltask), "SpeedButton2");
    task->addWidget(SpeedButton2);
    task->addStretch();
    connect(SpeedButton2, &QPushButton::clicked, this, &TFmain::SpeedButton2Click);
    panels->addWidget(Paneltask);

    body->addLayout(panels, 1);

    // The large buttons, one of each pair visible.
    auto *column = new QVBoxLayout;
    auto big = [&](const char *text, const char *name) {
        auto *b = named(new QPushButton(QString::fromUtf8(text), this), name);
        b->setMinimumSize(110, 36);
        column->addWidget(b);
        return b;
    };
    Button1 = big("Connect", "Button1");
    Button3 = big(" Disconnect", "Button3");
    Button5 = big(" Lock", "Button5");
    Button5a = big(" Unlock", "Button5a");
    Button2 = big(" Dial", "Button2");
    Button4 = big(" Hungup", "Button4");
    column->addStretch();
    body->addLayout(column);
    outer->addLayout(body, 1);

    connect(Button1, &QPushButton::clicked, this, &TFmain::Button1Click);
    connect(Button3, &QPushButton::clicked, this, &TFmain::Button3Click);
    connect(Button2, &QPushButton::clicked, this, &TFmain::Button2Click);
    connect(Button4, &QPushButton::clicked, this, &TFmain::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TFmain::Button5Click);
    connect(Button5a, &QPushButton::clicked, this, &TFmain::Button5Click);
    connect(SpeedButton4, &QToolButton::clicked, this, [this] { PopupMenu3->popup(QCursor::pos()); });

    resize(560, 300);
}

void TFmain::buildMenus()
{
    // Tray menu.
    PopupMenu1 = named(new QMenu(this), "PopupMenu1");
    restore1 = namedAction(PopupMenu1, "hide", "restore1");
    connect1 = namedAction(PopupMenu1, "connect", "connect1");
    dial1 = named(PopupMenu1->addMenu(QStringLiteral("dial")), "dial1");
    dial1->menuAction()->setObjectName(QStringLiteral("dial1"));
    hangup1 = namedAction(PopupMenu1, "hang up", "hangup1");
    sendmessage1 = namedAction(PopupMenu1, "send message", "sendmessage1");
    Bandwidthmeter1 = namedAction(PopupMenu1, "Bandwidth meter", "Bandwidthmeter1");
    PopupMenu1->addSeparator();
    exit1 = namedAction(PopupMenu1, "exit", "exit1");
    connect(restore1, &QAction::triggered, this, &TFmain::restore1Click);
    connect(connect1, &QAction::triggered, this, &TFmain::connect1Click);
    connect(hangup1, &QAction::triggered, this, &TFmain::hangup1Click);
    connect(exit1, &QAction::triggered, this, &QWidget::close);

    tray = new QSystemTrayIcon(this);
    tray->setObjectName(QStringLiteral("tray"));
    tray->setContextMenu(PopupMenu1);
    connect(tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick)
            TrayDblClick();
    });
    if (QSystemTrayIcon::isSystemTrayAvailable())
        tray->show();

    // Main menu.
    PopupMenu3 = named(new QMenu(this), "PopupMenu3");
    QMenu *view = PopupMenu3->addMenu(QStringLiteral("View"));
    auto *group = new QActionGroup(this);
    Mainwindow1 = namedAction(view, "Main window", "Mainwindow1");
    Configuration2 = namedAction(view, "Configuration", "Configuration2");
    Clientlist2 = namedAction(view, "Client list", "Clientlist2");
    Task1 = namedAction(view, "Task", "Task1");
    const Panel order[] = {PanelNormal, PanelConfig, PanelClientList, PanelTask};
    int i = 0;
    for (QAction *a : {Mainwindow1, Configuration2, Clientlist2, Task1}) {
        a->setCheckable(true);
        group->addAction(a);
        const Panel p = order[i++];
        connect(a, &QAction::triggered, this, [this, p] { showPanel(p); });
    }
    Sendmessege1 = namedAction(PopupMenu3, "Send messege", "Sendmessege1");
    Bandwidthmeter2 = namedAction(PopupMenu3, "Bandwidth meter", "Bandwidthmeter2");
    // Chat and the meter come with their own windows later.
    for (QAction *a : {Sendmessege1, Bandwidthmeter2, sendmessage1, Bandwidthmeter1})
        a->setEnabled(false);
    QMenu *login = PopupMenu3->addMenu(QStringLiteral("Login"));
    Userpassword2 = namedAction(login, "User / password", "Userpassword2");
    connect(Userpassword2, &QAction::triggered, this, &TFmain::Userpassword2Click);
    QMenu *help = PopupMenu3->addMenu(QStringLiteral("Help"));
    Showhelp1 = namedAction(help, "Show help", "Showhelp1");
    Stepbystepshareinternetconnection2 = namedAction(help, "Step by step to share internet connection",
                                                     "Stepbystepshareinternetconnection2");
    ipoftheday1 = namedAction(help, "Tip of the day", "ipoftheday1");
    Onlinehelp2 = namedAction(help, "Online help", "Onlinehelp2");
    connect(Showhelp1, &QAction::triggered, this, &TFmain::Showhelp1Click);
    connect(Stepbystepshareinternetconnection2, &QAction::triggered, this,
            &TFmain::Stepbystepshareinternetconnection2Click);
    connect(ipoftheday1, &QAction::triggered, this, &TFmain::ipoftheday1Click);
    connect(Onlinehelp2, &QAction::triggered, this, &TFmain::Onlinehelp2Click);
    About2 = namedAction(PopupMenu3, "About", "About2");
    connect(About2, &QAction::triggered, this, &TFmain::About2Click);
    PopupMenu3->addSeparator();
    exit3 = namedAction(PopupMenu3, "exit", "exit3");
    connect(exit3, &QAction::triggered, this, &QWidget::close);
}

// ---- settings ----

bool TFmain::loadcfg()
{
    if (!settings_.loadcfg())
        return false;
    using S = core::ClientSettings;
    IPWRITER1->setText(shown(settings_.value(S::ServerAddress)));
    edport->setText(shown(settings_.value(S::ServerPort)));
    comboupdate->setEditText(shown(settings_.value(S::UpdateInterval)));
    combodefault->setEditText(shown(settings_.value(S::DefaultEntry)));
    ComboBox1->setEditText(shown(settings_.value(S::DefaultEntry)));
    ckautoconnect->setChecked(settings_.flag(S::Autoconnect));
    ckminimize->setChecked(settings_.flag(S::Minimize));
    ckstart->setChecked(settings_.autostartEnabled());
    tip_->CheckBox1->setChecked(settings_.flag(S::ShowTips));
    return true;
}

bool TFmain::savecfg()
{
    core::ClientSettings::PanelValues v;
    v.address = typed(IPWRITER1->text());
    v.port = typed(edport->text());
    v.interval = typed(comboupdate->currentText());
    v.defaultEntry = typed(combodefault->currentText());
    v.autoconnect = ckautoconnect->isChecked();
    v.minimize = ckminimize->isChecked();
    v.startWithDesktop = ckstart->isChecked();
    v.showTips = tip_->CheckBox1->isChecked();
    QString why;
    if (settings_.savecfg(v, QCoreApplication::applicationFilePath(), &why))
        return true;
    error("cannot save the configuration: " + why.toStdString());
    return false;
}

void TFmain::Button6Click()
{
    if (savecfg() && session_.isOpen())
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
    ComboBox1->setEditText(shown(settings_.value(core::ClientSettings::DefaultEntry)));
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
    if (session_.state() != core::ClientSession::State::Disconnected)
        session_.executedisconnect(0);
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

void TFmain::onLoginStarted()
{
    ComboBox1->setEditText(shown(settings_.value(core::ClientSettings::DefaultEntry)));
    setMessage("Trying to connect to" + session_.applied().host);
    hapuspopup();
    refill(ComboBox1, {});
    password_->clearFields();
}

void TFmain::onLoginAccepted()
{
    Timer3.start();
    Button1->hide();
    Button3->show();
    connect1->setText(QStringLiteral("disconnect"));
    Image3->show();
    Image6->hide();
    setTrayImage(core::StatusModel::LineNotConnected);

    const core::Privileges &p = session_.privileges();
    const bool unlockAll = p.unlockAll != "0";
    SpeedButton1->setEnabled(unlockAll);
    SpeedButton1->setToolTip(unlockAll ? QStringLiteral("click to release all clients lock")
                                       : QStringLiteral("you do not have previlege to unlock all"));
    const bool dial = p.dialHangup != "0";
    Button2->setEnabled(dial);
    Button4->setEnabled(dial);
    Button2->setToolTip(dial ? QStringLiteral("use this button to dial a connection")
                             : QStringLiteral("you do not have privilege to dial a connection"));
    Button4->setToolTip(dial ? QStringLiteral("use this button to hangup current connection")
                             : QStringLiteral("you do not have privilege to hang up a connection"));
    dial1->menuAction()->setVisible(dial);
    hangup1->setVisible(dial);
    const bool shutdown = p.shutdown != "0";
    SpeedButton2->setEnabled(shutdown);
    SpeedButton2->setToolTip(shutdown ? QStringLiteral("click to shutdown server computer")
                                      : QStringLiteral("you do not have privilege to shutdown server computer"));
}

void TFmain::onLoginRefused(const std::string &reason)
{
    password_->openIn(TFpassword::Mode::Retry, QStringLiteral("Fail to connect, ") + shown(reason));
}

void TFmain::onHandshakeFailed()
{
    error("Handshake error\nConnection to Velora server interupted. Please restart Velora client");
}

void TFmain::onConnectFailed(const QString &reason)
{
    // Say so instead of leaving the person to wonder.
    setMessage("cannot connect to server");
    Label1->setToolTip(reason);
    setTrayHint(model_.message);
}

void TFmain::onDisconnectedState()
{
    hapuspopup();
    Timer3.stop();
    Lvclient->clear();
    shownClients_.clear();
    Button1->show();
    Button3->hide();
    setTrayImage(core::StatusModel::NoServer);
    Image1->hide();
    Image2->hide();
    Image6->show();
    Image3->hide();
    Image7->hide();
    model_.reset();
    showLabels();
    refill(ComboBox1, {});
    refill(combodefault, {});
    ComboBox1->setEditText(QString());
    setTrayHint(model_.message);
    connect1->setText(QStringLiteral("connect"));
    dial1->menuAction()->setEnabled(false);
    hangup1->setEnabled(false);
}

// ---- status view ----

void TFmain::setMessage(const std::string &text)
{
    model_.message = text;
    Label1->setText(shown(text));
}

void TFmain::showLabels()
{
    Label1->setText(shown(model_.message));
    Label8->setText(shown(model_.activeEntry));
    Label6->setText(shown(model_.lockStatus));
    Label14->setText(shown(model_.errorNotice));
    Label21->setText(shown(model_.speed));
    Label22->setText(shown(model_.device));
    Label4->setText(shown(model_.onlineText));
}

void TFmain::UpdateGUI(const wire::StatusRecord &record)
{
    const bool complete = model_.apply(record);
    Label1->setToolTip(QString());
    showLabels();
    if (!complete)
        return;
    setTrayHint(model_.shortOrFullHint());

    const core::StatusModel::Controls c = model_.controls(session_.privileges().dialHangup);
    Button2->setEnabled(c.dialEnabled);
    Button4->setEnabled(c.dialEnabled);
    dial1->menuAction()->setEnabled(c.trayDialEnabled);
    hangup1->setEnabled(c.trayHangupEnabled);
    if (c.lockIcon != core::StatusModel::LockIcon::Unchanged)
        Image7->setVisible(c.lockIcon == core::StatusModel::LockIcon::Shown);
    Button5->setVisible(!c.showUnlock);
    Button5a->setVisible(c.showUnlock);
    Button2->setVisible(!c.showHangup);
    Button4->setVisible(c.showHangup);
    Image1->setVisible(c.lineConnected);
    Image2->setVisible(!c.lineConnected);
    setTrayImage(c.trayImage);

    isiclientlist();
    tulisentry();
}

void TFmain::hapuspopup()
{
    shownEntries_.clear();
    if (!dialItemsExist_)
        return;
    for (QAction *a : dialItems_)
        delete a;
    dialItems_.clear();
    dialItemsExist_ = false;
}

void TFmain::tulisentry()
{
    if (dialItemsExist_ && shownEntries_ == model_.entries)
        return;
    hapuspopup();
    shownEntries_ = model_.entries;
    refill(ComboBox1, model_.entries);
    refill(combodefault, model_.entries);
    for (std::size_t i = 0; i < model_.entries.size(); ++i) {
        QAction *a = dial1->addAction(shown(model_.entries[i]));
        const int index = static_cast<int>(i);
        connect(a, &QAction::triggered, this, [this, index] { zanfel(index); });
        dialItems_.push_back(a);
        dialItemsExist_ = true;
    }
}

void TFmain::isiclientlist()
{
    std::vector<std::vector<std::string>> rows{model_.clientNames, model_.clientLocks, model_.clientAddresses};
    if (rows == shownClients_)
        return;
    shownClients_ = std::move(rows);
    Lvclient->clear();
    for (std::size_t i = 0; i < model_.clientNames.size(); ++i) {
        auto *item = new QTreeWidgetItem(Lvclient);
        item->setText(0, shown(model_.clientNames[i]));
        item->setText(1, shown(wire::at(model_.clientLocks, i)));
        item->setText(2, shown(wire::at(model_.clientAddresses, i)));
    }
}

void TFmain::Timer3Timer()
{
    model_.clockTick();
    Label4->setText(shown(model_.onlineText));
    setTrayHint(model_.fullHint());
}

void TFmain::setTrayImage(int index)
{
    trayImage_ = index;
    tray->setIcon(icons::tray(index));
}

void TFmain::setTrayHint(const std::string &hint)
{
    tray->setToolTip(shown(hint));
}

QString TFmain::trayHint() const { return tray->toolTip(); }

// ---- commands ----

void TFmain::notConnected() { error("Not connected to server"); }

void TFmain::error(const std::string &text) { prompter_.tell(Prompter::Kind::Error, text); }

void TFmain::Button2Click()
{
    if (!session_.isOpen())
        return notConnected();
    setMessage("Dialing...");
    if (!session_.sendDial(typed(ComboBox1->currentText())))
        return notConnected();
    Button2->hide();
    Button4->show();
}

void TFmain::zanfel(int index)
{
    if (index < 0 || index >= ComboBox1->count())
        return;
    if (!session_.isOpen())
        return notConnected();
    setMessage("Dialing...");
    if (!session_.sendDial(typed(ComboBox1->itemText(index))))
        return notConnected();
    Button2->hide();
    Button4->show();
}

void TFmain::Button4Click()
{
    if (!session_.isOpen())
        return notConnected();
    setMessage("Trying to hangup....");
    if (!session_.sendHangup())
        notConnected();
}

void TFmain::hangup1Click() { session_.sendHangup(); }

void TFmain::Button5Click()
{
    if (!session_.isOpen())
        return notConnected();
    // Our own lock word tells which way the toggle goes.
    setMessage(model_.ownLock == "free" ? "Locking..." : "Unlocking...");
    if (!session_.sendLock())
        notConnected();
}

void TFmain::SpeedButton1Click() { session_.sendUnlockAll(); }

void TFmain::SpeedButton2Click()
{
    if (prompter_.ask("Do you want to shutdown server computer ? ",
                      {Prompter::Button::Yes, Prompter::Button::Cancel}) != Prompter::Button::Yes)
        return;
    if (!session_.sendShutdown())
        notConnected();
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
    const QString path = settings_.helpFile(name);
    if (!QFile::exists(path)) {
        error("The help file is missing: " + path.toStdString());
        return;
    }
    if (!urlOpener(QUrl::fromLocalFile(path)))
        error("The help file cannot be opened: " + path.toStdString());
}

void TFmain::Showhelp1Click() { openHelpFile(QStringLiteral("client.html")); }
void TFmain::Stepbystepshareinternetconnection2Click() { openHelpFile(QStringLiteral("share.html")); }
void TFmain::ipoftheday1Click() { tip_->show(); }
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
                       cp1252ToUtf8(session_.privileges().serverVersion),
                   "About");
}

void TFmain::Userpassword2Click()
{
    password_->openIn(TFpassword::Mode::Edit, QStringLiteral("Edit User/password"));
}

}  // namespace velora::client::ui
