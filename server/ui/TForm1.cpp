#include "server/ui/TForm1.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "common/Licence.h"
#include "server/clientservice/ClientRow.h"
#include "server/frame/OperatorConsole.h"
#include "server/log/ReportJob.h"
#include "server/state/Text.h"
#include "server/ui/Named.h"
#include "server/ui/TrayImages.h"
#include "widgets/NewMessagePopup.h"
#include "widgets/TFsend.h"
#include "widgets/TFmeter.h"
#include "widgets/HelpPage.h"
#include "widgets/TFtip.h"

// The window's layout: its pages, the tray, and how it hears the console.

namespace velora::server::ui {

namespace {

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

// The tips built into the program, for a base dir whose tip.cfg is missing
// or no text.
std::string builtInTips()
{
    QFile f(QStringLiteral(":/velora/tip.cfg"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

}  // namespace

TForm1::TForm1(frame::OperatorConsole &console, Prompter &prompter, QWidget *parent)
    : QMainWindow(parent), console_(console), prompter_(prompter),
      tip_(std::make_unique<widgets::TFtip>(console.tipFilePath())),
      reportJob_(std::make_unique<log::ReportJob>())
{
    setObjectName(QStringLiteral("Form1"));
    tip_->setFallbackTips(builtInTips());
    setWindowTitle(QStringLiteral("Velora XP"));
    setWindowIcon(trayImage(1));

    PageControl1 = named(new QTabWidget(this), "PageControl1");
    PageControl1->addTab(buildMainPage(), QStringLiteral("Main window"));
    PageControl1->addTab(buildConfigurationPage(), QStringLiteral("Configuration"));
    PageControl1->addTab(buildClientListPage(), QStringLiteral("Client list"));
    PageControl1->addTab(buildLogPage(), QStringLiteral("Log"));
    PageControl1->addTab(buildUserPage(), QStringLiteral("User/password"));
    PageControl1->addTab(buildSmtpPage(), QStringLiteral("SMTP auto relay"));
    setCentralWidget(PageControl1);
    // Rows that came while the Log page was hidden show when it is back.
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (PageControl1->currentWidget() == logTabs->parentWidget() && logTabs->currentIndex() == 1 && auditStale_)
            showAudit();
    });
    // Entry names and status texts come from files and the line: never markup.
    for (QLabel *label : findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    statusBar()->setObjectName(QStringLiteral("problemBar"));
    statusBar()->setSizeGripEnabled(false);
    resize(820, 380);

    buildTray();
    connectConsole();
    buildChat();
    buildMeter();
    buildEntryWindows();
    connectSmtp();

    // The console may have run ahead of the window.
    updateentry(console_.entryNames());
    loadcfg();
    showLoggingDisabled();
    showRelayDisabled();
    updatesmtp();
    if (console_.onlineDecided()) {
        showOnline(console_.isOnline());
        fillLogLists();
    }
    refreshStatus();
}

TForm1::~TForm1() = default;

// ------------------------------------------------------------------ help

void TForm1::openHelpFile(const QString &name)
{
    const QString own =
        QDir::cleanPath(state::shownPath(console_.baseDir()) + QStringLiteral("/server help/") + name);
    const auto opener = urlOpener ? urlOpener : [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    const std::string problem = widgets::openHelpPage(own, QStringLiteral("server help"), name, opener);
    if (!problem.empty())
        prompter_.tell(Prompter::Kind::Error, problem);
}

void TForm1::Showhelp1Click() { openHelpFile(QStringLiteral("server.html")); }

void TForm1::About1Click()
{
    prompter_.tell(Prompter::Kind::Information,
                   "Velora server " + QCoreApplication::applicationVersion().toStdString() +
                       "\nShares the office's dial-up line with the clients.\n\n" + AboutLicence,
                   "About");
}

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
    connect(named(PopupMenu4->addAction(QStringLiteral("Get entries")), "Getentries1"), &QAction::triggered, this,
            &TForm1::Button1Click);
    Tipoftheday1 = named(PopupMenu4->addAction(QStringLiteral("Tip of the day")), "Tipoftheday1");
    connect(Tipoftheday1, &QAction::triggered, this, &TForm1::Tipoftheday1Click);
    PopupMenu4->addSeparator();
    Showhelp1 = named(PopupMenu4->addAction(QStringLiteral("Show help")), "Showhelp1");
    connect(Showhelp1, &QAction::triggered, this, &TForm1::Showhelp1Click);
    About1 = named(PopupMenu4->addAction(QStringLiteral("About")), "About1");
    connect(About1, &QAction::triggered, this, &TForm1::About1Click);
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
    // Who holds the lock, beside the lock word.
    LbLockedBy = named(new QLabel(status), "LbLockedBy");
    LbLockedBy->setTextFormat(Qt::PlainText);
    grid->removeWidget(Label6);
    auto *lockRow = new QHBoxLayout;
    lockRow->addWidget(Label6);
    lockRow->addSpacing(12);
    lockRow->addWidget(LbLockedBy);
    lockRow->addStretch();
    grid->addLayout(lockRow, 4, 1);
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
    lventry->setSelectionMode(QAbstractItemView::SingleSelection);
    lventry->setMinimumWidth(200);

    Label10 = named(new QLabel(state::shownPath(console_.baseDir()), page), "Label10");
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
    tlsFingerprint_ = named(new QLineEdit(general), "tlsFingerprint");
    tlsFingerprint_->setReadOnly(true);
    tlsFingerprint_->setPlaceholderText(QStringLiteral("no encrypted connections"));
    g->addWidget(caption(QStringLiteral("Certificate fingerprint (SHA-256) :"), general), 6, 0);
    g->addWidget(tlsFingerprint_, 6, 1);
    g->setColumnStretch(1, 1);
    g->setRowStretch(7, 1);

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

    auto *policy = named(new QGroupBox(QStringLiteral("Line policies"), page), "policyBox");
    auto *pl = new QGridLayout(policy);
    auto spin = [policy](const char *name, int max, const QString &suffix) {
        auto *box = named(new QSpinBox(policy), name);
        box->setRange(0, max);
        box->setSuffix(suffix);
        return box;
    };
    policyRedial = named(new QCheckBox(QStringLiteral("Redial a line that drops or fails"), policy), "policyRedial");
    policyRedialHoldoff = spin("policyRedialHoldoff", 3600, QStringLiteral(" s"));
    policyRedialMaxFail = spin("policyRedialMaxFail", 100, QString());
    policyRedialMaxFail->setMinimum(1);
    policyIdleHangup = spin("policyIdleHangup", 1440, QStringLiteral(" min"));
    policyIdleHangup->setSpecialValueText(QStringLiteral("Never"));
    policyIdleBytes = spin("policyIdleBytes", 100000000, QStringLiteral(" bytes"));
    policyMonthlyBudget = named(new QLineEdit(policy), "policyMonthlyBudget");
    pl->addWidget(policyRedial, 0, 0, 1, 2);
    pl->addWidget(caption(QStringLiteral("Wait before redialing"), policy), 1, 0);
    pl->addWidget(policyRedialHoldoff, 1, 1);
    pl->addWidget(caption(QStringLiteral("Give up after failures"), policy), 2, 0);
    pl->addWidget(policyRedialMaxFail, 2, 1);
    pl->addWidget(caption(QStringLiteral("Hang up when idle for"), policy), 0, 2);
    pl->addWidget(policyIdleHangup, 0, 3);
    pl->addWidget(caption(QStringLiteral("Idle below, per minute"), policy), 1, 2);
    pl->addWidget(policyIdleBytes, 1, 3);
    pl->addWidget(caption(QStringLiteral("Monthly budget (0: none)"), policy), 2, 2);
    pl->addWidget(policyMonthlyBudget, 2, 3);
    pl->setColumnStretch(1, 1);
    pl->setColumnStretch(3, 1);

    SpeedButton3 = button("SpeedButton3", QStringLiteral("Save configuration"), page);
    auto *save = new QHBoxLayout;
    save->addStretch();
    save->addWidget(SpeedButton3);

    auto *boxes = new QHBoxLayout;
    boxes->addWidget(general, 1);
    boxes->addWidget(dial, 1);
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(boxes, 1);
    layout->addWidget(policy);
    layout->addLayout(save);

    // Any edit marks the port changed, for the restart notice of the next save.
    connect(Edit1, &QLineEdit::textEdited, this, [this] { console_.settings().portChanged = true; });
    connect(SpeedButton3, &QPushButton::clicked, this, &TForm1::SpeedButton3Click);
    return page;
}

QWidget *TForm1::buildClientListPage()
{
    auto *page = named(new QWidget, "clientListPage");
    Lvclient = named(new QTreeWidget(page), "Lvclient");
    Lvclient->setHeaderLabels({QStringLiteral("client name"), QStringLiteral("ip address"), QStringLiteral("lock status"),
                                QStringLiteral("Locked since")});
    Lvclient->setRootIsDecorated(false);
    // Its hint promises the send-message window; both come together.
    Lvclient->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    Lvclient->setColumnWidth(1, 140);
    Lvclient->header()->setStretchLastSection(false);
    Lvclient->header()->resizeSection(2, 110);
    Lvclient->header()->resizeSection(3, 130);
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
    // These open windows that are not built yet: out of sight until they are.
    Sendmessage2 = named(PopupMenu1->addAction(QStringLiteral("Send message")), "Sendmessage2");
    Sendmessage2->setVisible(false);
    Bandwidthmeter2 = named(PopupMenu1->addAction(QStringLiteral("Bandwidth meter")), "Bandwidthmeter2");
    PopupMenu1->addSeparator();
    exit1 = named(PopupMenu1->addAction(QStringLiteral("exit")), "exit1");
    exit1->setEnabled(!console_.serviceMode());

    connect(restore1, &QAction::triggered, this, &TForm1::restore1Click);
    connect(hangup1, &QAction::triggered, this, &TForm1::hangup1Click);
    connect(exit1, &QAction::triggered, this, &TForm1::exit1Click);

    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;  // the window then stays on the screen
    tray_ = makeTrayIcon(PopupMenu1, this);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            restore1Click();
    });
}

void TForm1::connectConsole()
{
    connect(&console_, &frame::OperatorConsole::ticked, this, &TForm1::refreshStatus);
    connect(&console_, &frame::OperatorConsole::configLoaded, this, &TForm1::loadcfg);
    connect(&console_, &frame::OperatorConsole::onlineChanged, this, &TForm1::showOnline);
    connect(&console_, &frame::OperatorConsole::secondStageDone, this, &TForm1::secondStageDone);
    connect(&console_, &frame::OperatorConsole::problem, this, &TForm1::showProblem);
    connect(&console_, &frame::OperatorConsole::entriesChanged, this, &TForm1::updateentry);
    connect(&console_, &frame::OperatorConsole::clientRowsChanged, this, &TForm1::showClientRows);
    connect(tip_.get(), &widgets::TFtip::saveRequested, this, &TForm1::savecfg);
    connect(tip_.get(), &widgets::TFtip::problem, this, &TForm1::showProblem);
    connect(&console_, &frame::OperatorConsole::logChanged, this, &TForm1::Showlog);
    // Rows that come in bursts are shown together, a moment later.
    auditRefresh_.setSingleShot(true);
    auditRefresh_.setInterval(AuditRefreshMs);
    connect(&auditRefresh_, &QTimer::timeout, this, [this] {
        if (logTabs->currentIndex() == 1 && logTabs->isVisible())
            showAudit();
    });
    connect(&console_, &frame::OperatorConsole::auditChanged, this, [this] {
        auditStale_ = true;
        if (!auditRefresh_.isActive())
            auditRefresh_.start();
    });
    connect(&console_, &frame::OperatorConsole::configLoaded, this, &TForm1::showMonthCost);
    connect(&console_, &frame::OperatorConsole::configLoaded, this, &TForm1::showLoggingDisabled);
    connect(reportJob_.get(), &log::ReportJob::progressed, this, &TForm1::reportProgressed);
    connect(reportJob_.get(), &log::ReportJob::finished, this, &TForm1::reportFinished);
    saveChooser_ = [this](const QString &proposed, bool textOnly) { return chooseReportFile(proposed, textOnly); };
}

QSystemTrayIcon *makeTrayIcon(QMenu *menu, QObject *parent)
{
    auto *tray = named(new QSystemTrayIcon(trayImage(1), parent), "tray");
    tray->setToolTip(QStringLiteral("Velora XP"));
    tray->setContextMenu(menu);
    return tray;
}

}  // namespace velora::server::ui
