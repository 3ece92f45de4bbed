#pragma once
// One window program per client folder: a lock file held for the life of the
// process. A crashed holder's stale lock is taken over.

#include <memory>

#include <QString>

class QLockFile;

namespace velora::client::core {

class SingleInstance {
public:
    explicit SingleInstance(const QString &clientDir);
    ~SingleInstance();
    // False when another process holds the folder.
    bool acquire();
    QString lockPath() const { return path_; }

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace velora::client::core
