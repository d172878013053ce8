// A stand-in for the host application's window classes, loaded into the
// test VM before libbfgnative: "NSWindow" answers canBecomeMainWindow, and
// its subclass "AWTWindow" has its own windowDidBecomeMain: and inherits
// canBecomeMainWindow. Java reaches one AWTWindow instance through the
// natives of HostWindow.
#include <jni.h>

#include <atomic>

#include "platform/objc/Runtime.h"

namespace {

namespace objc = platform::objc;

std::atomic<bool> g_canBecomeMain{true};
std::atomic<int> g_activations{0};
objc::Object* g_window = nullptr;

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_HostWindow_install(JNIEnv*, jclass) {
    if (objc::objc_getClass("AWTWindow")) return;
    const objc::Class nsWindow = objc::objc_allocateClassPair(nullptr, "NSWindow");
    objc::class_addMethod(nsWindow, objc::NSSelectorFromString("canBecomeMainWindow"),
                          objc::imp_implementationWithBlock([](objc::id) { return g_canBecomeMain.load(); }), "B@:");
    objc::objc_registerClassPair(nsWindow);
    const objc::Class awtWindow = objc::objc_allocateClassPair(nsWindow, "AWTWindow");
    objc::class_addMethod(awtWindow, objc::NSSelectorFromString("windowDidBecomeMain:"),
                          objc::imp_implementationWithBlock([](objc::id, objc::id) { ++g_activations; }), "v@:@");
    objc::objc_registerClassPair(awtWindow);
    g_window = new objc::Object(awtWindow);
}

JNIEXPORT jboolean JNICALL
Java_com_brimforge_runtime_installer_platform_macos_HostWindow_canBecomeMainWindow(JNIEnv*, jclass) {
    return objc::objc_msgSend<bool>(g_window, objc::NSSelectorFromString("canBecomeMainWindow")) ? JNI_TRUE
                                                                                                 : JNI_FALSE;
}

JNIEXPORT void JNICALL
Java_com_brimforge_runtime_installer_platform_macos_HostWindow_windowDidBecomeMain(JNIEnv*, jclass) {
    objc::objc_msgSend<void, objc::id>(g_window, objc::NSSelectorFromString("windowDidBecomeMain:"), nullptr);
}

JNIEXPORT jint JNICALL Java_com_brimforge_runtime_installer_platform_macos_HostWindow_activations(JNIEnv*, jclass) {
    return g_activations.load();
}

JNIEXPORT void JNICALL
Java_com_brimforge_runtime_installer_platform_macos_HostWindow_setCanBecomeMain(JNIEnv*, jclass, jboolean value) {
    g_canBecomeMain = value == JNI_TRUE;
}

}  // extern "C"
