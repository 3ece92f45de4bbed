#include "TFtip.h"

#include <QCheckBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/TextCodec.h"

namespace velora::client {

TFtip::TFtip(const QString &tipFile, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TFtip"));
    setWindowTitle(QStringLiteral("Tip of the day"));
    setWindowFlag(Qt::Tool);
    // A missing file leaves the list empty; the window then shows no tip.
    if (auto tips = readTipFile(tipFile.toStdString()))
        tips_ = TipList(std::move(*tips));

    auto *layout = new QVBoxLayout(this);
    Label1 = new QLabel(QStringLiteral("Did You know ?"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont heading = Label1->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.3);
    Label1->setFont(heading);
    layout->addWidget(Label1);
    Label2 = new QLabel(this);
    Label2->setTextFormat(Qt::PlainText);  // a tip file is text, never markup
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    Label2->setFixedSize(380, 120);
    Label2->setFrameShape(QFrame::StyledPanel);
    Label2->setMargin(8);
    layout->addWidget(Label2);
    CheckBox1 = new QCheckBox(QStringLiteral("Show Tip of the day on startup"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    layout->addWidget(CheckBox1);
    auto *buttons = new QHBoxLayout;
    SpeedButton2 = new QPushButton(QStringLiteral("<< Previous tip"), this);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton1 = new QPushButton(QStringLiteral("Next tip      >>"), this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton3 = new QPushButton(QStringLiteral("Close"), this);
    SpeedButton3->setObjectName(QStringLiteral("SpeedButton3"));
    buttons->addWidget(SpeedButton2);
    buttons->addWidget(SpeedButton1);
    buttons->addStretch();
    buttons->addWidget(SpeedButton3);
    layout->addLayout(buttons);

    connect(SpeedButton1, &QPushButton::clicked, this, &TFtip::SpeedButton1Click);
    connect(SpeedButton2, &QPushButton::clicked, this, &TFtip::SpeedButton2Click);
    connect(SpeedButton3, &QPushButton::clicked, this, &TFtip::SpeedButton3Click);
}

void TFtip::showEvent(QShowEvent *event)
{
    startAt(static_cast<std::uint64_t>(QDateTime::currentMSecsSinceEpoch()));
    checkedWhenShown_ = CheckBox1->isChecked();
    QDialog::showEvent(event);
}

void TFtip::reject()
{
    // Only "Close" saves by design, but a person who cleared the check box
    // and closed the window another way expects it to stick as well.
    if (CheckBox1->isChecked() != checkedWhenShown_) {
        checkedWhenShown_ = CheckBox1->isChecked();
        emit saveRequested();
    }
    QDialog::reject();
}

void TFtip::startAt(std::uint64_t seed)
{
    tips_.startRandom(seed);
    showTip();
}

void TFtip::showTip()
{
    Label2->setText(QString::fromStdString(cp1252ToUtf8(tips_.current())).trimmed());
}

void TFtip::SpeedButton1Click()
{
    tips_.next();
    showTip();
}

void TFtip::SpeedButton2Click()
{
    tips_.previous();
    showTip();
}

void TFtip::SpeedButton3Click()
{
    checkedWhenShown_ = CheckBox1->isChecked();
    emit saveRequested();
    close();
}

}  // namespace velora::client
