#pragma once
// Whole-file reads and atomic, link-safe replacement of a file: the one way
// both programs read and write their own files.

#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace velora {

// The whole content of a regular file. nullopt with *error (an errno value)
// otherwise: ENOENT when nothing is there, EISDIR or EINVAL when the name is
// no regular file (a FIFO would block, a device never ends).
std::optional<std::string> readWholeFile(const std::string &path, int *error = nullptr);

struct WriteMode {
    // The mode of a new file; an existing regular file keeps its own.
    mode_t newFile = 0600;
    // Set this mode whatever the file had (passwords: 0600).
    bool force = false;
    // Make the target's folder (0700) when it is missing.
    bool makeFolder = true;
};

// A new version of a file, written beside it and put in its place only by
// commit(). The temporary file is created exclusively (a planted name or link
// makes another name be tried, never followed); commit syncs it, gives it its
// mode explicitly (the umask plays no part) and renames it over the target.
// A target that is a symbolic link is replaced by the file, never written
// through, and its target's mode is never read or changed.
class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Creates the temporary file (and the target's folder when asked).
    bool open(const std::string &target, WriteMode mode, std::string *error);
    bool write(std::string_view bytes);
    int descriptor() const { return fd_; }
    // A name for the temporary file that a library can open by itself; it
    // names this descriptor, so no one can put another file under it.
    std::string descriptorPath() const;
    bool commit(std::string *error);
    // Removes the temporary file; the target stays as it was.
    void discard();

private:
    std::string target_;
    std::string temp_;
    mode_t mode_ = 0600;
    int fd_ = -1;
    int writeErrno_ = 0;
};

// open, write, commit in one call. False with a reason naming the file.
bool writeFileAtomically(const std::string &path, std::string_view content, WriteMode mode,
                         std::string *error);

// Creates a folder and its missing parents with the given mode, whatever the
// umask; a folder already there is left as it is.
bool makeFolder(const std::string &path, mode_t mode, std::string *error);

}  // namespace velora
