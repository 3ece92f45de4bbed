#pragma once
// The server's main window and its tray icon: a view over the operator
// console. It shows what the status tick left behind and hands the operator's
// commands to the console, which decides and asks through the Prompter.
// TForm1.cpp builds the layout, TForm1Handlers.cpp holds the commands and
// window events, TForm1Views.cpp the view updates.

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/log/LogDatabase.h"
#include "server/log/LogReport.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressDialog;
class QPushButton;
class QSpinBox;
class QTableView;
class QSystemTrayIcon;
class QTabWidget;
class QTreeWidget;
class QUrl;

namespace velora {
class Prompter;
}

namespace velora::server::frame {
class OperatorConsole;
}
namespace velora::widgets {
class TFtip;
class TFsend;
class NewMessageAlert;
class TFmeter;
}
namespace velora::server::clientservice {
struct ClientRow;
}
namespace velora::server::log {
class ReportJob;
}

namespace velora::server::ui {

class LogTableModel;
class AuditTableModel;
class RefillingComboBox;
class UsageTab;
class TFentry;
class TFentryEdit;
class TFpassword;
class TFrename;
class TFeditsmtp;

// A tray icon with its image and menu, ready to show: a tray icon shown
// without an image is blank, and Qt complains.
QSystemTrayIcon *makeTrayIcon(QMenu *menu, QObject *parent);

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    TForm1(frame::OperatorConsole &console, Prompter &prompter, QWidget *parent = nullptr);
    ~TForm1() override;

    // The operator's commands, as the buttons and the tray menu run them.
    void Button5Click();       // Online
    void Button6Click();       // Offline
    void Button2Click();       // Dial the selected entry
    void Button3Click();       // Hang up
    void hangup1Click();       // tray "hangup"
    void Button1Click();       // Get entries
    void SpeedButton6Click();  // Lock
    void SpeedButton7Click();  // Unlock
    void SpeedButton8Click();  // Unlock all
    void SpeedButton3Click();  // Save configuration
    void restore1Click();      // tray "restore"/"hide" and the icon's double click
    void exit1Click();
    void Tipoftheday1Click();  // "Menu" > "Tip of the day"
    void Showhelp1Click();     // "Menu" > "Show help"
    void About1Click();        // "Menu" > "About"
    // The desktop's browser by default; tests put a recorder here.
    std::function<bool(const QUrl &)> urlOpener;
    // Page to file, with the messages of the save; also the tip window's Close.
    void savecfg();

    // The user page and the entry windows.
    void updateuserlist();
    void SpeedButton1Click();  // Add new user
    void LvuserDblClick();
    void lventryContextPopup(const QPoint &pos);
    void PopupMenu2Popup();
    void renameentry1Click();
    void showentryproperties1Click();
    void sfd1Click();  // "Menu" > "Create new entry"
    TFpassword *userWindow() const { return userWindow_; }
    TFentry *entryWindow() const { return entryWindow_; }
    TFrename *renameWindow() const { return renameWindow_; }
    TFentryEdit *newEntryWindow() const { return newEntryWindow_; }

    // The Log page.
    void ComboBox1Enter();  // refill the entry list
    void ComboBox4Enter();  // refill the user list
    void sortlog();         // lists to filter, then Showlog
    void Showlog();         // grid and summary for the filter
    void SpeedButton5Click();  // Sort log
    void SpeedButton2Click();  // Clear log
    void Button4Click();       // Create report
    const log::LogFilter &logFilter() const { return logFilter_; }
    // The audit tab for the filter's period, and this month's cost.
    void showAudit();
    void showMonthCost();
    // New audit rows are shown this long after the first of them.
    static constexpr int AuditRefreshMs = 300;
    // How long the status bar says that the configuration was saved.
    static constexpr int SavedNoticeMs = 10000;

    // The "SMTP auto relay" page (TForm1Smtp.cpp).
    void updatesmtp();
    void LVsmtpDblClick();
    void SpeedButton9Click();  // save
    void CheckBox9Click();
    TFeditsmtp &editSmtpWindow();
    // The save dialog of the report: the proposed file name, and whether only
    // the text format is offered; the chosen path, empty when cancelled.
    using SaveChooser = std::function<QString(const QString &proposed, bool textOnly)>;
    void setSaveChooser(SaveChooser chooser) { saveChooser_ = std::move(chooser); }
    log::ReportJob &reportJob() const { return *reportJob_; }

    widgets::TFtip *tipWindow() const { return tip_.get(); }

    // Chat (TForm1Chat.cpp).
    void Sendmessage2Click();  // tray "Send message"
    void LvclientContextPopup(const QPoint &pos);
    void PopupMenu3Popup();
    void sendmessage3Click();  // "send message to " + name
    // The operator's inbox on the status tick.
    void bacapesan(const std::string &records);
    widgets::TFsend *sendWindow() const { return send_.get(); }
    widgets::NewMessageAlert *messageAlert() const { return alert_.get(); }
    QMenu *clientMenu() const { return PopupMenu3; }
    // The bandwidth meter: tray "Bandwidth meter" and the "Menu" one.
    void Bandwidthmeter2Click();
    void Bandwidthmeter3Click();
    widgets::TFmeter *meterWindow() const { return meter_.get(); }
    // Null where the desktop has no tray.
    QSystemTrayIcon *trayIcon() const { return tray_; }
    QMenu *trayMenu() const { return PopupMenu1; }
    int trayImageShown() const { return trayImage_; }
    const QString &trayHintShown() const { return trayHint_; }

signals:
    // The operator chose to end the program.
    void quitRequested();
    void reportWritten(const QString &path);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void openHelpFile(const QString &name);
    QWidget *buildMainPage();
    QWidget *buildConfigurationPage();
    QWidget *buildClientListPage();
    QWidget *buildLogPage();
    QWidget *buildAuditTab();
    QWidget *buildUserPage();
    void buildEntryWindows();
    QWidget *buildSmtpPage();
    void connectSmtp();
    void showRelayDisabled();
    // Step 7 of the second stage: the lists, this month and year, the log.
    void fillLogLists();
    void showLoggingDisabled();
    QString chooseReportFile(const QString &proposed, bool textOnly);
    void startReport(const QString &path, log::ReportFormat format);
    void reportProgressed(qint64 done, qint64 total);
    void reportFinished(bool ok, const QString &why);
    void buildTray();
    void connectConsole();
    void buildChat();

    void refreshStatus();
    void updateentry(const std::vector<std::string> &names);
    void loadcfg();
    void pageToSettings();
    void showClientRows(const std::vector<clientservice::ClientRow> &rows);
    void showOnline(bool online);
    void secondStageDone();
    void showProblem(const QString &text);

    frame::OperatorConsole &console_;
    Prompter &prompter_;
    std::unique_ptr<widgets::TFtip> tip_;
    std::unique_ptr<widgets::TFmeter> meter_;
    QAction *Bandwidthmeter3 = nullptr;
    void buildMeter();

    QTabWidget *PageControl1 = nullptr;
    // "Main window"
    QLabel *Label8 = nullptr;
    QLabel *Label22 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label21 = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label25 = nullptr;
    QLabel *LbLockedBy = nullptr;
    QLabel *Label10 = nullptr;
    QListWidget *lventry = nullptr;
    QPushButton *Button6 = nullptr;
    QPushButton *Button5 = nullptr;
    QPushButton *Button2 = nullptr;
    QPushButton *Button3 = nullptr;
    QPushButton *SpeedButton6 = nullptr;
    QPushButton *SpeedButton7 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *SpeedButton4 = nullptr;
    QMenu *PopupMenu4 = nullptr;
    QAction *Tipoftheday1 = nullptr;
    QAction *Showhelp1 = nullptr;
    QAction *About1 = nullptr;
    // "Configuration"
    QLineEdit *Edit1 = nullptr;
    // The certificate's fingerprint, to read out to the users who trust it.
    QLineEdit *tlsFingerprint_ = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QCheckBox *CheckBox2 = nullptr;
    QCheckBox *CheckBox3 = nullptr;
    QComboBox *ComboBox5 = nullptr;
    QComboBox *ComboBox6 = nullptr;
    QCheckBox *CheckBox4 = nullptr;
    QLineEdit *Edit3 = nullptr;
    QCheckBox *CheckBox9 = nullptr;
    QCheckBox *CheckBox6 = nullptr;
    QCheckBox *CheckBox7 = nullptr;
    // "Line policies" ([policy])
    QCheckBox *policyRedial = nullptr;
    QSpinBox *policyRedialHoldoff = nullptr;
    QSpinBox *policyRedialMaxFail = nullptr;
    QSpinBox *policyIdleHangup = nullptr;
    QSpinBox *policyIdleBytes = nullptr;
    QLineEdit *policyMonthlyBudget = nullptr;
    QPushButton *SpeedButton3 = nullptr;
    // "Client list"
    QTreeWidget *Lvclient = nullptr;
    QPushButton *SpeedButton8 = nullptr;
    // "User/password" and the entry windows
    QTreeWidget *Lvuser = nullptr;
    TFpassword *userWindow_ = nullptr;
    QMenu *PopupMenu2 = nullptr;
    QAction *renameentry1 = nullptr;
    QAction *showentryproperties1 = nullptr;
    QAction *sfd1 = nullptr;
    TFentry *entryWindow_ = nullptr;
    TFrename *renameWindow_ = nullptr;
    TFentryEdit *newEntryWindow_ = nullptr;
    std::string selectedEntry_;
    // "Log"
    QTableView *DBGrid1 = nullptr;
    LogTableModel *logModel_ = nullptr;
    QLabel *Label28 = nullptr;
    QLabel *Label29 = nullptr;
    QLabel *Label32 = nullptr;
    QLabel *Label33 = nullptr;
    QLabel *LbMonthCost = nullptr;
    QLabel *Label45 = nullptr;
    QTabWidget *logTabs = nullptr;
    QTableView *DBGridAudit = nullptr;
    AuditTableModel *auditModel_ = nullptr;
    QLabel *LbAuditCount = nullptr;
    bool auditStale_ = true;  // a row came while the tab was not shown
    UsageTab *usageTab_ = nullptr;
    bool usageStale_ = true;
    void showUsage();
    QTimer auditRefresh_;
    RefillingComboBox *ComboBox1 = nullptr;
    RefillingComboBox *ComboBox4 = nullptr;
    QComboBox *ComboBox2 = nullptr;
    QComboBox *ComboBox3 = nullptr;
    QPushButton *SpeedButton5 = nullptr;
    QPushButton *SpeedButton2 = nullptr;
    QPushButton *Button4 = nullptr;
    log::LogFilter logFilter_;
    SaveChooser saveChooser_;
    std::unique_ptr<log::ReportJob> reportJob_;
    QProgressDialog *reportProgress_ = nullptr;
    log::ReportHeading reportHeading_;
    log::LogFilter reportFilter_;
    log::ReportFormat reportFormat_ = log::ReportFormat::Workbook;
    bool reportStopped_ = false;
    QString reportPath_;
    QString reportDir_;
    // "SMTP auto relay"
    QTreeWidget *LVsmtp = nullptr;
    QLineEdit *Edit2 = nullptr;
    QPushButton *SpeedButton9 = nullptr;
    QLabel *Label46 = nullptr;
    int Edit2Tag_ = 0;  // the port field was typed in
    TFeditsmtp *Feditsmtp = nullptr;
    // Tray
    QSystemTrayIcon *tray_ = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *restore1 = nullptr;
    QMenu *dial1 = nullptr;
    QAction *hangup1 = nullptr;
    QAction *Sendmessage2 = nullptr;
    QAction *Bandwidthmeter2 = nullptr;
    QAction *exit1 = nullptr;
    std::vector<QAction *> dialItems_;
    int trayImage_ = -1;
    QString trayHint_;
    // Chat
    std::unique_ptr<widgets::TFsend> send_;
    std::unique_ptr<widgets::NewMessageAlert> alert_;
    QMenu *PopupMenu3 = nullptr;
    QAction *sendmessage3 = nullptr;
    std::string menuName_, menuAddress_;
};

}  // namespace velora::server::ui
