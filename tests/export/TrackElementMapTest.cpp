#include <gtest/gtest.h>

#include <set>
#include <string>

#include "export/TrackElementMap.h"

namespace harmonode {
namespace {

struct Row {
    TrackElem elem;
    const char* key;
    TrackClz typ;
    std::int64_t id;
};

// The catalogue as the record format fixes it, row by row.
const Row kCatalogue[] = {
        {TrackElem::kPlayDateUTC, "Play Date UTC", TrackClz::kDate, 72},
        {TrackElem::kPlayDate, "Play Date", TrackClz::kDate, 71},
        {TrackElem::kTunesID, "Track ID", TrackClz::kInt, 61},
        {TrackElem::kPersistentID, "Persistent ID", TrackClz::kString, 62},
        {TrackElem::kLocation, "Location", TrackClz::kString, 63},
        {TrackElem::kSampleRate, "Sample Rate", TrackClz::kInt, 64},
        {TrackElem::kDateAdded, "Date Added", TrackClz::kDate, 66},
        {TrackElem::kTrackDateModified, "Date Modified", TrackClz::kDate, 67},
        {TrackElem::kTrackType, "Track Type", TrackClz::kString, 70},
        {TrackElem::kKind, "Kind", TrackClz::kString, 65},
        {TrackElem::kLibraryFolderCount, "Library Folder Count", TrackClz::kInt, 68},
        {TrackElem::kFileFolderCount, "File Folder Count", TrackClz::kInt, 69},
        {TrackElem::kAlbumArtist, "Album Artist", TrackClz::kString, 16},
        {TrackElem::kAlbumRating, "Album Rating", TrackClz::kInt, 17},
        {TrackElem::kBPM, "BPM", TrackClz::kInt, 18},
        {TrackElem::kComments, "Comments", TrackClz::kString, 19},
        {TrackElem::kComposer, "Composer", TrackClz::kString, 20},
        {TrackElem::kEqualizer, "Equalizer", TrackClz::kString, 21},
        {TrackElem::kGrouping, "Grouping", TrackClz::kString, 22},
        {TrackElem::kMovie, "Movie", TrackClz::kBool, 23},
        {TrackElem::kMusicVideo, "Music Video", TrackClz::kBool, 24},
        {TrackElem::kPodcast, "Podcast", TrackClz::kBool, 25},
        {TrackElem::kAudioBook, "Audio Book", TrackClz::kBool, 88},
        {TrackElem::kVoiceMemo, "Voice Memo", TrackClz::kBool, 60},
        {TrackElem::kTVShow, "TV Show", TrackClz::kBool, 30},
        {TrackElem::kITunesU, "iTunes U", TrackClz::kBool, 87},
        {TrackElem::kPurchased, "Purchased", TrackClz::kBool, 26},
        {TrackElem::kRating, "Rating", TrackClz::kInt, 27},
        {TrackElem::kSeries, "Series", TrackClz::kString, 28},
        {TrackElem::kContentRating, "Content Rating", TrackClz::kString, 29},
        {TrackElem::kNotOnDisk, "Not found", TrackClz::kBool, 97},
        {TrackElem::kSeason, "Season", TrackClz::kInt, 31},
        {TrackElem::kEpisodeOrder, "Episode Order", TrackClz::kInt, 32},
        {TrackElem::kSortName, "Sort Name", TrackClz::kString, 33},
        {TrackElem::kReleaseDate, "Release Date", TrackClz::kString, 34},
        {TrackElem::kGapless, "Part Of Gapless Album", TrackClz::kBool, 35},
        {TrackElem::kProtected, "Protected", TrackClz::kBool, 36},
        {TrackElem::kSortArtist, "Sort Artist", TrackClz::kString, 37},
        {TrackElem::kSortAlbum, "Sort Album", TrackClz::kString, 38},
        {TrackElem::kSortComposer, "Sort Composer", TrackClz::kString, 39},
        {TrackElem::kSortSeries, "Sort Series", TrackClz::kString, 40},
        {TrackElem::kSortShow, "Sort Show", TrackClz::kString, 41},
        {TrackElem::kStartTime, "Start Time", TrackClz::kString, 42},
        {TrackElem::kStopTime, "Stop Time", TrackClz::kString, 43},
        {TrackElem::kOnCloud, "On Cloud", TrackClz::kBool, 92},
        {TrackElem::kMatched, "iTunes Matched", TrackClz::kBool, 93},
        {TrackElem::kHasVideo, "Has Video", TrackClz::kBool, 44},
        {TrackElem::kArtworkCount, "Artwork Count", TrackClz::kInt, 45},
        {TrackElem::kEpisode, "Episode", TrackClz::kString, 46},
        {TrackElem::kUnplayed, "Unplayed", TrackClz::kBool, 47},
        {TrackElem::kVolumeAdjustment, "Volume Adjustment", TrackClz::kInt, 48},
        {TrackElem::kYear, "Year", TrackClz::kInt, 49},
        {TrackElem::kRingtone, "Ringtone", TrackClz::kBool, 50},
        {TrackElem::kTrackNumber, "Track Number", TrackClz::kInt, 51},
        {TrackElem::kDiscNumber, "Disc Number", TrackClz::kInt, 52},
        {TrackElem::kDiscCount, "Disc Count", TrackClz::kInt, 53},
        {TrackElem::kTrackCount, "Track Count", TrackClz::kInt, 54},
        {TrackElem::kTitle, "Title", TrackClz::kString, 10},
        {TrackElem::kGenre, "Genre", TrackClz::kString, 11},
        {TrackElem::kArtist, "Artist", TrackClz::kString, 12},
        {TrackElem::kAlbum, "Album", TrackClz::kString, 13},
        {TrackElem::kBitrate, "Bitrate", TrackClz::kInt, 14},
        {TrackElem::kSize, "Size", TrackClz::kLong, 15},
        {TrackElem::kPlayCount, "Playcount", TrackClz::kInt, 55},
        {TrackElem::kCRC, "CRC", TrackClz::kLong, 56},
        {TrackElem::kFormat, "Format", TrackClz::kString, 57},
        {TrackElem::kRelPath, "Path", TrackClz::kString, 58},
        {TrackElem::kTime, "Time", TrackClz::kLong, 59},
        {TrackElem::kUID, "uid", TrackClz::kInt, 91},
        {TrackElem::kCompilation, "Compilation", TrackClz::kBool, 73},
        {TrackElem::kHD, "HD", TrackClz::kBool, 74},
        {TrackElem::kExplicit, "Explicit", TrackClz::kBool, 77},
        {TrackElem::kClean, "Clean", TrackClz::kBool, 86},
        {TrackElem::kAlbumRatingComputed, "Album Rating Computed", TrackClz::kBool, 80},
        {TrackElem::kSkipCount, "Skip Count", TrackClz::kInt, 79},
        {TrackElem::kVideoHeight, "Video Height", TrackClz::kInt, 75},
        {TrackElem::kVideoWidth, "Video Width", TrackClz::kInt, 76},
        {TrackElem::kSkipDate, "Skip Date", TrackClz::kDate, 78},
        {TrackElem::kFileType, "File Type", TrackClz::kInt, 81},
        {TrackElem::kSortAlbumArtist, "Sort Album Artist", TrackClz::kString, 82},
        {TrackElem::kRatingComputed, "Rating Computed", TrackClz::kBool, 83},
        {TrackElem::kDebugStr, "Debug", TrackClz::kString, 84},
        {TrackElem::kUnchecked, "Unchecked", TrackClz::kBool, 85},
        {TrackElem::kExtension, "Extension", TrackClz::kString, 90},
        {TrackElem::kMD5, "MD5", TrackClz::kString, 89},
        {TrackElem::kFilePath, "FilePath", TrackClz::kString, 94},
        {TrackElem::kFileDateModified, "File Modification Date", TrackClz::kDate, 95},
        {TrackElem::kICloudStatus, "CloudStatus", TrackClz::kString, 96},
        {TrackElem::kUnimplemented, "-unimplemented-", TrackClz::kString, 250},
        {TrackElem::kITunesMediaKind, "Media Kind", TrackClz::kString, 98},
        {TrackElem::kITunesOwner, "iTunes Owner", TrackClz::kString, 99},
        {TrackElem::kMBTrackID, "MusicBrainz Track ID", TrackClz::kString, 100},
        {TrackElem::kWork, "Work", TrackClz::kString, 106},
        {TrackElem::kNormalization, "Normalization", TrackClz::kInt, 107},};

TEST(TrackElementMap, EveryIdentifierHasItsRowExactly) {
    ASSERT_EQ(std::size(kCatalogue), kTrackElemCount);
    for (std::size_t raw = 0; raw < std::size(kCatalogue); ++raw) {
        const Row& row = kCatalogue[raw];
        ASSERT_EQ(rawValue(row.elem), raw);
        const TrackElement& entry = getTrackElement(row.elem);
        EXPECT_EQ(entry.elem(), row.elem) << row.key;
        EXPECT_EQ(entry.name(), row.key);
        EXPECT_EQ(entry.displayName(), entry.name());
        EXPECT_EQ(entry.typ(), row.typ) << row.key;
        EXPECT_EQ(entry.id(), row.id) << row.key;
    }
}

TEST(TrackElementMap, KeysAndIdsAreUnique) {
    std::set<std::string> keys;
    std::set<std::int64_t> ids;
    for (std::uint64_t raw = 0; raw < kTrackElemCount; ++raw) {
        const TrackElement& entry = getTrackElement(*trackElemFromRawValue(raw));
        EXPECT_TRUE(keys.insert(entry.name()).second) << entry.name();
        EXPECT_TRUE(ids.insert(entry.id()).second) << entry.id();
    }
    EXPECT_EQ(*ids.rbegin(), 250);
}

TEST(TrackElementMap, RawValuesConvertBothWays) {
    EXPECT_EQ(rawValue(TrackElem::kPlayDateUTC), 0u);
    EXPECT_EQ(rawValue(TrackElem::kNormalization), 93u);
    EXPECT_EQ(trackElemFromRawValue(93), TrackElem::kNormalization);
    EXPECT_EQ(trackElemFromRawValue(94), std::nullopt);
    EXPECT_EQ(trackElemFromRawValue(UINT64_MAX), std::nullopt);
}

TEST(TrackElementMap, DescriptionIsKeyCaseAndClass) {
    EXPECT_EQ(getTrackElement(TrackElem::kPlayDateUTC).description(), "Play Date UTC kPlayDateUTC kDate");
    EXPECT_EQ(getTrackElement(TrackElem::kSize).description(), "Size kSize kLong");
    EXPECT_EQ(getTrackElement(TrackElem::kITunesMediaKind).description(), "Media Kind kITunesMediaKind kString");
}

TEST(TrackElementMap, AddReplacesAnEarlierEntry) {
    TrackElementMap map;
    map.add(TrackElem::kSize, "Bytes", "Bytes", TrackClz::kInt, 1);
    EXPECT_EQ(map.trackElementMap().size(), kTrackElemCount);
    EXPECT_EQ(map.get(TrackElem::kSize).name(), "Bytes");
    EXPECT_EQ(getTrackElement(TrackElem::kSize).name(), "Size");  // the process-wide one is untouched
}

TEST(TrackElementMapDeathTest, GetOfAMissingEntryStops) {
    TrackElementMap map;
    map.trackElementMap().erase(TrackElem::kWork);
    EXPECT_DEATH(static_cast<void>(map.get(TrackElem::kWork)), "Assertion failed");
}

}  // namespace
}  // namespace harmonode
