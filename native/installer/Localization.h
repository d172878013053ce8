#pragma once
// Localized strings: the language folder of a bundle that fits a locale, and
// the filling of string values into a found text. The native method
// MacLocalization.getLocalizedString0 (Localization.cpp) puts them together;
// it touches no process-wide state of the library beyond the bundle cache,
// which is safe to share between Java threads.

#include <jni.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Locale.h"

extern "C" {

// The bundle of the language folder of `bundle` that fits `locale`, or null.
// Folder names are tried in this order, each as the resource "<name>.lproj":
// the locale's identifier; the identifier with every "-" made "_"; its
// language code; language and country code joined by "_"; and for "zh"
// only, with the script "Hant" "zh_TW" then "zh_HK", with "Hans" "zh_CN".
// The first that is a folder wins.
JNIEXPORT std::shared_ptr<platform::NSBundle> getLocalizedBundle(const platform::NSBundle& bundle,
                                                                 const platform::NSLocale& locale) noexcept;

}  // extern "C"

namespace bfgnative {

// `format` with the string values filled in: "%@" takes the next of the
// three values in order (a fourth "%@" stays as it is), "%1$@" to "%3$@"
// take the value they name, and "%%" is one "%". A missing value is written
// "(null)". Every other "%" (a conversion such as "%s", "%d", "%n", "%x",
// "%.*s", "%4$@", a "%" at the end) stays as literal text: a translation can
// never make the formatting read anything but the three values.
std::u16string formatLocalized(std::u16string_view format,
                               const std::array<std::optional<std::u16string>, 3>& values);

}  // namespace bfgnative
