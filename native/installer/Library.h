#pragma once
// The process-wide state of libbfgnative.

#include <jni.h>

namespace bfgnative {

// The Java VM that loaded the library, stored by JNI_OnLoad before any
// native method runs and never cleared; null before.
JavaVM* javaVM() noexcept;

}  // namespace bfgnative

extern "C" {
// Prefixes the reply of a privileged execution whose tool was not started:
// the text "__kqvx_".
JNIEXPORT extern const char* const FAILURE_MARKER;
}
