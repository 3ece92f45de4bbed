#pragma once
// The installed status icons (packaging/icons), built in, as the trays of
// both programs show them.

#include <QIcon>

namespace velora::widgets {

enum class StatusIcon { LineUp, LineDown, NoService };

// Null when the build has no Qt SVG or the picture cannot be read: the
// caller paints its own instead.
QIcon statusIcon(StatusIcon which);

}  // namespace velora::widgets
