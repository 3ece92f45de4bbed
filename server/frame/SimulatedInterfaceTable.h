#pragma once
// The simulated line's made-up PPP interfaces as an interface table, so that
// the sampler sees them as it sees the kernel's.

#include <QPointer>

#include <memory>

#include "server/dialup/lines/SimulatedLine.h"
#include "server/traffic/InterfaceTable.h"
#include "server/traffic/LinuxInterfaceTable.h"

namespace velora::server::frame {

class SimulatedInterfaceTable final : public traffic::InterfaceTable {
public:
    explicit SimulatedInterfaceTable(dialup::SimulatedLine &line) : line_(&line) {}

    bool read(std::vector<traffic::InterfaceRow> &rows) override
    {
        rows.clear();
        // A test may replace the line after the platform was made.
        if (!line_)
            return true;
        for (const dialup::SimulatedInterface &i : line_->interfaces()) {
            traffic::InterfaceRow r;
            r.index = i.index;
            r.name = i.name;
            r.type = traffic::kArphrdPpp;
            r.inOctets = i.inOctets;
            r.outOctets = i.outOctets;
            r.counters32 = true;
            r.address = i.address;
            rows.push_back(std::move(r));
        }
        return true;
    }

private:
    QPointer<dialup::SimulatedLine> line_;
};

// The table that goes with a line: the simulated line's own, else the kernel's.
inline std::unique_ptr<traffic::InterfaceTable> interfaceTableFor(dialup::LineDriver &line)
{
    if (auto *simulated = qobject_cast<dialup::SimulatedLine *>(&line))
        return std::make_unique<SimulatedInterfaceTable>(*simulated);
    return std::make_unique<traffic::LinuxInterfaceTable>();
}

}  // namespace velora::server::frame
