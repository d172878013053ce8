#include "export/TrackElementMap.h"

#include <mutex>

#include "export/Assert.h"

namespace harmonode {

TrackElementMap::TrackElementMap() {
    trackElementMap_.reserve(kTrackElemCount);
    add(TrackElem::kPlayDateUTC, "Play Date UTC", "Play Date UTC", TrackClz::kDate, 72);
    add(TrackElem::kPlayDate, "Play Date", "Play Date", TrackClz::kDate, 71);
    add(TrackElem::kTunesID, "Track ID", "Track ID", TrackClz::kInt, 61);
    add(TrackElem::kPersistentID, "Persistent ID", "Persistent ID", TrackClz::kString, 62);
    add(TrackElem::kLocation, "Location", "Location", TrackClz::kString, 63);
    add(TrackElem::kSampleRate, "Sample Rate", "Sample Rate", TrackClz::kInt, 64);
    add(TrackElem::kDateAdded, "Date Added", "Date Added", TrackClz::kDate, 66);
    add(TrackElem::kTrackDateModified, "Date Modified", "Date Modified", TrackClz::kDate, 67);
    add(TrackElem::kTrackType, "Track Type", "Track Type", TrackClz::kString, 70);
    add(TrackElem::kKind, "Kind", "Kind", TrackClz::kString, 65);
    add(TrackElem::kLibraryFolderCount, "Library Folder Count", "Library Folder Count", TrackClz::kInt, 68);
    add(TrackElem::kFileFolderCount, "File Folder Count", "File Folder Count", TrackClz::kInt, 69);
    add(TrackElem::kAlbumArtist, "Album Artist", "Album Artist", TrackClz::kString, 16);
    add(TrackElem::kAlbumRating, "Album Rating", "Album Rating", TrackClz::kInt, 17);
    add(TrackElem::kBPM, "BPM", "BPM", TrackClz::kInt, 18);
    add(TrackElem::kComments, "Comments", "Comments", TrackClz::kString, 19);
    add(TrackElem::kComposer, "Composer", "Composer", TrackClz::kString, 20);
    add(TrackElem::kEqualizer, "Equalizer", "Equalizer", TrackClz::kString, 21);
    add(TrackElem::kGrouping, "Grouping", "Grouping", TrackClz::kString, 22);
    add(TrackElem::kMovie, "Movie", "Movie", TrackClz::kBool, 23);
    add(TrackElem::kMusicVideo, "Music Video", "Music Video", TrackClz::kBool, 24);
    add(TrackElem::kPodcast, "Podcast", "Podcast", TrackClz::kBool, 25);
    add(TrackElem::kAudioBook, "Audio Book", "Audio Book", TrackClz::kBool, 88);
    add(TrackElem::kVoiceMemo, "Voice Memo", "Voice Memo", TrackClz::kBool, 60);
    add(TrackElem::kTVShow, "TV Show", "TV Show", TrackClz::kBool, 30);
    add(TrackElem::kITunesU, "iTunes U", "iTunes U", TrackClz::kBool, 87);
    add(TrackElem::kPurchased, "Purchased", "Purchased", TrackClz::kBool, 26);
    add(TrackElem::kRating, "Rating", "Rating", TrackClz::kInt, 27);
    add(TrackElem::kSeries, "Series", "Series", TrackClz::kString, 28);
    add(TrackElem::kContentRating, "Content Rating", "Content Rating", TrackClz::kString, 29);
    add(TrackElem::kNotOnDisk, "Not found", "Not found", TrackClz::kBool, 97);
    add(TrackElem::kSeason, "Season", "Season", TrackClz::kInt, 31);
    add(TrackElem::kEpisodeOrder, "Episode Order", "Episode Order", TrackClz::kInt, 32);
    add(TrackElem::kSortName, "Sort Name", "Sort Name", TrackClz::kString, 33);
    add(TrackElem::kReleaseDate, "Release Date", "Release Date", TrackClz::kString, 34);
    add(TrackElem::kGapless, "Part Of Gapless Album", "Part Of Gapless Album", TrackClz::kBool, 35);
    add(TrackElem::kProtected, "Protected", "Protected", TrackClz::kBool, 36);
    add(TrackElem::kSortArtist, "Sort Artist", "Sort Artist", TrackClz::kString, 37);
    add(TrackElem::kSortAlbum, "Sort Album", "Sort Album", TrackClz::kString, 38);
    add(TrackElem::kSortComposer, "Sort Composer", "Sort Composer", TrackClz::kString, 39);
    add(TrackElem::kSortSeries, "Sort Series", "Sort Series", TrackClz::kString, 40);
    add(TrackElem::kSortShow, "Sort Show", "Sort Show", TrackClz::kString, 41);
    add(TrackElem::kStartTime, "Start Time", "Start Time", TrackClz::kString, 42);
    add(TrackElem::kStopTime, "Stop Time", "Stop Time", TrackClz::kString, 43);
    add(TrackElem::kOnCloud, "On Cloud", "On Cloud", TrackClz::kBool, 92);
    add(TrackElem::kMatched, "iTunes Matched", "iTunes Matched", TrackClz::kBool, 93);
    add(TrackElem::kHasVideo, "Has Video", "Has Video", TrackClz::kBool, 44);
    add(TrackElem::kArtworkCount, "Artwork Count", "Artwork Count", TrackClz::kInt, 45);
    add(TrackElem::kEpisode, "Episode", "Episode", TrackClz::kString, 46);
    add(TrackElem::kUnplayed, "Unplayed", "Unplayed", TrackClz::kBool, 47);
    add(TrackElem::kVolumeAdjustment, "Volume Adjustment", "Volume Adjustment", TrackClz::kInt, 48);
    add(TrackElem::kYear, "Year", "Year", TrackClz::kInt, 49);
    add(TrackElem::kRingtone, "Ringtone", "Ringtone", TrackClz::kBool, 50);
    add(TrackElem::kTrackNumber, "Track Number", "Track Number", TrackClz::kInt, 51);
    add(TrackElem::kDiscNumber, "Disc Number", "Disc Number", TrackClz::kInt, 52);
    add(TrackElem::kDiscCount, "Disc Count", "Disc Count", TrackClz::kInt, 53);
    add(TrackElem::kTrackCount, "Track Count", "Track Count", TrackClz::kInt, 54);
    add(TrackElem::kTitle, "Title", "Title", TrackClz::kString, 10);
    add(TrackElem::kGenre, "Genre", "Genre", TrackClz::kString, 11);
    add(TrackElem::kArtist, "Artist", "Artist", TrackClz::kString, 12);
    add(TrackElem::kAlbum, "Album", "Album", TrackClz::kString, 13);
    add(TrackElem::kBitrate, "Bitrate", "Bitrate", TrackClz::kInt, 14);
    add(TrackElem::kSize, "Size", "Size", TrackClz::kLong, 15);
    add(TrackElem::kPlayCount, "Playcount", "Playcount", TrackClz::kInt, 55);
    add(TrackElem::kCRC, "CRC", "CRC", TrackClz::kLong, 56);
    add(TrackElem::kFormat, "Format", "Format", TrackClz::kString, 57);
    add(TrackElem::kRelPath, "Path", "Path", TrackClz::kString, 58);
    add(TrackElem::kTime, "Time", "Time", TrackClz::kLong, 59);
    add(TrackElem::kUID, "uid", "uid", TrackClz::kInt, 91);
    add(TrackElem::kCompilation, "Compilation", "Compilation", TrackClz::kBool, 73);
    add(TrackElem::kHD, "HD", "HD", TrackClz::kBool, 74);
    add(TrackElem::kExplicit, "Explicit", "Explicit", TrackClz::kBool, 77);
    add(TrackElem::kClean, "Clean", "Clean", TrackClz::kBool, 86);
    add(TrackElem::kAlbumRatingComputed, "Album Rating Computed", "Album Rating Computed", TrackClz::kBool, 80);
    add(TrackElem::kSkipCount, "Skip Count", "Skip Count", TrackClz::kInt, 79);
    add(TrackElem::kVideoHeight, "Video Height", "Video Height", TrackClz::kInt, 75);
    add(TrackElem::kVideoWidth, "Video Width", "Video Width", TrackClz::kInt, 76);
    add(TrackElem::kSkipDate, "Skip Date", "Skip Date", TrackClz::kDate, 78);
    add(TrackElem::kFileType, "File Type", "File Type", TrackClz::kInt, 81);
    add(TrackElem::kSortAlbumArtist, "Sort Album Artist", "Sort Album Artist", TrackClz::kString, 82);
    add(TrackElem::kRatingComputed, "Rating Computed", "Rating Computed", TrackClz::kBool, 83);
    add(TrackElem::kDebugStr, "Debug", "Debug", TrackClz::kString, 84);
    add(TrackElem::kUnchecked, "Unchecked", "Unchecked", TrackClz::kBool, 85);
    add(TrackElem::kExtension, "Extension", "Extension", TrackClz::kString, 90);
    add(TrackElem::kMD5, "MD5", "MD5", TrackClz::kString, 89);
    add(TrackElem::kFilePath, "FilePath", "FilePath", TrackClz::kString, 94);
    add(TrackElem::kFileDateModified, "File Modification Date", "File Modification Date", TrackClz::kDate, 95);
    add(TrackElem::kICloudStatus, "CloudStatus", "CloudStatus", TrackClz::kString, 96);
    add(TrackElem::kUnimplemented, "-unimplemented-", "-unimplemented-", TrackClz::kString, 250);
    add(TrackElem::kITunesMediaKind, "Media Kind", "Media Kind", TrackClz::kString, 98);
    add(TrackElem::kITunesOwner, "iTunes Owner", "iTunes Owner", TrackClz::kString, 99);
    add(TrackElem::kMBTrackID, "MusicBrainz Track ID", "MusicBrainz Track ID", TrackClz::kString, 100);
    add(TrackElem::kWork, "Work", "Work", TrackClz::kString, 106);
    add(TrackElem::kNormalization, "Normalization", "Normalization", TrackClz::kInt, 107);}

void TrackElementMap::add(TrackElem elem, std::string name, std::string displayName, TrackClz typ, std::int64_t id) {
    trackElementMap_.insert_or_assign(elem, TrackElement(elem, std::move(name), std::move(displayName), typ, id));
}

const TrackElement& TrackElementMap::get(TrackElem elem) const {
    const auto found = trackElementMap_.find(elem);
    HARMONODE_ASSERT(found != trackElementMap_.end());
    return found->second;
}

namespace {
TrackElementMap* trackElementMap = nullptr;
std::once_flag trackElementMapOnce;
}  // namespace

const TrackElement& getTrackElement(TrackElem elem) {
    // Never destroyed: descriptors handed out stay valid until the process ends.
    std::call_once(trackElementMapOnce, [] { trackElementMap = new TrackElementMap(); });
    return trackElementMap->get(elem);
}

}  // namespace harmonode
