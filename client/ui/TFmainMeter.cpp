// The client's bandwidth meter: fed from the traffic part of the push lines,
// subscribed while it is shown, unsubscribed by its "Exit".
#include "client/ui/TFmain.h"

#include <QAction>
#include <QLabel>

#include "client/core/MeterFeed.h"
#include "widgets/TFmeter.h"
#include "widgets/TrendGraph.h"

namespace velora::client::ui {

void TFmain::buildMeter()
{
    widgets::MeterOptions options;
    options.clientCopy = true;
    meter_ = std::make_unique<widgets::TFmeter>(options);
    session_.meterActive = [this] { return meter_ && meter_->Tag == 1; };
    connect(meter_.get(), &widgets::TFmeter::shown, this,
            [this] { session_.sendLine(core::meterSubscriptionLine(true)); });
    connect(meter_.get(), &widgets::TFmeter::exited, this,
            [this] { session_.sendLine(core::meterSubscriptionLine(false)); });
    connect(Bandwidthmeter1, &QAction::triggered, this, &TFmain::Bandwidthmeter1Click);
    connect(Bandwidthmeter2, &QAction::triggered, this, &TFmain::Bandwidthmeter2Click);
    connect(&session_, &core::ClientSession::trafficReceived, this, &TFmain::baca_bandwidth);
}

void TFmain::Bandwidthmeter1Click() { meter_->show(); }

void TFmain::Bandwidthmeter2Click() { meter_->show(); }

void TFmain::baca_bandwidth(const std::string &download, const std::string &upload)
{
    // An item that is not a whole number ends the update where it stands.
    const auto d = core::trafficValue(download);
    if (!d)
        return;
    const auto u = core::trafficValue(upload);
    if (!u) {
        meter_->downloadtrend->addValue(0, *d);
        return;
    }
    meter_->feed(Label8->text(), *d, *u);
}

}  // namespace velora::client::ui
