#include "server/sharing/NftUsageCounters.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <nftables/libnftables.h>

#include "server/sharing/SharingSwitch.h"

namespace velora::server::sharing {

namespace {

std::string trimmedError(nft_ctx *ctx)
{
    std::string err = nft_ctx_get_error_buffer(ctx);
    while (!err.empty() && (err.back() == '\n' || err.back() == ' '))
        err.pop_back();
    return err;
}

std::uint64_t counterBytes(const QJsonObject &counter)
{
    return static_cast<std::uint64_t>(counter.value(QStringLiteral("bytes")).toDouble());
}

}  // namespace

NftUsageCounters::NftUsageCounters() : ctx_(nft_ctx_new(NFT_CTX_DEFAULT))
{
    if (ctx_) {
        nft_ctx_buffer_output(ctx_);
        nft_ctx_buffer_error(ctx_);
        nft_ctx_output_set_flags(ctx_, NFT_CTX_OUTPUT_JSON);
    }
}

NftUsageCounters::~NftUsageCounters()
{
    if (ctx_)
        nft_ctx_free(ctx_);
}

std::string NftUsageCounters::countScript(const std::string &interfaceName)
{
    if (!validInterfaceName(interfaceName))
        return {};
    const std::string q = "\"" + interfaceName + "\"";
    // "add" leaves a set or counter that exists as it is: its figures go on.
    return "add table inet velora\n"
           "add set inet velora usage_up { type ipv4_addr; size 65535; flags dynamic; counter; }\n"
           "add set inet velora usage_down { type ipv4_addr; size 65535; flags dynamic; counter; }\n"
           "add counter inet velora usage_own_up\n"
           "add counter inet velora usage_own_down\n"
           "add chain inet velora usage_forward { type filter hook forward priority filter; policy accept; }\n"
           "add chain inet velora usage_output { type filter hook output priority filter; policy accept; }\n"
           "add chain inet velora usage_input { type filter hook input priority filter; policy accept; }\n"
           "flush chain inet velora usage_forward\n"
           "flush chain inet velora usage_output\n"
           "flush chain inet velora usage_input\n"
           // Before the masquerade (postrouting) and after its undoing
           // (prerouting): the forward hook sees the office's own addresses.
           "add rule inet velora usage_forward oifname " + q + " update @usage_up { ip saddr }\n"
           "add rule inet velora usage_forward iifname " + q + " update @usage_down { ip daddr }\n"
           "add rule inet velora usage_output oifname " + q + " counter name \"usage_own_up\"\n"
           "add rule inet velora usage_input iifname " + q + " counter name \"usage_own_down\"\n";
}

bool NftUsageCounters::count(const std::string &interfaceName, std::string *why)
{
    const std::string script = countScript(interfaceName);
    if (script.empty() || !ctx_) {
        if (why)
            *why = script.empty() ? "not an interface name: " + interfaceName : "nftables cannot be used here";
        return false;
    }
    const bool ok = nft_run_cmd_from_buffer(ctx_, script.c_str()) == 0;
    if (!ok && why)
        *why = "nftables refused the usage counters: " + trimmedError(ctx_);
    else if (!ok)
        nft_ctx_get_error_buffer(ctx_);
    nft_ctx_get_output_buffer(ctx_);
    return ok;
}

std::optional<CounterReading> NftUsageCounters::read(std::string *why)
{
    if (!ctx_) {
        if (why)
            *why = "nftables cannot be used here";
        return std::nullopt;
    }
    if (nft_run_cmd_from_buffer(ctx_, "list table inet velora") != 0) {
        const std::string err = trimmedError(ctx_);
        nft_ctx_get_output_buffer(ctx_);
        if (why)
            *why = "the usage counters cannot be read: " + err;
        return std::nullopt;
    }
    nft_ctx_get_error_buffer(ctx_);
    auto reading = parseListing(nft_ctx_get_output_buffer(ctx_));
    if (!reading && why)
        *why = "the usage counters cannot be read: nftables answered something else";
    return reading;
}

std::optional<CounterReading> NftUsageCounters::parseListing(const std::string &json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    if (!doc.isObject())
        return std::nullopt;
    CounterReading r;
    std::vector<AddressBytes> &rows = r.computers;
    const auto rowOf = [&rows](const std::string &address) -> AddressBytes & {
        for (AddressBytes &a : rows)
            if (a.address == address)
                return a;
        rows.push_back({address, 0, 0});
        return rows.back();
    };
    for (const QJsonValue &item : doc.object().value(QStringLiteral("nftables")).toArray()) {
        const QJsonObject o = item.toObject();
        if (o.contains(QStringLiteral("counter"))) {
            const QJsonObject c = o.value(QStringLiteral("counter")).toObject();
            const QString name = c.value(QStringLiteral("name")).toString();
            if (name == QLatin1String("usage_own_up"))
                r.ownUp = counterBytes(c);
            else if (name == QLatin1String("usage_own_down"))
                r.ownDown = counterBytes(c);
            continue;
        }
        const QJsonObject set = o.value(QStringLiteral("set")).toObject();
        const QString name = set.value(QStringLiteral("name")).toString();
        const bool up = name == QLatin1String("usage_up");
        if (!up && name != QLatin1String("usage_down"))
            continue;
        for (const QJsonValue &e : set.value(QStringLiteral("elem")).toArray()) {
            const QJsonObject elem = e.toObject().value(QStringLiteral("elem")).toObject();
            const std::string address = elem.value(QStringLiteral("val")).toString().toStdString();
            if (address.empty())
                continue;
            const std::uint64_t bytes = counterBytes(elem.value(QStringLiteral("counter")).toObject());
            (up ? rowOf(address).up : rowOf(address).down) = bytes;
        }
    }
    return r;
}

}  // namespace velora::server::sharing
