#include "platform/itlibrary/internal/ITLibraryReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>

#include "platform/foundation/FileDescriptor.h"
#include "platform/itlibrary/internal/LibraryBuilder.h"
#include "platform/itlibrary/internal/PlistParser.h"
#include "platform/itlibrary/internal/PlistScanner.h"
#include "platform/itlibrary/internal/ReadAhead.h"
#include "platform/itlibrary/internal/ReadErrors.h"
#include "platform/itlibrary/internal/TextEncoding.h"
#include "platform/itlibrary/internal/XmlByteCleaner.h"

namespace platform {
namespace {

Error unreadable(const std::string& path, int error) {
    return Error{"The music library file " + quotedFileName(path) + " cannot be read: " + systemReason(error)};
}

// Why a file of this type cannot be read as a library, if it cannot.
std::optional<Error> notARegularFile(const std::string& path, mode_t mode) {
    if (S_ISREG(mode)) return std::nullopt;
    if (S_ISDIR(mode)) return unreadable(path, EISDIR);
    const char* what = S_ISFIFO(mode)  ? "a named pipe (FIFO)"
                       : S_ISCHR(mode) ? "a character device"
                       : S_ISBLK(mode) ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "not a plain file";
    return Error{"The music library file " + quotedFileName(path) + " cannot be read: it is " + what +
                 ", not a regular file"};
}

// Recognises at its first bytes a file that cannot be a library export.
std::optional<Error> rejectAtStart(std::string_view first, std::string_view name) {
    if (first.empty()) return notALibraryError(name, "the file is empty");
    if (first.starts_with("bplist")) {
        return notALibraryError(name, "it is a binary property list; the library's XML export is needed");
    }
    return std::nullopt;
}

using Scanner = PlistScanner<LibraryBuilder>;

// One reading of a document from its start: its bytes turned into UTF-8,
// repaired, and handed to the event source `Source` (Scanner or
// PlistParser), whose events the builder turns into the library.
template <class Source>
class Pass {
public:
    // Cleaned bytes handed on at a time: small enough that the source
    // reads them while they are still in cache.
    static constexpr std::size_t kSliceSize = std::size_t{64} << 10;

    template <class... SourceArguments>
    Pass(ITLibrary& library, std::string_view name, std::size_t sizeHint, SourceArguments&&... arguments)
        : name_(name), builder_(library, sizeHint), source_(builder_, std::forward<SourceArguments>(arguments)...) {}

    // Hands on the next piece of the document; `last` ends it. False once
    // the source has stopped.
    bool feed(std::string_view bytes, bool last) {
        if (encodingKnown_) return decode(bytes, last);
        // The file's first bytes say what it is written in; they wait here
        // until there are enough of them to tell.
        head_.append(bytes);
        const auto encoding = detectTextEncoding(head_, last);
        if (!encoding) return true;
        encodingKnown_ = true;
        if (!encoding->empty()) converter_ = std::make_unique<TextConverter>(*encoding);
        const std::string head = std::move(head_);
        head_ = std::string();
        return decode(head, last);
    }

    // After the last piece: the library, or why there is none.
    std::optional<Status> finish() {
        if (builder_.finish()) return success();
        return failure();
    }

    // Why the source stopped; none when the scanner gave up, for the parser
    // to decide.
    std::optional<Status> failure() const {
        if constexpr (std::is_same_v<Source, Scanner>) {
            return std::nullopt;
        } else {
            if (!builder_.failure().empty()) return notALibraryError(name_, builder_.failure());
            return source_.error();
        }
    }

private:
    // Each slice of the piece goes through the steps: to UTF-8, repaired,
    // read by the source.
    bool decode(std::string_view bytes, bool last) {
        // Converted text may be three times as long as its bytes.
        const std::size_t sliceSize = converter_ ? kSliceSize / 4 : kSliceSize;
        do {
            std::string_view slice = bytes.substr(0, sliceSize);
            bytes.remove_prefix(slice.size());
            const bool end = last && bytes.empty();
            if (converter_) {
                decoded_.clear();
                converter_->convert(slice, decoded_);
                if (end) converter_->finish(decoded_);
                slice = decoded_;
            }
            char* out = source_.space(XmlByteCleaner::maxOutput(slice.size()));
            std::size_t length = cleaner_.feed(slice, out);
            if (end) length += cleaner_.finish(out + length);
            if (!source_.scan(length, end)) return false;
        } while (!bytes.empty());
        return true;
    }

    std::string_view name_;
    LibraryBuilder builder_;
    Source source_;
    bool encodingKnown_ = false;
    std::string head_;                          // the file's first bytes, until they tell its encoding
    std::unique_ptr<TextConverter> converter_;  // none: the file is read as UTF-8
    std::string decoded_;                       // the converter's output, handed on to the cleaner
    XmlByteCleaner cleaner_;
};

// Reads the document whose pieces `next` gives in order (an empty piece
// ends it) into `library` with `Source`; none when the scanner gave up.
template <class Source, class Next, class... SourceArguments>
std::optional<Status> readWith(ITLibrary& library, std::string_view name, std::size_t size, Next& next,
                               SourceArguments&&... arguments) {
    Pass<Source> pass(library, name, size, std::forward<SourceArguments>(arguments)...);
    for (std::uint64_t offset = 0;;) {
        Result<std::string_view> piece = next(offset);
        if (!piece) return piece.error();
        const std::string_view bytes = piece.value();
        if (offset == 0) {
            if (auto error = rejectAtStart(bytes, name)) return *error;
        }
        offset += bytes.size();
        if (!pass.feed(bytes, bytes.empty())) return pass.failure();
        if (bytes.empty()) return pass.finish();
    }
}

// The scanner reads; where it gives up, the parser reads from the start,
// into the library emptied of what the scanner put there.
template <class Next>
Status read(ITLibrary& library, std::string_view name, std::size_t size, Next&& next,
            ITLibraryReader::Readers readers) {
    using Readers = ITLibraryReader::Readers;
    if (readers != Readers::ParserOnly) {
        if (auto status = readWith<Scanner>(library, name, size, next)) return std::move(*status);
        if (readers == Readers::ScannerOnly) return Error{std::string(ITLibraryReader::kScannerGaveUp)};
    }
    return *readWith<PlistParser>(library, name, size, next, name);  // the parser never gives up
}

}  // namespace

Status ITLibraryReader::readFile(const std::string& path, ITLibrary& library) {
    // Only a regular file can be a library. Anything else is refused before
    // it is opened (opening a FIFO waits for a writer, a device may do
    // anything), and once more after, should the name have changed hands.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return unreadable(path, errno);
    if (auto error = notARegularFile(path, st.st_mode)) return *error;
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file) return unreadable(path, errno);
    if (::fstat(file.get(), &st) != 0) return unreadable(path, errno);
    if (auto error = notARegularFile(path, st.st_mode)) return *error;
    LibraryBuilder::identify(library, st);

    try {
        // The file from its start, read ahead on a thread of its own; read
        // again from its start should the scanner give up.
        std::optional<ReadAhead> reader;
        const auto next = [&](std::uint64_t offset) -> Result<std::string_view> {
            if (offset == 0) reader.emplace(file.get(), kChunkSize);
            const ReadAhead::Chunk chunk = reader->next();
            if (chunk.error != 0) return unreadable(path, chunk.error);
            return chunk.bytes;
        };
        return read(library, path, static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)), next, Readers::Both);
    } catch (const std::bad_alloc&) {
        return outOfMemoryError(path);
    }
}

Result<std::unique_ptr<ITLibrary>> ITLibraryReader::readBytes(std::string_view bytes, std::string_view name,
                                                               std::size_t chunkSize, Readers readers) {
    chunkSize = std::clamp<std::size_t>(chunkSize, 1, kChunkSize);
    if (auto error = rejectAtStart(bytes, name)) return *error;
    std::unique_ptr<ITLibrary> library;
    try {
        library = LibraryBuilder::newLibrary(name);
        const auto next = [&](std::uint64_t offset) -> Result<std::string_view> {
            return bytes.substr(std::min<std::size_t>(offset, bytes.size()), chunkSize);
        };
        if (auto status = read(*library, name, bytes.size(), next, readers); !status) return status.error();
    } catch (const std::bad_alloc&) {
        return outOfMemoryError(name);
    }
    return Result<std::unique_ptr<ITLibrary>>(std::move(library));
}

}  // namespace platform
