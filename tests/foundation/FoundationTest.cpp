#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <vector>

#include "platform/foundation/File.h"
#include "platform/foundation/PathComponents.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UTF8.h"

namespace platform {
namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

TEST(UTF8, ValidTextPassesUnchanged) {
    const std::string text = "plain, Caf\xC3\xA9, \xE2\x82\xAC, \xF0\x9F\x8E\xB5, \xF4\x8F\xBF\xBF";
    EXPECT_TRUE(isValidUTF8(text));
    EXPECT_EQ(decodeUTF8Lossy(text), text);
}

TEST(UTF8, EachMaximalIllFormedSubpartBecomesOneReplacement) {
    EXPECT_EQ(decodeUTF8Lossy("a\xFF" "b"), "a" + kFFFD + "b");
    EXPECT_EQ(decodeUTF8Lossy("\xC3"), kFFFD);                          // truncated at the end
    EXPECT_EQ(decodeUTF8Lossy("\xE2\x82" "x"), kFFFD + "x");            // truncated in the middle
    EXPECT_EQ(decodeUTF8Lossy("\xC0\xAF"), kFFFD + kFFFD);              // overlong
    EXPECT_EQ(decodeUTF8Lossy("\xED\xA0\x80"), kFFFD + kFFFD + kFFFD);  // encoded surrogate
    EXPECT_EQ(decodeUTF8Lossy("\xF4\x90\x80\x80"), kFFFD + kFFFD + kFFFD + kFFFD);  // above U+10FFFF
    EXPECT_EQ(decodeUTF8Lossy("\xF0\x9F\x8E"), kFFFD);
    EXPECT_TRUE(isValidUTF8(decodeUTF8Lossy("\x80\xBF\xFE\xFE long enough to pass the eight-byte scan \xFF")));
}

TEST(UTF8, Utf16RoundTripsAndLoneSurrogatesBecomeReplacements) {
    const std::u16string text = u"A\u00E9\u20AC\U0001F3B5";
    EXPECT_EQ(utf16ToUTF8(text), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5");
    EXPECT_EQ(utf8ToUTF16(utf16ToUTF8(text)), text);
    EXPECT_EQ(utf16ToUTF8(std::u16string(1, char16_t(0xD800)) + u"x"), kFFFD + "x");
    EXPECT_EQ(utf16ToUTF8(std::u16string(1, char16_t(0xDC00))), kFFFD);
    EXPECT_EQ(utf16ToUTF8(std::u16string(u"\0", 1)), std::string("\0", 1));
}

TEST(PathComponents, ExtensionIsAfterTheLastDotOfTheLastComponentOnly) {
    struct Case {
        std::u16string_view path, last, extension, withoutExtension;
    };
    const Case cases[] = {
        {u"backup.tar.gz", u"backup.tar.gz", u"gz", u"backup.tar"},
        {u"/tmp/setup.exe", u"setup.exe", u"exe", u"/tmp/setup"},
        {u".profile", u".profile", u"", u".profile"},           // a leading dot starts no extension
        {u"/a.d/README", u"README", u"", u"/a.d/README"},       // a dot in a folder's name does not count
        {u"/tmp/folder.app/", u"folder.app", u"app", u"/tmp/folder"},
        {u"/", u"/", u"", u"/"},
        {u"", u"", u"", u""},
    };
    for (const Case& c : cases) {
        const std::string path = utf16ToUTF8(c.path);
        EXPECT_EQ(lastPathComponent(c.path), c.last) << path;
        EXPECT_EQ(pathExtension(c.path), c.extension) << path;
        EXPECT_EQ(stringByDeletingPathExtension(c.path), c.withoutExtension) << path;
    }
}

TEST(URL, FilePathsAreDecodedForEveryFileUrlForm) {
    EXPECT_EQ(URL::fromString("file:///Users/a/My%20Music/Caf%C3%A9.mp3")->path(), "/Users/a/My Music/Caf\xC3\xA9.mp3");
    EXPECT_EQ(URL::fromString("file://localhost/G:/Music/x%23y.mp3")->path(), "/G:/Music/x#y.mp3");
    EXPECT_EQ(URL::fromString("file:///Users/a/Music/")->path(), "/Users/a/Music");
    EXPECT_EQ(URL::fromString("file:///")->path(), "/");
    EXPECT_EQ(URL::fromString("file:///a%FFb")->path(), "/a" + kFFFD + "b");
    // The file system takes the bytes as they are.
    EXPECT_EQ(URL::fileURLWithPath("/a\xFF" "b/").fileSystemRepresentation(), "/a\xFF" "b");
    EXPECT_EQ(URL::fromString("file:///100%")->path(), "/100%");
    EXPECT_TRUE(URL::fromString("FILE:///x")->isFileURL());
    EXPECT_FALSE(URL::fromString("http://example.com/feed.mp3")->isFileURL());
    EXPECT_EQ(URL::fromString("http://example.com/feed.mp3?a=1")->path(), "/feed.mp3");
    EXPECT_EQ(URL::fromString(""), std::nullopt);
}

TEST(URL, FileUrlsFromPathsAreEscapedAndAbsolute) {
    EXPECT_EQ(URL::fileURLWithPath("/Volumes/Media/_harmonode/harmonode_itunes.json").absoluteString(),
              "file:///Volumes/Media/_harmonode/harmonode_itunes.json");
    const URL spaced = URL::fileURLWithPath("/tmp/a b/Caf\xC3\xA9%.mp3");
    EXPECT_EQ(spaced.absoluteString(), "file:///tmp/a%20b/Caf%C3%A9%25.mp3");
    EXPECT_EQ(spaced.path(), "/tmp/a b/Caf\xC3\xA9%.mp3");
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(URL::fileURLWithPath("song.mp3").path(), cwd + "/song.mp3");
}

class WriteFileAtomically : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / ("harmonode-file-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
    }
    std::filesystem::path folder;
};

// Every file a stand-in reads whole: regular files alone, never waiting on
// a FIFO or reading a device without end, and never past the bound.
TEST_F(WriteFileAtomically, ReadFileReadsRegularFilesWithinTheBoundAndRefusesTheRest) {
    const auto at = [&](const char* name) { return (folder / name).string(); };
    ASSERT_TRUE(writeFileAtomically(at("small"), "four").ok());
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", folder / "zero");
    struct Case {
        std::string path;
        std::size_t limit;
        std::optional<std::string> content;  // none: refused
        std::string reason;
    };
    const Case cases[] = {
        {at("small"), kNoReadLimit, "four", ""},
        {at("small"), 4, "four", ""},
        {at("small"), 3, std::nullopt, "is larger than 3 bytes"},
        {at("missing"), kNoReadLimit, std::nullopt, "No such file or directory"},
        {at("fifo"), kNoReadLimit, std::nullopt, "is not a regular file"},
        {at("zero"), kNoReadLimit, std::nullopt, "is not a regular file"},
        {"/proc/self/status", kSmallFileLimit, "Name:", ""},  // its size is not known before it is read
        {"/proc/self/status", 8, std::nullopt, "is larger than 8 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " within " + std::to_string(c.limit));
        const Result<std::string> read = readFile(c.path, c.limit);
        ASSERT_EQ(read.ok(), c.content.has_value());
        if (read) {
            EXPECT_TRUE(read.value().starts_with(*c.content));
        } else {
            EXPECT_NE(read.error().description.find(c.reason), std::string::npos) << read.error().description;
        }
    }
    EXPECT_EQ(readFile(at("missing")).error().systemCode, ENOENT);
}

TEST_F(WriteFileAtomically, CreatesWithUsualModeAndKeepsTheModeOfAReplacedFile) {
    const auto path = folder / "a.json";
    ASSERT_TRUE(writeFileAtomically(path.string(), "one").ok());
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0644));
    std::filesystem::permissions(path, std::filesystem::perms(0600));
    ASSERT_TRUE(writeFileAtomically(path.string(), "two").ok());
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0600));
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "two");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(WriteFileAtomically, AFailedRenameRemovesTheTemporaryFile) {
    const auto path = folder / "taken";
    std::filesystem::create_directories(path / "inside");  // a non-empty folder cannot be renamed over
    const Status status = writeFileAtomically(path.string(), "data");
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.error().description.find(path.string()), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(path / "inside"));
    EXPECT_EQ(entries(), 1u);
}

TEST_F(WriteFileAtomically, TakesOnlyThePermissionBitsOfAReplacedRegularFile) {
    namespace fs = std::filesystem;
    const auto target = folder / "target.json";
    std::ofstream(target) << "target";
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> prepare;
        fs::perms expected;
    };
    const Case cases[] = {
        {"setuid", [](const fs::path& p) { std::ofstream(p) << "x"; ::chmod(p.c_str(), 04755); }, fs::perms(0755)},
        {"sticky", [](const fs::path& p) { std::ofstream(p) << "x"; ::chmod(p.c_str(), 01640); }, fs::perms(0640)},
        {"link", [&](const fs::path& p) { ::chmod(target.c_str(), 04755); fs::create_symlink(target, p); },
         fs::perms(0644)},
        {"folder-free name", [](const fs::path&) {}, fs::perms(0644)},
    };
    for (const Case& c : cases) {
        const auto path = folder / c.name;
        c.prepare(path);
        ASSERT_TRUE(writeFileAtomically(path.string(), "new").ok()) << c.name;
        EXPECT_EQ(fs::symlink_status(path).type(), fs::file_type::regular) << c.name;
        EXPECT_EQ(fs::status(path).permissions(), c.expected) << c.name;
    }
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "target") << "a link's target is left alone";
}

TEST_F(WriteFileAtomically, ALeftOverTemporaryIsRemovedOnlyOnceItsWriterIsGone) {
    const auto path = folder / "a.json";
    const auto make = [&](const std::string& name) {
        std::ofstream(folder / name) << "partial";
        return folder / name;
    };
    const auto abandoned = make(".a.json.tmp-Abc123");
    const auto held = make(".a.json.tmp-Live01");
    const auto unrelated = {make(".a.json.tmp-toolong"), make(".b.json.tmp-Abc123"), make("a.json.tmp-Abc123")};
    // A writer still at work holds its temporary file locked.
    const int writer = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);

    ASSERT_TRUE(writeFileAtomically(path.string(), "done").ok());
    EXPECT_FALSE(std::filesystem::exists(abandoned));
    EXPECT_TRUE(std::filesystem::exists(held));
    for (const auto& other : unrelated) EXPECT_TRUE(std::filesystem::exists(other)) << other;
    ::close(writer);
    ASSERT_TRUE(writeFileAtomically(path.string(), "again").ok());
    EXPECT_FALSE(std::filesystem::exists(held));
}

TEST_F(WriteFileAtomically, ALeftOverTemporaryWhoseWriterEndsDuringAWriteGoesOnceItIsInPlace) {
    const auto path = folder / "a.json";
    const auto held = folder / ".a.json.tmp-Live01";
    std::ofstream(held) << "complete";
    const int writer = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    auto file = AtomicFileWriter::create(path.string());
    ASSERT_TRUE(file) << file.error().description;
    EXPECT_TRUE(std::filesystem::exists(held)) << "its writer is still at work";
    ::close(writer);  // and is killed before this write is done
    file.value().write("new");
    ASSERT_TRUE(file.value().commit().ok());
    EXPECT_FALSE(std::filesystem::exists(held));
    EXPECT_EQ(entries(), 1u);

    // Also without a write of its own, for a change that begins.
    std::ofstream(held) << "complete";
    removeLeftoverTemporaries(path.string());
    EXPECT_FALSE(std::filesystem::exists(held));
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(WriteFileAtomically, APieceWiseWriteAppearsWholeOnCommitOrNotAtAll) {
    const auto path = folder / "pieces.json";
    const auto content = [&] {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    std::ofstream(path) << "old";
    {
        auto file = AtomicFileWriter::create(path.string());
        ASSERT_TRUE(file) << file.error().description;
        file.value().write("one ");
        file.value().write("two");
        EXPECT_EQ(content(), "old") << "nothing shows before the commit";
    }
    EXPECT_EQ(content(), "old") << "dropped uncommitted";
    EXPECT_EQ(entries(), 1u);

    auto file = AtomicFileWriter::create(path.string());
    ASSERT_TRUE(file);
    file.value().write("one ");
    file.value().write("two");
    ASSERT_TRUE(file.value().commit().ok());
    EXPECT_EQ(content(), "one two");
    EXPECT_EQ(entries(), 1u);

    // A piece that cannot be written (the file would pass the size limit)
    // fails the commit, and the file stays as it was.
    struct rlimit limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = limit;
    small.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    auto failing = AtomicFileWriter::create(path.string());
    ASSERT_TRUE(failing);
    failing.value().write("abc");
    failing.value().write("defgh");
    failing.value().write("i");
    const Status status = failing.value().commit();
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, previous);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().description, "could not write \"" + path.string() + "\": " + std::strerror(EFBIG));
    EXPECT_EQ(content(), "one two");
    EXPECT_EQ(entries(), 1u);
}

// A file made of pieces of another open file and new text, as a change of
// a large file is written without a copy of it in memory.
TEST_F(WriteFileAtomically, PiecesOfAnotherOpenFileGoInAsTheyStandAndOneThatEndsShortFailsTheWrite) {
    const auto path = folder / "made.txt";
    const auto content = [&](const std::filesystem::path& file) {
        std::ifstream in(file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    std::ofstream(folder / "source.txt") << "0123456789";
    std::ofstream(path) << "old";
    const int source = ::open((folder / "source.txt").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(source, 0);
    ASSERT_EQ(::lseek(source, 7, SEEK_SET), 7);
    EXPECT_EQ(readFile(source, "source.txt").value(), "0123456789") << "read from the start, whatever the offset";

    auto file = AtomicFileWriter::create(path.string());
    ASSERT_TRUE(file);
    file.value().write("<");
    file.value().copy(source, 2, 3);
    file.value().write(">");
    file.value().copy(source, 10, 0);
    file.value().copy(source, 0, 2);
    FileIdentity placed;
    ASSERT_TRUE(file.value().commit(&placed).ok());
    EXPECT_EQ(content(path), "<234>01");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(placed, FileIdentity::of(st));

    auto shorter = AtomicFileWriter::create(path.string());
    ASSERT_TRUE(shorter);
    shorter.value().copy(source, 8, 5);
    const Status status = shorter.value().commit();
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().description, "could not write \"" + path.string() + "\": " + std::strerror(ENODATA));
    EXPECT_EQ(content(path), "<234>01");
    EXPECT_EQ(entries(), 2u);
    ::close(source);
}

// The paths in `folder` that process `pid` has open.
std::vector<std::string> openFilesIn(pid_t pid, const std::filesystem::path& folder) {
    std::vector<std::string> found;
    std::error_code ignored;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
        const auto target = std::filesystem::read_symlink(fd.path(), ignored).string();
        if (target.starts_with(folder.string() + "/")) found.push_back(fd.path().string());
    }
    return found;
}

TEST_F(WriteFileAtomically, AWriterKilledMidWayLeavesTheOldFileAndNothingElse) {
    const auto path = folder / "big.json";
    std::ofstream(path) << "old";
    bool killedInside = false;
    for (std::size_t size = std::size_t{256} << 20; !killedInside && size <= (std::size_t{1} << 30); size *= 2) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const std::string bytes(size, 'x');
            static_cast<void>(writeFileAtomically(path.string(), bytes));
            ::_exit(0);
        }
        // Killed once its temporary file holds some of the new text.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            const auto open = openFilesIn(child, folder);
            std::error_code ignored;
            if (!open.empty() && std::filesystem::file_size(open.front(), ignored) > 0) {
                ::kill(child, SIGKILL);
                break;
            }
            if (::waitpid(child, nullptr, WNOHANG) == child) break;  // done before it could be killed
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        killedInside = WIFSIGNALED(status);
    }
    ASSERT_TRUE(killedInside) << "the writer always finished first";
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
    // Where the file system offers unnamed files nothing is left at all;
    // elsewhere the next write clears what the killed one left.
    EXPECT_LE(entries(), 2u);
    ASSERT_TRUE(writeFileAtomically(path.string(), "new").ok());
    EXPECT_EQ(entries(), 1u);
}

}  // namespace
}  // namespace platform
