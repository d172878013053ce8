// The scripted user of the Java tests: installs a ScriptedUserAgent on the
// AppKit model's application, scripts it and hands its record to Java, and
// lets a test hold the main queue. Natives of the Java class ScriptedUser.
#include <jni.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/ScriptedUserAgent.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/UTF8.h"

namespace {

namespace appkit = platform::appkit;
namespace dispatch = platform::dispatch;

std::mutex g_lock;
std::condition_variable g_released;
bool g_held = false;
std::shared_ptr<appkit::ScriptedUserAgent> g_agent;

std::string utf8(JNIEnv* env, jstring string) {
    const jsize length = env->GetStringLength(string);
    const jchar* chars = env->GetStringChars(string, nullptr);
    if (!chars) return {};
    const std::u16string text(chars, chars + length);
    env->ReleaseStringChars(string, chars);
    return platform::utf16ToUTF8(text);
}

void throwIllegalArgument(JNIEnv* env, const std::string& message) {
    const jclass cls = env->FindClass("java/lang/IllegalArgumentException");
    if (cls) env->ThrowNew(cls, message.c_str());
}

void syncMainQueue() { dispatch::dispatch_sync(dispatch::dispatch_get_main_queue(), [] {}); }

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_ScriptedUser_install(JNIEnv*, jclass) {
    const std::lock_guard<std::mutex> hold(g_lock);
    g_agent = std::make_shared<appkit::ScriptedUserAgent>();
    appkit::NSApplication::sharedApplication().setUserAgent(g_agent);
}

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_ScriptedUser_uninstall(JNIEnv*, jclass) {
    const std::lock_guard<std::mutex> hold(g_lock);
    g_agent.reset();
    appkit::NSApplication::sharedApplication().setUserAgent(nullptr);
}

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_ScriptedUser_script(JNIEnv* env, jclass,
                                                                                               jobjectArray steps) {
    std::vector<appkit::ScriptedUserAgent::Step> script;
    for (jsize i = 0, n = env->GetArrayLength(steps); i < n; ++i) {
        const auto element = static_cast<jstring>(env->GetObjectArrayElement(steps, i));
        const std::string text = utf8(env, element);
        env->DeleteLocalRef(element);
        std::optional<appkit::ScriptedUserAgent::Step> step = appkit::ScriptedUserAgent::Step::parse(text);
        if (!step) return throwIllegalArgument(env, "not a step: " + text);
        script.push_back(std::move(*step));
    }
    const std::lock_guard<std::mutex> hold(g_lock);
    if (g_agent) g_agent->script(std::move(script));
}

JNIEXPORT void JNICALL
Java_com_brimforge_runtime_installer_platform_macos_ScriptedUser_setKeyWindow(JNIEnv* env, jclass, jstring title) {
    std::shared_ptr<appkit::NSWindow> window;
    if (title) {
        window = std::make_shared<appkit::NSWindow>();
        window->setTitle(platform::utf8ToUTF16(utf8(env, title)));
    }
    const std::lock_guard<std::mutex> hold(g_lock);
    if (g_agent) g_agent->setKeyWindow(window);
}

JNIEXPORT jobjectArray JNICALL Java_com_brimforge_runtime_installer_platform_macos_ScriptedUser_takeRecord(JNIEnv* env,
                                                                                                          jclass) {
    // The agent records inside main-queue blocks: let them finish first.
    syncMainQueue();
    std::vector<std::string> lines;
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        if (g_agent) lines = g_agent->takeRecord();
    }
    const jclass stringClass = env->FindClass("java/lang/String");
    const jobjectArray array = env->NewObjectArray(static_cast<jsize>(lines.size()), stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    if (!array) return nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::u16string text = platform::utf8ToUTF16(platform::decodeUTF8Lossy(lines[i]));
        const jstring line = env->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
        if (!line) return nullptr;
        env->SetObjectArrayElement(array, static_cast<jsize>(i), line);
        env->DeleteLocalRef(line);
    }
    return array;
}

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_ScriptedUser_syncMainQueue(JNIEnv*, jclass) {
    syncMainQueue();
}

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_ScriptedUser_holdMainQueue(JNIEnv*, jclass) {
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        g_held = true;
    }
    dispatch::dispatch_async(dispatch::dispatch_get_main_queue(), [] {
        std::unique_lock<std::mutex> hold(g_lock);
        g_released.wait(hold, [] { return !g_held; });
    });
}

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_ScriptedUser_releaseMainQueue(JNIEnv*,
                                                                                                        jclass) {
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        g_held = false;
    }
    g_released.notify_all();
}

}  // extern "C"
