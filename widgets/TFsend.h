#pragma once
// The send-message window of both programs: the message being written
// (Memo1), the history (memo2), the list of online clients that slides open
// beside them, and the hidden sender and recipient values. What differs
// between the programs (the list's name, the recipient line after a send,
// who the sender is and how a record leaves) comes in as parameters.
// Texts kept here are Windows-1252 bytes, as on the wire.

#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/Prompter.h"
#include "common/WireCodec.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace velora::widgets {

class ChatHistory;

class TFsend : public QWidget {
    Q_OBJECT
public:
    static constexpr int NarrowWidth = 377;
    static constexpr int WideWidth = 489;
    static constexpr int Step = 6;
    static constexpr int StepMs = 8;
    static constexpr int FormHeight = 257;
    // The 34-character rule: a one-line message longer than this together
    // with its sender's name goes on a line of its own.
    static constexpr std::size_t HeaderRoom = 34;

    struct Flavour {
        const char *listName;           // "Lvclient1" or "Lvclient"
        const char *recipientReset;     // Label3 after a send
    };
    static const Flavour Server;
    static const Flavour Client;

    struct Identity {
        std::string name;     // Lbdari
        std::string address;  // Lblocalip
    };
    struct Row {
        std::string name, address, lock;
    };
    // Sends one message record; an error text for the box when it could not.
    using Sender = std::function<std::optional<std::string>(const std::string &recipient, const std::string &record)>;

    TFsend(const Flavour &flavour, Prompter &prompter, std::function<Identity()> identity, Sender sender,
           QWidget *parent = nullptr);
    ~TFsend() override;

    // ---- the window's events ----
    void FormShow();
    void SpeedButton1Click();  // "send"
    void SpeedButton2Click();  // "send All"
    void Label1Click();        // open or close the list
    void listClick();          // Lvclient1Click / LvclientClick
    void memo2LinkClick(const QString &name);
    void sendmessage();

    // ---- what the programs call ----
    // Both lists follow the client list; the rows of the send window's list.
    void setClients(const std::vector<Row> &rows);
    // Tray and main menu: wide, the list shown, in front.
    void openWithList();
    // A client's context menu: narrow, the recipient chosen.
    void openFor(const std::string &name, const std::string &address);
    // Shows the received records (skipping those from ownAddress and those
    // without a sender); returns how many will be shown. Long runs are
    // added in slices so that the window keeps answering.
    int bacapesan(const std::vector<wire::MessageRecord> &records, const std::string &ownAddress);
    // Memo1 or the list has the keyboard focus: no popup is wanted.
    bool inputHasFocus() const;
    // The newest record that bacapesan took to show.
    const wire::MessageRecord &lastReceived() const { return lastReceived_; }
    // Records still waiting for their slice.
    std::size_t backlog() const { return backlog_.size(); }
    // Adds everything waiting at once (for tests).
    void flushBacklog();

    int Label1Tag() const { return listOpen_ ? 1 : 0; }
    bool sliding() const { return slide_.isActive(); }
    const std::string &recipientAddress() const { return remoteIp_; }
    const std::string &recipientName() const { return remoteName_; }

    // Components, by their given names.
    QPlainTextEdit *Memo1 = nullptr;
    ChatHistory *memo2 = nullptr;
    QTreeWidget *list = nullptr;  // Lvclient1 on the server, Lvclient on the client
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr;
    QPushButton *SpeedButton1 = nullptr, *SpeedButton2 = nullptr;
    QLabel *Lbdari = nullptr, *Lblocalip = nullptr, *Lbremoteip = nullptr, *Lbremotename = nullptr;

    static const char *const NoRecipient;
    // The operator's row in a client list: its name begins "Admin@".
    static bool isOperator(const std::string &name);
    static const char *const OperatorTip;
    // Bold, with the tip: the operator's row stands out in a list.
    static void markOperatorRow(QTreeWidgetItem *item, const QString &tip);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setRecipient(const std::string &address, const std::string &name);
    void setListOpen(bool open);
    void slideStep();
    void showRecord(const wire::MessageRecord &record);
    void drainBacklog();
    void bringToFront();

    Flavour flavour_;
    Prompter &prompter_;
    std::function<Identity()> identity_;
    Sender sender_;
    std::string from_, localIp_;
    std::string remoteIp_ = NoRecipient, remoteName_;
    bool listOpen_ = false;
    int slideTarget_ = NarrowWidth;
    QTimer slide_;
    std::deque<wire::MessageRecord> backlog_;
    wire::MessageRecord lastReceived_;
    QTimer drain_;
    bool centred_ = false;
};

}  // namespace velora::widgets
