// The main window's widgets and menus: what the window is made of. The
// handlers are in TFmain.cpp, the view updates in TFmainView.cpp.
#include "client/ui/TFmain.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
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

namespace velora::client::ui {

namespace {

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

}  // namespace

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
    auto *entryLabel = new QLabel(QStringLiteral("Entry : "), this);
    top->addWidget(entryLabel);
    ComboBox1 = named(new QComboBox(this), "ComboBox1");
    // Only the server's entries can be dialled: a list, opened by a click anywhere on it.
    ComboBox1->setEditable(false);
    entryLabel->setBuddy(ComboBox1);
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
    // Who holds the lock, beside the lock word.
    LbLockedBy = named(new QLabel(Panelnormal), "LbLockedBy");
    grid->removeWidget(Label6);
    auto *lockRow = new QHBoxLayout;
    lockRow->addWidget(Label6);
    lockRow->addSpacing(12);
    lockRow->addWidget(LbLockedBy);
    lockRow->addStretch();
    grid->addLayout(lockRow, row - 1, 1);
    Label21 = pair("Speed                  :", "Label21");
    Label22 = pair("Device name       :", "Label22");
    Label1 = pair("Server Message  :", "Label1");
    Label1->setWordWrap(true);
    Label14 = named(new QLabel(Panelnormal), "Label14");
    Label14->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
    grid->addWidget(Label14, row++, 0, 1, 2);
    connectHelp = named(new QWidget(Panelnormal), "connectHelp");
    auto *helpRow = new QHBoxLayout(connectHelp);
    helpRow->setContentsMargins(0, 4, 0, 0);
    connectHelpText = named(new QLabel(connectHelp), "connectHelpText");
    connectHelpText->setWordWrap(true);
    helpRow->addWidget(connectHelpText, 1);
    openConfiguration = named(new QPushButton(QStringLiteral("Configuration..."), connectHelp), "openConfiguration");
    helpRow->addWidget(openConfiguration, 0, Qt::AlignTop);
    connect(openConfiguration, &QPushButton::clicked, this, [this] { showPanel(PanelConfig); });
    connectHelp->hide();
    grid->addWidget(connectHelp, row++, 0, 1, 2);
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
    // The caption names the field for screen readers, not the row's layout.
    if (auto *portLabel = qobject_cast<QLabel *>(form->labelForField(portRow)))
        portLabel->setBuddy(edport);
    auto *tlsRow = new QHBoxLayout;
    cktls = named(new QCheckBox(QStringLiteral("Encrypted connection"), Panelconfig), "cktls");
    cktls->setToolTip(QStringLiteral("The same session inside TLS, to the server's encrypted port; the server's "
                                     "certificate is checked against the fingerprint trusted on first use"));
    cktls->setChecked(true);
    edtlsport = named(new QLineEdit(Panelconfig), "edtlsport");
    edtlsport->setMaximumWidth(80);
    edtlsport->setAccessibleName(QStringLiteral("Encrypted port"));
    tlsRow->addWidget(cktls);
    tlsRow->addWidget(new QLabel(QStringLiteral("port :"), Panelconfig));
    tlsRow->addWidget(edtlsport);
    tlsRow->addWidget(new QLabel(QStringLiteral("default:  226"), Panelconfig));
    tlsRow->addStretch();
    form->addRow(QString(), tlsRow);
    connect(cktls, &QCheckBox::toggled, edtlsport, &QWidget::setEnabled);
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
    ckreconnect = named(new QCheckBox(QStringLiteral("Reconnect automatically"), Panelconfig), "ckreconnect");
    ckreconnect->setToolTip(QStringLiteral("When the server drops the connection, connect again after 2, 4, 8 ... "
                                           "up to 60 seconds"));
    ckreconnect->setChecked(true);
    form->addRow(ckautoconnect);
    form->addRow(ckreconnect);
    form->addRow(ckminimize);
    form->addRow(ckstart);
    Button6 = named(new QPushButton(QStringLiteral("   save   "), Panelconfig), "Button6");
    form->addRow(QString(), Button6);
    Button6->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    savedNotice = named(new QLabel(Panelconfig), "savedNotice");
    savedNotice->setStyleSheet(QStringLiteral("color: #006000;"));
    form->addRow(QString(), savedNotice);
    connect(Button6, &QPushButton::clicked, this, &TFmain::Button6Click);
    panels->addWidget(Panelconfig);

    // Client list.
    Panelclientlist = named(new QWidget(this), "Panelclientlist");
    auto *listLayout = new QVBoxLayout(Panelclientlist);
    Lvclient = named(new QTreeWidget(Panelclientlist), "Lvclient");
    Lvclient->setHeaderLabels(
        {QStringLiteral("Client name"), QStringLiteral("Ip address"), QStringLiteral("Lock status"),
         QStringLiteral("Locked since")});
    Lvclient->setToolTip(QStringLiteral("List of connected client"));
    Lvclient->setRootIsDecorated(false);
    Lvclient->setSelectionBehavior(QAbstractItemView::SelectRows);
    Lvclient->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Lvclient->header()->setStretchLastSection(false);
    Lvclient->header()->setMinimumSectionSize(100);
    Lvclient->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    Lvclient->setColumnWidth(1, 100);
    Lvclient->setColumnWidth(2, 100);
    Lvclient->setColumnWidth(3, 90);
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
    sendmessage2 = namedAction(PopupMenu1, "send message", "sendmessage2");
    Bandwidthmeter1 = namedAction(PopupMenu1, "Bandwidth meter", "Bandwidthmeter1");
    PopupMenu1->addSeparator();
    exit1 = namedAction(PopupMenu1, "exit", "exit1");
    connect(restore1, &QAction::triggered, this, &TFmain::restore1Click);
    connect(connect1, &QAction::triggered, this, &TFmain::connect1Click);
    connect(hangup1, &QAction::triggered, this, &TFmain::hangup1Click);
    connect(exit1, &QAction::triggered, this, &QWidget::close);

    // With its image from the start: a tray icon shown without one is empty
    // in the panel and warns.
    tray = new QSystemTrayIcon(icons::tray(core::StatusModel::NoServer), this);
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
    // Chat comes with its own window later.
    for (QAction *a : {Sendmessege1, sendmessage2})
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

}  // namespace velora::client::ui
