#pragma once
// The tray's three pictures: the status icons the package installs, built in.

#include <QIcon>

namespace velora::server::ui {

// 0 connected, 1 not connected, 2 server offline; anything else reads as 1.
QIcon trayImage(int index);

}  // namespace velora::server::ui
