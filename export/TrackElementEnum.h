#pragma once
// Identifiers of the track fields (`TrackElem`) and their declared value
// classes (`TrackClz`). Plain values; thread-safe.

#include <cstdint>
#include <optional>
#include <string_view>

namespace harmonode {

// The declared value class of a track field.
enum class TrackClz { kDate, kInt, kString, kBool, kLong, kITunesMediaKind };

// The case name as declared ("kDate").
std::string_view caseName(TrackClz clz) noexcept;

// Every track field, in declaration order; the raw value of a case is its
// position, 0 for kPlayDateUTC up to 93 for kNormalization.
#define HARMONODE_TRACK_ELEMS(X) \
    X(kPlayDateUTC) \
    X(kPlayDate) \
    X(kTunesID) \
    X(kPersistentID) \
    X(kLocation) \
    X(kSampleRate) \
    X(kDateAdded) \
    X(kTrackDateModified) \
    X(kTrackType) \
    X(kKind) \
    X(kLibraryFolderCount) \
    X(kFileFolderCount) \
    X(kAlbumArtist) \
    X(kAlbumRating) \
    X(kBPM) \
    X(kComments) \
    X(kComposer) \
    X(kEqualizer) \
    X(kGrouping) \
    X(kMovie) \
    X(kMusicVideo) \
    X(kPodcast) \
    X(kAudioBook) \
    X(kVoiceMemo) \
    X(kTVShow) \
    X(kITunesU) \
    X(kPurchased) \
    X(kRating) \
    X(kSeries) \
    X(kContentRating) \
    X(kNotOnDisk) \
    X(kSeason) \
    X(kEpisodeOrder) \
    X(kSortName) \
    X(kReleaseDate) \
    X(kGapless) \
    X(kProtected) \
    X(kSortArtist) \
    X(kSortAlbum) \
    X(kSortComposer) \
    X(kSortSeries) \
    X(kSortShow) \
    X(kStartTime) \
    X(kStopTime) \
    X(kOnCloud) \
    X(kMatched) \
    X(kHasVideo) \
    X(kArtworkCount) \
    X(kEpisode) \
    X(kUnplayed) \
    X(kVolumeAdjustment) \
    X(kYear) \
    X(kRingtone) \
    X(kTrackNumber) \
    X(kDiscNumber) \
    X(kDiscCount) \
    X(kTrackCount) \
    X(kTitle) \
    X(kGenre) \
    X(kArtist) \
    X(kAlbum) \
    X(kBitrate) \
    X(kSize) \
    X(kPlayCount) \
    X(kCRC) \
    X(kFormat) \
    X(kRelPath) \
    X(kTime) \
    X(kUID) \
    X(kCompilation) \
    X(kHD) \
    X(kExplicit) \
    X(kClean) \
    X(kAlbumRatingComputed) \
    X(kSkipCount) \
    X(kVideoHeight) \
    X(kVideoWidth) \
    X(kSkipDate) \
    X(kFileType) \
    X(kSortAlbumArtist) \
    X(kRatingComputed) \
    X(kDebugStr) \
    X(kUnchecked) \
    X(kExtension) \
    X(kMD5) \
    X(kFilePath) \
    X(kFileDateModified) \
    X(kICloudStatus) \
    X(kUnimplemented) \
    X(kITunesMediaKind) \
    X(kITunesOwner) \
    X(kMBTrackID) \
    X(kWork) \
    X(kNormalization)

enum class TrackElem : std::uint64_t {
#define HARMONODE_TRACK_ELEM_CASE(name) name,
    HARMONODE_TRACK_ELEMS(HARMONODE_TRACK_ELEM_CASE)
#undef HARMONODE_TRACK_ELEM_CASE
};

inline constexpr std::uint64_t kTrackElemCount = static_cast<std::uint64_t>(TrackElem::kNormalization) + 1;

constexpr std::uint64_t rawValue(TrackElem elem) noexcept { return static_cast<std::uint64_t>(elem); }

// The case of a raw value; none outside 0 to 93.
constexpr std::optional<TrackElem> trackElemFromRawValue(std::uint64_t raw) noexcept {
    if (raw >= kTrackElemCount) return std::nullopt;
    return static_cast<TrackElem>(raw);
}

// The case name as declared ("kPlayDateUTC").
std::string_view caseName(TrackElem elem) noexcept;

}  // namespace harmonode
