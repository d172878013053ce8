#pragma once
// Everything a read of a library file gave, as one text: the error, or
// every property of the library, its items and its playlists (members as
// indices into the items). For tests and fuzzers that compare two reads.

#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "platform/itlibrary/ITLibrary.h"

namespace platform::testing {

inline std::string libraryText(const Result<std::unique_ptr<ITLibrary>>& read) {
    if (!read) return "error: " + read.error().description;
    const ITLibrary& library = *read.value();
    std::ostringstream out;
    const auto text = [&](const std::optional<std::string_view>& t) -> std::ostream& {
        return t ? out << '"' << *t << '"' : out << '-';
    };
    const auto date = [&](const std::optional<Date>& d) -> std::ostream& {
        return d ? out << d->timeIntervalSince1970 : out << '-';
    };
    const auto url = [&](const std::optional<URL>& u) -> std::ostream& {
        return u ? out << u->absoluteString() : out << '-';
    };
    url(library.mediaFolderLocation()) << ' ';
    url(library.musicFolderLocation()) << ' ' << library.apiMajorVersion() << '.' << library.apiMinorVersion() << '\n';
    for (const ITLibMediaItem& item : library.allMediaItems()) {
        out << item.persistentID() << '|';
        date(item.addedDate()) << '|';
        text(item.album().title()) << '|';
        text(item.artist() ? item.artist()->name() : std::optional<std::string_view>("(no artist)")) << '|';
        out << item.beatsPerMinute() << '|';
        text(item.comments()) << '|';
        text(item.composer()) << '|';
        text(item.contentRating()) << '|' << item.fileSize() << '|';
        text(item.genre()) << '|';
        text(item.grouping()) << '|' << item.isCloud() << item.isDRMProtected() << item.isVideo() << item.isPurchased()
                              << item.isRatingComputed() << '|';
        text(item.kind()) << '|';
        date(item.lastPlayedDate()) << '|';
        url(item.location()) << '|' << static_cast<std::uint64_t>(item.mediaKind()) << '|';
        date(item.modifiedDate()) << '|' << item.playCount() << '|' << item.rating() << '|';
        date(item.releaseDate()) << '|' << item.sampleRate() << '|' << item.skipCount() << '|';
        date(item.skipDate()) << '|' << item.startTime() << '|' << item.stopTime() << '|';
        text(item.sortTitle()) << '|';
        text(item.sortComposer()) << '|';
        text(item.title()) << '|' << item.totalTime() << '|' << item.trackNumber() << '|' << item.volumeAdjustment()
                           << '|' << item.year() << '\n';
    }
    for (const ITLibPlaylist& list : library.allPlaylists()) {
        out << list.persistentID() << '|';
        text(list.name()) << '|' << (list.parentID() ? std::to_string(*list.parentID()) : "-") << '|'
                          << list.isMaster() << list.isVisible() << '|' << static_cast<std::uint64_t>(list.kind())
                          << '|' << static_cast<std::uint64_t>(list.distinguishedKind()) << ':';
        for (const ITLibMediaItem* member : list.items()) {
            const auto index = library.allMediaItems().indexOf(member);
            out << ' ' << (index ? std::to_string(*index) : "(none)");
        }
        out << '\n';
    }
    return out.str();
}

}  // namespace platform::testing
