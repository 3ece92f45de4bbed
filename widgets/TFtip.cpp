#include "widgets/TFtip.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QShowEvent>
#include <QVBoxLayout>

#include "common/TextCodec.h"

namespace velora::widgets {

TFtip::TFtip(std::string tipFile, QWidget *parent)
    : QDialog(parent, Qt::Tool), tipFile_(std::move(tipFile))
{
    setObjectName(QStringLiteral("TFtip"));
    setWindowTitle(QStringLiteral("Tip of the day"));

    Label1 = new QLabel(QStringLiteral("Did You know ?"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont heading = Label1->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.4);
    Label1->setFont(heading);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);  // a tip file is text, never markup
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2->setFixedSize(380, 140);
    Label2->setFrameShape(QFrame::StyledPanel);
    Label2->setMargin(8);
    Label2->setAutoFillBackground(true);
    QPalette pal = Label2->palette();
    pal.setColor(QPalette::Window, QColor(0xff, 0xfb, 0xe6));
    Label2->setPalette(pal);

    CheckBox1 = new QCheckBox(QStringLiteral("Show Tip of the day on startup"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    SpeedButton2 = new QPushButton(QStringLiteral("<< Previous tip"), this);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton1 = new QPushButton(QStringLiteral("Next tip      >>"), this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton3 = new QPushButton(QStringLiteral("Close"), this);
    SpeedButton3->setObjectName(QStringLiteral("SpeedButton3"));
    SpeedButton1->setAutoDefault(false);
    SpeedButton2->setAutoDefault(false);
    SpeedButton3->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(SpeedButton2);
    buttons->addWidget(SpeedButton1);
    buttons->addStretch();
    buttons->addWidget(SpeedButton3);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addWidget(CheckBox1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(SpeedButton1, &QPushButton::clicked, this, &TFtip::SpeedButton1Click);
    connect(SpeedButton2, &QPushButton::clicked, this, &TFtip::SpeedButton2Click);
    connect(SpeedButton3, &QPushButton::clicked, this, &TFtip::SpeedButton3Click);
}

void TFtip::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFtip::FormShow()
{
    auto tips = readTipFile(tipFile_);
    if (!tips && !fallback_.empty())
        tips = parseTips(fallback_);
    if (!tips) {
        // Rebuilt from empty: no tip of an older read stays on show.
        tips_ = TipList();
        emit problem(QStringLiteral("Cannot read the tip file ") + QString::fromLocal8Bit(tipFile_));
    } else {
        tips_ = TipList(std::move(*tips));
    }
    checkedWhenShown_ = CheckBox1->isChecked();
    startAt(QRandomGenerator::global()->generate64());
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

}  // namespace velora::widgets
