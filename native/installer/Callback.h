#pragma once
// The dialog call convention and result delivery, shared by the alert and the
// file chooser.
//
// A dialog's native method runs postDialog on the calling Java thread: it
// takes a global reference to the callback object (its first JNI call),
// converts the other Java arguments there, submits one block to the main
// queue and returns at once. On the main queue's thread the block hands the
// converted values and the DialogCallback to the dialog, which keeps the
// DialogCallback until the dialog ends and then calls deliver() once.

#include <jni.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "native/installer/JavaValues.h"
#include "platform/dispatch/Dispatch.h"

namespace bfgnative {

// A JNI method signature as a template argument: deliver<"(IZ)V">(...).
template <std::size_t N>
struct JavaSignature {
    consteval JavaSignature(const char (&text)[N]) { std::copy_n(text, N, chars); }
    constexpr std::string_view view() const { return {chars, N - 1}; }
    char chars[N];
};

namespace signature {

// The length of the field descriptor that `s` starts with; 0 when it starts
// with none.
constexpr std::size_t descriptorLength(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == '[') ++i;
    if (i == s.size()) return 0;
    // Indices only: a sanitizer build cannot compare pointers into the
    // signature, a template argument, in a constant expression.
    if (s[i] == 'L') {
        std::size_t end = i + 1;
        while (end < s.size() && s[end] != ';') ++end;
        return end == s.size() || end == i + 1 ? 0 : end + 1;
    }
    for (const char primitive : {'Z', 'B', 'C', 'S', 'I', 'J', 'F', 'D'}) {
        if (s[i] == primitive) return i + 1;
    }
    return 0;
}

// Whether a value of the JNI type T is the argument for a parameter of the
// field descriptor `d`. bool stands for jboolean; a plain jobject fits any
// reference parameter, the other reference types only their own kind.
template <class T>
constexpr bool fits(std::string_view d) {
    if constexpr (std::is_same_v<T, jboolean> || std::is_same_v<T, bool>) return d == "Z";
    else if constexpr (std::is_same_v<T, jbyte>) return d == "B";
    else if constexpr (std::is_same_v<T, jchar>) return d == "C";
    else if constexpr (std::is_same_v<T, jshort>) return d == "S";
    else if constexpr (std::is_same_v<T, jint>) return d == "I";
    else if constexpr (std::is_same_v<T, jlong>) return d == "J";
    else if constexpr (std::is_same_v<T, jfloat>) return d == "F";
    else if constexpr (std::is_same_v<T, jdouble>) return d == "D";
    else if constexpr (std::is_same_v<T, jobject>) return d[0] == 'L' || d[0] == '[';
    else if constexpr (std::is_same_v<T, jstring>) return d == "Ljava/lang/String;";
    else if constexpr (std::is_same_v<T, jobjectArray>) return d[0] == '[' && (d[1] == 'L' || d[1] == '[');
    else if constexpr (std::is_same_v<T, jbooleanArray>) return d == "[Z";
    else if constexpr (std::is_same_v<T, jbyteArray>) return d == "[B";
    else if constexpr (std::is_same_v<T, jcharArray>) return d == "[C";
    else if constexpr (std::is_same_v<T, jshortArray>) return d == "[S";
    else if constexpr (std::is_same_v<T, jintArray>) return d == "[I";
    else if constexpr (std::is_same_v<T, jlongArray>) return d == "[J";
    else if constexpr (std::is_same_v<T, jfloatArray>) return d == "[F";
    else if constexpr (std::is_same_v<T, jdoubleArray>) return d == "[D";
    else return false;
}

// Whether `sig` goes on with a parameter that a value of type T fits; if
// so, that parameter is taken off `sig`.
template <class T>
constexpr bool takeParameter(std::string_view& sig) {
    const std::size_t n = descriptorLength(sig);
    if (n == 0 || !fits<T>(sig.substr(0, n))) return false;
    sig.remove_prefix(n);
    return true;
}

template <class Arguments>
struct VoidMethodTakes;

template <class... Args>
struct VoidMethodTakes<std::tuple<Args...>> {
    static constexpr bool in(std::string_view sig) {
        if (sig.empty() || sig.front() != '(') return false;
        sig.remove_prefix(1);
        return (takeParameter<Args>(sig) && ...) && sig == ")V";
    }
};

}  // namespace signature

// Whether `sig` is the signature of a void method whose parameters are, one
// for one and in order, of the types of the std::tuple Arguments.
template <class Arguments>
consteval bool voidMethodTakes(std::string_view sig) {
    return signature::VoidMethodTakes<Arguments>::in(sig);
}

// The callback object of one dialog, held through a JNI global reference
// from the entry of the native method until the result has been delivered.
// Move-only. Not thread-safe: one thread uses it at a time.
class DialogCallback {
public:
    // Holds `callback` (may be null) through a new global reference; holds
    // nothing when a Java exception is pending.
    DialogCallback(JavaVM* vm, JNIEnv* env, jobject callback) noexcept;
    // Releases the reference if still held and this thread has a JNI
    // environment (a dialog that ended without a result).
    ~DialogCallback();
    DialogCallback(DialogCallback&& other) noexcept;
    DialogCallback& operator=(DialogCallback&&) = delete;
    DialogCallback(const DialogCallback&) = delete;
    DialogCallback& operator=(const DialogCallback&) = delete;

    JavaVM* vm() const noexcept { return vm_; }
    // The global reference, null once delivered (or for a null callback).
    jobject ref() const noexcept { return ref_; }

    enum class Delivery {
        delivered,       // "callback" ran and returned normally
        threw,           // "callback" ran and threw; the exception was printed and cleared
        noEnv,           // logged "Could not get JNI env"; the reference stays held
        noClass,         // logged "Callback class not found" (also for a null callback)
        noMethod,        // logged "Callback method not found"
        noArguments,     // building the arguments failed; the exception was printed and cleared
    };

    // Result delivery, on the thread where the dialog ended: obtains the JNI
    // environment (GetEnv, never attaching), gets the callback's class, looks
    // up "callback" with Signature, runs build(env) and calls the method with
    // the values of the std::tuple it returns, printing and clearing an
    // exception the method throws. Whether the tuple's types are the
    // parameters of Signature, in order, and whether it returns void, is
    // checked at compile time (bool passes for jboolean), for example
    //
    //     result.deliver<"(IZ)V">([&](JNIEnv*) { return std::tuple{jint(index), suppressed}; });
    //
    // When build leaves a Java exception pending (a builder that ran out of
    // memory), or throws, the method is not called. Every local reference
    // made here, by build too, is freed before it returns, and no Java
    // exception is left pending. Afterwards the global reference is
    // released, except when no environment could be obtained.
    template <JavaSignature Signature, class Build>
    Delivery deliver(Build build) noexcept {
        using Arguments = std::invoke_result_t<Build&, JNIEnv*>;
        static_assert(voidMethodTakes<Arguments>(Signature.view()),
                      "the values built do not match the callback's signature");
        return deliverWith(Signature.chars, [&build](JNIEnv* env, jobject receiver, jmethodID method) {
            const Arguments arguments = build(env);
            if (env->ExceptionCheck()) return false;
            std::apply(
                [&](const auto&... values) {
                    const jvalue args[] = {toJValue(values)..., jvalue{}};
                    env->CallVoidMethodA(receiver, method, args);
                },
                arguments);
            return true;
        });
    }

private:
    // Builds the arguments and calls the method; false when building left
    // an exception pending (nothing called).
    using Call = bool (*)(const void* context, JNIEnv*, jobject receiver, jmethodID);

    template <class Invoke>
    Delivery deliverWith(const char* signature, const Invoke& invoke) noexcept {
        return deliverCall(
            signature,
            [](const void* context, JNIEnv* env, jobject receiver, jmethodID method) {
                return (*static_cast<const Invoke*>(context))(env, receiver, method);
            },
            &invoke);
    }
    Delivery deliverCall(const char* signature, Call call, const void* context) noexcept;

    template <class T>
    static jvalue toJValue(T value) noexcept {
        jvalue v{};
        if constexpr (std::is_same_v<T, bool>) v.z = value ? JNI_TRUE : JNI_FALSE;
        else if constexpr (std::is_same_v<T, jboolean>) v.z = value;
        else if constexpr (std::is_same_v<T, jbyte>) v.b = value;
        else if constexpr (std::is_same_v<T, jchar>) v.c = value;
        else if constexpr (std::is_same_v<T, jshort>) v.s = value;
        else if constexpr (std::is_same_v<T, jint>) v.i = value;
        else if constexpr (std::is_same_v<T, jlong>) v.j = value;
        else if constexpr (std::is_same_v<T, jfloat>) v.f = value;
        else if constexpr (std::is_same_v<T, jdouble>) v.d = value;
        else v.l = value;
        return v;
    }

    JavaVM* vm_;
    jobject ref_;
};

// The dialog call convention. On the calling Java thread: holds `callback`
// (first JNI call), runs convert(env) to turn the other Java arguments into
// values that own their contents, then submits one block to the main queue
// that runs show(std::move(values), std::move(callback)) there, and returns.
// convert may chain the conversions of JavaValues.h without checking each:
// after a failed one the rest do nothing. When a Java exception is pending
// on entry or after conversion (out of memory), nothing is submitted, the
// reference is released and the exception reaches the caller.
//
// show runs inside the entry guard on the main queue: an exception it throws
// is logged ("dialog failed: ...") and the callback is released, never
// called. The values must be copyable. Throws what submitting throws (out of
// memory); the reference is then released.
template <class Convert, class Show>
void postDialog(JavaVM* vm, JNIEnv* env, jobject callback, Convert&& convert, Show show) {
    if (env->ExceptionCheck()) return;
    auto held = std::make_shared<DialogCallback>(vm, env, callback);
    auto values = std::forward<Convert>(convert)(env);
    if (env->ExceptionCheck()) return;
    platform::dispatch::dispatch_async(
        platform::dispatch::dispatch_get_main_queue(),
        [held, values = std::move(values), show = std::move(show)]() mutable {
            bfg::guarded("dialog", [&] { show(std::move(values), std::move(*held)); });
        });
}

}  // namespace bfgnative
