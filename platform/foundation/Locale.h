#pragma once
// Locales (NSLocale) and the user's language, from the POSIX locale
// variables.
//
// A locale is an immutable value made from an identifier such as "en_US",
// "pt-BR", "zh-Hant-HK", "sr_Latn_RS" or "es-419": the identifier is kept as
// given, and its components are read from it (language, then an optional
// four-letter script, then an optional two-letter or three-digit country;
// further parts, a ".codeset" and an "@modifier" are ignored). Components
// come back in their usual case ("zh", "Hant", "HK").
//
// The user's language: preferredLanguages comes from LANGUAGE (a
// colon-separated list), or else from the first of LC_ALL, LC_MESSAGES,
// LANG that is set; currentLocale from the first of LC_ALL, LC_MESSAGES,
// LANG that is set, never from LANGUAGE. A variable set to the empty string
// counts as not set. Both read the environment at each call, so they must
// not race with a change of it (the callers serialise those).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class NSLocale {
public:
    static NSLocale localeWithLocaleIdentifier(std::string_view identifier);

    // The locale of the first of LC_ALL, LC_MESSAGES, LANG that is set, with
    // an identifier of the form "fr_FR" ("fr_FR.UTF-8" gives "fr_FR",
    // "sr_RS@latin" "sr_Latn_RS"). None of them set, "C", "POSIX", or a value
    // that is no locale name: "en_US".
    static NSLocale currentLocale();

    // The user's languages, most wanted first, as language tags: "fr_FR.UTF-8"
    // gives "fr-FR", "sr_RS@latin" "sr-Latn-RS", "zh_TW" and "zh_HK"
    // "zh-Hant-TW" and "zh-Hant-HK", "zh_CN" "zh-Hans-CN", "C" and "POSIX"
    // "en". Entries of LANGUAGE that are no locale name are skipped; when
    // none is left the LC_ variables decide, and one that is no locale name
    // counts as "C". Empty when none of the four is set.
    static std::vector<std::string> preferredLanguages();

    const std::string& localeIdentifier() const noexcept { return identifier_; }
    // None when the identifier does not start with a language code.
    const std::optional<std::string>& languageCode() const noexcept { return language_; }
    const std::optional<std::string>& scriptCode() const noexcept { return script_; }
    const std::optional<std::string>& countryCode() const noexcept { return country_; }

private:
    NSLocale() = default;

    std::string identifier_;
    std::optional<std::string> language_;
    std::optional<std::string> script_;
    std::optional<std::string> country_;
};

}  // namespace platform
