// The client's reader of what the server sends: the framer in chunks the
// input chooses, the login reply, then push lines through the status model.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "client/core/ClientSession.h"
#include "client/core/StatusModel.h"
#include "common/LineFramer.h"
#include "common/TextCodec.h"
#include "common/WireCodec.h"

using namespace velora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the chunk size, as the kernel would split a stream.
    const std::size_t chunk = 1 + data[0] % 64;
    std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    LineFramer framer(client::core::ClientSession::MaxPushLineLength);
    client::core::StatusModel model;
    std::vector<std::string> lines;
    bool first = true;
    while (!rest.empty()) {
        const std::string_view piece = rest.substr(0, chunk);
        rest.remove_prefix(piece.size());
        lines.clear();
        if (!framer.feed(piece, lines))
            return 0;
        for (const auto &raw : lines) {
            const std::string line = trimBlanks(raw);
            if (first) {
                wire::parseLoginReply(line);
                first = false;
                continue;
            }
            const wire::PushLine p = wire::parsePushLine(line);
            if (p.hasStatus)
                model.apply(p.status);
            for (const auto &m : p.messages)
                if (m.senderName.size() + m.senderAddress.size() > line.size())
                    std::abort();
            model.clockTick();
        }
    }
    return 0;
}
