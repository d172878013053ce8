#include "platform/itlibrary/internal/ITLibraryReader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/foundation/UTF8.h"
#include "tests/itlibrary/LibraryXml.h"

namespace platform {
namespace {

using namespace platform::testing;

std::unique_ptr<ITLibrary> read(const std::string& xml, std::size_t chunkSize = ITLibraryReader::kChunkSize) {
    auto result = ITLibraryReader::readBytes(xml, "Library.xml", chunkSize);
    if (!result) {
        ADD_FAILURE() << result.error().description;
        return nullptr;
    }
    return std::move(result).value();
}

std::string errorOf(const std::string& xml, std::size_t chunkSize = ITLibraryReader::kChunkSize) {
    auto result = ITLibraryReader::readBytes(xml, "Library.xml", chunkSize);
    if (result) return "(opened)";
    return result.error().description;
}

const ITLibMediaItem& onlyItem(const std::unique_ptr<ITLibrary>& library) {
    EXPECT_EQ(library->allMediaItems().size(), 1u);
    return library->allMediaItems().front();
}

std::vector<std::uint64_t> memberIDs(const ITLibPlaylist& playlist) {
    std::vector<std::uint64_t> ids;
    for (const ITLibMediaItem* item : playlist.items()) ids.push_back(item->persistentID());
    return ids;
}

TEST(ITLibraryReader, EveryPropertyComesFromItsKey) {
    const auto library = read(plist(tracks(track(
        101, str("Persistent ID", "12ace9259a434b5e") + str("Name", "Title") + str("Artist", "Artist") +
                 str("Album", "Album") + str("Composer", "Composer") + str("Genre", "Genre") +
                 str("Sort Name", "Sort Title") + str("Sort Composer", "Sort Composer") +
                 str("Kind", "MPEG audio file") + str("Comments", "") + str("Grouping", "Grouping") +
                 str("Content Rating", "us-tv|TV-14|500|") +
                 str("Location", "file:///Music/A%20B/01%20T.mp3") + integer("BPM", 128) +
                 integer("Size", 5525212) + integer("Play Count", 31) + integer("Rating", 80) +
                 integer("Sample Rate", 44100) + integer("Skip Count", 3) + integer("Start Time", 1500) +
                 integer("Stop Time", 180000) + integer("Total Time", 182674) + integer("Track Number", 4) +
                 integer("Volume Adjustment", -255) + integer("Year", 2012) +
                 date("Date Added", "2014-04-24T09:28:38Z") + date("Date Modified", "2015-02-02T15:23:08Z") +
                 integer("Play Date", 3513594051) + date("Play Date UTC", "2015-05-04T12:20:51Z") +
                 date("Release Date", "2012-05-25T12:00:00Z") + date("Skip Date", "2015-02-05T15:41:04Z") +
                 yes("Protected") + yes("Has Video") + yes("Purchased") + yes("Rating Computed")))));
    const ITLibMediaItem& item = onlyItem(library);
    EXPECT_EQ(item.persistentID(), 0x12ACE9259A434B5EULL);
    EXPECT_EQ(item.title(), "Title");
    ASSERT_TRUE(item.artist());
    EXPECT_EQ(item.artist()->name(), "Artist");
    EXPECT_EQ(item.album().title(), "Album");
    EXPECT_EQ(item.composer(), "Composer");
    EXPECT_EQ(item.genre(), "Genre");
    EXPECT_EQ(item.sortTitle(), "Sort Title");
    EXPECT_EQ(item.sortComposer(), "Sort Composer");
    EXPECT_EQ(item.kind(), "MPEG audio file");
    EXPECT_EQ(item.comments(), "");  // present though empty
    EXPECT_EQ(item.grouping(), "Grouping");
    EXPECT_EQ(item.contentRating(), "us-tv|TV-14|500|");
    ASSERT_TRUE(item.location());
    EXPECT_EQ(item.location()->absoluteString(), "file:///Music/A%20B/01%20T.mp3");
    EXPECT_EQ(item.location()->path(), "/Music/A B/01 T.mp3");
    EXPECT_EQ(item.beatsPerMinute(), 128);
    EXPECT_EQ(item.fileSize(), 5525212u);
    EXPECT_EQ(item.playCount(), 31);
    EXPECT_EQ(item.rating(), 80);
    EXPECT_EQ(item.sampleRate(), 44100);
    EXPECT_EQ(item.skipCount(), 3);
    EXPECT_EQ(item.startTime(), 1500);
    EXPECT_EQ(item.stopTime(), 180000);
    EXPECT_EQ(item.totalTime(), 182674);
    EXPECT_EQ(item.trackNumber(), 4);
    EXPECT_EQ(item.volumeAdjustment(), -255);
    EXPECT_EQ(item.year(), 2012);
    EXPECT_EQ(item.addedDate(), Date{1398331718});
    EXPECT_EQ(item.modifiedDate(), Date{1422890588});
    EXPECT_EQ(item.lastPlayedDate(), Date{1430742051});  // "Play Date UTC", not the 1904-based "Play Date"
    EXPECT_EQ(item.releaseDate(), Date{1337947200});
    EXPECT_EQ(item.skipDate(), Date{1423150864});
    EXPECT_TRUE(item.isDRMProtected());
    EXPECT_TRUE(item.isVideo());
    EXPECT_TRUE(item.isPurchased());
    EXPECT_TRUE(item.isRatingComputed());
    EXPECT_FALSE(item.isCloud());
    EXPECT_EQ(item.mediaKind(), ITLibMediaItemMediaKind::Song);
}

TEST(ITLibraryReader, AbsentValuesTakeTheirEmptyForms) {
    const auto library = read(plist(tracks(track(7, "")) + playlists(playlist(""))));
    const ITLibMediaItem& item = onlyItem(library);
    EXPECT_EQ(item.persistentID(), 0u);
    EXPECT_EQ(item.title(), "");
    EXPECT_EQ(item.composer(), "");
    EXPECT_EQ(item.genre(), "");
    EXPECT_FALSE(item.album().title());
    EXPECT_FALSE(item.artist());
    for (const auto& text : {item.sortTitle(), item.sortComposer(), item.kind(), item.comments(), item.grouping(),
                             item.contentRating()}) {
        EXPECT_FALSE(text);
    }
    for (const auto& date : {item.addedDate(), item.modifiedDate(), item.lastPlayedDate(), item.releaseDate(),
                             item.skipDate()}) {
        EXPECT_FALSE(date);
    }
    EXPECT_FALSE(item.location());
    for (const std::int64_t number :
         {item.beatsPerMinute(), item.playCount(), item.rating(), item.sampleRate(), item.skipCount(),
          item.startTime(), item.stopTime(), item.totalTime(), item.trackNumber(), item.volumeAdjustment(),
          item.year()}) {
        EXPECT_EQ(number, 0);
    }
    EXPECT_EQ(item.fileSize(), 0u);
    for (const bool flag :
         {item.isCloud(), item.isDRMProtected(), item.isVideo(), item.isPurchased(), item.isRatingComputed()}) {
        EXPECT_FALSE(flag);
    }
    EXPECT_EQ(item.mediaKind(), ITLibMediaItemMediaKind::Song);

    ASSERT_EQ(library->allPlaylists().size(), 1u);
    const ITLibPlaylist& list = library->allPlaylists().front();
    EXPECT_EQ(list.name(), "");
    EXPECT_EQ(list.persistentID(), 0u);
    EXPECT_FALSE(list.parentID());
    EXPECT_FALSE(list.isMaster());
    EXPECT_TRUE(list.isVisible());
    EXPECT_EQ(list.kind(), ITLibPlaylistKind::Regular);
    EXPECT_EQ(list.distinguishedKind(), ITLibDistinguishedPlaylistKind::None);
    EXPECT_TRUE(list.items().empty());

    EXPECT_FALSE(library->musicFolderLocation());
    EXPECT_FALSE(library->mediaFolderLocation());
    EXPECT_EQ(library->apiMajorVersion(), 1u);
    EXPECT_EQ(library->apiMinorVersion(), 1u);
}

TEST(ITLibraryReader, AKeyGivenTwiceKeepsItsLastValueAndEveryOtherTextItsOwn) {
    const auto library =
        read(plist(tracks(track(1, str("Name", "first") + str("Artist", "Ärtist") + str("Location", "file:///a.mp3") +
                                       str("Comments", "") + str("Name", "second") + str("Album", "Album") +
                                       str("Location", "") + str("Genre", "Jazz") + str("Sort Name", "sort")) +
                          track(2, str("Location", "file:///b%20c.mp3") + str("Name", std::string(70000, 'n'))))));
    ASSERT_EQ(library->allMediaItems().size(), 2u);
    const ITLibMediaItem& first = library->allMediaItems()[0];
    EXPECT_EQ(first.title(), "second");
    EXPECT_EQ(first.artist()->name(), "Ärtist");
    EXPECT_EQ(first.album().title(), "Album");
    EXPECT_EQ(first.comments(), "");  // present, though empty
    EXPECT_FALSE(first.location()) << "an empty location is none";
    EXPECT_EQ(first.genre(), "Jazz");
    EXPECT_EQ(first.sortTitle(), "sort");
    EXPECT_EQ(first.composer(), "");
    EXPECT_FALSE(first.kind());
    const ITLibMediaItem& second = library->allMediaItems()[1];
    EXPECT_EQ(second.location()->path(), "/b c.mp3");
    EXPECT_EQ(second.title(), std::string(70000, 'n'));
    EXPECT_FALSE(second.artist());
    EXPECT_FALSE(second.album().title());
}

TEST(ITLibraryReader, LibraryFactsComeFromTheTopLevel) {
    const auto library = read(plist(integer("Major Version", 2) + integer("Minor Version", 7) + tracks("") +
                                    str("Music Folder", "file:///Users/me/Music/Media%20Folder/")));
    EXPECT_EQ(library->apiMajorVersion(), 2u);
    EXPECT_EQ(library->apiMinorVersion(), 7u);
    ASSERT_TRUE(library->musicFolderLocation());
    EXPECT_EQ(library->musicFolderLocation()->absoluteString(), "file:///Users/me/Music/Media%20Folder/");
    EXPECT_EQ(library->mediaFolderLocation(), library->musicFolderLocation());
    EXPECT_TRUE(library->allMediaItems().empty());
    EXPECT_TRUE(library->allPlaylists().empty());
}

TEST(ITLibraryReader, MediaKindIsTheFirstKindKeyThatIsTrue) {
    using K = ITLibMediaItemMediaKind;
    const std::vector<std::pair<std::string, K>> cases = {
        {yes("Podcast"), K::Podcast},
        {yes("Movie"), K::Movie},
        {yes("TV Show"), K::TVShow},
        {yes("Music Video"), K::MusicVideo},
        {yes("iTunes U"), K::ITunesU},
        {yes("Audiobook"), K::Audiobook},
        {yes("Voice Memo"), K::VoiceMemo},
        {yes("Ringtone"), K::Ringtone},
        {no("Podcast"), K::Song},
        {yes("Ringtone") + yes("Podcast"), K::Podcast},  // the order of the keys in the file does not count
        {yes("TV Show") + yes("Movie"), K::Movie},
        {yes("Audiobook") + yes("iTunes U") + yes("Music Video"), K::MusicVideo},
        {yes("Ringtone") + yes("Voice Memo"), K::VoiceMemo},
        {yes("Podcast") + no("Podcast") + yes("Movie"), K::Movie},
    };
    for (const auto& [entries, kind] : cases) {
        const auto library = read(plist(tracks(track(1, entries))));
        EXPECT_EQ(onlyItem(library).mediaKind(), kind) << entries;
    }
}

TEST(ITLibraryReader, CloudItemsAreMatchedAppleMusicPlaylistOnlyOrRemote) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {yes("Matched"), true},
        {yes("Apple Music"), true},
        {yes("Playlist Only"), true},
        {str("Track Type", "Remote"), true},
        {str("Track Type", "File"), false},
        {str("Track Type", "URL"), false},
        {no("Matched") + no("Apple Music") + no("Playlist Only"), false},
        {"", false},
    };
    for (const auto& [entries, cloud] : cases) {
        const auto library = read(plist(tracks(track(1, entries))));
        EXPECT_EQ(onlyItem(library).isCloud(), cloud) << entries;
    }
}

TEST(ITLibraryReader, PlaylistKindFollowsFolderGeniusAndSmartKeys) {
    using K = ITLibPlaylistKind;
    const std::string smartInfo = "\t\t\t<key>Smart Info</key>\n\t\t\t<data>\n\t\t\tAQEAAwAAAAIAAAAZ\n\t\t\t</data>\n";
    const std::vector<std::pair<std::string, K>> cases = {
        {yes("Folder"), K::Folder},
        {integer("Genius Track ID", 1234), K::Genius},
        {smartInfo, K::Smart},
        {smartInfo + yes("Folder"), K::Folder},
        {smartInfo + integer("Genius Track ID", 5), K::Genius},
        {no("Folder"), K::Regular},
        {"", K::Regular},
    };
    for (const auto& [entries, kind] : cases) {
        const auto library = read(plist(tracks("") + playlists(playlist(entries))));
        ASSERT_EQ(library->allPlaylists().size(), 1u);
        EXPECT_EQ(library->allPlaylists().front().kind(), kind) << entries;
    }
}

TEST(ITLibraryReader, DistinguishedKindsTakeTheFrameworksNumbers) {
    using D = ITLibDistinguishedPlaylistKind;
    const std::vector<std::pair<int, D>> cases = {
        {2, D::Movies},     {3, D::TVShows},      {4, D::Music},      {5, D::Audiobooks},
        {6, D::Ringtones},  {10, D::Podcasts},    {17, D::VoiceMemos}, {18, D::Applications},
        {19, D::Purchases}, {31, D::ITunesU},     {48, D::HomeVideos}, {0, D::None},
        {1, D::None},       {7, D::None},         {26, D::None},       {-4, D::None},
    };
    std::string entries;
    for (const auto& [xml, kind] : cases) entries += playlist(integer("Distinguished Kind", xml));
    const auto library = read(plist(tracks("") + playlists(entries)));
    ASSERT_EQ(library->allPlaylists().size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(library->allPlaylists()[i].distinguishedKind(), cases[i].second) << "XML " << cases[i].first;
    }
}

TEST(ITLibraryReader, PlaylistFieldsAndMembersInOrder) {
    const auto library = read(plist(
        tracks(track(10, str("Persistent ID", "000000000000000A")) + track(20, str("Persistent ID", "14")) +
               track(30, str("Persistent ID", "1E"))) +
        playlists(playlist(str("Name", "Library") + yes("Master") + str("Playlist Persistent ID", "0995EAABA0F48EB9") +
                           no("Visible") + members({10, 20, 30})) +
                  playlist(str("Name", "Folder") + str("Playlist Persistent ID", "F0") + yes("Folder")) +
                  playlist(str("Name", "Mix") + str("Playlist Persistent ID", "abc") +
                           str("Parent Persistent ID", "F0") + members({30, 10, 30, 999, 20, 10})) +
                  playlist(str("Name", "Empty") + str("Playlist Persistent ID", "E") + yes("Visible") +
                           "\t\t\t<key>Playlist Items</key><array/>\n"))));
    const auto& lists = library->allPlaylists();
    ASSERT_EQ(lists.size(), 4u);
    EXPECT_EQ(lists[0].name(), "Library");
    EXPECT_TRUE(lists[0].isMaster());
    EXPECT_FALSE(lists[0].isVisible());
    EXPECT_EQ(lists[0].persistentID(), 0x0995EAABA0F48EB9ULL);
    EXPECT_EQ(memberIDs(lists[0]), (std::vector<std::uint64_t>{10, 20, 30}));
    EXPECT_EQ(lists[1].kind(), ITLibPlaylistKind::Folder);
    EXPECT_FALSE(lists[1].parentID());
    EXPECT_EQ(lists[2].parentID(), 0xF0u);
    EXPECT_FALSE(lists[2].isMaster());
    // Duplicates stay, a track ID no track has is left out.
    EXPECT_EQ(memberIDs(lists[2]), (std::vector<std::uint64_t>{30, 10, 30, 20, 10}));
    EXPECT_EQ(lists[2].items()[0], &library->allMediaItems()[2]);
    EXPECT_TRUE(lists[3].items().empty());
    EXPECT_TRUE(lists[3].isVisible());
}

TEST(ITLibraryReader, OrderOfTopLevelEntriesDoesNotMatter) {
    const auto library = read(plist(playlists(playlist(str("Name", "First") + members({2, 1}))) +
                                    integer("Minor Version", 1) +
                                    tracks(track(1, str("Name", "One")) + track(2, str("Name", "Two"))) +
                                    str("Music Folder", "file:///Music/")));
    ASSERT_EQ(library->allMediaItems().size(), 2u);
    EXPECT_EQ(library->allMediaItems()[0].title(), "One");  // "Tracks" order, not track ID order
    const auto& items = library->allPlaylists().at(0).items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->title(), "Two");
    EXPECT_EQ(items[1]->title(), "One");
    ASSERT_TRUE(library->musicFolderLocation());
    EXPECT_EQ(library->musicFolderLocation()->path(), "/Music");
}

TEST(ITLibraryReader, TracksAreFoundByTrackIDOrElseByTheirKey) {
    const std::string noTrackID = "\t\t<key>55</key>\n\t\t<dict>\n" + str("Name", "Keyed") + "\t\t</dict>\n";
    const std::string otherID = "\t\t<key>66</key>\n\t\t<dict>\n" + integer("Track ID", 77) + str("Name", "Own ID") +
                                "\t\t</dict>\n";
    const std::string sameID = track(77, str("Name", "Later twin"));
    const auto library = read(
        plist(tracks(noTrackID + otherID + sameID) + playlists(playlist(members({55, 66, 77})))));
    ASSERT_EQ(library->allMediaItems().size(), 3u);
    const auto& items = library->allPlaylists().at(0).items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->title(), "Keyed");
    EXPECT_EQ(items[1]->title(), "Own ID");  // the first of two tracks sharing an ID
}

TEST(ITLibraryReader, MembersAreFoundWhateverTheTrackIDsSpan) {
    // IDs close together and IDs spread over the whole 64-bit range, in
    // file order and not, with an ID two tracks share (the first keeps it)
    // and members naming IDs no track has, next to those that do.
    struct Case {
        std::vector<long long> trackIDs;  // track i is named "t<i>"; a last one "twin" shares the second's ID
        std::vector<long long> memberIDs;
        std::vector<std::string> members;
    };
    const std::vector<Case> cases = {
        {{7, 3, 5, 4}, {5, 3, 6, 7, 2, 8, 4, 3}, {"t2", "t1", "t0", "t3", "t1"}},
        {{1, 1000, 1LL << 40, -7}, {1LL << 40, 1000, (1LL << 40) + 1, 1, -7, -8, 999}, {"t2", "t1", "t0", "t3"}},
        {{INT64_MAX, INT64_MIN, 0, INT64_MAX - 1},
         {0, INT64_MIN, INT64_MIN + 1, INT64_MAX, INT64_MAX - 2, INT64_MAX - 1},
         {"t2", "t1", "t0", "t3"}},
    };
    for (const Case& c : cases) {
        std::string entries;
        for (std::size_t i = 0; i <= c.trackIDs.size(); ++i) {
            const bool twin = i == c.trackIDs.size();
            entries += "\t\t<key>" + std::to_string(i) + "</key>\n\t\t<dict>\n" +
                       integer("Track ID", twin ? c.trackIDs[1] : c.trackIDs[i]) +
                       str("Name", twin ? "twin" : "t" + std::to_string(i)) + "\t\t</dict>\n";
        }
        std::string items = "\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n";
        for (const long long id : c.memberIDs) items += "\t\t\t\t<dict>" + integer("Track ID", id) + "</dict>\n";
        items += "\t\t\t</array>\n";
        const auto library = read(plist(tracks(entries) + playlists(playlist(items))));
        ASSERT_TRUE(library);
        std::vector<std::string> names;
        for (const ITLibMediaItem* item : library->allPlaylists().at(0).items()) names.emplace_back(item->title());
        EXPECT_EQ(names, c.members) << ::testing::PrintToString(c.trackIDs);
    }
}

TEST(ITLibraryReader, ValuesItDoesNotNeedAreSkippedWhateverTheyHold) {
    const std::string nested =
        "\t\t\t<key>Artwork</key><dict><key>Name</key><string>Inner</string>"
        "<key>List</key><array><dict><key>Track ID</key><integer>9</integer></dict><string>x</string></array>"
        "</dict>\n";
    const auto library = read(plist(
        str("Application Version", "12.6.0.100") + "\t<key>Features</key><integer>5</integer>\n" +
        "\t<key>Nested</key><dict><key>Tracks</key><dict><key>1</key><dict/></dict></dict>\n" +
        tracks(track(1, str("Name", "Outer") + nested + entry("Year", "string", "1999") +
                            entry("Name", "integer", "5") + entry("Rating", "real", "3.5") +
                            str("Podcast", "yes") + entry("Date Added", "string", "2014-04-24T09:28:38Z"))) +
        playlists(playlist(str("Name", "Smart") + "<key>Smart Criteria</key><data>U0xzdAABAAEAAAAC</data>\n" +
                           members({1})) +
                  "<string>not a playlist</string>\n")));
    const ITLibMediaItem& item = onlyItem(library);
    EXPECT_EQ(item.title(), "Outer");
    EXPECT_EQ(item.year(), 0);
    EXPECT_EQ(item.rating(), 0);
    EXPECT_EQ(item.mediaKind(), ITLibMediaItemMediaKind::Song);
    EXPECT_FALSE(item.addedDate());
    ASSERT_EQ(library->allPlaylists().size(), 1u);
    EXPECT_EQ(library->allPlaylists()[0].items().size(), 1u);
}

TEST(ITLibraryReader, MalformedValuesLeaveOnlyTheirPropertyAbsent) {
    const auto library = read(plist(tracks(track(
        1, str("Persistent ID", "NOT-HEX") + str("Name", "Kept") + entry("Play Count", "integer", "many") +
               entry("Size", "integer", "-5") + entry("Year", "integer", "1999 AD") +
               date("Date Added", "yesterday") + date("Date Modified", "2015-02-30T00:00:00Z")))));
    const ITLibMediaItem& item = onlyItem(library);
    EXPECT_EQ(item.persistentID(), 0u);
    EXPECT_EQ(item.title(), "Kept");
    EXPECT_EQ(item.playCount(), 0);
    EXPECT_EQ(item.fileSize(), 0u);  // saturated at the field's lower end
    EXPECT_EQ(item.year(), 0);
    EXPECT_FALSE(item.addedDate());
    EXPECT_FALSE(item.modifiedDate());
}

TEST(ITLibraryReader, DatesSpanCenturiesAndMayLackTheZ) {
    const auto library = read(plist(tracks(track(
        1, date("Date Added", "1904-01-01T00:00:00Z") + date("Date Modified", "2040-02-29T12:00:00") +
               date("Release Date", "1969-07-20T20:17:40Z") + date("Skip Date", "2106-02-07T06:28:16Z")))));
    const ITLibMediaItem& item = onlyItem(library);
    EXPECT_EQ(item.addedDate(), Date{-2082844800});
    EXPECT_EQ(item.modifiedDate(), Date{2214129600});
    EXPECT_EQ(item.releaseDate(), Date{-14182940});
    EXPECT_EQ(item.skipDate(), Date{4294967296});  // past unsigned 32-bit time too
}

TEST(ITLibraryReader, LargeValuesKeepAllSixtyFourBits) {
    const auto library = read(plist(tracks(track(
        1, str("Persistent ID", "FFFFFFFFFFFFFFFF") + entry("Size", "integer", "18446744073709551615") +
               entry("Total Time", "integer", "9223372036854775807") +
               entry("Volume Adjustment", "integer", "-9223372036854775808")))));
    const ITLibMediaItem& item = onlyItem(library);
    EXPECT_EQ(item.persistentID(), 0xFFFFFFFFFFFFFFFFULL);
    EXPECT_EQ(item.fileSize(), 18446744073709551615ULL);
    EXPECT_EQ(item.totalTime(), INT64_MAX);
    EXPECT_EQ(item.volumeAdjustment(), INT64_MIN);
}

TEST(ITLibraryReader, IntegersBeyondTheirFieldSaturateAndHexIsRead) {
    const auto library = read(plist(tracks(track(
        1, entry("Year", "integer", "99999999999999999999") + entry("Volume Adjustment", "integer", "-1e") +
               entry("Size", "integer", "0x1000") + entry("Play Count", "integer", "+0x10") +
               entry("Start Time", "integer", "-99999999999999999999") +
               entry("Total Time", "integer", "18446744073709551616")))));
    const ITLibMediaItem& item = onlyItem(library);
    EXPECT_EQ(item.year(), INT64_MAX);
    EXPECT_EQ(item.volumeAdjustment(), 0);  // not a number at all
    EXPECT_EQ(item.fileSize(), 4096u);
    EXPECT_EQ(item.playCount(), 16);
    EXPECT_EQ(item.startTime(), INT64_MIN);
    EXPECT_EQ(item.totalTime(), INT64_MAX);
}

TEST(ITLibraryReader, AMembersLastTrackIDIsItsOnlyOne) {
    const auto member = [](const std::string& keys) {
        return "\t\t\t\t<dict>" + keys + "</dict>\n";
    };
    const std::string id = "<key>Track ID</key><integer>";
    const auto library = read(plist(
        tracks(track(1, str("Persistent ID", "1")) + track(2, str("Persistent ID", "2"))) +
        playlists(playlist(str("Name", "Twice") + "\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n" +
                           member(id + "1</integer>" + id + "2</integer>") +
                           member(id + "2</integer><key>Track ID</key><string>1</string>") +
                           member(id + "1</integer><key>Track ID</key><integer>x</integer>") +
                           member(id + "0x1</integer>") + "\t\t\t</array>\n"))));
    EXPECT_EQ(memberIDs(library->allPlaylists().at(0)), (std::vector<std::uint64_t>{2, 1}));
}

TEST(ITLibraryReader, TextIsWholeAcrossEntitiesLinesAndChunks) {
    const std::string xml = plist(tracks(track(
        1, str("Name", "Rock &amp; Roll &lt;Live&gt; &#233;t&#xE9;") + str("Comments", "line one\nline two\r\nthree") +
               str("Album", "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xB5"))));
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{64}, ITLibraryReader::kChunkSize}) {
        const auto library = read(xml, chunk);
        const ITLibMediaItem& item = onlyItem(library);
        EXPECT_EQ(item.title(), "Rock & Roll <Live> \xC3\xA9t\xC3\xA9") << chunk;
        EXPECT_EQ(item.comments(), "line one\nline two\nthree") << chunk;  // XML reads CR LF as LF
        EXPECT_EQ(item.album().title(), "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xB5") << chunk;
    }
}

TEST(ITLibraryReader, BadBytesCostOnlyTheBadCharacters) {
    const std::string fffd = "\xEF\xBF\xBD";
    const std::string xml = plist(tracks(
        track(1, str("Name", "Bad \xFF byte") + str("Artist", "Cut \xE2\x82")) +
        track(2, str("Name", std::string("Bell \x07 and nul ") + '\0' + " here")) +
        track(3, str("Name", "Lone &#xD800; high") + str("Artist", "Pair &#xD83C;&#xDFB5; joined")) +
        track(4, str("Name", "Forbidden &#1; &#xFFFF;") + str("Album", "Fine"))) +
                                  playlists(playlist(str("Name", "Broken \xC0 list") + members({1, 2, 3, 4}))));
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{5}, ITLibraryReader::kChunkSize}) {
        const auto library = read(xml, chunk);
        const auto& items = library->allMediaItems();
        ASSERT_EQ(items.size(), 4u) << chunk;
        EXPECT_EQ(items[0].title(), "Bad " + fffd + " byte");
        EXPECT_EQ(items[0].artist()->name(), "Cut " + fffd);
        EXPECT_EQ(items[1].title(), "Bell " + fffd + " and nul " + fffd + " here");
        EXPECT_EQ(items[2].title(), "Lone " + fffd + " high");
        EXPECT_EQ(items[2].artist()->name(), "Pair \xF0\x9F\x8E\xB5 joined");
        EXPECT_EQ(items[3].title(), "Forbidden " + fffd + " " + fffd);
        EXPECT_EQ(items[3].album().title(), "Fine");
        EXPECT_EQ(library->allPlaylists().at(0).name(), "Broken " + fffd + " list");
        EXPECT_EQ(library->allPlaylists().at(0).items().size(), 4u);
    }
}

TEST(ITLibraryReader, FilesThatAreNotLibrariesSaySo) {
    const std::string notLibrary = "The file \"Library.xml\" is not a music library property list: ";
    EXPECT_EQ(errorOf(""), notLibrary + "the file is empty");
    EXPECT_EQ(errorOf(std::string("bplist00\xD1\x01\x02", 11)),
              notLibrary + "it is a binary property list; the library's XML export is needed");
    EXPECT_EQ(errorOf("<?xml version=\"1.0\"?>\n<html><body/></html>"),
              notLibrary + "its root element is <html>, not <plist>");
    EXPECT_EQ(errorOf("<plist version=\"1.0\"><array><dict/></array></plist>"),
              notLibrary + "its top level is not a dictionary");
    EXPECT_EQ(errorOf("<plist version=\"1.0\"></plist>"), notLibrary + "it holds no top-level dictionary");
    EXPECT_EQ(errorOf(plist(str("Name", "x"))), notLibrary + "its top-level dictionary has no \"Tracks\" dictionary");
    EXPECT_EQ(errorOf(plist("<key>Tracks</key><array/>")),
              notLibrary + "its top-level dictionary has no \"Tracks\" dictionary");
    // A "Tracks" dictionary deeper down does not make a library.
    EXPECT_EQ(errorOf(plist("<key>Other</key><dict>" + tracks("") + "</dict>")),
              notLibrary + "its top-level dictionary has no \"Tracks\" dictionary");
}

TEST(ITLibraryReader, MalformedXmlGivesLineAndColumn) {
    // The column is where the parser noticed the fault, just after the
    // offending markup, counted in characters from 1.
    EXPECT_EQ(errorOf("<plist>\n<dict>\n  <key>Tracks</key><dict></array>\n"),
              "The music library file \"Library.xml\" is malformed at line 3 column 34: "
              "Opening and ending tag mismatch: dict line 3 and array");
    // Bad bytes are repaired one character for one, so columns after them stay right.
    EXPECT_EQ(errorOf("<plist><dict><key>\xFF\x01</key><b></c>"),
              "The music library file \"Library.xml\" is malformed at line 1 column 34: "
              "Opening and ending tag mismatch: b line 1 and c");
    EXPECT_EQ(errorOf("<plist><dict>&nbsp;</dict></plist>"),
              "The music library file \"Library.xml\" is malformed at line 1 column 20: Entity 'nbsp' not defined");
}

TEST(ITLibraryReader, ATruncatedExportIsAnErrorNotASmallerLibrary) {
    const std::string xml = plist(tracks(track(1, str("Name", "One")) + track(2, str("Name", "Two"))));
    const std::string cut = xml.substr(0, xml.find("<key>2</key>"));
    // The position is the end of the file; the tag is the innermost one left open.
    EXPECT_EQ(errorOf(cut),
              "The music library file \"Library.xml\" is malformed at line 12 column 3: "
              "Premature end of data in tag dict");
    EXPECT_EQ(errorOf(cut + "<key>2</key><dict><key>Name</key><string>Tw"),
              "The music library file \"Library.xml\" is malformed at line 12 column 46: "
              "Premature end of data in tag string");
    for (const char* start : {"<?xml version=\"1.0\"?>\n", "<?xml version=\"1.0\"?>\n<", "  \n"}) {
        EXPECT_NE(errorOf(start).find("Premature end of data before the root element"), std::string::npos) << start;
    }
    // What follows a whole document is not taken for truncation.
    EXPECT_NE(errorOf(xml + "<plist>").find("Extra content at the end of the document"), std::string::npos);
    // A CDATA section left open runs to the end, which is where the error
    // is, however the file comes in pieces.
    std::string open = xml;
    open.insert(open.find("<key>2</key>"), "<![CDATA[" + std::string(2000, 'x') + "\n");
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4093}, ITLibraryReader::kChunkSize}) {
        EXPECT_EQ(errorOf(open, chunk),
                  "The music library file \"Library.xml\" is malformed at line 21 column 1: "
                  "Premature end of data in tag dict")
            << chunk;
    }
}

// `xml` as UTF-16, little-endian with a byte order mark or big-endian without.
std::string utf16(const std::string& xml, bool littleEndian) {
    std::string out = littleEndian ? "\xFF\xFE" : "";
    for (const char16_t unit : utf8ToUTF16(xml)) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        out += littleEndian ? std::string{low, high} : std::string{high, low};
    }
    return out;
}

TEST(ITLibraryReader, TheDeclaredEncodingIsTheOneRead) {
    const auto declaring = [](const char* encoding, const std::string& title) {
        std::string xml = plist(tracks(track(1, str("Name", title))));
        xml.replace(xml.find("UTF-8"), 5, encoding);
        return xml;
    };
    const std::string utf8 = plist(tracks(track(1, str("Name", "Ni\xC3\xB1o \xE6\x97\xA5"))));
    const std::string bigEndian = [&] {
        std::string xml = utf8;
        xml.replace(xml.find("UTF-8"), 5, "UTF-16");
        return utf16(xml, false);
    }();
    const std::pair<std::string, std::string> cases[] = {
        {declaring("ISO-8859-1", "Ni\xF1o \xA9"), "Ni\xC3\xB1o \xC2\xA9"},
        {declaring("windows-1252", "\x80 \x93q\x94"), "\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D"},
        {declaring("Shift_JIS", "\x93\xFA\x96\x7B"), "\xE6\x97\xA5\xE6\x9C\xAC"},
        {declaring("Shift_JIS", "bad \x81 byte"), "bad \xEF\xBF\xBD byte"},
        {utf16(utf8, true), "Ni\xC3\xB1o \xE6\x97\xA5"},
        {bigEndian, "Ni\xC3\xB1o \xE6\x97\xA5"},
        // UTF-16 declared over bytes that are not, and names nothing
        // converts from, leave the file read as UTF-8.
        {declaring("UTF-16", "Ni\xC3\xB1o \xE6\x97\xA5"), "Ni\xC3\xB1o \xE6\x97\xA5"},
        {declaring("no-such-encoding", "Ni\xC3\xB1o \xE6\x97\xA5"), "Ni\xC3\xB1o \xE6\x97\xA5"},
    };
    for (const auto& [xml, title] : cases) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, ITLibraryReader::kChunkSize}) {
            const auto library = read(xml, chunk);
            ASSERT_TRUE(library) << title;
            EXPECT_EQ(onlyItem(library).title(), title) << chunk;
        }
        // Asked to read it in parts, from any place, the reader reads a
        // file it converts in one.
        for (std::size_t at = 0; at < xml.size(); at += 7) {
            auto inParts = ITLibraryReader::readBytes(xml, "Library.xml", 5, ITLibraryReader::Readers::Both, {{at}, true});
            ASSERT_TRUE(inParts) << title << " in parts from " << at;
            EXPECT_EQ(onlyItem(inParts.value()).title(), title) << "in parts from " << at;
        }
    }
}

TEST(ITLibraryReader, PrefixedNamesAreNotPropertyListElements) {
    EXPECT_EQ(errorOf("<p:plist xmlns:p=\"urn:x\"><dict/></p:plist>"),
              "The file \"Library.xml\" is not a music library property list: "
              "its root element is <p:plist>, not <plist>");
    // A prefix bound or not, the value is not a <string>; the rest reads on.
    const auto library = read(plist(tracks(track(
        1, "\t\t\t<key>Name</key><p:string xmlns:p=\"urn:x\">Bound</p:string>\n"
           "\t\t\t<key>Artist</key><q:string>Unbound</q:string>\n" + str("Album", "Kept")))));
    const ITLibMediaItem& item = onlyItem(library);
    EXPECT_EQ(item.title(), "");
    EXPECT_FALSE(item.artist());
    EXPECT_EQ(item.album().title(), "Kept");
}

TEST(ITLibraryReader, VeryLongTextIsReadWhole) {
    // Past the parser's usual ten-megabyte limit on a text node, in a value
    // that is read and in one that is skipped, at several chunk sizes.
    const std::string title = std::string(20 << 20, 'a') + "\xC3\xA9" + std::string(1000, 'z');
    const std::string artwork = "\t\t\t<key>Artwork</key><data>" + std::string(20 << 20, 'Q') + "</data>\n";
    const std::string xml = plist(tracks(track(1, artwork + str("Name", title) + str("Album", "After"))));
    for (const std::size_t chunk : {std::size_t{4093}, ITLibraryReader::kChunkSize}) {
        const auto library = read(xml, chunk);
        ASSERT_TRUE(library) << chunk;
        const ITLibMediaItem& item = onlyItem(library);
        EXPECT_EQ(item.title().size(), title.size()) << chunk;
        EXPECT_TRUE(item.title() == title) << chunk;
        EXPECT_EQ(item.album().title(), "After") << chunk;
    }
}

// Ten levels of entities, each ten references to the one below: read as
// written, "&lol9;" would stand for a billion copies of "lol".
std::string laughs() {
    std::string dtd = "<!ENTITY lol0 \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        dtd += "<!ENTITY lol" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) dtd += "&lol" + std::to_string(level - 1) + ";";
        dtd += "\">\n";
    }
    return dtd;
}

// `xml` with its DOCTYPE line replaced by `doctype`.
std::string withDoctype(std::string xml, const std::string& doctype) {
    const std::size_t start = xml.find("<!DOCTYPE");
    xml.replace(start, xml.find('\n', start) - start, doctype);
    return xml;
}

TEST(ITLibraryReader, EntitiesTheDocumentDeclaresAreRefusedNotExpanded) {
    const std::string external = "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
                                 "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\"";
    const std::string used = plist(tracks(track(1, str("Name", "&lol9;"))));
    const auto start = std::chrono::steady_clock::now();
    // With the internal subset alone, and with an external DTD as well
    // (which is never read), in content and in an attribute value.
    for (const std::string& doctype : {"<!DOCTYPE plist [\n" + laughs() + "]>", external + " [\n" + laughs() + "]>"}) {
        const std::string error = errorOf(withDoctype(used, doctype));
        EXPECT_NE(error.find("is malformed at line 21 column 33: "), std::string::npos) << error;
        EXPECT_NE(error.find(": Entity 'lol9' is declared in the document type; entities a document declares "
                             "are not expanded"),
                  std::string::npos)
            << error;
    }
    std::string inAttribute = withDoctype(plist(tracks("")), "<!DOCTYPE plist [\n" + laughs() + "]>");
    inAttribute.replace(inAttribute.find("version=\"1.0\">"), 14, "version=\"&lol9;\">");
    EXPECT_NE(errorOf(inAttribute).find("Entity 'lol9' is declared in the document type"), std::string::npos);
    // Parameter entities are not expanded either.
    std::string parameters = "<!ENTITY % p0 \"<!ENTITY x 'lol'>\">\n";
    for (int level = 1; level <= 9; ++level) {
        parameters += "<!ENTITY % p" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) parameters += "%p" + std::to_string(level - 1) + ";";
        parameters += "\">\n";
    }
    EXPECT_NE(errorOf(withDoctype(used, "<!DOCTYPE plist [\n" + parameters + "%p9;\n]>")).find("is malformed"),
              std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    // Declared and never used, entities do no harm.
    const auto library = read(withDoctype(plist(tracks(track(1, str("Name", "Plain")))),
                                          "<!DOCTYPE plist [\n" + laughs() + "]>"));
    ASSERT_TRUE(library);
    EXPECT_EQ(onlyItem(library).title(), "Plain");
}

TEST(ITLibraryReader, AnEntityAnUnreadExternalDTDMayDeclareIsKeptAsWritten) {
    // The export's DOCTYPE names an external DTD, so an unknown entity is
    // not an error; its text stays as it stands rather than vanishing.
    const auto library = read(plist(tracks(track(1, str("Name", "A&nbsp;B &amp; C") + str("Album", "&eacute;")))));
    const ITLibMediaItem& item = onlyItem(library);
    EXPECT_EQ(item.title(), "A&nbsp;B & C");
    EXPECT_EQ(item.album().title(), "&eacute;");
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

using namespace platform::testing;

std::string smallLibrary() {
    return plist(integer("Major Version", 1) +
                 tracks(track(1, str("Name", "Caf\xC3\xA9") + date("Date Added", "2014-04-24T09:28:38Z") +
                                     yes("Podcast")) +
                        track(2, str("Name", "Two &amp; &#xD83C;&#xDFB5;"))) +
                 playlists(playlist(str("Name", "All") + yes("Master") + members({1, 2}))) +
                 str("Music Folder", "file:///Music/"));
}

TEST(ITLibraryReaderRobustness, EveryTruncationIsAnError) {
    const std::string xml = smallLibrary();
    const std::size_t end = xml.rfind("</plist>") + std::string("</plist>").size();
    for (std::size_t cut = 0; cut < end; ++cut) {
        auto result = ITLibraryReader::readBytes(std::string_view(xml).substr(0, cut), "cut.xml", 7);
        ASSERT_FALSE(result) << "cut at " << cut << " gave a library";
    }
    EXPECT_TRUE(ITLibraryReader::readBytes(xml.substr(0, end), "whole.xml", 7));
}

TEST(ITLibraryReaderRobustness, DamagedBytesNeverCrashOrLeaveDanglingMembers) {
    const std::string xml = smallLibrary();
    std::uint32_t state = 12345;
    const auto next = [&] { return state = state * 1103515245u + 12345u; };
    for (int round = 0; round < 2000; ++round) {
        std::string damaged = xml;
        for (int i = 0; i < 3; ++i) damaged[next() % damaged.size()] = static_cast<char>(next() >> 16);
        auto result = ITLibraryReader::readBytes(damaged, "damaged.xml", 1 + next() % 64);
        if (result) {
            const auto& library = *result.value();
            EXPECT_LE(library.allMediaItems().size(), 2u);
            for (const auto& list : library.allPlaylists()) {
                for (const ITLibMediaItem* item : list.items()) {
                    EXPECT_TRUE(library.allMediaItems().indexOf(item)) << "a member that is none of the items";
                }
            }
        } else {
            EXPECT_FALSE(result.error().description.empty());
        }
    }
}

}  // namespace
}  // namespace platform
