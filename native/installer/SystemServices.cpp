// The natives of MacFileSystem, MacosEnvHelper and MacProcessHelper, and the
// exported SendAppleEventToSystemProcess.
#include "native/installer/SystemServices.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "native/installer/JavaValues.h"
#include "platform/coreservices/AppleEvents.h"
#include "platform/coreservices/LaunchServices.h"
#include "platform/workspace/NSWorkspace.h"

namespace {

using bfg::guarded;
using bfg::LocalRef;

constexpr platform::ProcessSerialNumber kPSNOfSystemProcess{0, platform::kSystemProcess};

}  // namespace

extern "C" {

JNIEXPORT std::int32_t SendAppleEventToSystemProcess(std::uint32_t eventToSend) noexcept {
    return guarded("SendAppleEventToSystemProcess", std::int32_t{platform::errAEEventFailed}, [&]() -> std::int32_t {
        platform::AEAddressDesc target;
        platform::AppleEvent event;
        platform::AppleEvent reply;
        platform::OSErr error = platform::AECreateDesc(platform::typeProcessSerialNumber, &kPSNOfSystemProcess,
                                                       sizeof kPSNOfSystemProcess, &target);
        if (error) return error;
        error = platform::AECreateAppleEvent(platform::kCoreEventClass, eventToSend, &target,
                                             platform::kAutoGenerateReturnID, platform::kAnyTransactionID, &event);
        platform::AEDisposeDesc(&target);
        if (error) return error;
        const platform::OSStatus sent =
            platform::AESendMessage(&event, &reply, platform::kAENoReply, platform::kAEDefaultTimeout);
        platform::AEDisposeDesc(&event);
        platform::AEDisposeDesc(&reply);
        return sent;
    });
}

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_MacFileSystem_notifyChange0(JNIEnv* env,
                                                                                                        jclass,
                                                                                                        jstring path) {
    guarded("notifyChange0", [&] {
        const std::optional<std::u16string> text = getString(env, path);
        platform::NSWorkspace::sharedWorkspace().noteFileSystemChanged(text ? *text : std::u16string());
    });
}

JNIEXPORT jint JNICALL
Java_com_brimforge_runtime_installer_platform_macos_MacFileSystem_setDefaultHandlerForURLScheme0(
    JNIEnv* env, jclass, jstring scheme, jstring handlerBundleId) {
    return guarded("setDefaultHandlerForURLScheme0", jint{platform::paramErr}, [&]() -> jint {
        const std::optional<std::u16string> schemeText = getString(env, scheme);
        const std::optional<std::u16string> handler = getString(env, handlerBundleId);
        if (!schemeText || !handler) return platform::paramErr;
        return platform::LSSetDefaultHandlerForURLScheme(*schemeText, *handler);
    });
}

JNIEXPORT jboolean JNICALL Java_com_brimforge_runtime_installer_platform_macos_MacosEnvHelper_setEnv0(JNIEnv* env,
                                                                                                       jclass,
                                                                                                       jstring name,
                                                                                                       jstring value) {
    return guarded("setEnv0", jboolean{JNI_FALSE}, [&]() -> jboolean {
        // A text the system's bytes cannot hold exactly (U+0000, an
        // unpaired surrogate) would set another variable or another value
        // than the caller gave.
        const bfg::SystemString variable = bfg::getSystemString(env, name);
        if (variable.status != bfg::SystemString::kText || variable.bytes.empty() ||
            variable.bytes.find('=') != std::string::npos) {
            return JNI_FALSE;
        }
        if (!value) return ::unsetenv(variable.bytes.c_str()) == 0 ? JNI_TRUE : JNI_FALSE;
        const bfg::SystemString text = bfg::getSystemString(env, value);
        if (text.status != bfg::SystemString::kText) return JNI_FALSE;
        return ::setenv(variable.bytes.c_str(), text.bytes.c_str(), 1) == 0 ? JNI_TRUE : JNI_FALSE;
    });
}

JNIEXPORT jobjectArray JNICALL
Java_com_brimforge_runtime_installer_platform_macos_MacProcessHelper_getGuiProcesses0(JNIEnv* env, jclass,
                                                                                       jclass processClass) {
    return guarded("getGuiProcesses0", static_cast<jobjectArray>(nullptr), [&]() -> jobjectArray {
        if (!processClass) return nullptr;
        const jmethodID constructor =
            env->GetMethodID(processClass, "<init>", "(ILjava/lang/String;Ljava/lang/String;Z)V");
        if (!constructor) return nullptr;  // NoSuchMethodError pending for the caller

        const std::vector<platform::NSRunningApplication> applications =
            platform::NSWorkspace::sharedWorkspace().runningApplications();
        if (applications.size() > static_cast<std::size_t>(std::numeric_limits<jsize>::max())) return nullptr;
        const jobjectArray array =
            env->NewObjectArray(static_cast<jsize>(applications.size()), processClass, nullptr);
        if (!array) return nullptr;
        auto text = [env](const std::optional<std::string>& value) {
            return value ? bfg::newJavaString(env, std::string_view(*value)) : nullptr;
        };
        jsize index = 0;
        for (const platform::NSRunningApplication& application : applications) {
            const LocalRef<jstring> bundleIdentifier(env, text(application.bundleIdentifier));
            if (env->ExceptionCheck()) break;
            const LocalRef<jstring> name(env, text(application.localizedName));
            if (env->ExceptionCheck()) break;
            const bool background =
                application.activationPolicy == platform::NSApplicationActivationPolicy::prohibited;
            const LocalRef<jobject> process(
                env, env->NewObject(processClass, constructor, static_cast<jint>(application.processIdentifier),
                                    name.get(), bundleIdentifier.get(), background ? JNI_TRUE : JNI_FALSE));
            if (!process) break;  // the constructor threw, or out of memory
            env->SetObjectArrayElement(array, index++, process.get());
        }
        if (env->ExceptionCheck()) {
            env->DeleteLocalRef(array);
            return nullptr;
        }
        return array;
    });
}

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_MacProcessHelper_reboot0(JNIEnv*, jclass) {
    // Nothing to report: the status is not Java's concern.
    guarded("reboot0", [] { SendAppleEventToSystemProcess(platform::kAERestart); });
}

}  // extern "C"
