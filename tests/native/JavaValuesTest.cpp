// The Java value conversions against a real JNIEnv.
#include "native/installer/JavaValues.h"

#include <cstdlib>
#include <memory>

#include "tests/native/JavaVMFixture.h"

namespace {

using bfgtest::JniTest;

jstring javaString(JNIEnv* env, std::u16string_view text) {
    const std::vector<jchar> units(text.begin(), text.end());
    return env->NewString(units.data(), static_cast<jsize>(units.size()));
}

jobjectArray javaStrings(JNIEnv* env, const std::vector<std::u16string>& strings) {
    const jclass stringClass = env->FindClass("java/lang/String");
    const jobjectArray array = env->NewObjectArray(static_cast<jsize>(strings.size()), stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    for (std::size_t i = 0; i < strings.size(); ++i) {
        const jstring element = javaString(env, strings[i]);
        env->SetObjectArrayElement(array, static_cast<jsize>(i), element);
        env->DeleteLocalRef(element);
    }
    return array;
}

struct Freed {
    void operator()(char* p) const { std::free(p); }
};
using Chars = std::unique_ptr<char, Freed>;

using JavaStrings = JniTest;

TEST_F(JavaStrings, NullIsMissingAndEmptyIsEmpty) {
    EXPECT_EQ(getString(env, nullptr), std::nullopt);
    EXPECT_EQ(getStringChars(env, nullptr), nullptr);

    const jstring empty = javaString(env, u"");
    EXPECT_EQ(getString(env, empty), std::u16string());
    const Chars chars(getStringChars(env, empty));
    ASSERT_NE(chars, nullptr);
    EXPECT_STREQ(chars.get(), "");
}

TEST_F(JavaStrings, GetStringKeepsEveryCodeUnit) {
    // U+0000, a supplementary character (a surrogate pair), an unpaired
    // surrogate and a decomposed accent: nothing is replaced or normalised.
    const std::u16string text = std::u16string(u"a\0b", 3) + u"\U0001F600" + u"\xD800" + u"e\u0301";
    EXPECT_EQ(getString(env, javaString(env, text)), text);
}

TEST_F(JavaStrings, GetStringCharsGivesModifiedUTF8) {
    const Chars nul(getStringChars(env, javaString(env, std::u16string(u"a\0b", 3))));
    EXPECT_STREQ(nul.get(), "a\xC0\x80" "b");

    // U+1F600 as the surrogates D83D DE00, three bytes each.
    const Chars emoji(getStringChars(env, javaString(env, u"x\U0001F600")));
    EXPECT_STREQ(emoji.get(), "x\xED\xA0\xBD\xED\xB8\x80");

    const Chars bmp(getStringChars(env, javaString(env, u"\u00E9\u20AC")));
    EXPECT_STREQ(bmp.get(), "\xC3\xA9\xE2\x82\xAC");
}

TEST_F(JavaStrings, SystemStringsAreStandardUTF8AndRefuseWhatBytesCannotHold) {
    using S = bfg::SystemString;
    const struct {
        const char* what;
        std::u16string text;
        S::Status status;
        std::string bytes;
    } cases[] = {
        {"empty", u"", S::kText, ""},
        {"supplementary character as four bytes", u"a\U0001F600", S::kText, "a\xF0\x9F\x98\x80"},
        {"U+0000", std::u16string(u"a\0b", 3), S::kRefused, ""},
        {"high surrogate alone", u"X\xD800Y", S::kRefused, ""},
        {"high surrogate at the end", u"X\xDBFF", S::kRefused, ""},
        {"low surrogate alone", u"\xDC00", S::kRefused, ""},
        {"pair in the wrong order", u"\xDE00\xD83D", S::kRefused, ""},
        {"two high surrogates", u"\xD83D\xD83D\xDE00", S::kRefused, ""},
    };
    for (const auto& c : cases) {
        const S result = bfg::getSystemString(env, javaString(env, c.text));
        EXPECT_EQ(result.status, c.status) << c.what;
        EXPECT_EQ(result.bytes, c.bytes) << c.what;
    }
    EXPECT_EQ(bfg::getSystemString(env, nullptr).status, S::kNull);
}

TEST_F(JavaStrings, NewJavaStringKeepsSupplementaryCharactersAndNul) {
    const std::u16string text = std::u16string(u"a\0b", 3) + u"\U0001F600";
    EXPECT_EQ(getString(env, bfg::newJavaString(env, std::u16string_view(text))), text);
    EXPECT_EQ(getString(env, bfg::newJavaString(env, std::u16string_view())), u"");

    // From standard UTF-8 (a tool's output, a path): the same characters, and
    // U+FFFD for bytes that are not UTF-8.
    const std::string_view utf8("a\0b\xF0\x9F\x98\x80 \xFF", 9);
    EXPECT_EQ(getString(env, bfg::newJavaString(env, utf8)), text + u" \uFFFD");
}

using JavaArrays = JniTest;

TEST_F(JavaArrays, StringArrayKeepsOrderAndContent) {
    const std::vector<std::u16string> strings{u"Yes", u"", u"\U0001F600", std::u16string(u"\0", 1)};
    EXPECT_EQ(getStringArray(env, javaStrings(env, strings)), strings);
    EXPECT_TRUE(getStringArray(env, javaStrings(env, {})).empty());
}

TEST_F(JavaArrays, LargeStringArrayLeavesNoLocalReferences) {
    // Far more elements than the frame's 16 local references: a reference
    // kept per element would make the JNI checks warn (see JniTest).
    std::vector<std::u16string> strings;
    for (int i = 0; i < 5000; ++i) strings.push_back(u"item " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)));
    const jobjectArray array = javaStrings(env, strings);
    EXPECT_EQ(getStringArray(env, array), strings);
}

TEST_F(JavaArrays, NullStringArrayAndNullElementsAreReadAsEmpty) {
    std::vector<std::u16string> read;
    const std::string log = bfgtest::captureStderr([&] { read = getStringArray(env, nullptr); });
    EXPECT_TRUE(read.empty());
    EXPECT_NE(log.find("getStringArray: null array read as empty"), std::string::npos) << log;

    const jobjectArray array = javaStrings(env, {u"a", u"b", u"c"});
    env->SetObjectArrayElement(array, 1, nullptr);
    const std::string elementLog = bfgtest::captureStderr([&] { read = getStringArray(env, array); });
    EXPECT_EQ(read, (std::vector<std::u16string>{u"a", u"", u"c"}));
    EXPECT_NE(elementLog.find("getStringArray: null element 1 read as an empty string"), std::string::npos)
        << elementLog;
}

TEST_F(JavaArrays, BooleanArrays) {
    const jbooleanArray empty = env->NewBooleanArray(0);
    EXPECT_TRUE(getBooleanArray(env, empty).empty());

    const jboolean values[] = {JNI_TRUE, JNI_FALSE, JNI_TRUE, JNI_TRUE};
    const jbooleanArray small = env->NewBooleanArray(4);
    env->SetBooleanArrayRegion(small, 0, 4, values);
    EXPECT_EQ(getBooleanArray(env, small), (std::vector<bool>{true, false, true, true}));

    constexpr jsize kLarge = 10000;
    std::vector<jboolean> many(kLarge);
    std::vector<bool> expected(kLarge);
    for (jsize i = 0; i < kLarge; ++i) {
        many[static_cast<std::size_t>(i)] = (i % 3 == 0) ? JNI_TRUE : JNI_FALSE;
        expected[static_cast<std::size_t>(i)] = i % 3 == 0;
    }
    const jbooleanArray large = env->NewBooleanArray(kLarge);
    env->SetBooleanArrayRegion(large, 0, kLarge, many.data());
    EXPECT_EQ(getBooleanArray(env, large), expected);

    std::vector<bool> read{true};
    const std::string log = bfgtest::captureStderr([&] { read = getBooleanArray(env, nullptr); });
    EXPECT_TRUE(read.empty());
    EXPECT_NE(log.find("getBooleanArray: null array read as empty"), std::string::npos) << log;
}

TEST_F(JavaArrays, DataIsAnExactCopy) {
    EXPECT_EQ(getData(env, nullptr), std::nullopt);
    EXPECT_EQ(getData(env, env->NewByteArray(0)), std::vector<std::uint8_t>());

    constexpr jsize kLength = 100000;
    std::vector<jbyte> bytes(kLength);
    std::vector<std::uint8_t> expected(kLength);
    for (jsize i = 0; i < kLength; ++i) {
        expected[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 7);
        bytes[static_cast<std::size_t>(i)] = static_cast<jbyte>(expected[static_cast<std::size_t>(i)]);
    }
    const jbyteArray array = env->NewByteArray(kLength);
    env->SetByteArrayRegion(array, 0, kLength, bytes.data());
    EXPECT_EQ(getData(env, array), expected);
}

}  // namespace
