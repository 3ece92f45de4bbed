#pragma once
// Every component keeps its given name as its objectName.

#include <QString>

namespace velora::server::ui {

template <class W>
W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace velora::server::ui
