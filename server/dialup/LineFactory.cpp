#include "LineFactory.h"

#include "server/dialup/SimulatedLine.h"

namespace velora::server {

std::unique_ptr<LineDriver> makeLineDriver(const IniProfile &config, const std::string &baseDir,
                                           std::string &problem)
{
    const std::string driver = config.readString("line", "driver", "simulated");
    if (driver != "simulated")
        problem = "unknown line driver \"" + driver + "\" in [line] driver; using the simulated line";
    return std::make_unique<SimulatedLine>(baseDir);
}

}  // namespace velora::server
