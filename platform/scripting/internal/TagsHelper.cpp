// harmonode-tags: the music application's tag reader. Reads the tags and
// audio properties of the audio file open on its standard input with
// TagLib and writes them to its standard output as AudioTags.h frames
// them; the reasons it refuses a file go there as well. Runs as a process
// of its own, started by readAudioFile for each file, so that whatever a
// file does to TagLib (a crash, a stack overflow, memory or time without
// end) ends this process and nothing else. Before it reads a byte it
// limits itself: address space, stack, processor time, no core dump. Exit
// status 0 whenever an answer was written.

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <taglib/aifffile.h>
#include <taglib/asffile.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>

#include <cerrno>
#include <charconv>
#include <new>
#include <string>

#include "platform/foundation/UTF8.h"
#include "platform/scripting/internal/AudioTags.h"

#if defined(__SANITIZE_ADDRESS__)
#define HARMONODE_TAGS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HARMONODE_TAGS_ASAN 1
#endif
#endif

#ifdef HARMONODE_TAGS_ASAN
// AddressSanitizer reserves terabytes of address space before main, so the
// limit on address space cannot hold; its allocator keeps the bound
// instead. Leaks of a process that lives for one file are not reported.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "detect_leaks=0:allocator_may_return_null=1:max_allocation_size_mb=512:hard_rss_limit_mb=768";
}
#endif

namespace platform {
namespace {

void limit(int resource, rlim_t value) {
    const struct rlimit bound { value, value };
    static_cast<void>(::setrlimit(resource, &bound));
}

void limitResources() {
#ifndef HARMONODE_TAGS_ASAN
    limit(RLIMIT_AS, kTagReaderMemoryLimit);
#endif
    // A stack that grows past its limit ends the process with SIGSEGV.
    limit(RLIMIT_STACK, kTagReaderStackLimit);
    // SIGXCPU at the soft limit, SIGKILL a second later.
    const struct rlimit cpu { kTagReaderProcessorSeconds, kTagReaderProcessorSeconds + 1 };
    static_cast<void>(::setrlimit(RLIMIT_CPU, &cpu));
    limit(RLIMIT_CORE, 0);
    static_cast<void>(::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0));
}

// A TagLib text as UTF-8; none when it is empty or does not decode (its
// UTF-16 holds an unpaired surrogate, or TagLib could not decode it).
std::optional<std::string> text(const TagLib::String& value) {
    if (value.isEmpty()) return std::nullopt;
    std::u16string units;
    units.reserve(value.size());
    for (const wchar_t unit : value) {
        if (static_cast<std::uint32_t>(unit) > 0xFFFF) return std::nullopt;
        units.push_back(static_cast<char16_t>(unit));
    }
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            return std::nullopt;
        }
    }
    std::string utf8 = utf16ToUTF8(units);
    if (utf8.empty()) return std::nullopt;
    // Cut here already, so that only what is kept crosses the pipe.
    utf8.resize(cutOnCharacter(utf8, kTagTextLimit).size());
    return utf8;
}

// The leading decimal digits of `s` as a number; 0 for none, for a sign or
// for more digits than a 64-bit number holds.
std::int64_t leadingNumber(std::string_view s) {
    std::int64_t n = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (ec != std::errc() || s.empty() || s[0] < '0' || s[0] > '9') return 0;
    return n;
}

// The numbers of a "3/12" text: the part before the slash and after it.
std::pair<std::int64_t, std::int64_t> numberAndCount(const TagLib::String& value) {
    const std::string s = value.to8Bit(true);
    const std::size_t slash = s.find('/');
    if (slash == std::string::npos) return {leadingNumber(s), 0};
    return {leadingNumber(std::string_view(s).substr(0, slash)), leadingNumber(std::string_view(s).substr(slash + 1))};
}

int ranged(TagNumber field, std::int64_t value) {
    return tagNumberInRange(field, value) ? static_cast<int>(value) : 0;
}

// The first value of the first of `keys` the file has.
TagLib::String property(const TagLib::PropertyMap& properties, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        const auto it = properties.find(key);
        if (it != properties.end() && !it->second.isEmpty()) return it->second.front();
    }
    return {};
}

std::string kindOf(TagLib::File* file) {
    if (dynamic_cast<TagLib::MPEG::File*>(file)) return "MPEG audio file";
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
        const auto* properties = mp4->audioProperties();
        return properties && properties->codec() == TagLib::MP4::Properties::ALAC ? "Apple Lossless audio file"
                                                                                   : "AAC audio file";
    }
    if (dynamic_cast<TagLib::RIFF::WAV::File*>(file)) return "WAV audio file";
    if (dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) return "AIFF audio file";
    if (dynamic_cast<TagLib::FLAC::File*>(file) || dynamic_cast<TagLib::Ogg::FLAC::File*>(file)) {
        return "FLAC audio file";
    }
    if (dynamic_cast<TagLib::Ogg::Vorbis::File*>(file)) return "Ogg Vorbis audio file";
    if (dynamic_cast<TagLib::Ogg::Opus::File*>(file)) return "Opus audio file";
    if (dynamic_cast<TagLib::ASF::File*>(file)) return "Windows Media audio file";
    return "Audio file";
}

// The answer for the file open at `fd`.
std::string answer(int fd) {
    // The stream closes the descriptor it is given.
    TagLib::FileStream stream(fd, true);
    if (!stream.isOpen()) return encodeRefusal("it cannot be read");
    TagLib::FileRef file(&stream, true, TagLib::AudioProperties::Average);
    const TagLib::AudioProperties* audio = file.isNull() ? nullptr : file.audioProperties();
    if (audio == nullptr || audio->sampleRate() <= 0) return encodeRefusal("it is not audio that can be read");

    AudioTags tags;
    tags.kind = kindOf(file.file());
    tags.totalTime = audio->lengthInMilliseconds();
    tags.bitRate = ranged(TagNumber::bitRate, audio->bitrate());
    tags.sampleRate = ranged(TagNumber::sampleRate, audio->sampleRate());
    const TagLib::PropertyMap properties = file.file()->properties();
    if (const TagLib::Tag* tag = file.tag()) {
        tags.title = text(tag->title());
        tags.artist = text(tag->artist());
        tags.album = text(tag->album());
        tags.genre = text(tag->genre());
        tags.comments = text(tag->comment());
        // The year is the date's leading digits; TagLib's own year() turns
        // "-1" into 4294967295.
        const TagLib::String date = property(properties, {"DATE", "YEAR"});
        tags.year = ranged(TagNumber::year, date.isEmpty() ? tag->year() : leadingNumber(date.to8Bit(true)));
    }
    tags.albumArtist = text(property(properties, {"ALBUMARTIST"}));
    tags.composer = text(property(properties, {"COMPOSER"}));
    auto [trackNumber, trackCount] = numberAndCount(property(properties, {"TRACKNUMBER"}));
    auto [discNumber, discCount] = numberAndCount(property(properties, {"DISCNUMBER"}));
    if (trackCount == 0) trackCount = numberAndCount(property(properties, {"TRACKTOTAL", "TOTALTRACKS"})).first;
    if (discCount == 0) discCount = numberAndCount(property(properties, {"DISCTOTAL", "TOTALDISCS"})).first;
    tags.trackNumber = ranged(TagNumber::trackOrDisc, trackNumber);
    tags.trackCount = ranged(TagNumber::trackOrDisc, trackCount);
    tags.discNumber = ranged(TagNumber::trackOrDisc, discNumber);
    tags.discCount = ranged(TagNumber::trackOrDisc, discCount);
    return encodeAudioTags(tags);
}

bool writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace
}  // namespace platform

int main() {
    using namespace platform;
    limitResources();
    std::string out;
    try {
        out = answer(STDIN_FILENO);
    } catch (const std::bad_alloc&) {
        out = encodeRefusal("reading its tags needs more memory than the tag reader may use (" +
                            std::to_string(kTagReaderMemoryLimit >> 20) + " MiB)");
    } catch (const std::exception& failure) {
        out = encodeRefusal(std::string("reading its tags failed: ") + failure.what());
    }
    return writeAll(out) ? 0 : 1;
}
