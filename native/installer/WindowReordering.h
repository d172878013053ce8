#pragma once
// The window-reordering guard and the window class's hooks.
//
// The guard is a process-wide signed 32-bit counter, changed only by atomic
// adds with full ordering (disableReordering0 adds 1, enableReordering0 adds
// -1) and read after a full fence. It is active while the counter is
// non-zero, so calls nest and a counter driven below zero (-1) counts as
// active too. Java threads change it; the hooks read it on the main thread.
//
// While the guard is active the hooked window class neither becomes the main
// window (canBecomeMainWindow answers false) nor runs its own handling of
// becoming main (windowDidBecomeMain: does nothing). Once the counter is back
// at zero both behave as before the hooks were installed.

#include <cstdint>
#include <string_view>

namespace bfgnative {

// Adds `delta` to the counter, atomically with full ordering.
void addToReorderingCount(std::int32_t delta) noexcept;

// The counter's value, read after a full fence.
std::int32_t reorderingCount() noexcept;

inline bool reorderingGuardActive() noexcept { return reorderingCount() != 0; }

// Which hooks installWindowHooks put in place.
struct WindowHooks {
    bool windowDidBecomeMain = false;
    bool canBecomeMainWindow = false;
};

// Hooks "windowDidBecomeMain:" and "canBecomeMainWindow" of the run-time class
// named `className`. The implementation that ran before is registered on the
// class under "originalWindowDidBecomeMain:" ("v@:@") and
// "originalCanBecomeMainWindow:" ("B@:"; the colon is part of the name) and
// called by the hooks while the guard is inactive. The original is
// registered before the hook replaces the method, so a message the host sends
// on another thread meanwhile always finds it. Nothing escapes a hook into
// the host: a failure is logged, and the window does not become main.
//
// A method the class only inherits is hooked too: the inherited
// implementation becomes the original, so the class still behaves as its
// superclass made it while the guard is inactive. A method with no
// implementation at all, or one of another type than the hook calls, is not
// hooked. No class of that name: nothing is hooked.
WindowHooks installWindowHooks(std::string_view className);

}  // namespace bfgnative
