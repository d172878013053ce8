#pragma once
// Java value conversions, the entry-point guard and scoped local references.
// Both native libraries compile JavaValues.cpp in; neither links the other.
//
// The conversions are exported with plain (unmangled) names and take the JNI
// environment of the calling thread first. Their results own their contents:
// nothing refers back to the Java values, and nothing needs releasing except
// the malloc'd copy from getStringChars. None of them throws. When the VM
// runs out of memory while a value is read, the result is empty (none for the
// optional ones) and the VM's OutOfMemoryError is pending for the caller to
// see with ExceptionCheck.
//
// Every conversion and builder here returns its empty value (none, null,
// empty) at once, making no other JNI call, when a Java exception is already
// pending. So a native method may chain them and check for an exception once
// at the end: after the first failure the rest do nothing.

#include <jni.h>

#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Log.h"

extern "C" {

// The UTF-16 code units of `string`, exactly as Java holds them (no
// normalisation; U+0000 and surrogates kept); none for a null reference.
JNIEXPORT std::optional<std::u16string> getString(JNIEnv* env, jstring string) noexcept;

// The strings of `array`, in order. The array should be non-null and hold no
// null element: a null array gives an empty vector and a null element an
// empty string in its place (so positions still match), both logged. Each
// element's local reference is deleted before the next is read, so arrays of
// any length are safe.
JNIEXPORT std::vector<std::u16string> getStringArray(JNIEnv* env, jobjectArray array) noexcept;

// A malloc'd, NUL-terminated copy of the modified UTF-8 form of `string`
// (U+0000 as the two bytes C0 80, a supplementary character as two
// three-byte surrogate sequences); the caller frees it with free(). NULL for
// a null reference.
JNIEXPORT char* getStringChars(JNIEnv* env, jstring string) noexcept;

// The elements of `array`, in order. The array should be non-null; a null
// one gives an empty vector, logged.
JNIEXPORT std::vector<bool> getBooleanArray(JNIEnv* env, jbooleanArray array) noexcept;

// A copy of the bytes of `array`; none for a null reference.
JNIEXPORT std::optional<std::vector<std::uint8_t>> getData(JNIEnv* env, jbyteArray array) noexcept;

}  // extern "C"

namespace bfg {

// Runs `body` and returns its result. A C++ exception never leaves: it is
// logged with `entry` (the name of the exported function) and `failure` is
// returned instead. Every exported function body runs inside one guard.
template <class R, class Body>
R guarded(const char* entry, R failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::exception& e) {
        platform::NSLog("%@ failed: %@", entry, e.what());
    } catch (...) {
        platform::NSLog("%@ failed: unknown exception", entry);
    }
    return failure;
}

template <class Body>
void guarded(const char* entry, Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (const std::exception& e) {
        platform::NSLog("%@ failed: %@", entry, e.what());
    } catch (...) {
        platform::NSLog("%@ failed: unknown exception", entry);
    }
}

// A Java string as bytes bound for the system (file names, arguments,
// environment variables, the prompt), in standard UTF-8: a supplementary
// character as one four-byte sequence (getStringChars gives modified UTF-8
// instead, which names other files). A text the system's bytes cannot hold
// exactly is refused rather than passed on changed: U+0000 would cut it
// short where the system reads it, and an unpaired surrogate has no UTF-8
// form (U+FFFD in its place would name another file or variable).
struct SystemString {
    enum Status {
        kText,     // `bytes` holds the text
        kNull,     // a null reference
        kRefused,  // it holds U+0000 or an unpaired surrogate
        kFailed,   // a Java exception is pending (before the call, or the VM's OutOfMemoryError during it)
    };
    Status status = kFailed;
    std::string bytes;
};
SystemString getSystemString(JNIEnv* env, jstring string) noexcept;

// A new Java string (a local reference) holding exactly the UTF-16 code
// units of `text`. Built with NewString: NewStringUTF expects modified UTF-8
// and would corrupt supplementary characters and U+0000 in standard UTF-8.
// Null when the VM is out of memory (its exception pending).
jstring newJavaString(JNIEnv* env, std::u16string_view text) noexcept;

// The same for standard UTF-8 text; ill-formed bytes become U+FFFD.
jstring newJavaString(JNIEnv* env, std::string_view utf8) noexcept;

// A new Java String[] (a local reference) holding `texts` in order, each
// element built with newJavaString. Each element's local reference is
// deleted once stored, so any length is safe in a small local frame. Null
// when the array cannot be built: the VM is out of memory (its exception
// pending) or a text is too long for Java (logged).
jobjectArray newStringArray(JNIEnv* env, std::span<const std::u16string> texts) noexcept;

// A new Java boolean[] (a local reference) holding `values` in order; null
// when the VM is out of memory (its exception pending).
jbooleanArray newBooleanArray(JNIEnv* env, const std::vector<bool>& values) noexcept;

// A JNI local reference deleted when the scope ends.
template <class T>
class LocalRef {
public:
    LocalRef(JNIEnv* env, T ref) noexcept : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;

    T get() const noexcept { return ref_; }
    explicit operator bool() const noexcept { return ref_ != nullptr; }

private:
    JNIEnv* env_;
    T ref_;
};

}  // namespace bfg
