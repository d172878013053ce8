#pragma once
// Launch Services: the default application for a URL scheme.
//
// On this platform the handlers follow the freedesktop convention: a
// handler's bundle identifier names the desktop entry "<id>.desktop" (found
// as DesktopEntry.h describes), and the default for a scheme is the entry of
// "x-scheme-handler/<scheme>" in the [Default Applications] group of
// $XDG_CONFIG_HOME/mimeapps.list (default ~/.config/mimeapps.list).
//
// Setting a handler rewrites that file atomically; every other line, group
// and comment stays as it was. Two processes setting handlers at the same
// moment may lose one of the two changes, as with any such file. Failures
// to write are logged with their reason. Reads the environment (see
// BaseDirectories.h). Throws nothing.

#include <string_view>

#include "platform/coreservices/MacErrors.h"

namespace platform {

inline constexpr OSStatus kLSUnknownErr = -10810;
inline constexpr OSStatus kLSApplicationNotFoundErr = -10814;

// Makes the application `handlerBundleID` the default for URLs of
// `inScheme` (compared without regard to case, written in lower case).
// paramErr for an empty scheme or one with a character a URL scheme cannot
// hold (it starts with a letter, then letters, digits, "+", "-", "."), and
// for an identifier that cannot name a desktop entry (empty, "/", a control
// character or ";"); kLSApplicationNotFoundErr when no desktop entry of that
// identifier applies; kLSUnknownErr when the file cannot be read or written
// (nothing is changed then).
PLATFORM_CORESERVICES_API OSStatus LSSetDefaultHandlerForURLScheme(std::u16string_view inScheme,
                                                                   std::u16string_view handlerBundleID) noexcept;

}  // namespace platform
