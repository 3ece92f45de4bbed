#include "widgets/TFsend.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/TextCodec.h"
#include "widgets/ChatHistory.h"

namespace velora::widgets {

const TFsend::Flavour TFsend::Server{"Lvclient1", "You have not yet select a recepient"};
const TFsend::Flavour TFsend::Client{"Lvclient", "You have not yet selected a recipient"};
const char *const TFsend::NoRecipient = "--";
const char *const TFsend::OperatorTip = "The server's operator";

bool TFsend::isOperator(const std::string &name) { return name.rfind("Admin@", 0) == 0; }

void TFsend::markOperatorRow(QTreeWidgetItem *item, const QString &tip)
{
    item->setToolTip(0, tip);
    QFont bold = item->font(0);
    bold.setBold(true);
    item->setFont(0, bold);
}

namespace {

// A slice of received lines may take this long before the loop runs again.
constexpr qint64 SliceBudgetMs = 4;
const QColor Received(0, 0, 255);

// Wire texts (Windows-1252) as shown, and back.
QString shown(const std::string &cp1252) { return QString::fromStdString(cp1252ToUtf8(cp1252)); }
QString shown(const char *utf8) { return QString::fromUtf8(utf8); }

QLabel *hidden(const char *name, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setTextFormat(Qt::PlainText);
    l->hide();
    return l;
}

}  // namespace

TFsend::TFsend(const Flavour &flavour, Prompter &prompter, std::function<Identity()> identity, Sender sender,
               QWidget *parent)
    : QWidget(parent, Qt::Window), flavour_(flavour), prompter_(prompter), identity_(std::move(identity)),
      sender_(std::move(sender))
{
    setObjectName(QStringLiteral("TFsend"));
    setWindowTitle(QStringLiteral("send message"));

    auto *left = new QWidget(this);
    left->setObjectName(QStringLiteral("messagePanel"));
    left->setFixedWidth(NarrowWidth - 12);
    Label3 = new QLabel(left);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setTextFormat(Qt::PlainText);
    Label3->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    Memo1 = new QPlainTextEdit(left);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setToolTip(QStringLiteral("Write the message  here"));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setFixedHeight(58);
    Memo1->setTabChangesFocus(true);
    Memo1->installEventFilter(this);
    SpeedButton1 = new QPushButton(QStringLiteral("send"), left);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton2 = new QPushButton(QStringLiteral("send All"), left);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    for (QPushButton *b : {SpeedButton1, SpeedButton2}) {
        b->setAutoDefault(false);
        b->setMinimumWidth(70);
    }
    Label1 = new QLabel(QStringLiteral("see client list >>"), left);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label1->setCursor(Qt::PointingHandCursor);
    Label1->setStyleSheet(QStringLiteral("color: #0000c0;"));
    Label1->installEventFilter(this);
    memo2 = new ChatHistory(left);
    memo2->setObjectName(QStringLiteral("memo2"));
    memo2->setToolTip(QStringLiteral("click client name in bracket to reply message"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(SpeedButton1);
    buttons->addWidget(SpeedButton2);
    buttons->addStretch();
    buttons->addWidget(Label1);
    auto *column = new QVBoxLayout(left);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(Label3);
    column->addWidget(Memo1);
    column->addLayout(buttons);
    column->addWidget(memo2, 1);

    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("clientListPanel"));
    Label2 = new QLabel(QStringLiteral("List of online client"), panel);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);
    Label2->setWordWrap(true);
    list = new QTreeWidget(panel);
    list->setObjectName(QString::fromLatin1(flavour_.listName));
    list->setToolTip(QStringLiteral("select client name which you want to send message"));
    list->setColumnCount(3);
    list->setHeaderHidden(true);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The panel has room for the names; the address is in the tip.
    list->hideColumn(1);
    list->hideColumn(2);
    auto *panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(Label2);
    panelLayout->addWidget(list, 1);
    panel->hide();

    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(6, 6, 6, 6);
    outer->addWidget(left, 0, Qt::AlignLeft);
    outer->addWidget(panel, 1);

    Lbdari = hidden("Lbdari", this);
    Lblocalip = hidden("Lblocalip", this);
    Lbremoteip = hidden("Lbremoteip", this);
    Lbremotename = hidden("Lbremotename", this);

    setFixedSize(NarrowWidth, FormHeight);
    slide_.setInterval(StepMs);
    connect(&slide_, &QTimer::timeout, this, &TFsend::slideStep);
    drain_.setSingleShot(true);
    drain_.setInterval(0);
    connect(&drain_, &QTimer::timeout, this, &TFsend::drainBacklog);

    connect(SpeedButton1, &QPushButton::clicked, this, &TFsend::SpeedButton1Click);
    connect(SpeedButton2, &QPushButton::clicked, this, &TFsend::SpeedButton2Click);
    connect(list, &QTreeWidget::itemClicked, this, &TFsend::listClick);
    connect(memo2, &ChatHistory::linkClicked, this, &TFsend::memo2LinkClick);

    // FormCreate.
    memo2->clear();
    Memo1->clear();
    Label3->setText(QStringLiteral("You have not yet selected a recipient"));
    setRecipient(NoRecipient, {});
}

TFsend::~TFsend() = default;

void TFsend::showEvent(QShowEvent *event)
{
    if (!centred_) {
        centred_ = true;
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - QPoint(WideWidth / 2, FormHeight / 2));
    }
    FormShow();
    QWidget::showEvent(event);
}

bool TFsend::eventFilter(QObject *watched, QEvent *event)
{
    // Ctrl+Enter sends; Enter alone starts a new line.
    if (watched == Memo1 && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & Qt::ControlModifier)) {
            sendmessage();
            return true;
        }
    }
    if (watched == Label1 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        Label1Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TFsend::FormShow()
{
    const Identity me = identity_ ? identity_() : Identity{};
    from_ = me.name;
    localIp_ = me.address;
    Lbdari->setText(shown(from_));
    Lblocalip->setText(shown(localIp_));
}

void TFsend::setRecipient(const std::string &address, const std::string &name)
{
    remoteIp_ = address;
    remoteName_ = name;
    Lbremoteip->setText(shown(address));
    Lbremotename->setText(shown(name));
}

// ------------------------------------------------------------ the list

void TFsend::setClients(const std::vector<Row> &rows)
{
    // The list is rebuilt on every change of the client list: a row the
    // person is pointing at stays selected if its client is still there.
    QByteArray keepName, keepAddress;
    if (QTreeWidgetItem *current = list->currentItem(); current && current->isSelected()) {
        keepName = current->data(0, Qt::UserRole).toByteArray();
        keepAddress = current->data(1, Qt::UserRole).toByteArray();
    }
    list->clear();
    // Nobody writes to themselves.
    const Identity me = identity_ ? identity_() : Identity{};
    for (const Row &r : rows) {
        if (r.name == me.name && r.address == me.address)
            continue;
        auto *item = new QTreeWidgetItem(list, {shown(r.name), shown(r.address), shown(r.lock)});
        item->setData(0, Qt::UserRole, QByteArray::fromStdString(r.name));
        item->setData(1, Qt::UserRole, QByteArray::fromStdString(r.address));
        if (isOperator(r.name))
            markOperatorRow(item, shown(OperatorTip) + QStringLiteral(", ") + shown(r.address));
        else
            item->setToolTip(0, shown(r.address));
        if (!keepName.isNull() && keepName == item->data(0, Qt::UserRole).toByteArray() &&
            keepAddress == item->data(1, Qt::UserRole).toByteArray())
            list->setCurrentItem(item);
    }
}

void TFsend::listClick()
{
    QTreeWidgetItem *item = list->currentItem();
    if (!item || !item->isSelected())
        return;
    const std::string name = item->data(0, Qt::UserRole).toByteArray().toStdString();
    const std::string address = item->data(1, Qt::UserRole).toByteArray().toStdString();
    Label3->setText(QStringLiteral("Send message to : ") + shown(name) + QStringLiteral("        IP address :") +
                    shown(address));
    setRecipient(address, name);
}

void TFsend::memo2LinkClick(const QString &name)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = list->topLevelItem(i);
        if (item->text(0) != name)
            continue;
        const std::string caption = item->data(0, Qt::UserRole).toByteArray().toStdString();
        const std::string address = item->data(1, Qt::UserRole).toByteArray().toStdString();
        Label3->setText(QStringLiteral("Reply message to : ") + shown(caption) +
                        QStringLiteral("        IP address :") + shown(address));
        setRecipient(address, caption);
        return;
    }
}

// ------------------------------------------------------------ the slide

void TFsend::setListOpen(bool open)
{
    slide_.stop();
    listOpen_ = open;
    setFixedWidth(open ? WideWidth : NarrowWidth);
    findChild<QWidget *>(QStringLiteral("clientListPanel"))->setVisible(open);
    Label1->setText(open ? QStringLiteral("<< close client list") : QStringLiteral("see client list >>"));
}

void TFsend::Label1Click()
{
    if (slide_.isActive())
        return;
    slideTarget_ = listOpen_ ? NarrowWidth : WideWidth;
    slide_.start();
}

void TFsend::slideStep()
{
    // One step of 6 pixels per timer tick, never a loop that holds the window.
    if (slideTarget_ == WideWidth) {
        if (width() <= WideWidth) {
            setFixedWidth(width() + Step);
            return;
        }
        setListOpen(true);
    } else {
        if (width() > NarrowWidth - 1) {
            setFixedWidth(width() - Step);
            return;
        }
        setListOpen(false);
    }
}

void TFsend::bringToFront()
{
    show();
    raise();
    activateWindow();
}

void TFsend::openWithList()
{
    setListOpen(true);
    bringToFront();
}

void TFsend::openFor(const std::string &name, const std::string &address)
{
    setRecipient(address, name);
    Label3->setText(QStringLiteral("Send message to : ") + shown(name) + QStringLiteral("        IP address :") +
                    shown(address));
    setListOpen(false);
    bringToFront();
}

// ------------------------------------------------------------ sending

void TFsend::SpeedButton1Click() { sendmessage(); }

void TFsend::SpeedButton2Click()
{
    setRecipient("All", "All clients");
    sendmessage();
}

void TFsend::sendmessage()
{
    if (remoteIp_ == NoRecipient) {
        prompter_.tell(Prompter::Kind::Information, "Select client name to send");
        return;
    }
    const QString typed = Memo1->toPlainText();
    QStringList lines;
    if (!typed.isEmpty()) {
        lines = typed.split(QLatin1Char('\n'));
        // A memo's last line break opens no line of its own.
        if (lines.size() > 1 && lines.last().isEmpty())
            lines.removeLast();
    }
    if (lines.isEmpty()) {
        prompter_.tell(Prompter::Kind::Information, "No message to send");
        return;
    }
    // The sender as it is now: the client's address is known only once connected.
    if (identity_)
        FormShow();
    wire::MessageRecord record{localIp_, from_, {}};
    for (const QString &line : lines)
        record.bodyLines.push_back(typedToWire(line.toStdString()));
    if (sender_) {
        if (const std::optional<std::string> error = sender_(remoteIp_, wire::buildMessageRecord(record))) {
            prompter_.tell(Prompter::Kind::Error, *error);
            return;
        }
    }

    memo2->addLine(QStringLiteral("< ") + shown(from_) + QStringLiteral(" to ") + shown(remoteName_) +
                   QStringLiteral(" >"));
    if (record.bodyLines.size() == 1) {
        const std::string &line = record.bodyLines.front();
        if (line.size() + from_.size() > HeaderRoom)
            memo2->addLine(shown(line));
        else
            memo2->addPart(shown(line));
    } else {
        for (const std::string &line : record.bodyLines)
            memo2->addLine(shown(line));
    }
    Memo1->clear();
    // No row may look chosen once the choice is spent.
    list->clearSelection();
    setRecipient(NoRecipient, remoteName_);
    Label3->setText(shown(flavour_.recipientReset));
}

// ------------------------------------------------------------ receiving

bool TFsend::inputHasFocus() const { return Memo1->hasFocus() || list->hasFocus(); }

int TFsend::bacapesan(const std::vector<wire::MessageRecord> &records, const std::string &ownAddress)
{
    int shownCount = 0;
    for (const wire::MessageRecord &r : records) {
        if (r.senderAddress.empty() || r.senderAddress == ownAddress)
            continue;
        backlog_.push_back(r);
        lastReceived_ = r;
        ++shownCount;
    }
    if (shownCount > 0 && !drain_.isActive())
        drainBacklog();
    return shownCount;
}

void TFsend::drainBacklog()
{
    QElapsedTimer clock;
    clock.start();
    while (!backlog_.empty()) {
        showRecord(backlog_.front());
        backlog_.pop_front();
        if (clock.elapsed() >= SliceBudgetMs)
            break;
    }
    if (!backlog_.empty())
        drain_.start();
}

void TFsend::flushBacklog()
{
    drain_.stop();
    while (!backlog_.empty()) {
        showRecord(backlog_.front());
        backlog_.pop_front();
    }
}

void TFsend::showRecord(const wire::MessageRecord &record)
{
    memo2->addLine(QStringLiteral("< "), Received);
    memo2->addLinkPart(shown(record.senderName), Received);
    memo2->addPart(QStringLiteral(": >"), Received);
    const std::vector<std::string> &lines = record.bodyLines;
    if (lines.size() < 2) {
        if (lines.empty())
            return;
        if (record.senderName.size() + lines.front().size() > HeaderRoom)
            memo2->addLine(shown(lines.front()), Received);
        else
            memo2->addPart(shown(lines.front()), Received);
        return;
    }
    for (const std::string &line : lines)
        memo2->addLine(shown(line), Received);
}

}  // namespace velora::widgets
