// The natives of MacAuthorization: one process-wide authorization for the
// administrator right, and tools run under it.
//
// The authorization is held between calls. The Java caller serialises
// create0 and free0 with every other method of the class; the reference is
// atomic all the same, and a reference freed under a running call is simply
// invalid to the platform.
//
// Bytes bound for the system (the tool's path, its arguments, the prompt)
// are standard UTF-8 (getSystemString), not the VM's modified UTF-8, so a
// path holding a supplementary character names the file it names in Java;
// a text with U+0000 or an unpaired surrogate is refused (-60001).
#include <jni.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "native/installer/JavaValues.h"
#include "native/installer/Library.h"
#include "platform/foundation/Log.h"
#include "platform/security/Authorization.h"

namespace {

using bfg::guarded;
using bfg::LocalRef;
using platform::OSStatus;

constexpr platform::AuthorizationFlags kCopyRightsFlags = platform::kAuthorizationFlagInteractionAllowed |
                                                           platform::kAuthorizationFlagExtendRights |
                                                           platform::kAuthorizationFlagPreAuthorize;  // 0x13

std::atomic<platform::AuthorizationRef> g_authorizationRef{nullptr};

OSStatus freeAuthorization() noexcept {
    const platform::AuthorizationRef ref = g_authorizationRef.exchange(nullptr);
    if (!ref) return platform::errAuthorizationSuccess;
    return platform::AuthorizationFree(ref, platform::kAuthorizationFlagDefaults);
}

// The tool's path and argument vector: one slot per Java argument, a null
// element giving a null slot (which ends the list the tool receives), and
// the terminating null. Freed in the order slots, slot array, path.
struct ToolCall {
    std::string path;
    std::vector<char*> argv;
    std::vector<std::unique_ptr<std::string>> arguments;
};

// Fills `call`; a status for the caller's errors. A text the system cannot
// hold exactly (U+0000, an unpaired surrogate) would name another file or
// argument, so it is refused rather than passed on.
OSStatus buildCall(JNIEnv* env, jstring toolPath, jobjectArray arguments, ToolCall& call) {
    if (!toolPath || !arguments) {
        platform::NSLog("MacAuthorization: null tool path or arguments");
        return platform::errAuthorizationInvalidSet;
    }
    bfg::SystemString path = bfg::getSystemString(env, toolPath);
    if (path.status == bfg::SystemString::kRefused) {
        platform::NSLog("MacAuthorization: tool path holds U+0000 or an unpaired surrogate");
        return platform::errAuthorizationInvalidSet;
    }
    if (path.status != bfg::SystemString::kText) return platform::errAuthorizationInternal;  // exception pending
    call.path = std::move(path.bytes);
    const jsize count = env->GetArrayLength(arguments);
    call.argv.reserve(static_cast<std::size_t>(count) + 1);
    for (jsize i = 0; i < count; ++i) {
        const LocalRef<jstring> element(env, static_cast<jstring>(env->GetObjectArrayElement(arguments, i)));
        if (env->ExceptionCheck()) return platform::errAuthorizationInternal;
        if (!element) {
            call.argv.push_back(nullptr);
            continue;
        }
        bfg::SystemString argument = bfg::getSystemString(env, element.get());
        if (argument.status == bfg::SystemString::kRefused) {
            platform::NSLog("MacAuthorization: argument %d holds U+0000 or an unpaired surrogate", i);
            return platform::errAuthorizationInvalidSet;
        }
        if (argument.status != bfg::SystemString::kText) return platform::errAuthorizationInternal;
        call.arguments.push_back(std::make_unique<std::string>(std::move(argument.bytes)));
        call.argv.push_back(call.arguments.back()->data());
    }
    call.argv.push_back(nullptr);
    return platform::errAuthorizationSuccess;
}

OSStatus run(JNIEnv* env, jstring toolPath, jobjectArray arguments, std::FILE** pipe) {
    ToolCall call;
    if (const OSStatus status = buildCall(env, toolPath, arguments, call)) return status;
    return platform::AuthorizationExecuteWithPrivileges(g_authorizationRef.load(), call.path.c_str(),
                                                        platform::kAuthorizationFlagDefaults, call.argv.data(),
                                                        pipe);
}

struct CloseStream {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};

// Everything the tool writes until it closes its output, decoded once at the
// end, so a character split between two reads stays whole. Nothing is
// written to the tool, so its input is ended first: a tool that reads its
// input sees the end of it instead of waiting for ever, and with it the
// Java thread.
std::string readToEnd(std::FILE* stream) {
    std::string output;
    const int fd = ::fileno(stream);
    ::shutdown(fd, SHUT_WR);
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output.append(buffer, static_cast<std::size_t>(n));
    }
    return output;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_brimforge_runtime_installer_platform_macos_MacAuthorization_create0(JNIEnv* env,
                                                                                                     jclass,
                                                                                                     jstring prompt) {
    return guarded("create0", jint{platform::errAuthorizationInternal}, [&]() -> jint {
        if (g_authorizationRef.load()) return platform::errAuthorizationSuccess;
        bfg::SystemString promptText = bfg::getSystemString(env, prompt);
        if (promptText.status == bfg::SystemString::kRefused) {
            platform::NSLog("MacAuthorization: prompt holds U+0000 or an unpaired surrogate");
            return platform::errAuthorizationInvalidSet;
        }
        if (promptText.status == bfg::SystemString::kFailed) return platform::errAuthorizationInternal;
        const bool hasPrompt = promptText.status == bfg::SystemString::kText;

        platform::AuthorizationItem promptItem{platform::kAuthorizationEnvironmentPrompt, 0, nullptr, 0};
        platform::AuthorizationEnvironment environment{1, &promptItem};
        if (hasPrompt) {
            promptItem.valueLength = promptText.bytes.size();
            promptItem.value = promptText.bytes.data();
        }
        const platform::AuthorizationEnvironment* maybeEnvironment = hasPrompt ? &environment : nullptr;

        platform::AuthorizationRef ref = nullptr;
        OSStatus status = platform::AuthorizationCreate(nullptr, maybeEnvironment,
                                                        platform::kAuthorizationFlagDefaults, &ref);
        if (status == platform::errAuthorizationSuccess) {
            g_authorizationRef.store(ref);
            platform::AuthorizationItem right{"system.privilege.admin", 0, nullptr, 0};
            const platform::AuthorizationRights rights{1, &right};
            status = platform::AuthorizationCopyRights(ref, &rights, maybeEnvironment, kCopyRightsFlags, nullptr);
        }
        if (status != platform::errAuthorizationSuccess) freeAuthorization();
        return status;
    });
}

JNIEXPORT jint JNICALL Java_com_brimforge_runtime_installer_platform_macos_MacAuthorization_free0(JNIEnv*, jclass) {
    return guarded("free0", jint{platform::errAuthorizationInternal}, [] { return jint{freeAuthorization()}; });
}

JNIEXPORT jint JNICALL Java_com_brimforge_runtime_installer_platform_macos_MacAuthorization_execute0(
    JNIEnv* env, jclass, jstring toolPath, jobjectArray arguments) {
    return guarded("execute0", jint{platform::errAuthorizationInternal},
                   [&] { return jint{run(env, toolPath, arguments, nullptr)}; });
}

JNIEXPORT jstring JNICALL Java_com_brimforge_runtime_installer_platform_macos_MacAuthorization_executeAndWait0(
    JNIEnv* env, jclass, jstring toolPath, jobjectArray arguments) {
    return guarded("executeAndWait0", static_cast<jstring>(nullptr), [&]() -> jstring {
        std::FILE* pipe = nullptr;
        const OSStatus status = run(env, toolPath, arguments, &pipe);
        if (env->ExceptionCheck()) {
            if (pipe) std::fclose(pipe);
            return nullptr;
        }
        if (status != platform::errAuthorizationSuccess) {
            char reply[200];
            std::snprintf(reply, sizeof reply, "%s%d", FAILURE_MARKER, static_cast<int>(status));
            return bfg::newJavaString(env, std::string_view(reply));
        }
        const std::unique_ptr<std::FILE, CloseStream> stream(pipe);
        const std::string output = readToEnd(stream.get());
        return bfg::newJavaString(env, std::string_view(output));
    });
}

}  // extern "C"
