#include "widgets/HelpPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace velora::widgets {

std::string openHelpPage(const QString &ownPath, const QString &helpFolder, const QString &name,
                         const std::function<bool(const QUrl &)> &opener)
{
    QString path = ownPath;
    const QString installed =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/velora/") + helpFolder + QLatin1Char('/') + name;
    if (!QFile::exists(path) && QFile::exists(installed))
        path = QDir::cleanPath(installed);
    if (!QFile::exists(path))
        return "The help file is missing: " + path.toStdString();
    if (!opener(QUrl::fromLocalFile(path)))
        return "The help file cannot be opened: " + path.toStdString();
    return {};
}

}  // namespace velora::widgets
