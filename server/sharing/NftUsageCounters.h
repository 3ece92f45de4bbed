#pragma once
// Usage counters in the table `inet velora`: two dynamic sets keyed by the
// office computer's address whose elements carry a counter (the forward hook
// adds each packet that leaves or enters through the shared interface), and
// two named counters for this computer's own traffic on it. The sets need no
// list of the office's addresses and a read is one listing of the table, in
// process: each nftables command fetches the table's sets with their
// elements whatever it lists, so listing the sets and counters one by one
// costs more than the whole table at once.

#include <string>

#include "server/sharing/UsageCounters.h"

struct nft_ctx;

namespace velora::server::sharing {

class NftUsageCounters final : public UsageCounters {
public:
    NftUsageCounters();
    ~NftUsageCounters() override;
    NftUsageCounters(const NftUsageCounters &) = delete;
    NftUsageCounters &operator=(const NftUsageCounters &) = delete;

    bool count(const std::string &interfaceName, std::string *why = nullptr) override;
    std::optional<CounterReading> read(std::string *why = nullptr) override;

    // The transaction count() runs; empty for a name that is not an interface's.
    static std::string countScript(const std::string &interfaceName);
    // The figures of `nft -j list table inet velora`; nullopt when it is not that.
    static std::optional<CounterReading> parseListing(const std::string &json);

private:
    nft_ctx *ctx_ = nullptr;
};

}  // namespace velora::server::sharing
