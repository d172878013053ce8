#include "export/ITunesToJSON.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <thread>

#include <boost/json/parse.hpp>

#include "export/DocumentText.h"
#include "export/KeyedHash.h"
#include "export/Utils.h"

namespace harmonode {
namespace {

using platform::Date;
using platform::URL;

#define PROPERTY(Type, name, initial) \
    Type name##_ = initial;           \
    const Type& name() const { return name##_; }

struct FakeAlbum {
    PROPERTY(std::optional<std::string>, title, std::nullopt)
};
struct FakeArtist {
    PROPERTY(std::optional<std::string>, name, std::nullopt)
};

// A media item with only its always-present properties set.
struct FakeItem {
    PROPERTY(std::uint64_t, persistentID, 0x12ACE9259A434B5EULL)
    PROPERTY(std::optional<Date>, addedDate, std::nullopt)
    PROPERTY(FakeAlbum, album, {})
    PROPERTY(std::optional<FakeArtist>, artist, std::nullopt)
    PROPERTY(std::int64_t, beatsPerMinute, 120)
    PROPERTY(std::optional<std::string>, comments, std::nullopt)
    PROPERTY(std::string, composer, "")
    PROPERTY(std::optional<std::string>, contentRating, std::nullopt)
    PROPERTY(std::uint64_t, fileSize, 5000000000ULL)
    PROPERTY(std::string, genre, "Jazz")
    PROPERTY(std::optional<std::string>, grouping, std::nullopt)
    PROPERTY(bool, isCloud, false)
    PROPERTY(bool, isDRMProtected, true)
    PROPERTY(bool, isVideo, false)
    PROPERTY(bool, isPurchased, false)
    PROPERTY(bool, isRatingComputed, false)
    PROPERTY(std::optional<std::string>, kind, std::nullopt)
    PROPERTY(std::optional<Date>, lastPlayedDate, std::nullopt)
    PROPERTY(std::optional<URL>, location, std::nullopt)
    PROPERTY(platform::ITLibMediaItemMediaKind, mediaKind, platform::ITLibMediaItemMediaKind::Podcast)
    PROPERTY(std::optional<Date>, modifiedDate, std::nullopt)
    PROPERTY(std::int64_t, playCount, 3)
    PROPERTY(std::int64_t, rating, 80)
    PROPERTY(std::optional<Date>, releaseDate, std::nullopt)
    PROPERTY(std::int64_t, sampleRate, 44100)
    PROPERTY(std::int64_t, skipCount, 0)
    PROPERTY(std::optional<Date>, skipDate, std::nullopt)
    PROPERTY(std::int64_t, startTime, 0)
    PROPERTY(std::int64_t, stopTime, 0)
    PROPERTY(std::optional<std::string>, sortTitle, std::nullopt)
    PROPERTY(std::optional<std::string>, sortComposer, std::nullopt)
    PROPERTY(std::string, title, "Title")
    PROPERTY(std::int64_t, totalTime, 215000)
    PROPERTY(std::int64_t, trackNumber, 1)
    PROPERTY(std::int64_t, volumeAdjustment, -255)
    PROPERTY(std::int64_t, year, 1999)
};

FakeItem fullItem() {
    FakeItem item;
    item.addedDate_ = Date{-1.0};
    item.album_.title_ = "Album";
    item.artist_ = FakeArtist{"Artist"};
    item.comments_ = "";
    item.contentRating_ = "explicit";
    item.grouping_ = "Group";
    item.kind_ = "MPEG audio file";
    item.lastPlayedDate_ = Date{0.0625};
    item.location_ = URL::fromString("file://localhost/Users/a/Caf%C3%A9%20Bleu.mp3");
    item.modifiedDate_ = Date{1.0};
    item.releaseDate_ = Date{946684800.0};
    item.skipDate_ = Date{2.0};
    item.sortTitle_ = "Sort";
    item.sortComposer_ = "Composer, The";
    return item;
}

struct FakePlaylist {
    std::vector<const FakeItem*> members;
    PROPERTY(std::string, name, "List")
    PROPERTY(std::uint64_t, persistentID, 0xF00DULL)
    PROPERTY(std::optional<std::uint64_t>, parentID, std::nullopt)
    PROPERTY(bool, isMaster, false)
    PROPERTY(bool, isVisible, true)
    PROPERTY(platform::ITLibPlaylistKind, kind, platform::ITLibPlaylistKind::Smart)
    PROPERTY(platform::ITLibDistinguishedPlaylistKind, distinguishedKind, platform::ITLibDistinguishedPlaylistKind::Music)
    const std::vector<const FakeItem*>& items() const { return members; }
};

template <class Item = FakeItem>
struct FakeLibrary {
    std::vector<Item> items;
    std::vector<FakePlaylist> playlists;
    PROPERTY(std::optional<URL>, mediaFolderLocation, std::nullopt)
    PROPERTY(std::optional<URL>, musicFolderLocation, std::nullopt)
    PROPERTY(std::uint64_t, apiMajorVersion, 1)
    PROPERTY(std::uint64_t, apiMinorVersion, 1)
    PROPERTY(std::int64_t, hash, -77)
    const std::vector<Item>& allMediaItems() const { return items; }
    const std::vector<FakePlaylist>& allPlaylists() const { return playlists; }
};

// The text of a document in one layout, and the longest piece it came in.
struct Text {
    std::string bytes;
    std::size_t longestPiece = 0;
};
Text textOf(const LibraryDocument& document, JsonLayout layout) {
    Text text;
    document.write(layout, [&](std::string_view piece) {
        text.longestPiece = std::max(text.longestPiece, piece.size());
        text.bytes += piece;
    });
    return text;
}

// The document of (a copy of) `library`, read back from its pretty text.
template <class Library>
boost::json::object documentOf(const Library& library) {
    std::string text;
    jsonToString(ITunesToJSON().readLibrary(std::make_unique<Library>(library)),
                 [&](std::string_view piece) { text += piece; });
    return boost::json::parse(text).as_object();
}

boost::json::object trackOf(const FakeItem& item) {
    FakeLibrary<> library;
    library.items = {item};
    return documentOf(library).at("tracks").at(0).as_object();
}

boost::json::object playlistOf(const FakePlaylist& playlist) {
    FakeLibrary<> library;
    library.playlists = {playlist};
    return documentOf(library).at("playlists").at(0).as_object();
}

std::set<std::string> keysOf(const boost::json::object& record) {
    std::set<std::string> keys;
    for (const auto& member : record) keys.emplace(member.key());
    return keys;
}

TEST(MediaItemToTrack, AnItemWithoutOptionalValuesHasTheTwentyTwoKeys) {
    const auto record = trackOf(FakeItem{});
    EXPECT_EQ(keysOf(record), (std::set<std::string>{"Persistent ID", "BPM", "Composer", "Size", "Genre", "On Cloud",
                                                      "Protected", "Has Video", "Purchased", "Rating Computed",
                                                      "Media Kind", "Playcount", "Rating", "Sample Rate", "Skip Count",
                                                      "Start Time", "Stop Time", "Title", "Time", "Track Number",
                                                      "Volume Adjustment", "Year"}));
    EXPECT_EQ(record.at("Composer"), "");  // present though empty
}

TEST(MediaItemToTrack, AFullItemWithAFileLocationHasThirtySevenKeysOfTheRightKinds) {
    const auto record = trackOf(fullItem());
    EXPECT_EQ(record.size(), 37u);
    EXPECT_EQ(record.at("Persistent ID"), "12ACE9259A434B5E");
    EXPECT_EQ(record.at("Date Added"), -1000);
    EXPECT_EQ(record.at("Play Date"), 63);
    EXPECT_EQ(record.at("Release Date"), 946684800000);
    EXPECT_EQ(record.at("Media Kind"), 4u);
    EXPECT_EQ(record.at("Size"), 5000000000u);
    EXPECT_EQ(record.at("Volume Adjustment"), -255);
    EXPECT_EQ(record.at("Album"), "Album");
    EXPECT_EQ(record.at("Artist"), "Artist");
    EXPECT_EQ(record.at("Comments"), "");
    EXPECT_EQ(record.at("Location"), "file://localhost/Users/a/Caf%C3%A9%20Bleu.mp3");
    EXPECT_EQ(record.at("FilePath"), "/Users/a/Caf\xC3\xA9 Bleu.mp3");
    for (const char* key : {"On Cloud", "Protected", "Has Video", "Purchased", "Rating Computed"}) {
        EXPECT_TRUE(record.at(key).is_bool()) << key;
    }
    EXPECT_EQ(record.at("Protected"), true);
    EXPECT_FALSE(record.contains("Play Date UTC"));
    for (const char* never : {"Track ID", "Album Artist", "Disc Number", "Bitrate"}) EXPECT_FALSE(record.contains(never));
}

TEST(MediaItemToTrack, OnlyFileLocationsGiveAFilePath) {
    FakeItem item;
    item.location_ = URL::fromString("http://example.com/pod/episode%201.mp3");
    const auto record = trackOf(item);
    EXPECT_EQ(record.at("Location"), "http://example.com/pod/episode%201.mp3");
    EXPECT_FALSE(record.contains("FilePath"));
}

TEST(MediaItemToTrack, AlbumWithoutTitleAndArtistWithoutNameAreLeftOut) {
    FakeItem item;
    item.artist_ = FakeArtist{};
    const auto record = trackOf(item);
    EXPECT_FALSE(record.contains("Album"));
    EXPECT_FALSE(record.contains("Artist"));
}

TEST(MediaItemToTrack, SmallPersistentIdsKeepTheirLeadingZeros) {
    FakeItem item;
    item.persistentID_ = 0xABC;
    EXPECT_EQ(trackOf(item).at("Persistent ID"), "0000000000000ABC");
}

// The record that `steps` write, read back.
template <class Steps>
boost::json::object recordOf(Steps steps) {
    std::string text;
    const JsonSink sink = [&](std::string_view piece) { text += piece; };
    DocumentWriter writer(JsonLayout::compact, sink);
    writer.open('{');
    steps(writer);
    writer.close('}');
    writer.finish();
    return boost::json::parse(text).as_object();
}

TEST(Add, LocationTypesAndPlayStatusAreWrittenAsTextAndVideoInfoNotAtAll) {
    const auto record = recordOf([](DocumentWriter& writer) {
        writer.add(TrackElem::kTrackType, platform::ITLibMediaItemLocationType::File);
        writer.add(TrackElem::kDebugStr, platform::ITLibMediaItemPlayStatus::Unplayed);
        writer.add(TrackElem::kVideoHeight, platform::ITLibMediaItemVideoInfo{});
        writer.add(TrackElem::kComments, std::optional<std::string>());
    });
    EXPECT_EQ(record.size(), 2u);
    EXPECT_EQ(record.at("Track Type").as_string(), platform::description(platform::ITLibMediaItemLocationType::File));
    EXPECT_EQ(record.at("Debug").as_string(), platform::description(platform::ITLibMediaItemPlayStatus::Unplayed));
}

TEST(AddDeathTest, BrokenInvariantsStopTheProcess) {
    const URL url = *URL::fromString("file:///x");
    EXPECT_DEATH(recordOf([&](DocumentWriter& w) { w.add(TrackElem::kComments, url); }), "Assertion failed");
    EXPECT_DEATH(recordOf([](DocumentWriter& w) { w.add(TrackElem::kPurchased, std::int64_t{1}); }), "Assertion failed");
    EXPECT_DEATH(recordOf([](DocumentWriter& w) { w.add(TrackElem::kPersistentID, std::string_view("12")); }),
                 "Assertion failed");
    EXPECT_DEATH(recordOf([](DocumentWriter& w) { w.add(TrackElem::kPersistentID, std::int64_t{12}); }),
                 "Assertion failed");
}

std::vector<FakeItem> itemsWithIds(std::initializer_list<std::uint64_t> ids) {
    std::vector<FakeItem> items;
    for (const auto id : ids) {
        items.emplace_back();
        items.back().persistentID_ = id;
    }
    return items;
}

TEST(ToPlaylist, RecordCarriesEveryMemberAndKindsAsNumbers) {
    auto items = itemsWithIds({1, 0xFFFFFFFFFFFFFFFFULL});
    FakePlaylist playlist;
    playlist.members = {&items[0], &items[1]};
    playlist.parentID_ = 0xABCDEFULL;
    const auto record = playlistOf(playlist);
    EXPECT_EQ(record.at("name"), "List");
    EXPECT_EQ(record.at("persistentID"), "000000000000F00D");
    EXPECT_EQ(record.at("parentID"), "0000000000ABCDEF");
    EXPECT_EQ(record.at("kind"), 1u);
    EXPECT_EQ(record.at("distinguishedKind"), 3u);
    EXPECT_EQ(record.at("isMaster"), false);
    EXPECT_EQ(record.at("isVisible"), true);
    EXPECT_EQ(record.at("pids"), (boost::json::array{"0000000000000001", "FFFFFFFFFFFFFFFF"}));
    EXPECT_EQ(record.size(), 9u);
}

TEST(ToPlaylist, AnEmptyTopLevelPlaylistHasDigestOneAndNoParent) {
    const auto record = playlistOf(FakePlaylist{});
    EXPECT_EQ(record.at("hash"), "0000000000000001");
    EXPECT_EQ(record.at("pids"), boost::json::array{});
    EXPECT_FALSE(record.contains("parentID"));
}

TEST(ToPlaylist, DigestIgnoresOrderAndDuplicatesCancel) {
    auto items = itemsWithIds({10, 20, 30});
    FakePlaylist forward, backward, withDuplicate, withoutIt;
    forward.members = {&items[0], &items[1], &items[2]};
    backward.members = {&items[2], &items[1], &items[0]};
    withDuplicate.members = {&items[0], &items[1], &items[2], &items[1]};
    withoutIt.members = {&items[0], &items[2]};
    const auto hash = [&](const FakePlaylist& p) { return playlistOf(p).at("hash"); };
    EXPECT_EQ(hash(forward), hash(backward));
    EXPECT_NE(playlistOf(forward).at("pids"), playlistOf(backward).at("pids"));
    EXPECT_EQ(hash(withDuplicate), hash(withoutIt));
    EXPECT_NE(hash(forward), hash(withoutIt));
    EXPECT_EQ(playlistOf(withDuplicate).at("pids").as_array().size(), 4u);
}

TEST(KeyedHash, SipHashMatchesTheReferenceVectorAndMagnitudeCoversTheMostNegative) {
    // Key 00..0F and message 00..07, from the reference implementation's vectors.
    EXPECT_EQ(sipHash24({0x0706050403020100ULL, 0x0F0E0D0C0B0A0908ULL}, 0x0706050403020100ULL), 0x93F5F5799A932462ULL);
    EXPECT_EQ(detail::magnitude(INT64_MIN), 0x8000000000000000ULL);
    EXPECT_EQ(detail::magnitude(-5), 5u);
    EXPECT_EQ(keyedHash(42), keyedHash(42));
    EXPECT_NE(keyedHash(42), keyedHash(43));
}

struct SlowItem : FakeItem {
    // Converting takes a while, so a creation time taken afterwards shows.
    const std::string& title() const {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return title_;
    }
};

TEST(ReadLibrary, AnEmptyLibraryStillHasEveryFact) {
    const auto document = documentOf(FakeLibrary<>{});
    EXPECT_EQ(keysOf(document), (std::set<std::string>{"tracks", "playlists", "apiMajorVersion", "apiMinorVersion",
                                                        "create_ts", "hashValue"}));
    EXPECT_EQ(document.at("tracks"), boost::json::array{});
    EXPECT_EQ(document.at("playlists"), boost::json::array{});
    EXPECT_EQ(document.at("hashValue"), -77);
}

TEST(ReadLibrary, FoldersAreDecidedSeparatelyAndGiveUrlAndPath) {
    FakeLibrary<> library;
    library.musicFolderLocation_ = URL::fromString("file:///Users/a/Music/iTunes/iTunes%20Media/");
    const auto document = documentOf(library);
    EXPECT_EQ(document.at("musicFolderLocation"), "file:///Users/a/Music/iTunes/iTunes%20Media/");
    EXPECT_EQ(document.at("musicFolderPath"), "/Users/a/Music/iTunes/iTunes Media");
    EXPECT_FALSE(document.contains("mediaFolderLocation"));
    EXPECT_FALSE(document.contains("mediaFolderPath"));
}

TEST(ReadLibrary, TracksAndPlaylistsKeepLibraryOrderAndCreationTimeIsTheStart) {
    FakeLibrary<SlowItem> library;
    library.items.resize(3);
    for (std::size_t i = 0; i < 3; ++i) library.items[i].persistentID_ = 3 - i;
    library.playlists.resize(2);
    library.playlists[1].name_ = "Second";
    const auto before = millisecondsSince1970(Date::now());
    const auto document = documentOf(library);
    const auto after = millisecondsSince1970(Date::now());
    const auto& tracks = document.at("tracks").as_array();
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_EQ(tracks[0].at("Persistent ID"), "0000000000000003");
    EXPECT_EQ(tracks[2].at("Persistent ID"), "0000000000000001");
    EXPECT_EQ(document.at("playlists").as_array()[1].at("name"), "Second");
    const auto created = document.at("create_ts").as_int64();
    EXPECT_GE(created, before);
    EXPECT_LT(created, before + 30) << "taken after the tracks were converted (ends at " << after << ")";
}

TEST(DocumentText, BothLayoutsReadBackAsTheLibraryAlikeEachTimeInBoundedPieces) {
    auto library = std::make_unique<FakeLibrary<>>();
    FakeLibrary<>& full = *library;
    full.mediaFolderLocation_ = URL::fromString("file:///Users/a/Music/Media%20Folder/");
    full.musicFolderLocation_ = URL::fromString("file://localhost/Users/a/Music/");
    full.apiMinorVersion_ = 0;
    full.items = {fullItem(), FakeItem{}, fullItem(), fullItem()};
    full.items[1].persistentID_ = 0;
    full.items[2].location_ = URL::fromString("http://example.com/a%20b.mp3");
    const std::string awkward = "Quote \" back\\slash \x01\x1f tab\t\r\n del\x7f Caf\xC3\xA9 \xF0\x9F\x8E\xB5";
    full.items[2].album_.title_ = awkward;
    full.items[2].artist_ = FakeArtist{};
    full.items[3].title_ = std::string(3 << 20, 'x');  // a text longer than a piece
    full.items[3].isCloud_ = true;
    full.items[3].volumeAdjustment_ = INT64_MIN;
    full.items[3].fileSize_ = UINT64_MAX;
    full.playlists.resize(3);
    full.playlists[0].members = {&full.items[0], &full.items[1], &full.items[0]};
    full.playlists[0].parentID_ = 0xABCULL;
    full.playlists[1].name_ = "Name with \"quotes\" and \xE6\x97\xA5";
    for (int i = 0; i < 300000; ++i) full.playlists[2].members.push_back(&full.items[i % 4]);
    const LibraryDocument document = ITunesToJSON().readLibrary(std::move(library));

    const Text pretty = textOf(document, JsonLayout::pretty), compact = textOf(document, JsonLayout::compact);
    for (const Text* text : {&pretty, &compact}) EXPECT_LT(text->longestPiece, (2u << 20) + (3u << 20));
    EXPECT_EQ(textOf(document, JsonLayout::pretty).bytes, pretty.bytes) << "the same bytes each time";
    EXPECT_EQ(textOf(document, JsonLayout::compact).bytes, compact.bytes) << "the same bytes each time";
    EXPECT_EQ(compact.bytes.find('\n'), std::string::npos);
    for (const char* line : {"{\n  \"mediaFolderLocation\" : \"file:///Users/a/Music/Media%20Folder/\",\n",
                             "\n  \"tracks\" : [\n    {\n      \"Persistent ID\" : \"12ACE9259A434B5E\",\n",
                             "\n      \"pids\" : [\n        \"12ACE9259A434B5E\",\n", "\n      \"pids\" : []\n    },\n"}) {
        EXPECT_NE(pretty.bytes.find(line), std::string::npos) << line;
    }
    EXPECT_TRUE(pretty.bytes.ends_with("\n  ]\n}"));

    const auto read = boost::json::parse(pretty.bytes).as_object();
    EXPECT_EQ(boost::json::value(read), boost::json::parse(compact.bytes));
    EXPECT_EQ(read.at("mediaFolderPath"), "/Users/a/Music/Media Folder");
    EXPECT_EQ(read.at("apiMinorVersion"), 0);
    const auto& tracks = read.at("tracks").as_array();
    ASSERT_EQ(tracks.size(), 4u);
    EXPECT_EQ(tracks[1].at("Persistent ID"), "0000000000000000");
    EXPECT_EQ(tracks[2].at("Album").as_string(), awkward);
    EXPECT_FALSE(tracks[2].as_object().contains("FilePath"));
    EXPECT_EQ(tracks[3].at("Title").as_string().size(), 3u << 20);
    EXPECT_EQ(tracks[3].at("Volume Adjustment"), INT64_MIN);
    EXPECT_EQ(tracks[3].at("Size"), UINT64_MAX);
    const auto& playlists = read.at("playlists").as_array();
    EXPECT_EQ(playlists[0].at("parentID"), "0000000000000ABC");
    EXPECT_EQ(playlists[1].at("name"), "Name with \"quotes\" and \xE6\x97\xA5");
    EXPECT_EQ(playlists[2].at("pids").as_array().size(), 300000u);
}

TEST(DocumentText, TheSampleLibraryReadsBackWithEveryItemAndPlaylist) {
    auto sample = platform::ITLibrary::initWithFile(HARMONODE_SAMPLE_LIBRARY);
    ASSERT_TRUE(sample) << sample.error().description;
    const std::size_t items = sample.value()->allMediaItems().size(), playlists = sample.value()->allPlaylists().size();
    const LibraryDocument document = ITunesToJSON().readLibrary(std::move(sample.value()));
    const auto pretty = boost::json::parse(textOf(document, JsonLayout::pretty).bytes);
    EXPECT_EQ(pretty, boost::json::parse(textOf(document, JsonLayout::compact).bytes));
    EXPECT_EQ(pretty.at("tracks").as_array().size(), items);
    EXPECT_EQ(pretty.at("playlists").as_array().size(), playlists);
}

TEST(DocumentTextDeathTest, TextThatIsNotUTF8Stops) {
    FakeLibrary<> library;
    library.items.resize(1);
    library.items[0].title_ = "cut \xE2\x82";
    EXPECT_DEATH(textOf(ITunesToJSON().readLibrary(std::make_unique<FakeLibrary<>>(library)), JsonLayout::compact),
                 "Assertion failed");
}

}  // namespace
}  // namespace harmonode

namespace harmonode {
namespace {

// The text of `library` written piece by piece as `plan` cuts it.
template <class Library>
std::string textOfPieces(const Library& library, JsonLayout layout, const DocumentPlan& plan) {
    const DocumentFacts facts{1700000000123, -5};
    std::string text, room;
    for (const DocumentPiece& piece : plan.pieces()) {
        DocumentWriter writer(layout, room);
        writer.piece(library, facts, piece);
        text += writer.text();
    }
    return text;
}

TEST(DocumentText, PiecesOfAnyLengthJoinIntoTheTextOfOneWalk) {
    FakeLibrary<> full;
    full.musicFolderLocation_ = URL::fromString("file:///Music/");
    full.items = {fullItem(), FakeItem{}, fullItem(), FakeItem{}, fullItem()};
    for (std::size_t i = 0; i < full.items.size(); ++i) full.items[i].persistentID_ = 100 + i;
    full.playlists.resize(5);
    full.playlists[0].members = {&full.items[4], &full.items[0], &full.items[4]};
    full.playlists[2].parentID_ = 7;
    for (int i = 0; i < 11; ++i) full.playlists[2].members.push_back(&full.items[i % 5]);
    full.playlists[4].members = {&full.items[1]};
    FakeLibrary<> noPlaylists = full, noTracks;
    noPlaylists.playlists.clear();
    noTracks.playlists.resize(2);
    for (const FakeLibrary<>* library : {&full, &noPlaylists, &noTracks}) {
        for (const JsonLayout layout : {JsonLayout::pretty, JsonLayout::compact}) {
            const std::string oneWalk = textOfPieces(*library, layout, DocumentPlan(*library, SIZE_MAX, SIZE_MAX));
            ASSERT_NO_THROW(boost::json::parse(oneWalk)) << oneWalk;
            for (const auto& [tracks, members] : {std::pair{1, 1}, {2, 3}, {4, 10}, {256, 16384}}) {
                const DocumentPlan plan(*library, tracks, members);
                EXPECT_EQ(textOfPieces(*library, layout, plan), oneWalk)
                    << plan.pieces().size() << " pieces of " << tracks << " tracks, " << members << " members";
            }
            // As the document writes it, its pieces made on two threads.
            std::string written;
            LibraryDocument(std::make_unique<FakeLibrary<>>(*library), {1700000000123, -5})
                .write(layout, [&](std::string_view piece) { written += piece; });
            EXPECT_EQ(written, oneWalk);
        }
    }
}

}  // namespace
}  // namespace harmonode
