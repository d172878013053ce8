#include "platform/foundation/Locale.h"

#include <cstdlib>
#include <vector>

namespace platform {
namespace {

struct Components {
    std::string language;
    std::optional<std::string> script;
    std::optional<std::string> country;
};

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool allLetters(std::string_view s) {
    for (const char c : s) {
        if (!isLetter(c)) return false;
    }
    return true;
}

bool allDigits(std::string_view s) {
    for (const char c : s) {
        if (!isDigit(c)) return false;
    }
    return true;
}

// language[-_]script[-_]country, up to a "." or "@"; none when it does not
// start with a language code of two to eight letters.
std::optional<Components> parseComponents(std::string_view identifier) {
    identifier = identifier.substr(0, identifier.find_first_of(".@"));
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = identifier.find_first_of("-_", start);
        parts.push_back(identifier.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (parts[0].size() < 2 || parts[0].size() > 8 || !allLetters(parts[0])) return std::nullopt;
    Components components;
    for (const char c : parts[0]) components.language += lower(c);
    std::size_t next = 1;
    if (next < parts.size() && parts[next].size() == 4 && allLetters(parts[next])) {
        std::string script;
        for (const char c : parts[next]) script += lower(c);
        script[0] = upper(script[0]);
        components.script = std::move(script);
        ++next;
    }
    if (next < parts.size() && ((parts[next].size() == 2 && allLetters(parts[next])) ||
                                (parts[next].size() == 3 && allDigits(parts[next])))) {
        std::string country;
        for (const char c : parts[next]) country += upper(c);
        components.country = std::move(country);
    }
    return components;
}

// What a POSIX locale variable names: the "C" locale, a locale, or nothing
// usable (none).
struct PosixLocale {
    bool isC = false;
    Components components;
};

std::optional<PosixLocale> parsePosixLocale(std::string_view value) {
    const std::string_view base = value.substr(0, value.find_first_of(".@"));
    if (base == "C" || base == "POSIX") return PosixLocale{true, {}};
    std::optional<Components> components = parseComponents(base);
    if (!components) return std::nullopt;
    if (const std::size_t at = value.find('@'); at != std::string_view::npos && !components->script) {
        const std::string_view modifier = value.substr(at + 1);
        if (modifier == "latin") components->script = "Latn";
        else if (modifier == "cyrillic") components->script = "Cyrl";
        else if (modifier == "devanagari") components->script = "Deva";
    }
    return PosixLocale{false, std::move(*components)};
}

// "fr-FR", "sr-Latn-RS"; Chinese gets the script its country writes in.
std::string languageTag(Components components) {
    if (components.language == "zh" && !components.script && components.country) {
        const std::string& country = *components.country;
        if (country == "TW" || country == "HK" || country == "MO") components.script = "Hant";
        else if (country == "CN" || country == "SG") components.script = "Hans";
    }
    std::string tag = components.language;
    if (components.script) tag += "-" + *components.script;
    if (components.country) tag += "-" + *components.country;
    return tag;
}

// The value of `name`, none when it is not set or empty.
std::optional<std::string_view> variable(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string_view(value);
}

std::optional<std::string_view> firstLocaleVariable() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const std::optional<std::string_view> value = variable(name)) return value;
    }
    return std::nullopt;
}

}  // namespace

NSLocale NSLocale::localeWithLocaleIdentifier(std::string_view identifier) {
    NSLocale locale;
    locale.identifier_ = identifier;
    if (std::optional<Components> components = parseComponents(identifier)) {
        locale.language_ = std::move(components->language);
        locale.script_ = std::move(components->script);
        locale.country_ = std::move(components->country);
    }
    return locale;
}

NSLocale NSLocale::currentLocale() {
    std::string identifier = "en_US";
    if (const std::optional<std::string_view> value = firstLocaleVariable()) {
        const std::optional<PosixLocale> posix = parsePosixLocale(*value);
        if (posix && !posix->isC) {
            const Components& components = posix->components;
            identifier = components.language;
            if (components.script) identifier += "_" + *components.script;
            if (components.country) identifier += "_" + *components.country;
        }
    }
    return localeWithLocaleIdentifier(identifier);
}

std::vector<std::string> NSLocale::preferredLanguages() {
    std::vector<std::string> languages;
    if (const std::optional<std::string_view> list = variable("LANGUAGE")) {
        for (std::size_t start = 0; start <= list->size();) {
            std::size_t end = list->find(':', start);
            if (end == std::string_view::npos) end = list->size();
            if (const std::optional<PosixLocale> posix = parsePosixLocale(list->substr(start, end - start))) {
                languages.push_back(posix->isC ? "en" : languageTag(posix->components));
            }
            start = end + 1;
        }
        if (!languages.empty()) return languages;
    }
    if (const std::optional<std::string_view> value = firstLocaleVariable()) {
        const std::optional<PosixLocale> posix = parsePosixLocale(*value);
        languages.push_back(posix && !posix->isC ? languageTag(posix->components) : "en");
    }
    return languages;
}

}  // namespace platform
