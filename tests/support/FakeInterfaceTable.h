#pragma once
// An interface table the test writes row by row, in place of the kernel's.

#include "server/traffic/InterfaceTable.h"

#include <algorithm>
#include <string>
#include <vector>

namespace velora::test {

class FakeInterfaceTable final : public server::traffic::InterfaceTable {
public:
    std::vector<server::traffic::InterfaceRow> rows;
    bool readable = true;
    int reads = 0;

    server::traffic::InterfaceRow &add(std::uint32_t index, const std::string &name, std::uint32_t type,
                                       const std::string &address = {})
    {
        server::traffic::InterfaceRow r;
        r.index = index;
        r.name = name;
        r.type = type;
        r.address = address;
        rows.push_back(r);
        return rows.back();
    }
    server::traffic::InterfaceRow &row(const std::string &name)
    {
        return *std::find_if(rows.begin(), rows.end(), [&](const auto &r) { return r.name == name; });
    }
    void remove(const std::string &name)
    {
        rows.erase(std::remove_if(rows.begin(), rows.end(), [&](const auto &r) { return r.name == name; }),
                   rows.end());
    }

    bool read(std::vector<server::traffic::InterfaceRow> &out) override
    {
        ++reads;
        out = readable ? rows : std::vector<server::traffic::InterfaceRow>{};
        return readable;
    }
};

}  // namespace velora::test
