#pragma once
// The help pages of both programs: the folder's own page first, else the
// installed one beside the binary, opened in the desktop's browser.

#include <QString>
#include <QUrl>

#include <functional>
#include <string>

namespace velora::widgets {

// `ownPath` is the page in the program's folder; `helpFolder` names the
// installed folder under share/velora ("server help", "client help").
// Returns the message for the user, empty when the page was opened.
std::string openHelpPage(const QString &ownPath, const QString &helpFolder, const QString &name,
                         const std::function<bool(const QUrl &)> &opener);

}  // namespace velora::widgets
