#include "server/frame/ServerPlatform.h"

#include <stdexcept>

namespace velora::server::frame {

ServerPlatform completePlatform(ServerPlatform platform)
{
    const char *missing = !platform.line       ? "line"
                          : !platform.lookup   ? "lookup"
                          : !platform.icmp     ? "icmp"
                          : !platform.shutdown ? "shutdown"
                          : !platform.autostart ? "autostart"
                          : !platform.interfaces ? "interfaces"
                          : !platform.sharing  ? "sharing"
                          : !platform.usage  ? "usage"
                                                : nullptr;
    if (missing)
        throw std::invalid_argument(std::string("ServerPlatform lacks its ") + missing);
    return platform;
}

}  // namespace velora::server::frame
