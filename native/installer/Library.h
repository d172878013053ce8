#pragma once
// The process-wide state of libbfgnative.

#include <jni.h>

namespace bfgnative {

// The Java VM that loaded the library, stored by JNI_OnLoad before any
// native method runs and never cleared; null before.
JavaVM* javaVM() noexcept;

}  // namespace bfgnative
