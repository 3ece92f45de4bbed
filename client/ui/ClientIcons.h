#pragma once
// The client's icons, drawn at run time; the tray's are the installed status
// icons, built in, where Qt SVG is there.

#include <QIcon>
#include <QPixmap>

namespace velora::client::ui::icons {

QPixmap serverOffline(int size = 24);   // no connection to the server
QPixmap serverOnline(int size = 24);    // connected to the server
QPixmap lineConnected(int size = 24);   // the dial-up line is up
QPixmap lineIdle(int size = 24);        // the line is not up
QPixmap locked(int size = 24);
// Tray images: 0 no server, 1 line connected, 2 server but line not connected.
QIcon tray(int index);

}  // namespace velora::client::ui::icons
