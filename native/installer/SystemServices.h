#pragma once
// The Apple event sender behind MacProcessHelper's reboot0, exported with a
// plain name.

#include <jni.h>

#include <cstdint>

extern "C" {

// Sends the system process (serial number 0:1) the Apple event `eventToSend`
// of class 'aevt', without waiting for a reply. 0, or the first error of
// making the target, making the event or sending it (-600 when no receiver
// is registered for the system process).
JNIEXPORT std::int32_t SendAppleEventToSystemProcess(std::uint32_t eventToSend) noexcept;

}
