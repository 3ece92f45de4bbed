#pragma once
// Names for screen readers (and for tests that drive the windows as a person
// would): every control a person uses is found by its caption or its name.

class QObject;
class QWidget;

namespace velora::widgets {

// Gives each control below root that has no name of its own (a caption, a
// title, a buddy label's text) its objectName as accessible name. Labels
// keep their text (a named label stops showing it).
void nameForAccessibility(QWidget *root);
// The same for every window of the application as it is shown.
void nameWindowsOnShow(QObject *application);

}  // namespace velora::widgets
