#include "platform/itlibrary/internal/ITLibraryReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

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

// Where a later part of the scan starts: right inside the "Tracks"
// dictionary of the root's dictionary, between two of its entries.
constexpr PlistElement kInTracks[] = {PlistElement::Plist, PlistElement::Dict, PlistElement::Dict};

// One reading of a document from its start, or with the scanner of a later
// part of it: its bytes turned into UTF-8, repaired, and handed to the event
// source `Source` (Scanner or PlistParser), whose events the builder turns
// into the library.
template <class Source>
class Pass {
public:
    // Cleaned bytes handed on at a time: small enough that the source
    // reads them while they are still in cache.
    static constexpr std::size_t kSliceSize = std::size_t{64} << 10;

    template <class... SourceArguments>
    Pass(ITLibrary& library, std::string_view name, std::size_t sizeHint, SourceArguments&&... arguments)
        : name_(name), builder_(library, sizeHint), source_(builder_, std::forward<SourceArguments>(arguments)...) {}

    // A scan of a later part of about `sizeHint` bytes, of a document whose
    // prolog a first scan read as `prolog`, from between two entries of
    // "Tracks"; the document is UTF-8.
    struct LaterPart {};
    Pass(LaterPart, ITLibrary& library, std::string_view name, std::size_t sizeHint, const Scanner::Prolog& prolog)
        : name_(name), builder_(library, sizeHint, true), source_(builder_), encodingKnown_(true) {
        source_.resumeInside(kInTracks, prolog);
    }

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

    // The prolog, once the scan has read it of a document read as UTF-8: a
    // later part may then be scanned apart.
    std::optional<Scanner::Prolog> prologForParts() const noexcept {
        if (!encodingKnown_ || converter_ != nullptr) return std::nullopt;
        return source_.prolog();
    }

    // Whether the pieces so far end between two entries of "Tracks", where
    // a later part's scan would go on alike.
    bool standsBetweenTracks() const noexcept {
        return cleaner_.freshFromHere() && source_.standsInside(kInTracks) && builder_.standsBetweenTracks();
    }

    LibraryBuilder& builder() noexcept { return builder_; }

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

// Where a document's bytes come from: its pieces in order from any offset,
// and a look at the bytes anywhere. Used from several threads at once.
class ByteSource {
public:
    // Gives the next piece on each call, an empty one at the end.
    using Pieces = std::function<Result<std::string_view>()>;

    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const noexcept = 0;
    // The pieces from `begin` on, read ahead of the caller where `ahead`.
    // Throws std::bad_alloc.
    virtual Pieces from(std::uint64_t begin, bool ahead) const = 0;
    // Up to `size` bytes at `offset`: fewer at the end, none where they
    // cannot be read. Throws std::bad_alloc.
    virtual std::string at(std::uint64_t offset, std::size_t size) const = 0;
};

class FileBytes final : public ByteSource {
public:
    FileBytes(int fd, const std::string& path, std::uint64_t size) : fd_(fd), path_(path), size_(size) {}
    std::uint64_t size() const noexcept override { return size_; }
    Pieces from(std::uint64_t begin, bool ahead) const override {
        auto reader = std::make_shared<ReadAhead>(fd_, ITLibraryReader::kChunkSize, begin, ahead);
        return [this, reader]() -> Result<std::string_view> {
            const ReadAhead::Chunk chunk = reader->next();
            if (chunk.error != 0) return unreadable(path_, chunk.error);
            return chunk.bytes;
        };
    }
    std::string at(std::uint64_t offset, std::size_t size) const override {
        std::string bytes(size, '\0');
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = ::pread(fd_, bytes.data() + got, size - got, static_cast<off_t>(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }

private:
    const int fd_;
    const std::string& path_;
    const std::uint64_t size_;
};

class MemoryBytes final : public ByteSource {
public:
    MemoryBytes(std::string_view bytes, std::size_t chunkSize) : bytes_(bytes), chunkSize_(chunkSize) {}
    std::uint64_t size() const noexcept override { return bytes_.size(); }
    Pieces from(std::uint64_t begin, bool) const override {
        return [this, offset = std::min<std::size_t>(begin, bytes_.size())]() mutable -> Result<std::string_view> {
            const std::string_view piece = bytes_.substr(offset, chunkSize_);
            offset += piece.size();
            return piece;
        };
    }
    std::string at(std::uint64_t offset, std::size_t size) const override {
        return std::string(bytes_.substr(std::min<std::size_t>(offset, bytes_.size()), size));
    }

private:
    const std::string_view bytes_;
    const std::size_t chunkSize_;
};

// Reads the whole document from its start into `library` with `Source`;
// none when the scanner gave up.
template <class Source, class... SourceArguments>
std::optional<Status> readWith(ITLibrary& library, std::string_view name, const ByteSource& bytes,
                               SourceArguments&&... arguments) {
    Pass<Source> pass(library, name, bytes.size(), std::forward<SourceArguments>(arguments)...);
    const ByteSource::Pieces next = bytes.from(0, true);
    for (std::uint64_t offset = 0;;) {
        Result<std::string_view> piece = next();
        if (!piece) return piece.error();
        const std::string_view chunk = piece.value();
        if (offset == 0) {
            if (auto error = rejectAtStart(chunk, name)) return *error;
        }
        offset += chunk.size();
        if (!pass.feed(chunk, chunk.empty())) return pass.failure();
        if (chunk.empty()) return pass.finish();
    }
}

// Where an entry of "Tracks" begins in `bytes` as exports write them: the
// "<key>" after a "</dict>" and blanks, a track ID and "</key>", blanks and
// "<dict>". Any such place will do: a part that begins where the scan does
// not stand between two entries is found out and dropped.
std::optional<std::size_t> trackEntryIn(std::string_view bytes) noexcept {
    constexpr std::string_view kDictEnd = "</dict>", kKey = "<key>", kKeyEnd = "</key>", kDict = "<dict>";
    const auto blanks = [&](std::size_t at) {
        while (at < bytes.size() && isXmlBlank(bytes[at])) ++at;
        return at;
    };
    for (std::size_t end = bytes.find(kDictEnd); end != std::string_view::npos; end = bytes.find(kDictEnd, end + 1)) {
        const std::size_t key = blanks(end + kDictEnd.size());
        if (bytes.compare(key, kKey.size(), kKey) != 0) continue;
        std::size_t at = key + kKey.size();
        const std::size_t digits = at;
        while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9') ++at;
        if (at == digits || bytes.compare(at, kKeyEnd.size(), kKeyEnd) != 0) continue;
        if (bytes.compare(blanks(at + kKeyEnd.size()), kDict.size(), kDict) == 0) return key;
    }
    return std::nullopt;
}

// The scanner's read of a document in parts: the first from the start on
// the caller's thread, each later one on a thread of its own from a place
// between two entries of "Tracks". A part ends where the next one begins
// when it stands there as the next one began; else it goes on to the end of
// the document and the parts after it are dropped. The parts read are then
// joined in order into what one scan reads, and where a needed part gave up
// the scanner has given up.
class PartedScan {
public:
    // `starts` as ITLibraryReader::Parts says.
    PartedScan(ITLibrary& library, std::string_view name, const ByteSource& bytes, const ITLibraryReader::Parts& starts)
        : library_(library), name_(name), bytes_(bytes), starts_(starts) {}
    PartedScan(const PartedScan&) = delete;
    PartedScan& operator=(const PartedScan&) = delete;
    ~PartedScan() { stopParts(); }

    // The library, or none when the scanner gave up.
    std::optional<Status> run();

private:
    enum class Ended : std::uint8_t { AtNextPart, AtEnd, GaveUp, Failed, Abandoned };
    struct Part {
        std::uint64_t begin = 0, end = 0;  // its bytes, unless it goes on to the end
        std::unique_ptr<ITLibrary> library;
        std::optional<Pass<Scanner>> pass;
        Ended ended = Ended::Abandoned;
        std::optional<Error> error;
    };
    // Reads `pass` the pieces `next` gives from `offset` up to `stop` and,
    // unless it stands between two entries there, on to the end. `index`
    // is the part's, 0 for the first, which may start the later parts on
    // the way.
    Ended feed(Pass<Scanner>& pass, const ByteSource::Pieces& next, std::uint64_t offset, std::uint64_t stop,
               std::size_t index, std::optional<Error>& error);
    // Starts the later parts once the first has read the prolog, if the
    // document is to be read in parts; gives where the first part ends.
    std::uint64_t startParts(const Pass<Scanner>& first, std::uint64_t read);
    void readPart(Part& part, std::size_t index, Scanner::Prolog prolog) noexcept;
    // Parts from `index` on are not needed.
    void abandonFrom(std::size_t index) noexcept {
        std::size_t current = abandonFrom_.load();
        while (index < current && !abandonFrom_.compare_exchange_weak(current, index)) {
        }
    }
    bool abandoned(std::size_t index) const noexcept { return index >= abandonFrom_.load(std::memory_order_relaxed); }
    void stopParts() noexcept {
        abandonFrom(1);
        for (std::thread& thread : threads_) {
            if (thread.joinable()) thread.join();
        }
    }

    // Bytes looked at from a part's target for where an entry begins.
    static constexpr std::size_t kLook = std::size_t{256} << 10;
    // Where a part that goes on to the end stops: never.
    static constexpr std::uint64_t kToTheEnd = UINT64_MAX;

    ITLibrary& library_;
    std::string_view name_;
    const ByteSource& bytes_;
    const ITLibraryReader::Parts& starts_;
    bool started_ = false;
    std::vector<std::unique_ptr<Part>> parts_;  // the later parts, in order
    std::vector<std::thread> threads_;
    std::atomic<std::size_t> abandonFrom_{SIZE_MAX};
};

std::optional<Status> PartedScan::run() {
    if (starts_.taken != nullptr) *starts_.taken = 0;
    Pass<Scanner> first(library_, name_, bytes_.size());
    std::optional<Error> error;
    // Where the file is read in parts, each reads its own: the cores are
    // busy enough without a thread that reads ahead.
    const Ended ended = feed(first, bytes_.from(0, starts_.from.empty()), 0, kToTheEnd, 0, error);
    if (ended != Ended::AtNextPart) abandonFrom(1);
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    switch (ended) {
        case Ended::AtEnd: return first.finish();
        case Ended::Failed: return *error;
        case Ended::AtNextPart: break;
        default: return std::nullopt;
    }
    for (const auto& part : parts_) {
        switch (part->ended) {
            case Ended::AtNextPart:
            case Ended::AtEnd:
                first.builder().append(part->pass->builder());
                part->pass.reset();
                part->library.reset();
                if (starts_.taken != nullptr) ++*starts_.taken;
                if (part->ended == Ended::AtEnd) return first.finish();
                break;
            case Ended::Failed: return *part->error;
            default: return std::nullopt;  // it gave up where the scan stood
        }
    }
    return std::nullopt;  // the last part always reads to the end
}

PartedScan::Ended PartedScan::feed(Pass<Scanner>& pass, const ByteSource::Pieces& next, std::uint64_t offset,
                                   std::uint64_t stop, std::size_t index, std::optional<Error>& error) {
    for (const std::uint64_t begin = offset;;) {
        if (index > 0 && abandoned(index)) return Ended::Abandoned;
        Result<std::string_view> piece = next();
        if (!piece) {
            error = piece.error();
            return Ended::Failed;
        }
        std::string_view bytes = piece.value();
        if (index == 0 && offset == begin) {
            if (auto refused = rejectAtStart(bytes, name_)) {
                error = std::move(refused);
                return Ended::Failed;
            }
        }
        if (bytes.empty()) return pass.feed({}, true) ? Ended::AtEnd : Ended::GaveUp;
        while (!bytes.empty()) {
            const std::string_view taken =
                bytes.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), stop - offset)));
            bytes.remove_prefix(taken.size());
            offset += taken.size();
            if (!pass.feed(taken, false)) return Ended::GaveUp;
            if (index == 0 && !started_) stop = startParts(pass, offset);
            if (offset == stop) {
                if (pass.standsBetweenTracks()) return Ended::AtNextPart;
                // The next part began where this one does not stand: this
                // one reads on, and the parts after it are not needed.
                stop = kToTheEnd;
                abandonFrom(index + 1);
            }
        }
    }
}

std::uint64_t PartedScan::startParts(const Pass<Scanner>& first, std::uint64_t read) {
    if (starts_.from.empty()) {
        started_ = true;
        return kToTheEnd;
    }
    const std::optional<Scanner::Prolog> prolog = first.prologForParts();
    if (!prolog) {
        // No parts once the first would have had to end.
        started_ = read >= starts_.from.front();
        return kToTheEnd;
    }
    started_ = true;
    std::vector<std::uint64_t> begins;
    for (const std::size_t target : starts_.from) {
        const std::uint64_t earliest = begins.empty() ? read : begins.back() + 1;
        std::uint64_t begin = target;
        if (starts_.exact) {
            if (begin < earliest) continue;
        } else {
            begin = std::max(begin, earliest);
            const std::optional<std::size_t> entry = trackEntryIn(bytes_.at(begin, kLook));
            if (!entry) continue;
            begin += *entry;
        }
        if (begin >= bytes_.size()) break;
        begins.push_back(begin);
    }
    for (std::size_t i = 0; i < begins.size(); ++i) {
        auto part = std::make_unique<Part>();
        part->begin = begins[i];
        part->end = i + 1 < begins.size() ? begins[i + 1] : kToTheEnd;
        part->library = LibraryBuilder::partLibrary();
        parts_.push_back(std::move(part));
    }
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        try {
            threads_.emplace_back([this, i, prolog = *prolog] { readPart(*parts_[i], i + 1, prolog); });
        } catch (const std::system_error&) {
            // No thread for it: the first part reads all.
            abandonFrom(1);
            return kToTheEnd;
        }
    }
    return parts_.empty() ? kToTheEnd : parts_.front()->begin;
}

void PartedScan::readPart(Part& part, std::size_t index, Scanner::Prolog prolog) noexcept {
    try {
        const std::uint64_t end = std::min(part.end, bytes_.size());
        part.pass.emplace(Pass<Scanner>::LaterPart{}, *part.library, name_, static_cast<std::size_t>(end > part.begin ? end - part.begin : 0),
                          prolog);
        part.ended = feed(*part.pass, bytes_.from(part.begin, false), part.begin, part.end, index, part.error);
    } catch (const std::bad_alloc&) {
        part.ended = Ended::Failed;
        part.error = outOfMemoryError(name_);
    }
    if (part.ended != Ended::AtNextPart) abandonFrom(index + 1);
}

// The scanner reads; where it gives up, the parser reads from the start,
// into the library emptied of what the scanner put there.
Status read(ITLibrary& library, std::string_view name, const ByteSource& bytes, ITLibraryReader::Readers readers,
            const ITLibraryReader::Parts& parts) {
    using Readers = ITLibraryReader::Readers;
    if (readers != Readers::ParserOnly) {
        if (auto status = PartedScan(library, name, bytes, parts).run()) return std::move(*status);
        if (readers == Readers::ScannerOnly) return Error{std::string(ITLibraryReader::kScannerGaveUp)};
    }
    return *readWith<PlistParser>(library, name, bytes, name);  // the parser never gives up
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
        // The file is read ahead on a thread of its own, in parts where it
        // is large; read again from its start should the scanner give up.
        const std::uint64_t size = static_cast<std::uint64_t>(std::max<off_t>(st.st_size, 0));
        const FileBytes bytes(file.get(), path, size);
        return read(library, path, bytes, Readers::Both, partsFor(size));
    } catch (const std::bad_alloc&) {
        return outOfMemoryError(path);
    }
}

ITLibraryReader::Parts ITLibraryReader::partsFor(std::uint64_t size) {
    const std::uint64_t most = std::clamp<std::uint64_t>(std::thread::hardware_concurrency(), 1, kMostParts);
    const std::uint64_t parts = std::min(most, size / kLeastPart);
    Parts starts;
    for (std::uint64_t part = 1; part < parts; ++part) {
        starts.from.push_back(static_cast<std::size_t>(size * part / parts));
    }
    return starts;
}

Result<std::unique_ptr<ITLibrary>> ITLibraryReader::readBytes(std::string_view bytes, std::string_view name,
                                                               std::size_t chunkSize, Readers readers,
                                                               const Parts& parts) {
    chunkSize = std::clamp<std::size_t>(chunkSize, 1, kChunkSize);
    if (auto error = rejectAtStart(bytes, name)) return *error;
    std::unique_ptr<ITLibrary> library;
    try {
        library = LibraryBuilder::newLibrary(name);
        const MemoryBytes source(bytes, chunkSize);
        if (auto status = read(*library, name, source, readers, parts); !status) return status.error();
    } catch (const std::bad_alloc&) {
        return outOfMemoryError(name);
    }
    return Result<std::unique_ptr<ITLibrary>>(std::move(library));
}

}  // namespace platform
