#include "native/installer/JavaValues.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "platform/foundation/UTF8.h"

namespace {

using bfg::guarded;
using bfg::LocalRef;

// The string's characters, pinned or copied by the VM, released when the scope ends.
class StringChars {
public:
    StringChars(JNIEnv* env, jstring string) noexcept
        : env_(env), string_(string), chars_(env->GetStringChars(string, nullptr)) {}
    ~StringChars() {
        if (chars_) env_->ReleaseStringChars(string_, chars_);
    }
    StringChars(const StringChars&) = delete;
    StringChars& operator=(const StringChars&) = delete;

    const jchar* get() const noexcept { return chars_; }

private:
    JNIEnv* env_;
    jstring string_;
    const jchar* chars_;
};

class StringUTFChars {
public:
    StringUTFChars(JNIEnv* env, jstring string) noexcept
        : env_(env), string_(string), chars_(env->GetStringUTFChars(string, nullptr)) {}
    ~StringUTFChars() {
        if (chars_) env_->ReleaseStringUTFChars(string_, chars_);
    }
    StringUTFChars(const StringUTFChars&) = delete;
    StringUTFChars& operator=(const StringUTFChars&) = delete;

    const char* get() const noexcept { return chars_; }

private:
    JNIEnv* env_;
    jstring string_;
    const char* chars_;
};

// `size` as the length of a Java string or array; throws when it is too long for one.
jsize javaLength(std::size_t size) {
    if (size > static_cast<std::size_t>(std::numeric_limits<jsize>::max())) {
        throw std::length_error("too long for a Java string or array");
    }
    return static_cast<jsize>(size);
}

std::optional<std::u16string> readString(JNIEnv* env, jstring string) {
    if (!string) return std::nullopt;
    const jsize length = env->GetStringLength(string);
    const StringChars chars(env, string);
    if (!chars.get()) return std::nullopt;
    std::u16string text(static_cast<std::size_t>(length), u'\0');
    for (jsize i = 0; i < length; ++i) text[static_cast<std::size_t>(i)] = static_cast<char16_t>(chars.get()[i]);
    return text;
}

// Whether `text` has an exact form in the system's bytes: no U+0000, and
// every surrogate one of a pair.
bool systemCanHold(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\0' || (c >= 0xDC00 && c <= 0xDFFF)) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        }
    }
    return true;
}

}  // namespace

extern "C" {

JNIEXPORT std::optional<std::u16string> getString(JNIEnv* env, jstring string) noexcept {
    return guarded("getString", std::optional<std::u16string>(), [&]() -> std::optional<std::u16string> {
        if (env->ExceptionCheck()) return std::nullopt;
        return readString(env, string);
    });
}

JNIEXPORT std::vector<std::u16string> getStringArray(JNIEnv* env, jobjectArray array) noexcept {
    return guarded("getStringArray", std::vector<std::u16string>(), [&] {
        std::vector<std::u16string> strings;
        if (env->ExceptionCheck()) return strings;
        if (!array) {
            platform::NSLog("getStringArray: null array read as empty");
            return strings;
        }
        const jsize length = env->GetArrayLength(array);
        strings.reserve(static_cast<std::size_t>(length));
        for (jsize i = 0; i < length; ++i) {
            const LocalRef<jstring> element(env, static_cast<jstring>(env->GetObjectArrayElement(array, i)));
            if (env->ExceptionCheck()) return std::vector<std::u16string>();
            if (!element) {
                platform::NSLog("getStringArray: null element %i read as an empty string", i);
                strings.emplace_back();
                continue;
            }
            std::optional<std::u16string> text = readString(env, element.get());
            if (!text) return std::vector<std::u16string>();  // out of memory, exception pending
            strings.push_back(std::move(*text));
        }
        return strings;
    });
}

JNIEXPORT char* getStringChars(JNIEnv* env, jstring string) noexcept {
    return guarded("getStringChars", static_cast<char*>(nullptr), [&]() -> char* {
        if (!string || env->ExceptionCheck()) return nullptr;
        const StringUTFChars chars(env, string);
        if (!chars.get()) return nullptr;
        return strdup(chars.get());
    });
}

JNIEXPORT std::vector<bool> getBooleanArray(JNIEnv* env, jbooleanArray array) noexcept {
    return guarded("getBooleanArray", std::vector<bool>(), [&] {
        std::vector<bool> values;
        if (env->ExceptionCheck()) return values;
        if (!array) {
            platform::NSLog("getBooleanArray: null array read as empty");
            return values;
        }
        // Read as a copy: the Java array is never written back, so a
        // concurrent change on the Java side is not overwritten.
        const jsize length = env->GetArrayLength(array);
        std::vector<jboolean> elements(static_cast<std::size_t>(length));
        if (length > 0) {
            env->GetBooleanArrayRegion(array, 0, length, elements.data());
            if (env->ExceptionCheck()) return values;
        }
        values.reserve(elements.size());
        for (const jboolean element : elements) values.push_back(element != JNI_FALSE);
        return values;
    });
}

JNIEXPORT std::optional<std::vector<std::uint8_t>> getData(JNIEnv* env, jbyteArray array) noexcept {
    using Data = std::optional<std::vector<std::uint8_t>>;
    return guarded("getData", Data(), [&]() -> Data {
        if (!array || env->ExceptionCheck()) return std::nullopt;
        const jsize length = env->GetArrayLength(array);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
        if (length > 0) {
            env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(bytes.data()));
            if (env->ExceptionCheck()) return std::nullopt;
        }
        return bytes;
    });
}

}  // extern "C"

namespace bfg {

SystemString getSystemString(JNIEnv* env, jstring string) noexcept {
    return guarded("getSystemString", SystemString{}, [&]() -> SystemString {
        if (env->ExceptionCheck()) return {SystemString::kFailed, {}};
        if (!string) return {SystemString::kNull, {}};
        const std::optional<std::u16string> text = readString(env, string);
        if (!text) return {SystemString::kFailed, {}};
        if (!systemCanHold(*text)) return {SystemString::kRefused, {}};
        return {SystemString::kText, platform::utf16ToUTF8(*text)};
    });
}

jstring newJavaString(JNIEnv* env, std::u16string_view text) noexcept {
    return guarded("newJavaString", static_cast<jstring>(nullptr), [&]() -> jstring {
        if (env->ExceptionCheck()) return nullptr;
        const jsize length = javaLength(text.size());
        const std::vector<jchar> units(text.begin(), text.end());
        static const jchar none = 0;
        return env->NewString(units.empty() ? &none : units.data(), length);
    });
}

jstring newJavaString(JNIEnv* env, std::string_view utf8) noexcept {
    return guarded("newJavaString", static_cast<jstring>(nullptr), [&]() -> jstring {
        if (env->ExceptionCheck()) return nullptr;
        return newJavaString(env, platform::utf8ToUTF16(platform::decodeUTF8Lossy(utf8)));
    });
}

jobjectArray newStringArray(JNIEnv* env, std::span<const std::u16string> texts) noexcept {
    return guarded("newStringArray", static_cast<jobjectArray>(nullptr), [&]() -> jobjectArray {
        if (env->ExceptionCheck()) return nullptr;
        const jsize length = javaLength(texts.size());
        const LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
        if (!stringClass) return nullptr;
        const jobjectArray array = env->NewObjectArray(length, stringClass.get(), nullptr);
        if (!array) return nullptr;
        for (jsize i = 0; i < length; ++i) {
            const LocalRef<jstring> element(env, newJavaString(env, texts[static_cast<std::size_t>(i)]));
            if (!element) {
                env->DeleteLocalRef(array);
                return nullptr;
            }
            env->SetObjectArrayElement(array, i, element.get());
        }
        return array;
    });
}

jbooleanArray newBooleanArray(JNIEnv* env, const std::vector<bool>& values) noexcept {
    return guarded("newBooleanArray", static_cast<jbooleanArray>(nullptr), [&]() -> jbooleanArray {
        if (env->ExceptionCheck()) return nullptr;
        const jsize length = javaLength(values.size());
        const std::vector<jboolean> elements(values.begin(), values.end());
        const jbooleanArray array = env->NewBooleanArray(length);
        if (array && length > 0) env->SetBooleanArrayRegion(array, 0, length, elements.data());
        return array;
    });
}

}  // namespace bfg
