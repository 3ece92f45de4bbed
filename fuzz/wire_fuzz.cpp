// Every reader of wire lines on arbitrary bytes: no crash, and building what
// was read gives a line that reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/WireCodec.h"

using namespace velora::wire;


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char *>(data), size);
    const auto fields = parseCommandLine(line);
    if (fields.size() > MaxCommandFields)
        std::abort();
    parseLoginReply(line);
    const PushLine p = parsePushLine(line);
    if (p.hasStatus) {
        const PushLine again = parsePushLine(buildPushLine(buildStatusRecord(p.status), {}, {}));
        if (again.status.entryNames != p.status.entryNames || again.status.ownLock != p.status.ownLock)
            std::abort();
    }
    for (const auto &m : parseMessageRecords(line))
        if (parseMessageRecords(buildMessageRecord(m)).size() != 1)
            std::abort();
    return 0;
}
