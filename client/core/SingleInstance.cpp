#include "client/core/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace velora::client::core {

SingleInstance::SingleInstance(const QString &clientDir)
{
    // Outside the client folder, which may be read-only or shared.
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    // One folder reached through a link or another spelling is still one folder.
    QString folder = QDir(clientDir).canonicalPath();
    if (folder.isEmpty())
        folder = QDir(clientDir).absolutePath();
    const QByteArray key =
        QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    path_ = base + QStringLiteral("/velora-client-") + QString::fromLatin1(key) + QStringLiteral(".lock");
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire()
{
    lock_ = std::make_unique<QLockFile>(path_);
    return lock_->tryLock(0);
}

}  // namespace velora::client::core
