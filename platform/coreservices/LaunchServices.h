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
// and comment stays as it was. Where the list is a symbolic link (to a
// shared configuration, say), the file it leads to is rewritten and the link
// stays a link; a dangling link's target is created. The list is read only
// when it is a regular file of at most kSmallFileLimit bytes (File.h),
// without blocking on a FIFO or a device; anything else is refused.
//
// Each change holds a lock from before it reads the list until the new list
// is in place: the process's own between its threads, and an exclusive
// advisory lock (flock) on "mimeapps.list.lock" beside the list between
// processes, so concurrent changes from any number of threads and processes
// that take it all survive. A program that rewrites the list without that
// lock can still lose a change made at the same moment. A change that waits
// for the lock longer than 10 seconds gives up (kLSUnknownErr).
//
// Every failure but a bad argument is logged with its reason, in one line.
// Thread-safe. Reads the environment (see BaseDirectories.h), so it must
// not run while another thread changes it. Throws nothing.

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
// identifier applies; kLSUnknownErr when the list cannot be locked, read or
// written (nothing is changed then).
PLATFORM_CORESERVICES_API OSStatus LSSetDefaultHandlerForURLScheme(std::u16string_view inScheme,
                                                                   std::u16string_view handlerBundleID) noexcept;

}  // namespace platform
