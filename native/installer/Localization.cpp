// The native method of MacLocalization and the language-folder lookup it uses.
#include "native/installer/Localization.h"

#include <vector>

#include "native/installer/JavaValues.h"
#include "platform/foundation/UTF8.h"

namespace bfgnative {
namespace {

// The default of every lookup: a missing key gives it back, and a
// translation that is exactly this text counts as none.
constexpr std::u16string_view kNotFound = u"_";

// The language-folder names to try for `locale`, in order.
std::vector<std::string> folderCandidates(const platform::NSLocale& locale) {
    std::vector<std::string> names;
    const std::string& identifier = locale.localeIdentifier();
    names.push_back(identifier);
    std::string underscored = identifier;
    for (char& c : underscored) {
        if (c == '-') c = '_';
    }
    names.push_back(std::move(underscored));
    const std::optional<std::string>& language = locale.languageCode();
    if (!language) return names;
    names.push_back(*language);
    if (const std::optional<std::string>& country = locale.countryCode()) names.push_back(*language + "_" + *country);
    if (*language == "zh") {
        const std::optional<std::string>& script = locale.scriptCode();
        if (script == "Hant") {
            names.emplace_back("zh_TW");
            names.emplace_back("zh_HK");
        } else if (script == "Hans") {
            names.emplace_back("zh_CN");
        }
    }
    return names;
}

}  // namespace

std::u16string formatLocalized(std::u16string_view format,
                               const std::array<std::optional<std::u16string>, 3>& values) {
    std::u16string out;
    out.reserve(format.size() + 32);
    const auto append = [&](const std::optional<std::u16string>& value) { out += value ? *value : u"(null)"; };
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char16_t c = format[i];
        const std::u16string_view rest = format.substr(i + 1);
        if (c != u'%') {
            out += c;
        } else if (rest.starts_with(u'%')) {
            out += u'%';
            ++i;
        } else if (rest.starts_with(u'@') && next < values.size()) {
            append(values[next++]);
            ++i;
        } else if (rest.size() >= 3 && rest[0] >= u'1' && rest[0] <= u'3' && rest.substr(1, 2) == u"$@") {
            append(values[rest[0] - u'1']);
            i += 3;
        } else {
            out += c;  // not a placeholder: the "%" and what follows stay as text
        }
    }
    return out;
}

}  // namespace bfgnative

extern "C" {

JNIEXPORT std::shared_ptr<platform::NSBundle> getLocalizedBundle(const platform::NSBundle& bundle,
                                                                 const platform::NSLocale& locale) noexcept {
    return bfg::guarded("getLocalizedBundle", std::shared_ptr<platform::NSBundle>(), [&] {
        for (const std::string& name : bfgnative::folderCandidates(locale)) {
            const std::optional<std::string> path = bundle.pathForResource(name, "lproj");
            if (!path) continue;
            if (std::shared_ptr<platform::NSBundle> found = platform::NSBundle::bundleWithPath(*path)) return found;
        }
        return std::shared_ptr<platform::NSBundle>();
    });
}

// Every failure to find a text (no bundle at the path, no language folder
// for the user's language, no such key) gives null, without a log entry.
// When reading a Java argument leaves an exception pending (the VM is out of
// memory) the lookup stops there and the exception reaches the caller.
JNIEXPORT jstring JNICALL Java_com_brimforge_runtime_installer_platform_macos_MacLocalization_getLocalizedString0(
    JNIEnv* env, jclass, jstring bundlePath, jstring table, jstring key, jstring value1, jstring value2,
    jstring value3) {
    return bfg::guarded("getLocalizedString0", static_cast<jstring>(nullptr), [&]() -> jstring {
        using platform::NSBundle;
        using platform::NSLocale;
        const std::optional<std::u16string> path = getString(env, bundlePath);
        if (!path) return nullptr;
        const std::shared_ptr<NSBundle> bundle = NSBundle::bundleWithPath(platform::utf16ToUTF8(*path));
        if (!bundle) return nullptr;

        std::shared_ptr<NSBundle> localized;
        if (const std::vector<std::string> languages = NSLocale::preferredLanguages(); !languages.empty()) {
            localized = getLocalizedBundle(*bundle, NSLocale::localeWithLocaleIdentifier(languages.front()));
        }
        if (!localized) localized = getLocalizedBundle(*bundle, NSLocale::currentLocale());
        if (!localized) return nullptr;

        const std::optional<std::u16string> tableName = getString(env, table);
        if (env->ExceptionCheck()) return nullptr;
        // A null key finds nothing, as a lookup of no key gives the default.
        const std::optional<std::u16string> keyText = getString(env, key);
        if (!keyText) return nullptr;
        std::u16string text = localized->localizedStringForKey(*keyText, bfgnative::kNotFound, tableName);
        if (text == bfgnative::kNotFound) return nullptr;

        if (value1) {
            std::array<std::optional<std::u16string>, 3> values;
            const jstring arguments[] = {value1, value2, value3};
            for (std::size_t i = 0; i < values.size(); ++i) {
                values[i] = getString(env, arguments[i]);
                if (env->ExceptionCheck()) return nullptr;
            }
            text = bfgnative::formatLocalized(text, values);
        }
        return bfg::newJavaString(env, std::u16string_view(text));
    });
}

}  // extern "C"
