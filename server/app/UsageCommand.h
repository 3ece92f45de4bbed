#pragma once
// `velora usage`: the bytes of each office computer in a billing cycle, read
// from log.db beside a running server.

#include <string>

#include "server/app/ServerCommandLine.h"

namespace velora::server::app {

// Prints the cycle's lines (or JSON) on stdout: 0, or 1 with why on stderr.
int printUsage(const ServerArgs &args, const std::string &baseDir);

}  // namespace velora::server::app
