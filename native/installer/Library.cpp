// The load hook, the window-reordering natives of MacosUiHelper and the
// library's exported data.
#include "native/installer/Library.h"

#include <atomic>

#include "native/installer/JavaValues.h"
#include "native/installer/WindowReordering.h"

namespace bfgnative {
namespace {

std::atomic<JavaVM*> g_javaVM{nullptr};

}  // namespace

JavaVM* javaVM() noexcept { return g_javaVM.load(std::memory_order_acquire); }

}  // namespace bfgnative

extern "C" {

const char* const FAILURE_MARKER = "__kqvx_";

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void* /*reserved*/) {
    bfg::guarded("JNI_OnLoad", [&] {
        bfgnative::g_javaVM.store(vm, std::memory_order_release);
        // Without the host's window class the library loads with no hooks.
        bfgnative::installWindowHooks("AWTWindow");
    });
    return JNI_VERSION_1_6;
}

JNIEXPORT void JNICALL
Java_com_brimforge_runtime_installer_platform_macos_MacosUiHelper_disableReordering0(JNIEnv*, jclass) {
    bfg::guarded("disableReordering0", [] { bfgnative::addToReorderingCount(1); });
}

JNIEXPORT void JNICALL
Java_com_brimforge_runtime_installer_platform_macos_MacosUiHelper_enableReordering0(JNIEnv*, jclass) {
    bfg::guarded("enableReordering0", [] { bfgnative::addToReorderingCount(-1); });
}

}  // extern "C"
