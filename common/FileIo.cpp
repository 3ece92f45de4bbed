#include "common/FileIo.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velora {

namespace {

std::string reason(const std::string &path, int e) { return path + ": " + std::strerror(e); }

std::string folderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void syncFolder(const std::string &dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::optional<std::string> readWholeFile(const std::string &path, int *error)
{
    auto fail = [&](int e) {
        if (error)
            *error = e;
        return std::nullopt;
    };
    // Non-blocking, so that a FIFO under the name cannot hold the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int e = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return fail(e);
    }
    std::string content;
    content.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            return fail(e);
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (error)
        *error = 0;
    return content;
}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::open(const std::string &target, WriteMode mode, std::string *error)
{
    discard();
    target_ = target;
    writeErrno_ = 0;
    const std::string folder = folderOf(target);
    if (mode.makeFolder && !makeFolder(folder, 0700, error))
        return false;
    mode_ = mode.newFile;
    struct stat st {};
    const bool regular = ::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (regular && !mode.force)
        mode_ = st.st_mode & 07777;
    std::vector<char> name(target.begin(), target.end());
    for (const char c : std::string_view(".tmpXXXXXX"))
        name.push_back(c);
    name.push_back('\0');
    // mkostemp creates with O_EXCL: an existing name, a link included, is never opened.
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        if (error)
            *error = reason(target, errno);
        return false;
    }
    temp_ = name.data();
    // Root saving a file that belongs to someone else leaves it theirs (or,
    // failing that, root's: the save itself does not fail over it).
    if (regular && ::geteuid() == 0 && (st.st_uid != 0 || st.st_gid != 0) && ::fchown(fd_, st.st_uid, st.st_gid) != 0)
        errno = 0;
    return true;
}

bool AtomicFile::write(std::string_view bytes)
{
    while (!bytes.empty() && fd_ >= 0 && writeErrno_ == 0) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            writeErrno_ = n < 0 ? errno : EIO;
            break;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return fd_ >= 0 && writeErrno_ == 0;
}

std::string AtomicFile::descriptorPath() const { return "/proc/self/fd/" + std::to_string(fd_); }

bool AtomicFile::commit(std::string *error)
{
    auto fail = [&](int e) {
        discard();
        if (error)
            *error = reason(target_, e);
        return false;
    };
    if (fd_ < 0)
        return fail(EBADF);
    if (writeErrno_ != 0)
        return fail(writeErrno_);
    if (::fchmod(fd_, mode_) != 0 || ::fsync(fd_) != 0)
        return fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        fd_ = -1;
        return fail(errno);
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        return fail(errno);
    temp_.clear();
    syncFolder(folderOf(target_));
    return true;
}

void AtomicFile::discard()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temp_.empty())
        ::unlink(temp_.c_str());
    temp_.clear();
}

bool writeFileAtomically(const std::string &path, std::string_view content, WriteMode mode,
                         std::string *error)
{
    AtomicFile file;
    return file.open(path, mode, error) && (file.write(content), file.commit(error));
}

bool makeFolder(const std::string &path, mode_t mode, std::string *error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        if (error)
            *error = reason(path, ENOTDIR);
        return false;
    }
    const std::string parent = folderOf(path);
    if (parent != path && !makeFolder(parent, mode, error))
        return false;
    if (::mkdir(path.c_str(), mode) != 0) {
        if (errno == EEXIST)
            return true;
        if (error)
            *error = reason(path, errno);
        return false;
    }
    // mkdir's mode passes through the umask; this one does not.
    ::chmod(path.c_str(), mode);
    return true;
}

}  // namespace velora
