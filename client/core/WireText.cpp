#include "client/core/WireText.h"

#include <algorithm>

#include "common/TextCodec.h"

namespace velora::client::core {

QString shownText(const std::string &cp1252) { return QString::fromStdString(cp1252ToUtf8(cp1252)); }

std::string wireText(const QString &typed) { return typedToWire(typed.toStdString()); }

std::string secretText(const QString &typed)
{
    std::string out = utf8ToCp1252(typed.toStdString());
    std::erase_if(out, [](char c) { return c == '\r' || c == '\n'; });
    return out;
}

}  // namespace velora::client::core
