#pragma once
// What a client's "dial" and "hangup" reach: the dial-up engine's owner.

#include <string>

namespace velora::server::state {

class DialControl {
public:
    virtual ~DialControl() = default;
    // The engine's entry name follows every "dial", locked or not.
    virtual void setDialEntry(const std::string &entry) = 0;
    virtual void executedial(const std::string &entry, const std::string &dialer) = 0;
    virtual void executehangup() = 0;
};

}  // namespace velora::server::state
