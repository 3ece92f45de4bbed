#pragma once
// Sharing through nftables, in-process through libnftables: a table of our
// own, `inet velora`, whose postrouting NAT chain holds one masquerade rule
// for the shared interface. Rules outside that table are never touched.

#include <functional>
#include <string>

#include "server/sharing/SharingSwitch.h"

struct nft_ctx;

namespace velora::server::sharing {

class NftSharing final : public SharingSwitch {
public:
    // `say` hears what the switch did to the system beside the rules
    // (IPv4 forwarding switched on); `forwardingPath` is the sysctl file.
    explicit NftSharing(std::function<void(const std::string &)> say = {},
                        std::string forwardingPath = "/proc/sys/net/ipv4/ip_forward");
    ~NftSharing() override;
    NftSharing(const NftSharing &) = delete;
    NftSharing &operator=(const NftSharing &) = delete;

    bool usable(std::string *why = nullptr) override;
    bool share(const std::string &interfaceName, std::string *why = nullptr) override;
    bool guardInput(const std::vector<std::string> &interfaces, const std::vector<int> &ports,
                    std::string *why = nullptr) override;
    bool unshareAll(std::string *why = nullptr) override;

    // The transaction that share() runs, for the tests of its text.
    static std::string shareScript(const std::string &interfaceName);
    // The transaction that guardInput() runs; empty when a name or port is unfit.
    static std::string guardScript(const std::vector<std::string> &interfaces, const std::vector<int> &ports);
    static constexpr const char *kTable = "inet velora";

private:
    bool run(const std::string &script, bool dryRun, std::string *why);
    bool enableForwarding(std::string *why);

    nft_ctx *ctx_ = nullptr;
    std::function<void(const std::string &)> say_;
    std::string forwardingPath_;
};

}  // namespace velora::server::sharing
