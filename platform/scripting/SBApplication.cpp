#include "platform/scripting/SBApplication.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/foundation/Log.h"
#include "platform/scripting/internal/AudioFile.h"
#include "platform/scripting/internal/MusicLibraryFile.h"

namespace platform {
namespace {

constexpr std::string_view kMusic = "com.apple.Music";
constexpr std::string_view kFinder = "com.apple.Finder";

// The path the system is given for a file URL: its path's bytes, with the
// "/" at its end that the URL's path drops, so that a file named with one
// is refused as the system refuses it.
std::string pathOf(const URL& file) {
    std::string path = file.fileSystemRepresentation();
    const std::string& text = file.absoluteString();
    const std::string_view beforeQuery = std::string_view(text).substr(0, text.find_first_of("?#"));
    if (beforeQuery.ends_with('/') && !path.ends_with('/')) path += '/';
    return path;
}

class MusicTrack final : public SBObject {
public:
    explicit MusicTrack(TrackHandle handle) : handle_(handle) {}

    std::optional<std::string> valueForKey(std::string_view key) const override {
        if (key != "persistentID") return std::nullopt;
        char text[17];
        std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(handle_.persistentID));
        return text;
    }

    void deleteObject() override {
        const Status status = deleteLibraryTrack(handle_);
        setLastError(status ? std::nullopt : std::optional<Error>(status.error()));
    }

private:
    TrackHandle handle_;
};

class MusicApplication final : public SBApplication {
public:
    MusicApplication() : SBApplication(std::string(kMusic)) {}

    SBElementArray tracks() override {
        Result<std::vector<TrackHandle>> tracks = libraryTracks();
        if (!tracks) {
            setLastError(tracks.error());
            return {};
        }
        setLastError(std::nullopt);
        SBElementArray::Elements elements;
        elements.reserve(tracks.value().size());
        for (const TrackHandle& track : tracks.value()) elements.push_back(std::make_shared<MusicTrack>(track));
        return SBElementArray(std::move(elements));
    }

    std::shared_ptr<SBObject> add(const std::vector<URL>& files, const SBObject* to) override {
        if (to != nullptr) {
            setLastError(Error{"Music: adding to a playlist is not supported; add with no target"});
            return nullptr;
        }
        std::optional<Error> failure;
        std::vector<AudioFileInfo> audio;
        for (const URL& file : files) {
            if (!file.isFileURL()) {
                failure = Error{"Music: \"" + shownPath(file.absoluteString()) + "\" cannot be added: it is not a file URL"};
                setLastError(failure);
                continue;
            }
            Result<AudioFileInfo> info = readAudioFile(pathOf(file));
            if (info) {
                audio.push_back(std::move(info.value()));
            } else {
                failure = Error{"Music: " + info.error().description};
                setLastError(failure);
            }
        }
        if (audio.empty()) return nullptr;
        Result<std::vector<TrackHandle>> added = addLibraryTracks(audio);
        if (!added) {
            setLastError(Error{"Music: the files cannot be added: " + added.error().description});
            return nullptr;
        }
        if (!failure) setLastError(std::nullopt);
        return std::make_shared<MusicTrack>(added.value().front());
    }
};

class FinderItem final : public SBObject {
public:
    explicit FinderItem(std::string name) : name_(std::move(name)) {}
    std::optional<std::string> valueForKey(std::string_view key) const override {
        if (key == "name") return name_;
        return std::nullopt;
    }

private:
    std::string name_;
};

class FinderApplication final : public SBApplication {
public:
    FinderApplication() : SBApplication(std::string(kFinder)) {}

    SBElementArray items() override {
        std::string home;
        if (const char* variable = std::getenv("HOME"); variable != nullptr && *variable != '\0') {
            home = variable;
        } else if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
            home = entry->pw_dir;
        }
        std::error_code ec;
        SBElementArray::Elements elements;
        for (std::filesystem::directory_iterator it(home, ec), end; !ec && it != end; it.increment(ec)) {
            elements.push_back(std::make_shared<FinderItem>(it->path().filename().string()));
        }
        if (ec) {
            setLastError(Error{"Finder: the home folder \"" + shownPath(home) + "\" cannot be listed: " + ec.message()});
        } else {
            setLastError(std::nullopt);
        }
        return SBElementArray(std::move(elements));
    }
};

}  // namespace

SBObject::~SBObject() = default;

std::optional<std::string> SBObject::valueForKey(std::string_view) const { return std::nullopt; }

void SBObject::deleteObject() { setLastError(Error{"the object does not answer delete"}); }

void SBObject::setLastError(std::optional<Error> error) {
    if (error) NSLog("%@", error->description);
    lastError_ = std::move(error);
}

Result<SBElementArray::Elements> SBElementArray::filteredArrayUsingPredicate(const NSPredicate& predicate) const {
    Elements matches;
    for (const auto& element : elements_) {
        const std::optional<std::string> value = element->valueForKey(predicate.key());
        if (!value) return Error{"The elements have no property \"" + predicate.key() + "\" to compare"};
        if (predicate.evaluateWithValue(value)) matches.push_back(element);
    }
    return matches;
}

SBElementArray SBApplication::tracks() { return {}; }

std::shared_ptr<SBObject> SBApplication::add(const std::vector<URL>&, const SBObject*) { return nullptr; }

SBElementArray SBApplication::items() { return {}; }

std::unique_ptr<SBApplication> SBApplication::applicationWithBundleIdentifier(std::string_view bundleIdentifier) {
    if (bundleIdentifier == kMusic) return std::make_unique<MusicApplication>();
    if (bundleIdentifier == kFinder) return std::make_unique<FinderApplication>();
    return nullptr;
}

}  // namespace platform
