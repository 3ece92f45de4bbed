#pragma once
// One row of the client list as the window shows it. Texts are Windows-1252.

#include <string>

namespace velora::server::clientservice {

struct ClientRow {
    std::string name;
    std::string address;
    std::string lock;
};

}  // namespace velora::server::clientservice
