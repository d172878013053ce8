#pragma once
// Whole-file writes as the platform's atomic data writing does them.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace platform {

inline constexpr std::size_t kNoReadLimit = std::numeric_limits<std::size_t>::max();
// The bound on the small files the stand-ins read whole (string tables,
// mimeapps.list, desktop entries, files of /proc): 4 MiB.
inline constexpr std::size_t kSmallFileLimit = std::size_t{4} << 20;

// The whole content of the file at `path`. The file is opened without
// blocking (a FIFO or a device never holds the call up) and read only when
// it is a regular file; one that holds more than `limit` bytes is refused
// without being read whole. A file of known size is read in one buffer of
// that size. Errors read as systemError's ("could not read ..."; its
// systemCode is ENOENT for a missing file), or say the file "is not a
// regular file" or "is larger than N bytes".
Result<std::string> readFile(const std::string& path, std::size_t limit = kNoReadLimit);

// The same for a file already open at `fd` (named `path` in errors), read
// from its start whatever the descriptor's offset.
Result<std::string> readFile(int fd, const std::string& path, std::size_t limit = kNoReadLimit);

// Which file a name held, and as what: its device and inode, size,
// modification time and status-change time. The status-change time moves
// with every change of the file's data or metadata and no call sets it, so
// a file whose identity is unchanged was not written, in place or by a
// replace, unless the change fell within the same tick of the file
// system's clock as the identity was taken (see laterChangesShow).
struct FileIdentity {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modified = 0, changed = 0;  // nanoseconds since 1970

    static FileIdentity of(const struct stat& st) noexcept;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// Whether every change made from now on to the file that had `identity`
// gives it another identity: once the file system's clock has passed its
// status-change time, read by touching the times of `probe`, an open file
// of the caller's on the same file system. Waits for the clock a few
// milliseconds at most; false when it has not passed by then (a file
// system of coarse times) or the probe fails.
bool laterChangesShow(const FileIdentity& identity, int probe) noexcept;

// Writes `bytes` to `path` atomically: into a new temporary file in the same
// folder, flushed to disk, then renamed over `path` in one step. A reader
// sees either the old file or the complete new one. On failure the
// temporary file is removed, an existing file at `path` is left as it was,
// and the error names the path and the system's reason.
//
// The temporary file has no name until it is complete, where the file
// system allows (otherwise, and for the moment between naming and renaming,
// it is ".<name>.tmp-XXXXXX", locked by its writer), so a writer that is
// killed leaves nothing behind, and each write removes the named temporary
// files of `path` that no live writer holds, first and again once it is in
// place.
//
// A replaced regular file keeps its permission bits (never setuid, setgid
// or sticky); anything else at `path`, a symbolic link included, is
// replaced by a new file of mode 0644. Safe to call from several threads
// and processes at once; the last rename wins.
Status writeFileAtomically(const std::string& path, std::string_view bytes);

// Removes the named temporary files of `path` (".<name>.tmp-XXXXXX" in its
// folder) that no live writer holds: each writer keeps its own locked until
// it is renamed into place, so one that can be locked was left by a writer
// that was killed. For callers that begin a change of `path` before they
// write it. Best effort: a failure only leaves files behind.
void removeLeftoverTemporaries(const std::string& path);

// The same write in pieces, for content made as it is written: create(),
// then write() for each piece in order, then commit(), which puts the file
// in place whole. A file dropped before commit() never appears at `path`
// and leaves nothing behind. The first failure is kept and reported by
// commit(); pieces after it are dropped. Errors read as writeFileAtomically's.
// Used by one thread.
class AtomicFileWriter {
public:
    // Starts a file to replace `path`, or gives the error of starting one.
    static Result<AtomicFileWriter> create(const std::string& path);

    AtomicFileWriter(AtomicFileWriter&& other) noexcept;
    AtomicFileWriter& operator=(AtomicFileWriter&&) = delete;
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    ~AtomicFileWriter();

    void write(std::string_view bytes) noexcept;
    // Appends `length` bytes of the file open at `fd` from `offset`, in the
    // kernel where it can; a source that ends before them fails the file
    // (ENODATA).
    void copy(int fd, std::uint64_t offset, std::uint64_t length) noexcept;
    // With `placed`, also gives the identity of the file as it is put in
    // place (one that matches no file, should fstat fail).
    Status commit(FileIdentity* placed = nullptr);

private:
    AtomicFileWriter(std::string path, std::string folder, std::string name, mode_t mode, int fd,
                     std::string temporary) noexcept;
    void abandon() noexcept;

    std::string path_, folder_, name_;
    mode_t mode_ = 0644;
    int fd_ = -1;
    std::string temporary_;  // its name; empty while it has none
    int error_ = 0;          // the first failure's errno
};

}  // namespace platform
