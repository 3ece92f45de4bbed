#pragma once
// An interface table the test writes, in place of sysfs and the kernel.

#include "server/dialup/lines/NetInterfaces.h"

#include <filesystem>
#include <map>

namespace velora::test {

using namespace velora::server::dialup;

class FakeNetInterfaces final : public NetInterfaces {
public:
    std::map<std::string, NetInterface> table;
    // Interfaces that are up exactly while a file exists, so that a test's
    // commands can raise and drop them.
    std::map<std::string, std::string> upWhileFile;
    int lastIndex = 0;

    // A name not in the table is a new link, with an index of its own.
    void set(const std::string &name, bool up, const std::string &ipv4, int type = 1, std::int64_t mbps = -1)
    {
        const auto it = table.find(name);
        const int index = it != table.end() ? it->second.index : ++lastIndex;
        table[name] = {name, type, up, ipv4, mbps, index};
    }
    void remove(const std::string &name) { table.erase(name); }

    std::vector<std::string> names() const override
    {
        std::vector<std::string> n;
        for (const auto &kv : table)
            n.push_back(kv.first);
        return n;
    }
    std::optional<NetInterface> find(const std::string &name) const override
    {
        const auto it = table.find(name);
        if (it == table.end())
            return std::nullopt;
        NetInterface i = it->second;
        if (const auto f = upWhileFile.find(name); f != upWhileFile.end())
            i.up = std::filesystem::exists(f->second);
        return i;
    }
};

}  // namespace velora::test
