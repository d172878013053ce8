#include "tests/native/JavaVMFixture.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace bfgtest {
namespace {

std::mutex g_outputLock;
std::string g_output;

jint JNICALL recordOutput(FILE* stream, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char buffer[4096];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, copy);
    va_end(copy);
    if (n > 0) {
        const std::lock_guard<std::mutex> hold(g_outputLock);
        g_output.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
    }
    return std::vfprintf(stream, format, args);
}

JavaVM* createVM() {
    std::string classPath = "-Djava.class.path=" BFG_TEST_CLASSPATH;
    JavaVMOption options[] = {
        {const_cast<char*>("-Xcheck:jni"), nullptr},
        {classPath.data(), nullptr},
        {const_cast<char*>("-Xmx256m"), nullptr},
        {const_cast<char*>("vfprintf"), reinterpret_cast<void*>(&recordOutput)},
    };
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_8;
    args.nOptions = sizeof options / sizeof options[0];
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    JavaVM* vm = nullptr;
    void* env = nullptr;
    if (JNI_CreateJavaVM(&vm, &env, &args) != JNI_OK) {
        std::fprintf(stderr, "could not create the Java VM\n");
        std::abort();
    }
    return vm;
}

}  // namespace

JavaVM* javaVM() {
    static JavaVM* const vm = createVM();
    return vm;
}

JNIEnv* jniEnv() {
    JavaVM* vm = javaVM();
    void* env = nullptr;
    if (vm->GetEnv(&env, JNI_VERSION_1_6) == JNI_EDETACHED) vm->AttachCurrentThread(&env, nullptr);
    return static_cast<JNIEnv*>(env);
}

std::string vmOutput() {
    const std::lock_guard<std::mutex> hold(g_outputLock);
    return g_output;
}

void JniTest::SetUp() {
    env = jniEnv();
    outputBefore_ = vmOutput().size();
    ASSERT_EQ(env->PushLocalFrame(16), 0);
}

void JniTest::TearDown() {
    EXPECT_FALSE(env->ExceptionCheck());
    env->ExceptionClear();
    env->PopLocalFrame(nullptr);
    const std::string printed = vmOutput().substr(outputBefore_);
    EXPECT_EQ(printed.find("WARNING"), std::string::npos) << printed;
}

}  // namespace bfgtest
