#pragma once
// Which line a base dir uses: config.ini [line] driver.

#include <memory>
#include <string>

#include "common/IniProfile.h"
#include "server/dialup/lines/LineDriver.h"

namespace velora::server::dialup {

// The driver named by [line] driver ("simulated" when the key is missing).
// An unusable choice falls back to the simulated line and says why in problem.
std::unique_ptr<LineDriver> makeLineDriver(const IniProfile &config, const std::string &baseDir,
                                           std::string &problem);

}  // namespace velora::server::dialup
