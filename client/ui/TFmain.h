#pragma once
// The client's main window: the server's line as the server reports it, the
// commands the user's privileges allow, the settings panel and the tray.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QTimer>
#include <QUrl>
#include <QWidget>

#include "client/core/ClientSession.h"
#include "client/core/ClientSettings.h"
#include "client/core/StatusModel.h"
#include "common/Prompter.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QToolButton;
class QTreeWidget;

namespace velora::widgets {
class TFtip;
class TFsend;
class NewMessageAlert;
class TFmeter;
}

namespace velora::client::ui {

class TFpassword;

class TFmain : public QWidget {
    Q_OBJECT
public:
    enum Panel { PanelNormal, PanelConfig, PanelClientList, PanelTask };

    TFmain(core::ClientSettings &settings, core::ClientSession &session, Prompter &prompter,
           QWidget *parent = nullptr);
    ~TFmain() override;

    // How URLs and help files are opened; tests replace it.
    std::function<bool(const QUrl &)> urlOpener;

    // Settings.
    bool loadcfg();
    bool savecfg();
    void Button6Click();
    void Timer2Timer();

    // Session.
    void Button1Click();
    void Button3Click();
    void connect1Click();

    // Status view.
    void UpdateGUI(const wire::StatusRecord &record);
    // A command the server ignored changes nothing it would push: the view
    // goes back to the last record when none follows within this time.
    static constexpr int FollowUpMs = 4000;
    void restoreView();
    void tulisentry();
    void hapuspopup();
    void isiclientlist();
    void Timer3Timer();

    // Commands.
    void Button2Click();
    void zanfel(int index);
    void Button4Click();
    void hangup1Click();
    void Button5Click();
    void SpeedButton1Click();
    void SpeedButton2Click();

    // Navigation.
    void showPanel(Panel panel);
    void TrayDblClick();
    void restore1Click();
    void Showhelp1Click();
    void Stepbystepshareinternetconnection2Click();
    void ipoftheday1Click();
    void Onlinehelp2Click();
    void About2Click();
    void Userpassword2Click();
    bool OpenURL(const QUrl &url);

    // Chat (TFmainChat.cpp).
    void bacapesan(const std::vector<wire::MessageRecord> &records);
    void LvclientContextPopup(const QPoint &pos);
    void PopupMenu2Popup();
    void sendmessage1Click();   // the list's "send message to " + name
    void sendmessage2Click();   // tray "send message"
    void Sendmessege1Click();   // main menu "Send messege"
    widgets::TFsend *sendWindow() const { return send_; }
    widgets::NewMessageAlert *messageAlert() const { return alert_; }
    QMenu *clientMenu() const { return PopupMenu2; }

    int trayImage() const { return trayImage_; }
    QString trayHint() const;
    const core::StatusModel &model() const { return model_; }
    QMenu *trayMenu() const { return PopupMenu1; }
    QMenu *dialMenu() const { return dial1; }
    QMenu *mainMenu() const { return PopupMenu3; }
    TFpassword *passwordWindow() const { return password_; }
    widgets::TFtip *tipWindow() const { return tip_; }

    // The bandwidth meter: tray and main menu "Bandwidth meter", and the
    // traffic part of a push line (even poll ticks only).
    void Bandwidthmeter1Click();
    void Bandwidthmeter2Click();
    void baca_bandwidth(const std::string &download, const std::string &upload);
    widgets::TFmeter *meterWindow() const { return meter_.get(); }
    QTimer &clockTimer() { return Timer3; }
    QTimer &followUpTimer() { return followUp_; }

    static const char *const OnlineHelpUrl;

signals:
    // The person confirmed closing the program.
    void closeConfirmed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildWindow();
    void buildMenus();
    void buildChat();
    void fillSendList();
    void buildMeter();
    void onLoginStarted();
    void onLoginAccepted();
    void onLoginRefused(const std::string &reason);
    void onHandshakeFailed();
    void onDisconnectedState();
    void onConnectFailed(const QString &reason);
    void onConnectionLost(const QString &reason);
    void onRetryScheduled(int seconds);
    void askLogin();
    void applyPrivileges();
    void setCommandsEnabled(bool on);
    void expectStatus();
    void selectActiveEntry();
    // The entry the list starts on: the default entry, else the last one
    // dialled, else the first.
    void preselectEntry();
    bool dialEntry(const std::string &entry);
    void showConnectHelp(const QString &reason);
    void setTrayImage(int index);
    void setTrayHint(const std::string &hint);
    void setMessage(const std::string &text);
    void showLabels();
    void openHelpFile(const QString &name);
    void notConnected();
    void error(const std::string &text);

    core::ClientSettings &settings_;
    core::ClientSession &session_;
    Prompter &prompter_;
    core::StatusModel model_;
    int trayImage_ = 0;
    std::vector<QAction *> dialItems_;
    // What the entry lists and the client list show, so that an unchanged
    // record leaves an open list or a selection alone.
    std::vector<std::string> shownEntries_;
    std::vector<std::vector<std::string>> shownClients_;
    bool dialItemsExist_ = false;
    std::optional<wire::StatusRecord> lastRecord_;
    std::string selectedActive_;
    std::string lastDialled_;
    QString lostReason_;
    bool closing_ = false;
    // A window of its own: a tool window, shown while the main one is in the tray.
    std::unique_ptr<widgets::TFmeter> meter_;

    QTimer Timer2;  // start-up step, once
    QTimer Timer3;  // online clock
    QTimer followUp_;

public:
    // Controls, named as the window's design names them.
    QToolButton *SpeedButton4 = nullptr;
    QComboBox *ComboBox1 = nullptr;
    QLabel *Image1 = nullptr, *Image2 = nullptr, *Image3 = nullptr, *Image6 = nullptr, *Image7 = nullptr;
    QPushButton *Button1 = nullptr, *Button3 = nullptr, *Button5 = nullptr, *Button5a = nullptr,
                *Button2 = nullptr, *Button4 = nullptr;
    QWidget *Panelnormal = nullptr, *Panelconfig = nullptr, *Panelclientlist = nullptr, *Paneltask = nullptr;
    QLabel *LbLockedBy = nullptr;
    QLabel *Label1 = nullptr, *Label4 = nullptr, *Label6 = nullptr, *Label8 = nullptr, *Label14 = nullptr,
           *Label21 = nullptr, *Label22 = nullptr;
    // Why the server cannot be reached, and the way to the settings that fix it.
    QWidget *connectHelp = nullptr;
    QLabel *connectHelpText = nullptr;
    QPushButton *openConfiguration = nullptr;
    QLabel *savedNotice = nullptr;
    QLineEdit *IPWRITER1 = nullptr, *edport = nullptr;
    QComboBox *comboupdate = nullptr, *combodefault = nullptr;
    QCheckBox *ckautoconnect = nullptr, *ckminimize = nullptr, *ckstart = nullptr, *ckreconnect = nullptr;
    QCheckBox *cktls = nullptr;
    QLineEdit *edtlsport = nullptr;
    QPushButton *Button6 = nullptr;
    QTreeWidget *Lvclient = nullptr;
    QPushButton *SpeedButton1 = nullptr, *SpeedButton2 = nullptr;
    QSystemTrayIcon *tray = nullptr;
    QMenu *PopupMenu1 = nullptr, *PopupMenu3 = nullptr, *dial1 = nullptr;
    QAction *restore1 = nullptr, *connect1 = nullptr, *hangup1 = nullptr, *sendmessage2 = nullptr,
            *Bandwidthmeter1 = nullptr, *exit1 = nullptr;
    QAction *Mainwindow1 = nullptr, *Configuration2 = nullptr, *Clientlist2 = nullptr, *Task1 = nullptr,
            *Sendmessege1 = nullptr, *Bandwidthmeter2 = nullptr, *Userpassword2 = nullptr,
            *Showhelp1 = nullptr, *Stepbystepshareinternetconnection2 = nullptr, *ipoftheday1 = nullptr,
            *Onlinehelp2 = nullptr, *About2 = nullptr, *exit3 = nullptr;

private:
    TFpassword *password_ = nullptr;
    widgets::TFtip *tip_ = nullptr;
    // Chat
    widgets::TFsend *send_ = nullptr;
    widgets::NewMessageAlert *alert_ = nullptr;
    QMenu *PopupMenu2 = nullptr;
    QAction *sendmessage1 = nullptr;
    std::string menuName_, menuAddress_;
};

}  // namespace velora::client::ui
