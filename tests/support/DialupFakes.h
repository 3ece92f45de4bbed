#pragma once
// Scripted stand-ins for the keep-alive's look-up and ICMP socket: they
// record what was asked and finish only when the test says so.

#include "server/dialup/keepalive/IcmpPort.h"

#include <string>
#include <vector>

namespace velora::test {

using namespace velora::server::dialup;

class FakeHostLookup final : public HostLookup {
public:
    std::vector<std::string> started;
    int cancels = 0;
    bool refuseToStart = false;
    bool pending = false;

    bool start(const std::string &host, std::string *error) override
    {
        if (refuseToStart) {
            if (error)
                *error = "refused by the test";
            return false;
        }
        started.push_back(host);
        pending = true;
        return true;
    }
    void cancel() override
    {
        ++cancels;
        pending = false;
    }
    void complete(int errorCode, const std::string &address = {})
    {
        pending = false;
        emit finished(errorCode, address);
    }
};

class FakeIcmpPort final : public IcmpPort {
public:
    struct Echo {
        std::string address;
        std::string payload;
        int ttl;
        int timeoutMs;
    };
    std::vector<Echo> sent;
    int cancels = 0;
    bool noSocket = false;
    bool inFlight = false;

    bool sendEcho(const std::string &address, const std::string &payload, int ttl,
                  int timeoutMs, std::string *error) override
    {
        if (noSocket) {
            if (error)
                *error = "no ICMP socket (test)";
            return false;
        }
        sent.push_back({address, payload, ttl, timeoutMs});
        inFlight = true;
        return true;
    }
    void cancel() override
    {
        ++cancels;
        inFlight = false;
    }
    // Ends the echo in flight: a reply (0) or an error such as a time-out.
    void finish(int errorCode = 0)
    {
        inFlight = false;
        EchoResult r;
        r.errorCode = errorCode;
        r.address = sent.empty() ? std::string() : sent.back().address;
        r.roundTripMs = errorCode == 0 ? 1 : -1;
        emit echoFinished(r);
    }
};

}  // namespace velora::test
