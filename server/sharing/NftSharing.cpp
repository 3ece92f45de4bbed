#include "server/sharing/NftSharing.h"

#include <nftables/libnftables.h>

#include <fstream>
#include <sstream>

namespace velora::server::sharing {

bool validInterfaceName(const std::string &name)
{
    if (name.empty() || name.size() > 15 || name == "." || name == "..")
        return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || u >= 0x7f || c == '"' || c == '/' || c == '\\' || c == '\'' || c == ';' || c == '#')
            return false;
    }
    return true;
}

NftSharing::NftSharing(std::function<void(const std::string &)> say, std::string forwardingPath)
    : ctx_(nft_ctx_new(NFT_CTX_DEFAULT)), say_(std::move(say)), forwardingPath_(std::move(forwardingPath))
{
    if (ctx_) {
        nft_ctx_buffer_output(ctx_);
        nft_ctx_buffer_error(ctx_);
    }
}

NftSharing::~NftSharing()
{
    if (ctx_)
        nft_ctx_free(ctx_);
}

std::string NftSharing::shareScript(const std::string &interfaceName)
{
    // Made when missing, then emptied and refilled: the kernel takes the whole
    // buffer as one transaction, so no packet sees two shared links or none.
    std::string s = "add table inet velora\n"
                    "add chain inet velora postrouting { type nat hook postrouting priority srcnat; policy accept; }\n"
                    "flush chain inet velora postrouting\n";
    if (!interfaceName.empty())
        s += "add rule inet velora postrouting oifname \"" + interfaceName + "\" masquerade\n";
    return s;
}

std::string NftSharing::guardScript(const std::vector<std::string> &interfaces, const std::vector<int> &ports)
{
    std::string s = "add table inet velora\n"
                    "add chain inet velora input { type filter hook input priority filter; policy accept; }\n"
                    "flush chain inet velora input\n";
    std::string portSet;
    for (const int p : ports) {
        if (p < 1 || p > 65535)
            return {};
        portSet += (portSet.empty() ? "" : ", ") + std::to_string(p);
    }
    if (portSet.empty())
        return s;
    for (const std::string &name : interfaces) {
        // A trailing "*" is nft's own wildcard; nothing else may reach the rule.
        const bool prefix = !name.empty() && name.back() == '*';
        if (!validInterfaceName(prefix ? name.substr(0, name.size() - 1) : name) ||
            name.find('*') != (prefix ? name.size() - 1 : std::string::npos))
            return {};
        s += "add rule inet velora input iifname \"" + name + "\" tcp dport { " + portSet + " } ct state new drop\n";
    }
    return s;
}

bool NftSharing::guardInput(const std::vector<std::string> &interfaces, const std::vector<int> &ports,
                            std::string *why)
{
    const std::string script = guardScript(interfaces, ports);
    if (script.empty()) {
        if (why)
            *why = "not an interface name or port for the guard";
        return false;
    }
    return run(script, false, why);
}

bool NftSharing::run(const std::string &script, bool dryRun, std::string *why)
{
    if (!ctx_) {
        if (why)
            *why = "nftables cannot be used here (no context)";
        return false;
    }
    nft_ctx_set_dry_run(ctx_, dryRun);
    const int rc = nft_run_cmd_from_buffer(ctx_, script.c_str());
    nft_ctx_set_dry_run(ctx_, false);
    if (rc != 0 && why) {
        std::string err = nft_ctx_get_error_buffer(ctx_);
        while (!err.empty() && (err.back() == '\n' || err.back() == ' '))
            err.pop_back();
        *why = "nftables refused the sharing rules" + (err.empty() ? std::string() : ": " + err);
    } else if (rc != 0) {
        nft_ctx_get_error_buffer(ctx_);  // emptied for the next command
    }
    nft_ctx_get_output_buffer(ctx_);
    return rc == 0;
}

bool NftSharing::usable(std::string *why)
{
    // A check run: the kernel validates the transaction and throws it away.
    return run(shareScript({}), true, why);
}

bool NftSharing::enableForwarding(std::string *why)
{
    std::ifstream in(forwardingPath_);
    std::string value;
    in >> value;
    if (value == "1")
        return true;
    std::ofstream out(forwardingPath_);
    out << "1\n";
    out.flush();
    if (!out) {
        if (why)
            *why = "cannot switch on IPv4 forwarding (" + forwardingPath_ + ")";
        return false;
    }
    if (say_)
        say_("IPv4 forwarding switched on for connection sharing");
    return true;
}

bool NftSharing::share(const std::string &interfaceName, std::string *why)
{
    if (!interfaceName.empty() && !validInterfaceName(interfaceName)) {
        if (why)
            *why = "not an interface name: " + interfaceName;
        return false;
    }
    if (!run(shareScript(interfaceName), false, why))
        return false;
    return interfaceName.empty() || enableForwarding(why);
}

bool NftSharing::unshareAll(std::string *why)
{
    // Added first so that the delete finds a table even when none was left.
    return run("add table inet velora\ndelete table inet velora\n", false, why);
}

}  // namespace velora::server::sharing
