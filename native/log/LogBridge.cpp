// The native method of MacLog: a Java log message to the system log.
#include <jni.h>

#include "native/installer/JavaValues.h"
#include "platform/foundation/Log.h"

extern "C" {

// Any thread may call it, several at once: it touches no shared state. The
// message is only ever an argument of the fixed format "%@", so "%" in it is
// written as it stands; a null message is written "(null)".
JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_MacLog_log0(JNIEnv* env, jclass,
                                                                                       jstring message) {
    bfg::guarded("log0", [&] {
        const std::optional<std::u16string> text = getString(env, message);
        // A message that could not be read (the VM is out of memory, its error
        // pending) is not logged as "(null)".
        if (message && !text) return;
        platform::NSLog("%@", text);
    });
}

}  // extern "C"
