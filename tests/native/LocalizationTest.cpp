// The language-folder choice and the filling of values, without a Java VM.
#include "native/installer/Localization.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/foundation/UTF8.h"
#include "tests/native/StderrCapture.h"

namespace {

namespace fs = std::filesystem;
using platform::NSBundle;
using platform::NSLocale;

TEST(LocalizedBundle, CandidatesAreTriedInOrder) {
    char pattern[] = "/tmp/harmonode-lproj-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path folder = pattern;
    const struct {
        const char* locale;
        std::vector<const char*> folders;  // the bundle's language folders; "file:" a file in place of one
        const char* found;                 // null: none
    } cases[] = {
        {"pt-BR", {"pt-BR", "pt_BR", "pt"}, "pt-BR"},
        {"zh-Hant-HK", {"zh", "zh_HK"}, "zh"},
        {"zh-Hant-MO", {"zh_HK", "zh_TW"}, "zh_TW"},
        {"zh-Hant-MO", {"zh_HK"}, "zh_HK"},
        {"zh-Hans-SG", {"zh_CN", "zh_TW"}, "zh_CN"},
        {"zh-Latn-SG", {"zh_CN"}, nullptr},
        {"zh", {"zh_CN"}, nullptr},
        {"es-419", {"es_419"}, "es_419"},
        {"de", {"en", "file:de"}, nullptr},
        {"", {"en"}, nullptr},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const fs::path root = folder / std::to_string(i);
        fs::create_directories(root / "Contents/Resources");
        for (const std::string_view name : cases[i].folders) {
            if (name.starts_with("file:")) {
                std::ofstream(root / "Contents/Resources" / (std::string(name.substr(5)) + ".lproj")) << "x";
            } else {
                fs::create_directory(root / "Contents/Resources" / (std::string(name) + ".lproj"));
            }
        }
        const std::shared_ptr<NSBundle> bundle = NSBundle::bundleWithPath(root.string());
        ASSERT_NE(bundle, nullptr);
        const std::shared_ptr<NSBundle> found =
            getLocalizedBundle(*bundle, NSLocale::localeWithLocaleIdentifier(cases[i].locale));
        if (!cases[i].found) {
            EXPECT_EQ(found, nullptr) << cases[i].locale << " found " << found->bundlePath();
            continue;
        }
        ASSERT_NE(found, nullptr) << cases[i].locale;
        EXPECT_EQ(fs::path(found->bundlePath()).filename(), std::string(cases[i].found) + ".lproj") << cases[i].locale;
    }
    fs::remove_all(folder);
}

TEST(LocalizedBundle, ATableThatIsNoRegularFileIsLoggedOnceAndReadsAsEmpty) {
    char pattern[] = "/tmp/harmonode-tables-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path folder = pattern;
    ASSERT_EQ(::mkfifo((folder / "Fifo.strings").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", folder / "Zero.strings");
    const std::shared_ptr<NSBundle> bundle = NSBundle::bundleWithPath(folder.string());
    ASSERT_NE(bundle, nullptr);
    for (const char16_t* table : {u"Fifo", u"Zero"}) {
        const std::string log = bfgtest::captureStderr([&] {
            for (int i = 0; i < 3; ++i) EXPECT_EQ(bundle->localizedStringForKey(u"key", u"_", table), u"_");
        });
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
        EXPECT_NE(log.find("it is not a regular file"), std::string::npos) << log;
    }
    fs::remove_all(folder);
}

TEST(LocalizedFormat, OnlyObjectPlaceholdersAndPercentSignsAreReplaced) {
    using Values = std::array<std::optional<std::u16string>, 3>;
    const Values abc{u"A", u"B", u"C"};
    const struct {
        std::u16string_view format;
        Values values;
        std::u16string_view expected;
    } cases[] = {
        {u"%@, %@, %@, %@", abc, u"A, B, C, %@"},
        {u"%3$@ %1$@ %3$@ %4$@ %0$@", abc, u"C A C %4$@ %0$@"},
        {u"%@ and %@", {u"A", std::nullopt, u"C"}, u"A and (null)"},
        {u"%2$@", {u"A", std::nullopt, std::nullopt}, u"(null)"},
        {u"100%% %s %d %n %x %.*s %10@ %-@ %1$s %", abc, u"100% %s %d %n %x %.*s %10@ %-@ %1$s %"},
        {u"%@%", abc, u"A%"},
        {u"%%@", abc, u"%@"},
        {u"\U0001F600 %@", {u"\U0001F3B5", {}, {}}, u"\U0001F600 \U0001F3B5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bfgnative::formatLocalized(c.format, c.values), c.expected)
            << platform::utf16ToUTF8(c.format);
    }
}

}  // namespace
