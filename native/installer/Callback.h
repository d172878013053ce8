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

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/dispatch/Dispatch.h"

namespace bfgnative {

// The callback object of one dialog, held through a JNI global reference
// from the entry of the native method until the result has been delivered.
// Move-only. Not thread-safe: one thread uses it at a time.
class DialogCallback {
public:
    // Holds `callback` (may be null) through a new global reference.
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

    // Builds the arguments of the call in the order of the signature; the
    // references it makes are freed after the delivery.
    using ArgumentBuilder = std::function<std::vector<jvalue>(JNIEnv*)>;

    // Result delivery, on the thread where the dialog ended: obtains the JNI
    // environment (GetEnv, never attaching), gets the callback's class, looks
    // up "callback" with `signature`, builds the arguments and calls it,
    // printing and clearing an exception it throws. Every local reference
    // made here is freed before it returns, and no Java exception is left
    // pending. Afterwards the global reference is released, except when no
    // environment could be obtained.
    Delivery deliver(const char* signature, const ArgumentBuilder& build) noexcept;

private:
    JavaVM* vm_;
    jobject ref_;
};

// The dialog call convention. On the calling Java thread: holds `callback`
// (first JNI call), runs convert(env) to turn the other Java arguments into
// values that own their contents, then submits one block to the main queue
// that runs show(std::move(values), std::move(callback)) there, and returns.
// When conversion leaves a Java exception pending (out of memory), nothing is
// submitted, the reference is released and the exception reaches the caller.
// The values must be copyable. Throws what submitting throws (out of
// memory); the reference is then released.
template <class Convert, class Show>
void postDialog(JavaVM* vm, JNIEnv* env, jobject callback, Convert&& convert, Show show) {
    auto held = std::make_shared<DialogCallback>(vm, env, callback);
    auto values = std::forward<Convert>(convert)(env);
    if (env->ExceptionCheck()) return;
    platform::dispatch::dispatch_async(
        platform::dispatch::dispatch_get_main_queue(),
        [held, values = std::move(values), show = std::move(show)]() mutable {
            show(std::move(values), std::move(*held));
        });
}

}  // namespace bfgnative
