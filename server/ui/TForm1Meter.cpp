// The bandwidth meter of the server window: made hidden with the window, fed
// from the core's samples while its Tag says so.
#include "server/ui/TForm1.h"

#include <QAction>
#include <QMenu>

#include "server/frame/OperatorConsole.h"
#include "server/ui/Named.h"
#include "widgets/TFmeter.h"

namespace velora::server::ui {

void TForm1::buildMeter()
{
    meter_ = std::make_unique<widgets::TFmeter>();
    Bandwidthmeter3 = named(new QAction(QStringLiteral("Bandwidth meter"), this), "Bandwidthmeter3");
    PopupMenu4->addAction(Bandwidthmeter3);
    connect(Bandwidthmeter2, &QAction::triggered, this, &TForm1::Bandwidthmeter2Click);
    connect(Bandwidthmeter3, &QAction::triggered, this, &TForm1::Bandwidthmeter3Click);
    connect(&console_, &frame::OperatorConsole::bandwidthSample, this,
            [this](const QString &entry, quint64 download, quint64 upload) {
                if (meter_->Tag == 1)
                    meter_->feed(entry, download, upload);
            });
}

void TForm1::Bandwidthmeter2Click() { meter_->show(); }

void TForm1::Bandwidthmeter3Click() { meter_->show(); }

}  // namespace velora::server::ui
