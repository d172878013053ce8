// The window-reordering guard, its natives and the window class's hooks,
// with test window classes in the run-time stand-in.
#include "native/installer/WindowReordering.h"

#include <jni.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "native/installer/Library.h"
#include "platform/objc/Runtime.h"

extern "C" {
jint JNI_OnLoad(JavaVM* vm, void* reserved);
void Java_com_brimforge_runtime_installer_platform_macos_MacosUiHelper_disableReordering0(JNIEnv*, jclass);
void Java_com_brimforge_runtime_installer_platform_macos_MacosUiHelper_enableReordering0(JNIEnv*, jclass);
}

namespace {

namespace objc = platform::objc;

void disable() { Java_com_brimforge_runtime_installer_platform_macos_MacosUiHelper_disableReordering0(nullptr, nullptr); }
void enable() { Java_com_brimforge_runtime_installer_platform_macos_MacosUiHelper_enableReordering0(nullptr, nullptr); }

// A window whose own handlers record what reached them.
class TestWindow : public objc::Object {
public:
    using Object::Object;
    int becameMain = 0;
    objc::id lastNotification = nullptr;
    bool canBecomeMain = true;
};

void addWindowMethods(objc::Class cls) {
    objc::class_addMethod(cls, objc::NSSelectorFromString("windowDidBecomeMain:"),
                          objc::imp_implementationWithBlock([](objc::id self, objc::id note) {
                              auto* window = static_cast<TestWindow*>(self);
                              ++window->becameMain;
                              window->lastNotification = note;
                          }),
                          "v@:@");
    objc::class_addMethod(cls, objc::NSSelectorFromString("canBecomeMainWindow"),
                          objc::imp_implementationWithBlock(
                              [](objc::id self) { return static_cast<TestWindow*>(self)->canBecomeMain; }),
                          "B@:");
}

objc::Class makeClass(objc::Class superclass, const char* name) {
    const objc::Class cls = objc::objc_allocateClassPair(superclass, name);
    objc::objc_registerClassPair(cls);
    return cls;
}

bool canBecomeMainWindow(TestWindow& window) {
    return objc::objc_msgSend<bool>(&window, objc::NSSelectorFromString("canBecomeMainWindow"));
}
void windowDidBecomeMain(TestWindow& window, objc::id note) {
    objc::objc_msgSend<void, objc::id>(&window, objc::NSSelectorFromString("windowDidBecomeMain:"), note);
}

TEST(ReorderingGuard, NestsAndCountsBelowZeroAsActive) {
    ASSERT_EQ(bfgnative::reorderingCount(), 0);
    disable();
    disable();
    enable();
    EXPECT_TRUE(bfgnative::reorderingGuardActive());
    enable();
    EXPECT_FALSE(bfgnative::reorderingGuardActive());
    enable();  // without a matching disable
    EXPECT_EQ(bfgnative::reorderingCount(), -1);
    EXPECT_TRUE(bfgnative::reorderingGuardActive());
    disable();
    EXPECT_EQ(bfgnative::reorderingCount(), 0);
}

TEST(ReorderingGuard, ThreadsChangingItAtOnceLoseNoChange) {
    // Only adds, so no lost change is made up by an opposite one; for a time,
    // not a count, since on a busy machine short runs do not overlap.
    constexpr int kThreads = 4;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    std::atomic<std::int64_t> added{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            std::int64_t n = 0;
            while (std::chrono::steady_clock::now() < deadline) {
                for (int i = 0; i < 1024; ++i) disable();
                n += 1024;
            }
            added += n;
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(bfgnative::reorderingCount(), added.load());
    bfgnative::addToReorderingCount(static_cast<std::int32_t>(-added.load()));
}

TEST(WindowHooks, FollowTheGuardAndOtherwiseKeepTheOriginalBehaviour) {
    const objc::Class cls = makeClass(nullptr, "TestWindowOwnMethods");
    addWindowMethods(cls);
    const bfgnative::WindowHooks hooks = bfgnative::installWindowHooks("TestWindowOwnMethods");
    EXPECT_TRUE(hooks.windowDidBecomeMain);
    EXPECT_TRUE(hooks.canBecomeMainWindow);
    EXPECT_EQ(objc::class_getMethodTypeEncoding(cls, objc::NSSelectorFromString("originalWindowDidBecomeMain:")),
              "v@:@");
    EXPECT_EQ(objc::class_getMethodTypeEncoding(cls, objc::NSSelectorFromString("originalCanBecomeMainWindow:")),
              "B@:");

    TestWindow window(cls);
    TestWindow note(cls);
    // Inactive: exactly what the replaced implementations do.
    EXPECT_TRUE(canBecomeMainWindow(window));
    window.canBecomeMain = false;
    EXPECT_FALSE(canBecomeMainWindow(window));
    window.canBecomeMain = true;
    windowDidBecomeMain(window, &note);
    EXPECT_EQ(window.becameMain, 1);
    EXPECT_EQ(window.lastNotification, &note);

    disable();
    EXPECT_FALSE(canBecomeMainWindow(window));
    windowDidBecomeMain(window, &note);
    EXPECT_EQ(window.becameMain, 1);
    enable();
    enable();  // -1 is active too
    EXPECT_FALSE(canBecomeMainWindow(window));
    disable();

    EXPECT_TRUE(canBecomeMainWindow(window));
    windowDidBecomeMain(window, nullptr);
    EXPECT_EQ(window.becameMain, 2);
}

TEST(WindowHooks, MessagesSentWhileTheHooksAreInstalledAlwaysReachTheOriginal) {
    // The host may send window messages on another thread while the library
    // loads: each must run the window's own handler. One thread sends to the
    // window of the round while this one hooks its class.
    struct Round {
        TestWindow window;
        int sent = 0, failed = 0;  // by the sender only
    };
    std::atomic<Round*> current{nullptr}, seen{nullptr};
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        while (!stop) {
            Round* round = current.load();
            if (round) {
                try {
                    windowDidBecomeMain(round->window, nullptr);
                    if (!canBecomeMainWindow(round->window)) ++round->failed;
                } catch (const std::exception&) {
                    ++round->failed;
                }
                ++round->sent;
            }
            seen = round;
        }
    });
    const auto waitUntilSeen = [&](Round* round) {
        seen = reinterpret_cast<Round*>(1);
        while (seen != round) std::this_thread::yield();
    };
    for (int i = 0; i < 2000; ++i) {
        const std::string name = "TestWindowRace" + std::to_string(i);
        const objc::Class cls = makeClass(nullptr, name.c_str());
        addWindowMethods(cls);
        Round round{TestWindow(cls)};
        current = &round;
        waitUntilSeen(&round);
        bfgnative::installWindowHooks(name);
        waitUntilSeen(&round);
        current = nullptr;
        waitUntilSeen(nullptr);
        if (round.failed != 0 || round.window.becameMain != round.sent) {
            ADD_FAILURE() << "round " << i << ": " << round.failed << " failed, " << round.sent << " sent, "
                          << round.window.becameMain << " reached the window";
            break;
        }
    }
    stop = true;
    sender.join();
}

TEST(WindowHooks, AnInheritedMethodIsHookedWithTheInheritedImplementationAsOriginal) {
    const objc::Class base = makeClass(nullptr, "TestNSWindow");
    addWindowMethods(base);
    const objc::Class cls = makeClass(base, "TestWindowInheriting");
    const bfgnative::WindowHooks hooks = bfgnative::installWindowHooks("TestWindowInheriting");
    EXPECT_TRUE(hooks.windowDidBecomeMain);
    EXPECT_TRUE(hooks.canBecomeMainWindow);

    TestWindow window(cls), plain(base);
    window.canBecomeMain = false;
    EXPECT_FALSE(canBecomeMainWindow(window));
    window.canBecomeMain = true;
    EXPECT_TRUE(canBecomeMainWindow(window));

    disable();
    EXPECT_FALSE(canBecomeMainWindow(window));
    windowDidBecomeMain(window, nullptr);
    EXPECT_EQ(window.becameMain, 0);
    // The superclass itself is not hooked.
    EXPECT_TRUE(canBecomeMainWindow(plain));
    windowDidBecomeMain(plain, nullptr);
    EXPECT_EQ(plain.becameMain, 1);
    enable();

    windowDidBecomeMain(window, nullptr);
    EXPECT_EQ(window.becameMain, 1);
}

TEST(WindowHooks, NothingIsHookedWithoutAnImplementationOrAClass) {
    const objc::Class cls = makeClass(nullptr, "TestWindowWithoutMethods");
    const bfgnative::WindowHooks hooks = bfgnative::installWindowHooks("TestWindowWithoutMethods");
    EXPECT_FALSE(hooks.windowDidBecomeMain);
    EXPECT_FALSE(hooks.canBecomeMainWindow);
    EXPECT_EQ(objc::class_getMethodImplementation(cls, objc::NSSelectorFromString("canBecomeMainWindow")),
              std::nullopt);
    EXPECT_EQ(objc::class_getMethodImplementation(cls, objc::NSSelectorFromString("originalCanBecomeMainWindow:")),
              std::nullopt);

    const bfgnative::WindowHooks none = bfgnative::installWindowHooks("TestWindowNotRegistered");
    EXPECT_FALSE(none.windowDidBecomeMain || none.canBecomeMainWindow);

    // An implementation the hook could not call stays as it is.
    const objc::Class odd = makeClass(nullptr, "TestWindowOtherTypes");
    objc::class_addMethod(odd, objc::NSSelectorFromString("canBecomeMainWindow"),
                          objc::imp_implementationWithBlock([](objc::id) { return 7; }), "i@:");
    EXPECT_FALSE(bfgnative::installWindowHooks("TestWindowOtherTypes").canBecomeMainWindow);
    objc::Object window(odd);
    disable();
    EXPECT_EQ(objc::objc_msgSend<int>(&window, objc::NSSelectorFromString("canBecomeMainWindow")), 7);
    enable();
}

TEST(LoadHook, StoresTheVMAndLoadsWithoutTheWindowClass) {
    ASSERT_EQ(objc::objc_getClass("AWTWindow"), nullptr);
    alignas(JavaVM) unsigned char storage[sizeof(JavaVM)] = {};
    JavaVM* vm = reinterpret_cast<JavaVM*>(storage);  // only stored, never called
    EXPECT_EQ(JNI_OnLoad(vm, nullptr), 0x10006);
    EXPECT_EQ(bfgnative::javaVM(), vm);
}

}  // namespace
