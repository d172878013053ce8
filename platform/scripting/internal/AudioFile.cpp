#include "platform/scripting/internal/AudioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
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
#include <cstring>
#include <filesystem>

#include "platform/foundation/UTF8.h"

namespace platform {
namespace {

Error cannotAdd(const std::string& path, std::string_view reason) {
    return Error{"\"" + path + "\" cannot be added: " + std::string(reason)};
}

std::optional<std::string> text(const TagLib::String& value) {
    if (value.isEmpty()) return std::nullopt;
    return decodeUTF8Lossy(value.to8Bit(true));
}

// The numbers of a "3/12" text: the part before the slash and after it.
std::pair<int, int> numberAndCount(const TagLib::String& value) {
    const std::string s = value.to8Bit(true);
    const auto number = [](std::string_view part) {
        int n = 0;
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), n);
        return ec == std::errc() && n > 0 ? n : 0;
    };
    const std::size_t slash = s.find('/');
    if (slash == std::string::npos) return {number(s), 0};
    return {number(std::string_view(s).substr(0, slash)), number(std::string_view(s).substr(slash + 1))};
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

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) absolute = path;
    return absolute.lexically_normal().string();
}

}  // namespace

Result<AudioFileInfo> readAudioFile(const std::string& path) {
    AudioFileInfo info;
    info.path = absolutePath(path);
    // Opened without waiting, so that a FIFO or a device cannot hold the
    // caller; only a regular file is read.
    const int fd = ::open(info.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return cannotAdd(info.path, std::strerror(errno));
    struct stat st {};
    const bool statted = ::fstat(fd, &st) == 0;
    const int statError = errno;
    if (!statted || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (!statted) return cannotAdd(info.path, std::strerror(statError));
        return cannotAdd(info.path, S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file");
    }
    info.size = static_cast<std::uint64_t>(st.st_size);

    // The stream closes the descriptor it is given.
    TagLib::FileStream stream(fd, true);
    if (!stream.isOpen()) {
        ::close(fd);
        return cannotAdd(info.path, "it cannot be read");
    }
    TagLib::FileRef file(&stream, true, TagLib::AudioProperties::Average);
    const TagLib::AudioProperties* audio = file.isNull() ? nullptr : file.audioProperties();
    if (audio == nullptr || audio->sampleRate() <= 0) return cannotAdd(info.path, "it is not audio that can be read");

    info.kind = kindOf(file.file());
    info.totalTime = audio->lengthInMilliseconds();
    info.bitRate = audio->bitrate();
    info.sampleRate = audio->sampleRate();
    if (const TagLib::Tag* tag = file.tag()) {
        info.title = text(tag->title());
        info.artist = text(tag->artist());
        info.album = text(tag->album());
        info.genre = text(tag->genre());
        info.comments = text(tag->comment());
        info.year = static_cast<int>(tag->year());
    }
    // Untitled files are named as their file is, without its extension.
    if (!info.title) info.title = decodeUTF8Lossy(std::filesystem::path(info.path).stem().string());
    const TagLib::PropertyMap properties = file.file()->properties();
    info.albumArtist = text(property(properties, {"ALBUMARTIST"}));
    info.composer = text(property(properties, {"COMPOSER"}));
    std::tie(info.trackNumber, info.trackCount) = numberAndCount(property(properties, {"TRACKNUMBER"}));
    std::tie(info.discNumber, info.discCount) = numberAndCount(property(properties, {"DISCNUMBER"}));
    if (info.trackCount == 0) info.trackCount = numberAndCount(property(properties, {"TRACKTOTAL", "TOTALTRACKS"})).first;
    if (info.discCount == 0) info.discCount = numberAndCount(property(properties, {"DISCTOTAL", "TOTALDISCS"})).first;
    return info;
}

}  // namespace platform
