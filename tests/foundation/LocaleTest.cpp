#include "platform/foundation/Locale.h"

#include <gtest/gtest.h>

#include <stdlib.h>

namespace platform {
namespace {

using Code = std::optional<std::string>;

TEST(Locale, ComponentsAreReadFromEveryIdentifierForm) {
    const struct {
        const char* identifier;
        Code language, script, country;
    } cases[] = {
        {"en_US", "en", {}, "US"},
        {"pt-BR", "pt", {}, "BR"},
        {"zh-Hant-HK", "zh", "Hant", "HK"},
        {"sr_Latn_RS", "sr", "Latn", "RS"},
        {"es-419", "es", {}, "419"},
        {"zh-hans", "zh", "Hans", {}},
        {"FR_ca.UTF-8", "fr", {}, "CA"},
        {"en_US_POSIX", "en", {}, "US"},
        {"de@euro", "de", {}, {}},
        {"C", {}, {}, {}},
        {"", {}, {}, {}},
        {"../etc", {}, {}, {}},
    };
    for (const auto& c : cases) {
        const NSLocale locale = NSLocale::localeWithLocaleIdentifier(c.identifier);
        EXPECT_EQ(locale.localeIdentifier(), c.identifier);
        EXPECT_EQ(locale.languageCode(), c.language) << c.identifier;
        EXPECT_EQ(locale.scriptCode(), c.script) << c.identifier;
        EXPECT_EQ(locale.countryCode(), c.country) << c.identifier;
    }
}

TEST(Locale, TheUsersLanguagesAndLocaleComeFromTheLocaleVariables) {
    const char* const names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    const struct {
        const char* values[4];  // in the order of `names`; null: not set
        std::vector<std::string> preferred;
        const char* current;
    } cases[] = {
        {{nullptr, nullptr, nullptr, nullptr}, {}, "en_US"},
        {{nullptr, nullptr, nullptr, "fr_FR.UTF-8"}, {"fr-FR"}, "fr_FR"},
        {{"pt_BR:fr::C:x!", nullptr, nullptr, "de_DE"}, {"pt-BR", "fr", "en"}, "de_DE"},
        {{"", "", "it_IT", "de_DE"}, {"it-IT"}, "it_IT"},
        {{nullptr, "sr_RS@latin", "it_IT", "de_DE"}, {"sr-Latn-RS"}, "sr_Latn_RS"},
        {{"zh_TW:zh_HK:zh_CN:zh_SG:zh", nullptr, nullptr, "zh_TW.UTF-8"},
         {"zh-Hant-TW", "zh-Hant-HK", "zh-Hans-CN", "zh-Hans-SG", "zh"}, "zh_TW"},
        {{nullptr, "C.UTF-8", nullptr, "fr_FR"}, {"en"}, "en_US"},
        {{nullptr, nullptr, nullptr, "POSIX"}, {"en"}, "en_US"},
        {{"!!", nullptr, nullptr, "no locale"}, {"en"}, "en_US"},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 4; ++i) {
            if (c.values[i]) ::setenv(names[i], c.values[i], 1);
            else ::unsetenv(names[i]);
        }
        const std::string label = testing::PrintToString(std::vector<const char*>(c.values, c.values + 4));
        EXPECT_EQ(NSLocale::preferredLanguages(), c.preferred) << label;
        EXPECT_EQ(NSLocale::currentLocale().localeIdentifier(), c.current) << label;
    }
    for (const char* name : names) ::unsetenv(name);
}

}  // namespace
}  // namespace platform
