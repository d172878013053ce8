#include "platform/scripting/internal/AudioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/UTF8.h"
#include "platform/scripting/internal/TagReader.h"

namespace platform {
namespace {

Error cannotAdd(std::string_view path, std::string_view reason) {
    return Error{"\"" + shownPath(path) + "\" cannot be added: " + std::string(reason)};
}

// The file the system opens for `path`, every link and "." or ".." part
// resolved, or errno.
Result<std::string> resolved(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) return Error{systemReason(errno), errno};
    return std::string(real.get());
}

}  // namespace

Result<AudioFileInfo> readAudioFile(const std::string& given) {
    if (given.find('\0') != std::string::npos) return cannotAdd(given, "its path holds a NUL character");
    std::string path = given;
    if (path.empty() || path.front() != '/') {
        std::error_code ec;
        path = (std::filesystem::current_path(ec) / path).string();
        if (ec) return cannotAdd(given, "the working folder is unknown: " + ec.message());
    }
    // Opened without waiting, so that a FIFO or a device cannot hold the
    // caller; only a regular file is read.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file) {
        const int error = errno;
        if (error == ENOTDIR && path.ends_with('/')) {
            return cannotAdd(path, "its path ends in \"/\", but it names a file, not a folder");
        }
        return cannotAdd(path, systemReason(error));
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) return cannotAdd(path, systemReason(errno));
    if (!S_ISREG(st.st_mode)) return cannotAdd(path, S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file");

    // The location is the file that was opened: the path resolved through
    // the file system ("link/.." is the link target's folder), checked to
    // be that file still.
    const Result<std::string> real = resolved(path);
    if (!real) return cannotAdd(path, real.error().description);
    struct stat named {};
    if (::stat(real.value().c_str(), &named) != 0 || named.st_dev != st.st_dev || named.st_ino != st.st_ino) {
        return cannotAdd(path, "it was moved or replaced while it was being added");
    }

    Result<AudioTags> tags = readTagsInReader(file.get());
    if (!tags) return cannotAdd(path, tags.error().description);
    AudioFileInfo info;
    static_cast<AudioTags&>(info) = std::move(tags.value());
    info.path = real.value();
    info.size = static_cast<std::uint64_t>(st.st_size);
    if (info.kind.empty()) info.kind = "Audio file";
    // Untitled files are named as their file is, without its extension.
    if (!info.title) {
        const std::string name = decodeUTF8Lossy(std::filesystem::path(info.path).stem().string());
        info.title = std::string(cutOnCharacter(name, kTagTextLimit));
    }
    return info;
}

}  // namespace platform
