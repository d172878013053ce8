// What a host application does for the system services, for the Java tests:
// reads the process environment, and registers a receiver for the system
// process's Apple events that records them instead of acting on them.
#include <jni.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/coreservices/AppleEvents.h"

namespace {

namespace p = platform;

std::mutex g_mutex;
std::vector<std::string> g_events;

std::string code(p::FourCharCode value) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) text += static_cast<char>((value >> shift) & 0xff);
    return text;
}

p::OSErr record(const p::AppleEvent& event, p::AESendMode mode, long timeout) {
    p::AEEventAttributes a;
    if (const p::OSErr error = p::AEGetEventAttributes(&event, &a)) return error;
    const std::lock_guard lock(g_mutex);
    g_events.push_back("class=" + code(a.eventClass) + " id=" + code(a.eventID) + " target=" + code(a.targetType) +
                       ":" + std::to_string(a.target.highLongOfPSN) + ":" + std::to_string(a.target.lowLongOfPSN) +
                       " return=" + std::to_string(a.returnID) + " transaction=" + std::to_string(a.transactionID) +
                       " mode=" + std::to_string(mode) + " timeout=" + std::to_string(timeout));
    return p::noErr;
}

}  // namespace

extern "C" {

JNIEXPORT jbyteArray JNICALL Java_com_brimforge_runtime_installer_platform_macos_SystemHost_getenv(JNIEnv* env, jclass,
                                                                                                    jstring name) {
    const char* chars = env->GetStringUTFChars(name, nullptr);
    if (!chars) return nullptr;
    const char* value = std::getenv(chars);
    env->ReleaseStringUTFChars(name, chars);
    if (!value) return nullptr;
    const auto length = static_cast<jsize>(std::strlen(value));
    const jbyteArray bytes = env->NewByteArray(length);
    if (bytes) env->SetByteArrayRegion(bytes, 0, length, reinterpret_cast<const jbyte*>(value));
    return bytes;
}

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_SystemHost_recordSystemEvents(JNIEnv*,
                                                                                                         jclass) {
    p::AEInstallProcessReceiver({0, p::kSystemProcess}, record);
}

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_SystemHost_stopRecording(JNIEnv*, jclass) {
    p::AEInstallProcessReceiver({0, p::kSystemProcess}, nullptr);
}

JNIEXPORT jstring JNICALL Java_com_brimforge_runtime_installer_platform_macos_SystemHost_systemEvents(JNIEnv* env,
                                                                                                      jclass) {
    std::string all;
    {
        const std::lock_guard lock(g_mutex);
        for (const std::string& event : g_events) all += event + "\n";
    }
    return env->NewStringUTF(all.c_str());
}

}  // extern "C"
