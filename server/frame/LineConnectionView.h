#pragma once
// What the traffic sampler may know of the line (it knows nothing of the
// dial-up): which entry owns an address, the interfaces the line names as
// its connections' own, and a connection's nominal speed.

#include "server/dialup/engine/DialupOperations.h"
#include "server/dialup/lines/LineDriver.h"
#include "server/traffic/TrafficSampler.h"

namespace velora::server::frame {

// Bound to the line and the dial-up operations, which outlive the sampler.
traffic::ConnectionView lineConnectionView(dialup::LineDriver &line, dialup::DialupOperations &dialOps);

}  // namespace velora::server::frame
