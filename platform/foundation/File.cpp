#include "platform/foundation/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/foundation/FileDescriptor.h"

namespace platform {
namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// What follows the target's name in the name of one of its temporary files.
constexpr std::string_view kTemporaryMarker = ".tmp-";
constexpr std::size_t kRandomLength = 6;

std::string temporaryPrefix(const std::string& name) { return "." + name + std::string(kTemporaryMarker); }

bool isTemporaryOf(std::string_view entry, const std::string& prefix) {
    return entry.size() == prefix.size() + kRandomLength && entry.starts_with(prefix);
}

// A name for a temporary file of `name` that is not likely to be taken.
std::string randomTemporaryName(const std::string& name) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[kRandomLength] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        // Only uniqueness matters here, not secrecy.
        const auto seed = static_cast<unsigned long>(::getpid()) * 2654435761UL ^ static_cast<unsigned long>(::time(nullptr));
        for (std::size_t i = 0; i < kRandomLength; ++i) random[i] = static_cast<unsigned char>(seed >> (i * 5));
    }
    std::string result = temporaryPrefix(name);
    for (const unsigned char r : random) result += kAlphabet[r % (sizeof kAlphabet - 1)];
    return result;
}


// Removes the temporary files of `name` in `folder` whose writers are gone:
// a writer holds an exclusive lock on its temporary file until the file
// has been renamed into place, so one that can be locked was left behind by
// a writer that was killed. Best effort; a failure only leaves files.
void removeAbandonedTemporaries(const std::string& folder, const std::string& name) {
    const FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return;
    FileDescriptor listFd(::dup(dir.get()));
    if (!listFd) return;
    DIR* listing = ::fdopendir(listFd.get());
    if (listing == nullptr) return;
    listFd.release();  // the listing owns it now
    const std::string prefix = temporaryPrefix(name);
    std::vector<std::string> candidates;
    while (const dirent* entry = ::readdir(listing)) {
        if (isTemporaryOf(entry->d_name, prefix)) candidates.emplace_back(entry->d_name);
    }
    ::closedir(listing);

    for (const std::string& candidate : candidates) {
        const FileDescriptor file(
            ::openat(dir.get(), candidate.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
        struct stat opened {};
        if (file.get() < 0 || ::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) continue;
        if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) continue;  // its writer is still at work
        // Remove it only if the name still holds the file that was locked.
        struct stat named {};
        if (::fstatat(dir.get(), candidate.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
            ::unlinkat(dir.get(), candidate.c_str(), 0);
        }
    }
}

// The mode of the new file: the permission bits of the regular file it
// replaces, else a new file's. A symbolic link is replaced, not followed,
// and special bits are never carried over.
mode_t modeFor(const std::string& path) {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) return existing.st_mode & 0777;
    return 0644;
}

// Whether the file open at `fd` is still the one `path` names.
bool stillNamed(int fd, const std::string& path) {
    struct stat opened {}, named {};
    return ::fstat(fd, &opened) == 0 && opened.st_nlink > 0 && ::lstat(path.c_str(), &named) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// A new temporary file of `name` in `folder`, locked, named `*temporary`
// (empty: not named yet, it vanishes when closed), or a negative result
// with errno set.
int createTemporary(const std::string& folder, const std::string& name, std::string* temporary) {
    // A file no name holds: nothing is left behind whenever the writer ends.
    const int unnamed = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (unnamed >= 0) {
        if (::flock(unnamed, LOCK_EX) == 0) {
            temporary->clear();
            return unnamed;
        }
        ::close(unnamed);
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
        return -1;  // the folder itself is the problem (missing, not writable, ...)
    }
    // A named, locked file: the next writer removes it if this one is killed.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string path = folder + "/" + randomTemporaryName(name);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return -1;
        }
        // Another writer's clean-up may have taken it before it was locked.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && stillNamed(fd, path)) {
            *temporary = path;
            return fd;
        }
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
}

// Gives the unnamed temporary file open at `fd` a temporary name of its own
// in `folder`, or errno.
int nameTemporary(int fd, const std::string& folder, const std::string& name, std::string* temporary) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string path = folder + "/" + randomTemporaryName(name);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            *temporary = path;
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

// The folder and name of `path`; an empty name when the path ends in "/".
std::pair<std::string, std::string> folderAndName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {path.substr(0, slash == 0 ? 1 : slash), path.substr(slash + 1)};
}

// The rest of the file open at `fd`, from its offset.
Result<std::string> readRest(int fd, const std::string& path, std::size_t limit) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return systemError("read", path, errno);
    const auto refused = [&](std::string_view reason) {
        return Error{"could not read \"" + shownPath(path) + "\": " + std::string(reason)};
    };
    if (!S_ISREG(st.st_mode)) return refused("it is not a regular file");
    const auto tooLarge = [&] { return refused("it is larger than " + std::to_string(limit) + " bytes"); };
    const auto known = static_cast<std::size_t>(st.st_size);
    if (known > limit) return tooLarge();
    // One byte more than the size tells whether the file grew; files whose
    // size is not known (those of /proc) grow the buffer as they are read.
    std::string bytes;
    bytes.resize(known < limit ? known + 1 : known);
    if (bytes.empty()) bytes.resize(std::min<std::size_t>(limit, 4096));
    std::size_t have = 0;
    for (;;) {
        if (have == bytes.size()) {
            if (have >= limit) {
                // Full at the limit: only an end right here keeps it.
                char probe;
                ssize_t n;
                while ((n = ::read(fd, &probe, 1)) < 0 && errno == EINTR) {
                }
                if (n < 0) return systemError("read", path, errno);
                if (n > 0) return tooLarge();
                break;
            }
            bytes.resize(std::min(limit, std::max<std::size_t>(have * 2, 4096)));
        }
        const ssize_t n = ::read(fd, bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return systemError("read", path, errno);
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    bytes.resize(have);
    return bytes;
}

}  // namespace

void removeLeftoverTemporaries(const std::string& path) {
    const auto [folder, name] = folderAndName(path);
    if (!name.empty()) removeAbandonedTemporaries(folder, name);
}

Result<std::string> readFile(const std::string& path, std::size_t limit) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file) return systemError("read", path, errno);
    return readRest(file.get(), path, limit);
}

Result<std::string> readFile(int fd, const std::string& path, std::size_t limit) {
    if (::lseek(fd, 0, SEEK_SET) != 0) return systemError("read", path, errno);
    return readRest(fd, path, limit);
}

FileIdentity FileIdentity::of(const struct stat& st) noexcept {
    const auto nanoseconds = [](const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec; };
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size), nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

bool laterChangesShow(const FileIdentity& identity, int probe) noexcept {
    // A change takes the clock's time as the file system keeps it, in its
    // ticks and its precision: the probe's times are set the same way.
    for (int attempt = 0; attempt < 20; ++attempt) {
        struct stat st {};
        if (::futimens(probe, nullptr) != 0 || ::fstat(probe, &st) != 0) return false;
        if (FileIdentity::of(st).changed > identity.changed) return true;
        const timespec pause{0, 1'000'000};
        ::nanosleep(&pause, nullptr);
    }
    return false;
}

Result<AtomicFileWriter> AtomicFileWriter::create(const std::string& path) {
    auto [folder, name] = folderAndName(path);
    if (name.empty()) return Error{"could not write \"" + shownPath(path) + "\": the path names no file"};

    removeAbandonedTemporaries(folder, name);
    const mode_t mode = modeFor(path);
    std::string temporary;
    const int fd = createTemporary(folder, name, &temporary);
    if (fd < 0) return systemError("write", path, errno);
    return AtomicFileWriter(path, std::move(folder), std::move(name), mode, fd, std::move(temporary));
}

AtomicFileWriter::AtomicFileWriter(std::string path, std::string folder, std::string name, mode_t mode, int fd,
                                   std::string temporary) noexcept
    : path_(std::move(path)),
      folder_(std::move(folder)),
      name_(std::move(name)),
      mode_(mode),
      fd_(fd),
      temporary_(std::move(temporary)) {}

AtomicFileWriter::AtomicFileWriter(AtomicFileWriter&& other) noexcept
    : path_(std::move(other.path_)),
      folder_(std::move(other.folder_)),
      name_(std::move(other.name_)),
      mode_(other.mode_),
      fd_(other.fd_),
      temporary_(std::move(other.temporary_)),
      error_(other.error_) {
    other.fd_ = -1;
    other.temporary_.clear();
}

AtomicFileWriter::~AtomicFileWriter() { abandon(); }

void AtomicFileWriter::abandon() noexcept {
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void AtomicFileWriter::write(std::string_view bytes) noexcept {
    if (error_ == 0 && fd_ >= 0 && !writeAll(fd_, bytes)) error_ = errno;
}

void AtomicFileWriter::copy(int fd, std::uint64_t offset, std::uint64_t length) noexcept {
    if (error_ != 0 || fd_ < 0) return;
    bool inKernel = true;
    std::unique_ptr<char[]> buffer;
    constexpr std::size_t kBuffer = std::size_t{1} << 20;
    while (length > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, std::uint64_t{1} << 30));
        ssize_t n;
        if (inKernel) {
            auto from = static_cast<off_t>(offset);
            n = ::copy_file_range(fd, &from, fd_, nullptr, want, 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS)) {
                inKernel = false;  // not between these two files: through a buffer instead
                continue;
            }
        } else {
            if (buffer == nullptr) buffer.reset(new (std::nothrow) char[kBuffer]);
            if (buffer == nullptr) {
                error_ = ENOMEM;
                return;
            }
            n = ::pread(fd, buffer.get(), std::min(want, kBuffer), static_cast<off_t>(offset));
            if (n > 0 && !writeAll(fd_, std::string_view(buffer.get(), static_cast<std::size_t>(n)))) {
                error_ = errno;
                return;
            }
        }
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = n == 0 ? ENODATA : errno;
            return;
        }
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::uint64_t>(n);
    }
}

Status AtomicFileWriter::commit(FileIdentity* placed) {
    int error = fd_ < 0 ? EBADF : error_;
    if (!error && ::fchmod(fd_, mode_) != 0) error = errno;
    if (!error && ::fsync(fd_) != 0) error = errno;
    // Named only now that it is complete; still locked until renamed.
    if (!error && temporary_.empty()) error = nameTemporary(fd_, folder_, name_, &temporary_);
    if (!error && ::rename(temporary_.c_str(), path_.c_str()) != 0) error = errno;
    if (!error) temporary_.clear();  // it is the file at `path` now
    // Its times as the rename left them.
    struct stat st {};
    if (!error && placed != nullptr) *placed = ::fstat(fd_, &st) == 0 ? FileIdentity::of(st) : FileIdentity{};
    abandon();  // the data is on disk already: fsync said so
    if (error) return systemError("write", path_, error);
    // What another writer, killed while this one wrote, left behind.
    removeAbandonedTemporaries(folder_, name_);
    // Make the rename itself durable; a failure here loses nothing written.
    if (const FileDescriptor dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir.get() >= 0) {
        ::fsync(dir.get());
    }
    return success();
}

Status writeFileAtomically(const std::string& path, std::string_view bytes) {
    Result<AtomicFileWriter> file = AtomicFileWriter::create(path);
    if (!file) return file.error();
    file.value().write(bytes);
    return file.value().commit();
}

}  // namespace platform
