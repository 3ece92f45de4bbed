#pragma once
// A Shutdown for tests: nothing is ever switched off.

#include <string>
#include <vector>

#include "server/state/Shutdown.h"

namespace velora::test {

// Tests: records every request.
class RecordingShutdown : public server::state::Shutdown {
public:
    std::vector<int> calls;
    bool result = true;
    std::string error;
    bool MyExitWindows(int flags) override
    {
        calls.push_back(flags);
        return result;
    }
    std::string lastError() const override { return result ? std::string() : error; }
};

}  // namespace velora::test
