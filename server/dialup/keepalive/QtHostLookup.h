#pragma once
// Host-name look-up through Qt's resolver, which runs off the event loop and
// reports back on it.

#include "server/dialup/keepalive/IcmpPort.h"

namespace velora::server::dialup {

class QtHostLookup final : public HostLookup {
    Q_OBJECT
public:
    using HostLookup::HostLookup;
    ~QtHostLookup() override;

    bool start(const std::string &host, std::string *error) override;
    void cancel() override;

private:
    int pendingId_ = -1;
};

}  // namespace velora::server::dialup
