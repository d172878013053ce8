// The dialog call convention and result delivery, with test callback objects.
#include "native/installer/Callback.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "native/installer/JavaValues.h"
#include "tests/native/JavaVMFixture.h"

namespace {

using bfgnative::DialogCallback;
using bfgtest::captureStderr;
using bfgtest::JniTest;
using platform::dispatch::dispatch_get_main_queue;
using platform::dispatch::dispatch_sync;
using Delivery = DialogCallback::Delivery;

jobject newObject(JNIEnv* env, const char* className) {
    const jclass cls = env->FindClass(className);
    EXPECT_NE(cls, nullptr) << className;
    const jobject object = env->AllocObject(cls);
    env->DeleteLocalRef(cls);
    return object;
}

jint intField(JNIEnv* env, jobject object, const char* name) {
    const jclass cls = env->GetObjectClass(object);
    const jint value = env->GetIntField(object, env->GetFieldID(cls, name, "I"));
    env->DeleteLocalRef(cls);
    return value;
}

std::tuple<jint, bool> alertResult(jint index, bool suppressed) { return {index, suppressed}; }

// Which values deliver accepts for a signature, checked when this compiles.
using bfgnative::voidMethodTakes;
static_assert(voidMethodTakes<std::tuple<jint, bool>>("(IZ)V"));
static_assert(voidMethodTakes<std::tuple<jobjectArray, jbooleanArray>>("([Ljava/lang/String;[Z)V"));
static_assert(voidMethodTakes<std::tuple<jlong, jdouble, jobject>>("(JDLjava/lang/Object;)V"));
static_assert(!voidMethodTakes<std::tuple<jint>>("(IZ)V"));                 // one value short
static_assert(!voidMethodTakes<std::tuple<bool, jint>>("(IZ)V"));           // swapped
static_assert(!voidMethodTakes<std::tuple<jstring>>("(Ljava/lang/Object;)V"));
static_assert(!voidMethodTakes<std::tuple<jint, bool>>("(IZ)I"));           // not void

// Runs `body` on the main queue's thread and waits for it.
void onMainQueue(const std::function<void()>& body) { dispatch_sync(dispatch_get_main_queue(), body); }

// True once the VM has collected the object `weak` refers to.
bool collected(JNIEnv* env, jweak weak) {
    const jclass system = env->FindClass("java/lang/System");
    const jmethodID gc = env->GetStaticMethodID(system, "gc", "()V");
    for (int attempt = 0; attempt < 10 && !env->IsSameObject(weak, nullptr); ++attempt) {
        env->CallStaticVoidMethod(system, gc);
    }
    env->DeleteLocalRef(system);
    return env->IsSameObject(weak, nullptr);
}

using DialogConvention = JniTest;

TEST_F(DialogConvention, ConvertsOnTheCallerShowsOnTheMainQueueAndReturnsFirst) {
    JavaVM* vm = bfgtest::javaVM();
    const jobject callback = newObject(env, "nativetest/AlertCallback");
    const jstring title = env->NewStringUTF("Install?");

    std::mutex lock;
    std::condition_variable changed;
    bool returned = false, shown = false, showOnQueue = false;
    std::thread::id convertThread;
    std::optional<std::u16string> shownTitle;

    bfgnative::postDialog(
        vm, env, callback,
        [&](JNIEnv* e) {
            convertThread = std::this_thread::get_id();
            return getString(e, title);
        },
        [&](std::optional<std::u16string> value, DialogCallback result) {
            std::unique_lock<std::mutex> hold(lock);
            changed.wait(hold, [&] { return returned; });  // the native method has returned
            showOnQueue = platform::dispatch::dispatch_is_queue_thread(dispatch_get_main_queue());
            shownTitle = std::move(value);
            result.deliver<"(IZ)V">([](JNIEnv*) { return alertResult(2, true); });
            shown = true;
        });
    {
        const std::lock_guard<std::mutex> hold(lock);
        EXPECT_FALSE(shown);
        returned = true;
    }
    changed.notify_all();
    onMainQueue([] {});

    EXPECT_EQ(convertThread, std::this_thread::get_id());
    EXPECT_TRUE(shown);
    EXPECT_TRUE(showOnQueue);
    EXPECT_EQ(shownTitle, u"Install?");
    EXPECT_EQ(intField(env, callback, "calls"), 1);
    EXPECT_EQ(intField(env, callback, "index"), 2);
    const jclass cls = env->GetObjectClass(callback);
    EXPECT_TRUE(env->GetBooleanField(callback, env->GetFieldID(cls, "suppressed", "Z")));
    // The queue's thread is attached to the VM as the host's main thread is.
    const auto name = static_cast<jstring>(
        env->GetObjectField(callback, env->GetFieldID(cls, "threadName", "Ljava/lang/String;")));
    EXPECT_EQ(getString(env, name), u"main queue");
}

TEST_F(DialogConvention, NothingIsShownWhenConversionFails) {
    const jobject callback = newObject(env, "nativetest/AlertCallback");
    const jweak weak = env->NewWeakGlobalRef(callback);
    const jstring text = env->NewStringUTF("Install");
    const jobjectArray texts = env->NewObjectArray(1, env->FindClass("java/lang/String"), text);
    const jbooleanArray flags = env->NewBooleanArray(1);
    const jbyteArray bytes = env->NewByteArray(1);
    bool shown = false;
    bool allEmpty = false;
    bfgnative::postDialog(
        bfgtest::javaVM(), env, callback,
        [&](JNIEnv* e) {
            const jclass error = e->FindClass("java/lang/OutOfMemoryError");
            e->ThrowNew(error, "no room");
            // The conversions after the failed one make no JNI call (the JNI
            // checks would warn, see JniTest) and give their empty values.
            char* chars = getStringChars(e, text);
            const std::u16string path = u"/tmp";
            allEmpty = !getString(e, text) && getStringArray(e, texts).empty() && !chars &&
                       getBooleanArray(e, flags).empty() && !getData(e, bytes) &&
                       !bfg::newJavaString(e, std::string_view("a")) && !bfg::newStringArray(e, {&path, 1}) &&
                       !bfg::newBooleanArray(e, {true});
            std::free(chars);
            return 0;
        },
        [&](int, DialogCallback) { shown = true; });
    EXPECT_TRUE(allEmpty);
    EXPECT_TRUE(env->ExceptionCheck());  // reaches the Java caller
    env->ExceptionClear();
    onMainQueue([] {});
    EXPECT_FALSE(shown);
    env->DeleteLocalRef(callback);
    EXPECT_TRUE(collected(env, weak));  // the global reference was released
    env->DeleteWeakGlobalRef(weak);
}

TEST_F(DialogConvention, AShowThatThrowsIsLoggedAndReleasesTheCallback) {
    // A real main queue would end the process on an exception; the dialog's
    // own guard must catch it, not the stand-in queue.
    const jobject callback = newObject(env, "nativetest/AlertCallback");
    const jweak weak = env->NewWeakGlobalRef(callback);
    const std::string log = captureStderr([&] {
        bfgnative::postDialog(
            bfgtest::javaVM(), env, callback, [](JNIEnv*) { return 0; },
            [](int, DialogCallback) { throw std::runtime_error("no window"); });
        onMainQueue([] {});
    });
    EXPECT_NE(log.find("] dialog failed: no window\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("main queue raised"), std::string::npos) << log;
    EXPECT_EQ(intField(env, callback, "calls"), 0);
    env->DeleteLocalRef(callback);
    EXPECT_TRUE(collected(env, weak));
    env->DeleteWeakGlobalRef(weak);
}

using ResultDelivery = JniTest;

TEST_F(ResultDelivery, ArgumentsMadeByTheBuilderReachTheCallback) {
    // Far more paths than a local frame holds, with supplementary characters
    // and U+0000: they arrive intact, and no reference is kept per path.
    std::vector<std::u16string> paths;
    std::vector<bool> states;
    for (int i = 0; i < 10000; ++i) {
        paths.push_back(u"/Users/\U0001F600/" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                        std::u16string(u"\0\U0001D11E", 3) + std::u16string(static_cast<std::size_t>(i % 7), u'x'));
        states.push_back(i % 3 == 0);
    }
    const jobject callback = newObject(env, "nativetest/ChooserCallback");
    DialogCallback result(bfgtest::javaVM(), env, callback);
    Delivery delivery{};
    onMainQueue([&] {
        delivery = result.deliver<"([Ljava/lang/String;[Z)V">([&](JNIEnv* e) {
            return std::tuple{bfg::newStringArray(e, paths), bfg::newBooleanArray(e, states)};
        });
    });
    EXPECT_EQ(delivery, Delivery::delivered);
    EXPECT_EQ(result.ref(), nullptr);
    EXPECT_EQ(intField(env, callback, "calls"), 1);
    const jclass cls = env->GetObjectClass(callback);
    const auto delivered = static_cast<jobjectArray>(
        env->GetObjectField(callback, env->GetFieldID(cls, "paths", "[Ljava/lang/String;")));
    EXPECT_EQ(getStringArray(env, delivered), paths);
    const auto flags = static_cast<jbooleanArray>(env->GetObjectField(callback, env->GetFieldID(cls, "states", "[Z")));
    EXPECT_EQ(getBooleanArray(env, flags), states);
}

TEST_F(ResultDelivery, WithoutAnEnvironmentItLogsAndKeepsTheReference) {
    const jobject callback = newObject(env, "nativetest/AlertCallback");
    DialogCallback result(bfgtest::javaVM(), env, callback);
    Delivery delivery{};
    const std::string log = captureStderr([&] {
        // A thread the VM does not know: GetEnv fails and nothing attaches it.
        std::thread([&] { delivery = result.deliver<"(IZ)V">([](JNIEnv*) { return alertResult(0, false); }); })
            .join();
    });
    EXPECT_EQ(delivery, Delivery::noEnv);
    EXPECT_NE(log.find("] Could not get JNI env\n"), std::string::npos) << log;
    EXPECT_NE(result.ref(), nullptr);
    EXPECT_EQ(intField(env, callback, "calls"), 0);
}

TEST_F(ResultDelivery, NullCallbackIsClassNotFound) {
    DialogCallback result(bfgtest::javaVM(), env, nullptr);
    Delivery delivery{};
    const std::string log = captureStderr([&] {
        onMainQueue([&] { delivery = result.deliver<"(IZ)V">([](JNIEnv*) { return alertResult(0, false); }); });
    });
    EXPECT_EQ(delivery, Delivery::noClass);
    EXPECT_NE(log.find("] Callback class not found\n"), std::string::npos) << log;
}

TEST_F(ResultDelivery, MissingMethodIsLoggedClearedAndReleased) {
    const jobject callback = newObject(env, "nativetest/WrongCallback");
    const jweak weak = env->NewWeakGlobalRef(callback);
    Delivery delivery{};
    bool pendingAfter = true;
    bool built = false;
    const std::string log = captureStderr([&] {
        DialogCallback result(bfgtest::javaVM(), env, callback);
        onMainQueue([&] {
            delivery = result.deliver<"(IZ)V">([&](JNIEnv*) {
                built = true;
                return alertResult(0, false);
            });
            JNIEnv* queueEnv = bfgtest::jniEnv();
            pendingAfter = queueEnv->ExceptionCheck();
        });
    });
    EXPECT_EQ(delivery, Delivery::noMethod);
    EXPECT_NE(log.find("] Callback method not found\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("NoSuchMethodError"), std::string::npos) << log;  // cleared, not printed
    EXPECT_FALSE(pendingAfter);  // the NoSuchMethodError does not stay pending
    EXPECT_FALSE(built);
    EXPECT_EQ(intField(env, callback, "calls"), 0);
    env->DeleteLocalRef(callback);
    EXPECT_TRUE(collected(env, weak));
    env->DeleteWeakGlobalRef(weak);
}

TEST_F(ResultDelivery, ExceptionFromTheCallbackIsPrintedAndCleared) {
    const jobject throwing = newObject(env, "nativetest/ThrowingCallback");
    const jobject next = newObject(env, "nativetest/AlertCallback");
    const jweak weak = env->NewWeakGlobalRef(throwing);
    Delivery first{}, second{};
    bool pendingAfter = true;
    const std::string log = captureStderr([&] {
        DialogCallback a(bfgtest::javaVM(), env, throwing);
        DialogCallback b(bfgtest::javaVM(), env, next);
        onMainQueue([&] {
            first = a.deliver<"(IZ)V">([](JNIEnv*) { return alertResult(1, false); });
            pendingAfter = bfgtest::jniEnv()->ExceptionCheck();
            // The thread goes on delivering after a failed callback.
            second = b.deliver<"(IZ)V">([](JNIEnv*) { return alertResult(3, false); });
        });
    });
    EXPECT_EQ(first, Delivery::threw);
    EXPECT_FALSE(pendingAfter);
    EXPECT_NE(log.find("java.lang.IllegalStateException: callback refused index 1"), std::string::npos) << log;
    EXPECT_EQ(intField(env, throwing, "calls"), 1);
    EXPECT_EQ(second, Delivery::delivered);
    EXPECT_EQ(intField(env, next, "index"), 3);
    env->DeleteLocalRef(throwing);
    EXPECT_TRUE(collected(env, weak));
    env->DeleteWeakGlobalRef(weak);
}

TEST_F(ResultDelivery, ManyDeliveriesOnTheQueueThreadLeaveNoLocalReferences) {
    // One block, many deliveries: each frees its own references, so none
    // pile up on the main queue's thread (the JNI checks would warn).
    std::vector<jobject> callbacks;
    for (int i = 0; i < 200; ++i) {
        const jobject object = newObject(env, "nativetest/ChooserCallback");
        callbacks.push_back(env->NewGlobalRef(object));
        env->DeleteLocalRef(object);
    }
    int delivered = 0;
    onMainQueue([&] {
        for (const jobject callback : callbacks) {
            DialogCallback result(bfgtest::javaVM(), bfgtest::jniEnv(), callback);
            const Delivery d = result.deliver<"([Ljava/lang/String;[Z)V">([](JNIEnv* e) {
                const jclass stringClass = e->FindClass("java/lang/String");
                return std::tuple{e->NewObjectArray(0, stringClass, nullptr), e->NewBooleanArray(0)};
            });
            if (d == Delivery::delivered) ++delivered;
        }
    });
    EXPECT_EQ(delivered, 200);
    for (const jobject callback : callbacks) env->DeleteGlobalRef(callback);
}

TEST(MainQueue, LocalReferencesABlockLeaksStayAsOnTheHostsMainThread) {
    // No frame around each block hides a leak: the JNI checks warn as the
    // leaked references pile up. (Deleting them at the end is valid only
    // because they outlived their blocks.)
    const std::size_t before = bfgtest::vmOutput().size();
    std::vector<jobject> leaked;
    for (int i = 0; i < 100; ++i) {
        platform::dispatch::dispatch_async(dispatch_get_main_queue(),
                                           [&] { leaked.push_back(bfgtest::jniEnv()->NewStringUTF("leak")); });
    }
    onMainQueue([&] {
        for (const jobject ref : leaked) bfgtest::jniEnv()->DeleteLocalRef(ref);
    });
    EXPECT_EQ(leaked.size(), 100u);
    EXPECT_NE(bfgtest::vmOutput().find("WARNING: JNI local refs", before), std::string::npos);
}

}  // namespace
