#include "server/frame/StoreFileWatch.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string_view>

#include "server/state/Text.h"

namespace velora::server::frame {

namespace {

// Larger files are told apart by their inode, size and times alone.
constexpr off_t kHashedBytes = 4 * 1024 * 1024;

// Inode, size and both times to the nanosecond, and what the file holds: a
// rewrite of the same size within the same clock tick still differs.
std::string stampOf(const std::string &path)
{
    struct stat st {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        return "missing";
    }
    std::string stamp = std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
                        std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + ":" +
                        std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
    if (S_ISREG(st.st_mode) && st.st_size <= kHashedBytes) {
        std::string content(static_cast<std::size_t>(st.st_size), '\0');
        std::size_t got = 0;
        while (got < content.size()) {
            const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        content.resize(got);
        stamp += ":" + std::to_string(std::hash<std::string_view>{}(content));
    }
    ::close(fd);
    return stamp;
}

}  // namespace

StoreFileWatch::StoreFileWatch(QObject *parent) : QObject(parent)
{
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &StoreFileWatch::check);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &StoreFileWatch::check);
    timer_.setInterval(CheckIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &StoreFileWatch::check);
}

void StoreFileWatch::watch(const std::string &path)
{
    for (const Seen &f : files_)
        if (f.path == path)
            return;
    files_.push_back({path, stampOf(path)});
    const QString file = state::shownPath(path);
    // A file replaced by a rename is a new one: the folder tells of it.
    watcher_.addPath(QFileInfo(file).absolutePath());
    watcher_.addPath(file);
    timer_.start();
}

void StoreFileWatch::check()
{
    std::vector<std::string> changedPaths;
    for (Seen &f : files_) {
        std::string stamp = stampOf(f.path);
        if (stamp == f.stamp)
            continue;
        f.stamp = std::move(stamp);
        const QString file = state::shownPath(f.path);
        if (!watcher_.files().contains(file))
            watcher_.addPath(file);
        changedPaths.push_back(f.path);
    }
    // Told after the walk: a receiver may watch one more file.
    for (const std::string &path : changedPaths)
        emit changed(path);
}

}  // namespace velora::server::frame
