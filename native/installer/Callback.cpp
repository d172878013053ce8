#include "native/installer/Callback.h"

#include "native/installer/JavaValues.h"
#include "platform/foundation/Log.h"

namespace bfgnative {
namespace {

JNIEnv* currentEnv(JavaVM* vm) noexcept {
    if (!vm) return nullptr;
    void* env = nullptr;
    if (vm->GetEnv(&env, JNI_VERSION_1_6) != JNI_OK) return nullptr;
    return static_cast<JNIEnv*>(env);
}

}  // namespace

DialogCallback::DialogCallback(JavaVM* vm, JNIEnv* env, jobject callback) noexcept
    : vm_(vm), ref_(callback && !env->ExceptionCheck() ? env->NewGlobalRef(callback) : nullptr) {}

DialogCallback::DialogCallback(DialogCallback&& other) noexcept : vm_(other.vm_), ref_(other.ref_) {
    other.ref_ = nullptr;
}

DialogCallback::~DialogCallback() {
    if (!ref_) return;
    if (JNIEnv* env = currentEnv(vm_)) env->DeleteGlobalRef(ref_);
}

DialogCallback::Delivery DialogCallback::deliverCall(const char* signature, Call call, const void* context) noexcept {
    JNIEnv* env = currentEnv(vm_);
    if (!env) {
        platform::NSLog("Could not get JNI env");
        return Delivery::noEnv;
    }
    // The main queue's thread never returns to Java: whatever local
    // references the delivery makes are freed with this frame.
    if (env->PushLocalFrame(16) != 0) {
        env->ExceptionDescribe();
        return Delivery::noArguments;
    }
    const Delivery delivery = bfg::guarded("result delivery", Delivery::noArguments, [&] {
        const jclass cls = ref_ ? env->GetObjectClass(ref_) : nullptr;
        if (!cls) {
            platform::NSLog("Callback class not found");
            return Delivery::noClass;
        }
        const jmethodID method = env->GetMethodID(cls, "callback", signature);
        if (!method) {
            // No exception is left pending on a thread that never returns to Java.
            env->ExceptionClear();
            platform::NSLog("Callback method not found");
            return Delivery::noMethod;
        }
        if (!call(context, env, ref_, method)) {
            env->ExceptionDescribe();
            return Delivery::noArguments;
        }
        if (env->ExceptionCheck()) {
            env->ExceptionDescribe();
            return Delivery::threw;
        }
        return Delivery::delivered;
    });
    if (env->ExceptionCheck()) env->ExceptionDescribe();  // left by a failed argument step
    env->PopLocalFrame(nullptr);
    if (ref_) {
        env->DeleteGlobalRef(ref_);
        ref_ = nullptr;
    }
    return delivery;
}

}  // namespace bfgnative
