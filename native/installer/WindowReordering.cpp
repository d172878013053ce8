#include "native/installer/WindowReordering.h"

#include <atomic>

#include "native/installer/JavaValues.h"
#include "platform/objc/Runtime.h"

namespace bfgnative {
namespace {

namespace objc = platform::objc;

std::atomic<std::int32_t> g_reorderingCount{0};

const objc::SEL& windowDidBecomeMainSelector() {
    static const objc::SEL sel = objc::NSSelectorFromString("windowDidBecomeMain:");
    return sel;
}
const objc::SEL& originalWindowDidBecomeMainSelector() {
    static const objc::SEL sel = objc::NSSelectorFromString("originalWindowDidBecomeMain:");
    return sel;
}
const objc::SEL& canBecomeMainWindowSelector() {
    static const objc::SEL sel = objc::NSSelectorFromString("canBecomeMainWindow");
    return sel;
}
const objc::SEL& originalCanBecomeMainWindowSelector() {
    static const objc::SEL sel = objc::NSSelectorFromString("originalCanBecomeMainWindow:");
    return sel;
}

// Registers the implementation of `selector` that runs now under `original`,
// then replaces it by `hook`. In that order: the host may send the message
// on another thread meanwhile, and the hook must find its original at once.
// Signature is the C++ type of both; an implementation of another type is
// left alone, since the hook could not call it.
template <class Signature>
bool hook(objc::Class cls, const objc::SEL& selector, const objc::SEL& original, objc::IMP hookImp,
          const char* types) {
    // Own or inherited: what a message to an instance ran until now.
    const std::optional<objc::IMP> before = objc::class_getMethodImplementation(cls, selector);
    if (!before || !Signature::of(*before)) return false;
    // Already registered (hooked before): the original stays the first one.
    objc::class_addMethod(cls, original, *before, types);
    objc::class_replaceMethod(cls, selector, std::move(hookImp), types);
    return true;
}

struct DidBecomeMain {
    static bool of(const objc::IMP& imp) { return imp.as<void, objc::id>() != nullptr; }
};
struct CanBecomeMain {
    static bool of(const objc::IMP& imp) { return imp.as<bool>() != nullptr; }
};

}  // namespace

void addToReorderingCount(std::int32_t delta) noexcept {
    g_reorderingCount.fetch_add(delta, std::memory_order_seq_cst);
}

std::int32_t reorderingCount() noexcept {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return g_reorderingCount.load(std::memory_order_seq_cst);
}

WindowHooks installWindowHooks(std::string_view className) {
    WindowHooks installed;
    const objc::Class cls = objc::objc_getClass(className);
    if (!cls) return installed;

    // The hooks capture nothing; they find the original through the receiver.
    // They run in the host's calls, so nothing may escape them: a failure is
    // logged, and the window then does not become main.
    installed.windowDidBecomeMain = hook<DidBecomeMain>(
        cls, windowDidBecomeMainSelector(), originalWindowDidBecomeMainSelector(),
        objc::imp_implementationWithBlock([](objc::id self, objc::id notification) noexcept {
            bfg::guarded("windowDidBecomeMain:", [&] {
                if (!reorderingGuardActive()) {
                    objc::objc_msgSend<void, objc::id>(self, originalWindowDidBecomeMainSelector(), notification);
                }
            });
        }),
        "v@:@");
    installed.canBecomeMainWindow = hook<CanBecomeMain>(
        cls, canBecomeMainWindowSelector(), originalCanBecomeMainWindowSelector(),
        objc::imp_implementationWithBlock([](objc::id self) noexcept -> bool {
            return bfg::guarded("canBecomeMainWindow", false, [&] {
                if (reorderingGuardActive()) return false;
                return objc::objc_msgSend<bool>(self, originalCanBecomeMainWindowSelector());
            });
        }),
        "B@:");
    return installed;
}

}  // namespace bfgnative
