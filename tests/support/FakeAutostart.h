#pragma once
#include "server/frame/Autostart.h"

namespace velora::test {
class FakeAutostart : public server::frame::Autostart {
public:
    bool enabled = false;
    int disables = 0;
    bool isEnabled() const override { return enabled; }
    bool enable(std::string * = nullptr) override { return enabled = true; }
    bool disable(std::string * = nullptr) override
    {
        ++disables;
        enabled = false;
        return true;
    }
};
}  // namespace velora::test
