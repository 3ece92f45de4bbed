#include "server/ui/TForm1.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/Prompter.h"
#include "common/TextCodec.h"
#include "server/frame/ServerCore.h"
#include "widgets/TFtip.h"
#include "server/ui/TrayImages.h"

namespace velora::server::ui {

namespace {

// State texts are Windows-1252 bytes.
QString shown(const std::string &cp1252) { return QString::fromStdString(cp1252ToUtf8(cp1252)); }

template <class W>
W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QPushButton *button(const char *name, const QString &text, QWidget *parent)
{
    auto *b = named(new QPushButton(text, parent), name);
    b->setAutoDefault(false);
    return b;
}

QLabel *caption(const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QStringLiteral("caption"));
    return l;
}

}  // namespace

TForm1::TForm1(frame::ServerCore &core, Prompter &prompter, QWidget *parent)
    : QMainWindow(parent), core_(core), prompter_(prompter),
      tip_(std::make_unique<widgets::TFtip>(core.tipFilePath()))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velora XP"));
    setWindowIcon(trayImage(1));

    PageControl1 = named(new QTabWidget(this), "PageControl1");
    PageControl1->addTab(buildMainPage(), QStringLiteral("Main window"));
    PageControl1->addTab(buildConfigurationPage(), QStringLiteral("Configuration"));
    PageControl1->addTab(buildClientListPage(), QStringLiteral("Client list"));
    setCentralWidget(PageControl1);
    // Entry names and status texts come from files and the line: never markup.
    for (QLabel *label : findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    statusBar()->setObjectName(QStringLiteral("problemBar"));
    statusBar()->setSizeGripEnabled(false);
    resize(820, 380);

    buildTray();

    connect(&core_, &frame::ServerCore::ticked, this, &TForm1::refreshStatus);
    connect(&core_, &frame::ServerCore::configLoaded, this, &TForm1::loadcfg);
    connect(&core_, &frame::ServerCore::onlineChanged, this, &TForm1::showOnline);
    connect(&core_, &frame::ServerCore::secondStageDone, this, &TForm1::secondStageDone);
    connect(&core_, &frame::ServerCore::problem, this, &TForm1::showProblem);
    connect(&core_.dialup(), &dialup::DialupOperations::entriesChanged, this, &TForm1::updateentry);
    connect(&core_.clients(), &clientservice::ClientService::clientListUpdated, this, &TForm1::showClientRows);
    connect(tip_.get(), &widgets::TFtip::saveRequested, this, &TForm1::savecfg);
    connect(tip_.get(), &widgets::TFtip::problem, this, &TForm1::showProblem);

    // The core may have run ahead of the window.
    updateentry(core_.state().EntryNames);
    loadcfg();
    if (!core_.state().ServerState.empty())
        showOnline(core_.isOnline());
    refreshStatus();
}

TForm1::~TForm1() = default;

// ------------------------------------------------------------------ pages

QWidget *TForm1::buildMainPage()
{
    auto *page = named(new QWidget, "mainPage");

    Button6 = button("Button6", QStringLiteral("Offline"), page);
    Button5 = button("Button5", QStringLiteral("Online"), page);
    Button5->hide();
    Button2 = button("Button2", QStringLiteral("Dial"), page);
    Button3 = button("Button3", QStringLiteral("Hang up"), page);
    SpeedButton6 = button("SpeedButton6", QStringLiteral("Lock"), page);
    SpeedButton6->setToolTip(QStringLiteral("Click to lock connection"));
    SpeedButton7 = button("SpeedButton7", QStringLiteral("Unlock"), page);
    SpeedButton7->hide();
    Button1 = button("Button1", QStringLiteral("Get entries"), page);
    SpeedButton4 = button("SpeedButton4", QStringLiteral("Menu"), page);
    PopupMenu4 = named(new QMenu(page), "PopupMenu4");
    // Creating entries comes with the entry windows.
    named(PopupMenu4->addAction(QStringLiteral("Create new entry")), "sfd1")->setEnabled(false);
    SpeedButton4->setMenu(PopupMenu4);

    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {Button6, Button5, Button2, Button3, SpeedButton6, SpeedButton7, Button1})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(SpeedButton4);

    auto *status = named(new QGroupBox(QStringLiteral("Connection status"), page), "GroupBox1");
    auto *grid = new QGridLayout(status);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(8);
    const std::pair<QLabel **, QString> rows[] = {
        {&Label8, QStringLiteral("Connected via        :")},
        {&Label22, QStringLiteral("Device name          :")},
        {&Label4, QStringLiteral("Time Online            : ")},
        {&Label21, QStringLiteral("Speed                     :")},
        {&Label6, QStringLiteral("Lock status            :")},
        {&Label2, QStringLiteral("Server message     :")},
    };
    const char *names[] = {"Label8", "Label22", "Label4", "Label21", "Label6", "Label2"};
    int row = 0;
    for (const auto &[label, text] : rows) {
        grid->addWidget(caption(text, status), row, 0);
        *label = named(new QLabel(QStringLiteral("--"), status), names[row]);
        (*label)->setTextFormat(Qt::PlainText);
        (*label)->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QFont bold = (*label)->font();
        bold.setBold(true);
        (*label)->setFont(bold);
        grid->addWidget(*label, row, 1);
        ++row;
    }
    Label2->setWordWrap(true);
    Label25 = named(new QLabel(status), "Label25");
    Label25->setTextFormat(Qt::PlainText);
    Label25->setWordWrap(true);
    QPalette red = Label25->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Label25->setPalette(red);
    grid->addWidget(Label25, row++, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(row, 1);

    lventry = named(new QListWidget(page), "lventry");
    lventry->setToolTip(QStringLiteral("Right click to edit entry properties\nIf you are running Velora in "
                                       "service mode please rewrite each dial up entry User name and password"));
    lventry->setSelectionMode(QAbstractItemView::SingleSelection);
    lventry->setMinimumWidth(200);

    Label10 = named(new QLabel(shown(core_.state().BaseDir), page), "Label10");
    Label10->hide();

    auto *body = new QHBoxLayout;
    body->addWidget(status, 3);
    body->addWidget(lventry, 2);
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(buttons);
    layout->addLayout(body, 1);

    connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(SpeedButton6, &QPushButton::clicked, this, &TForm1::SpeedButton6Click);
    connect(SpeedButton7, &QPushButton::clicked, this, &TForm1::SpeedButton7Click);
    return page;
}

QWidget *TForm1::buildConfigurationPage()
{
    auto *page = named(new QWidget, "configurationPage");

    auto *general = named(new QGroupBox(page), "generalBox");
    auto *g = new QGridLayout(general);
    Edit1 = named(new QLineEdit(general), "Edit1");
    Edit1->setMaximumWidth(90);
    g->addWidget(caption(QStringLiteral("Port number       :"), general), 0, 0);
    auto *port = new QHBoxLayout;
    port->addWidget(Edit1);
    port->addWidget(named(new QLabel(QStringLiteral("Default: 225"), general), "portDefaultHint"));
    port->addStretch();
    g->addLayout(port, 0, 1);
    CheckBox1 = named(new QCheckBox(QStringLiteral("Start with windows"), general), "CheckBox1");
    CheckBox2 = named(new QCheckBox(QStringLiteral("Online on start up"), general), "CheckBox2");
    CheckBox3 = named(new QCheckBox(QStringLiteral("Start minimized"), general), "CheckBox3");
    g->addWidget(CheckBox1, 1, 0, 1, 2);
    g->addWidget(CheckBox2, 2, 0, 1, 2);
    g->addWidget(CheckBox3, 3, 0, 1, 2);
    ComboBox5 = named(new QComboBox(general), "ComboBox5");
    ComboBox5->addItems({QStringLiteral("Normal shutdown"), QStringLiteral("Power off (Win2000/Xp only)")});
    g->addWidget(caption(QStringLiteral("Shutdown mode"), general), 4, 0);
    g->addWidget(ComboBox5, 4, 1);
    ComboBox6 = named(new QComboBox(general), "ComboBox6");
    ComboBox6->addItems({QStringLiteral("Never"), QStringLiteral("1 minute"), QStringLiteral("2 minutes"),
                         QStringLiteral("3 minutes"), QStringLiteral("4 minutes"), QStringLiteral("5 minutes")});
    g->addWidget(caption(QStringLiteral("Client status polling every :"), general), 5, 0);
    g->addWidget(ComboBox6, 5, 1);
    g->setColumnStretch(1, 1);
    g->setRowStretch(6, 1);

    auto *dial = named(new QGroupBox(page), "dialBox");
    auto *d = new QGridLayout(dial);
    CheckBox4 = named(new QCheckBox(QStringLiteral("Enable keep alive"), dial), "CheckBox4");
    d->addWidget(CheckBox4, 0, 0, 1, 2);
    Edit3 = named(new QLineEdit(dial), "Edit3");
    d->addWidget(caption(QStringLiteral("IP or host name to ping"), dial), 1, 0);
    d->addWidget(Edit3, 1, 1);
    CheckBox9 = named(new QCheckBox(QStringLiteral("enable ICS auto  switch  (win2000 , win XP SP2 , Win 2003 server )"),
                                    dial),
                      "CheckBox9");
    CheckBox6 = named(new QCheckBox(QStringLiteral("Enable SMTP auto relay"), dial), "CheckBox6");
    CheckBox7 = named(new QCheckBox(QStringLiteral("Enable connection logging"), dial), "CheckBox7");
    d->addWidget(CheckBox9, 2, 0, 1, 2);
    d->addWidget(CheckBox6, 3, 0, 1, 2);
    d->addWidget(CheckBox7, 4, 0, 1, 2);
    d->setColumnStretch(1, 1);
    d->setRowStretch(5, 1);

    SpeedButton3 = button("SpeedButton3", QStringLiteral("Save configuration"), page);
    auto *save = new QHBoxLayout;
    save->addStretch();
    save->addWidget(SpeedButton3);

    auto *boxes = new QHBoxLayout;
    boxes->addWidget(general, 1);
    boxes->addWidget(dial, 1);
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(boxes, 1);
    layout->addLayout(save);

    // Any edit marks the port changed, for the restart notice of the next save.
    connect(Edit1, &QLineEdit::textEdited, this, [this] { core_.settings().portChanged = true; });
    connect(SpeedButton3, &QPushButton::clicked, this, &TForm1::SpeedButton3Click);
    return page;
}

QWidget *TForm1::buildClientListPage()
{
    auto *page = named(new QWidget, "clientListPage");
    Lvclient = named(new QTreeWidget(page), "Lvclient");
    Lvclient->setHeaderLabels({QStringLiteral("client name"), QStringLiteral("ip address"), QStringLiteral("lock status")});
    Lvclient->setRootIsDecorated(false);
    Lvclient->setToolTip(QStringLiteral("Right click to send message to client"));
    Lvclient->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    Lvclient->setColumnWidth(1, 140);
    Lvclient->header()->setStretchLastSection(false);
    Lvclient->header()->resizeSection(2, 110);
    SpeedButton8 = button("SpeedButton8", QStringLiteral("Unlock all"), page);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(SpeedButton8);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(Lvclient, 1);
    layout->addLayout(row);
    connect(SpeedButton8, &QPushButton::clicked, this, &TForm1::SpeedButton8Click);
    return page;
}

void TForm1::buildTray()
{
    PopupMenu1 = named(new QMenu(this), "PopupMenu1");
    restore1 = named(PopupMenu1->addAction(QStringLiteral("restore")), "restore1");
    dial1 = named(PopupMenu1->addMenu(QStringLiteral("dial")), "dial1");
    hangup1 = named(PopupMenu1->addAction(QStringLiteral("hangup")), "hangup1");
    // These open windows that are not built yet.
    Sendmessage2 = named(PopupMenu1->addAction(QStringLiteral("Send message")), "Sendmessage2");
    Sendmessage2->setEnabled(false);
    Bandwidthmeter2 = named(PopupMenu1->addAction(QStringLiteral("Bandwidth meter")), "Bandwidthmeter2");
    Bandwidthmeter2->setEnabled(false);
    PopupMenu1->addSeparator();
    exit1 = named(PopupMenu1->addAction(QStringLiteral("exit")), "exit1");
    exit1->setEnabled(!core_.state().ServiceMode);

    connect(restore1, &QAction::triggered, this, &TForm1::restore1Click);
    connect(hangup1, &QAction::triggered, this, &TForm1::hangup1Click);
    connect(exit1, &QAction::triggered, this, &TForm1::exit1Click);

    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;  // the window then stays on the screen
    tray_ = named(new QSystemTrayIcon(this), "tray");
    tray_->setContextMenu(PopupMenu1);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            restore1Click();
    });
}

// ------------------------------------------------------------ the views

void TForm1::refreshStatus()
{
    const frame::StatusView &v = core_.statusView();
    if (v.ticked) {
        Label8->setText(shown(v.entry));
        Label22->setText(shown(v.device));
        Label4->setText(shown(v.timeOnline));
        Label21->setText(shown(v.speed));
        Label6->setText(shown(v.lock));
        Label2->setText(shown(v.status));
        Label25->setText(shown(v.errorNotice));
        SpeedButton6->setVisible(!v.unlockShown);
        SpeedButton7->setVisible(v.unlockShown);
    }
    // Only on change: some trays redraw on every set.
    const QString hint = v.trayHint.empty() ? QStringLiteral("Velora XP") : shown(v.trayHint);
    if (v.trayImage != trayImage_) {
        trayImage_ = v.trayImage;
        const QIcon icon = trayImage(trayImage_);
        setWindowIcon(icon);
        if (tray_) {
            tray_->setIcon(icon);
            tray_->show();
        }
    }
    if (hint != trayHint_) {
        trayHint_ = hint;
        if (tray_)
            tray_->setToolTip(trayHint_);
    }
}

void TForm1::updateentry(const std::vector<std::string> &names)
{
    for (QAction *a : dialItems_)
        delete a;
    dialItems_.clear();
    lventry->clear();
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto *item = new QListWidgetItem(shown(names[i]), lventry);
        item->setData(Qt::UserRole, QByteArray::fromStdString(names[i]));
        // A menu would read "&" as a shortcut mark.
        QString text = shown(names[i]);
        text.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction *a = named(dial1->addAction(text), "dialItem");
        connect(a, &QAction::triggered, this, [this, i] { core_.dialup().zanfel(i, prompter_); });
        dialItems_.push_back(a);
    }
}

void TForm1::showClientRows(const std::vector<clientservice::ClientRow> &rows)
{
    Lvclient->clear();
    for (const clientservice::ClientRow &r : rows)
        new QTreeWidgetItem(Lvclient, {shown(r.name), shown(r.address), shown(r.lock)});
}

void TForm1::showOnline(bool online)
{
    Button5->setVisible(!online);
    Button6->setVisible(online);
}

void TForm1::showProblem(const QString &text) { statusBar()->showMessage(text); }

// -------------------------------------------------------- configuration

void TForm1::loadcfg()
{
    const frame::ServerSettings &s = core_.settings();
    Edit1->setText(shown(s.port));
    CheckBox1->setChecked(s.startWithSystem);
    CheckBox1->setEnabled(s.startWithSystemEnabled);
    CheckBox2->setChecked(s.onlineStartup);
    CheckBox3->setChecked(s.startMinimized);
    // A value the list cannot show leaves it empty (and is kept on saving).
    ComboBox5->setCurrentIndex(s.shutdownMode >= 0 && s.shutdownMode < ComboBox5->count() ? s.shutdownMode : -1);
    CheckBox4->setChecked(s.keepAlive);
    tip_->CheckBox1->setChecked(s.tipOfTheDay);
    CheckBox9->setChecked(s.ics);
    Edit3->setText(shown(s.pingIp));
    CheckBox6->setChecked(s.smtpAutoRelay);
    CheckBox7->setChecked(s.connectionLogging);
    ComboBox6->setCurrentIndex(s.clientPolling >= 0 && s.clientPolling < ComboBox6->count() ? s.clientPolling : -1);
}

void TForm1::pageToSettings()
{
    frame::ServerSettings &s = core_.settings();
    s.port = typedToWire(Edit1->text().toStdString());
    s.startWithSystem = CheckBox1->isChecked();
    s.onlineStartup = CheckBox2->isChecked();
    s.startMinimized = CheckBox3->isChecked();
    if (ComboBox5->currentIndex() >= 0)
        s.shutdownMode = ComboBox5->currentIndex();
    s.keepAlive = CheckBox4->isChecked();
    s.tipOfTheDay = tip_->CheckBox1->isChecked();
    s.ics = CheckBox9->isChecked();
    s.pingIp = typedToWire(Edit3->text().toStdString());
    s.smtpAutoRelay = CheckBox6->isChecked();
    s.connectionLogging = CheckBox7->isChecked();
    if (ComboBox6->currentIndex() >= 0)
        s.clientPolling = ComboBox6->currentIndex();
}

void TForm1::savecfg()
{
    pageToSettings();
    // The core reloads the file afterwards; configLoaded refills the page.
    core_.savecfg(prompter_);
}

// ---------------------------------------------------------- commands

void TForm1::Button5Click() { core_.goOnline(); }

void TForm1::Button6Click() { core_.goOffline(); }

void TForm1::Button2Click()
{
    std::string selected;
    const auto items = lventry->selectedItems();
    if (!items.isEmpty())
        selected = items.first()->data(Qt::UserRole).toByteArray().toStdString();
    core_.dialup().operatorDial(selected, prompter_);
}

void TForm1::Button3Click() { core_.dialup().operatorHangup(prompter_); }

void TForm1::hangup1Click() { core_.dialup().operatorHangup(prompter_); }

void TForm1::Button1Click() { core_.dialup().getentry(); }

void TForm1::SpeedButton6Click() { core_.clients().operatorLock(); }

void TForm1::SpeedButton7Click() { core_.clients().operatorUnlock(); }

void TForm1::SpeedButton8Click() { core_.clients().unlockAll(); }

void TForm1::SpeedButton3Click() { savecfg(); }

// ------------------------------------------------------- window and tray

void TForm1::restore1Click()
{
    if (isVisible() && !isMinimized()) {
        if (tray_)
            hide();
        return;
    }
    showNormal();
    raise();
    activateWindow();
}

void TForm1::exit1Click() { close(); }

void TForm1::secondStageDone()
{
    // Without a tray a hidden window could not be brought back.
    if (core_.showWindowAtStart() || !tray_) {
        showNormal();
        raise();
        activateWindow();
    } else {
        hide();
    }
    if (core_.showTipAtStart())
        tip_->show();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (core_.FormClose(prompter_) == frame::ServerCore::CloseAction::EndProgram) {
        event->accept();
        tip_->hide();
        emit quitRequested();
    } else {
        event->ignore();
    }
}

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    restore1->setText(QStringLiteral("hide"));
}

void TForm1::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    if (!isVisible())
        restore1->setText(QStringLiteral("restore"));
}

void TForm1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Minimizing goes to the tray, where there is one.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_)
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
}

}  // namespace velora::server::ui
