#pragma once
// Connection sharing: the dialled link becomes the one way out for the
// office. One real implementation drives the kernel's NAT; tests hand in a
// recording fake.

#include <string>
#include <vector>

namespace velora::server::sharing {

class SharingSwitch {
public:
    virtual ~SharingSwitch() = default;

    // Whether this process may change the sharing rules at all. Changes
    // nothing; false with the reason in plain words.
    virtual bool usable(std::string *why = nullptr) = 0;
    // Shares `interfaceName` and un-shares whatever was shared before, in one
    // step. An empty name un-shares only (the link's interface is not known
    // yet).
    virtual bool share(const std::string &interfaceName, std::string *why = nullptr) = 0;
    // New TCP connections to `ports` that come in on one of `interfaces`
    // (a name, or a prefix ending in "*") are dropped, in one step with
    // whatever guard stood before; no interfaces removes the guard.
    virtual bool guardInput(const std::vector<std::string> &interfaces, const std::vector<int> &ports,
                            std::string *why = nullptr) = 0;
    // Removes every trace of sharing that this switch made.
    virtual bool unshareAll(std::string *why = nullptr) = 0;
};

// A name the kernel could give an interface: at most 15 bytes, no blanks,
// quotes or slashes. Anything else never reaches a rule.
bool validInterfaceName(const std::string &name);

}  // namespace velora::server::sharing
