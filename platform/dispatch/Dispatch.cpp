#include "platform/dispatch/Dispatch.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <dlfcn.h>
#include <exception>
#include <jni.h>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/foundation/Log.h"

namespace platform::dispatch {
namespace {

using GetCreatedJavaVMs = jint(JNICALL*)(JavaVM**, jsize, jsize*);

// The process's Java VM, if one exists. Looked up at run time so that this
// library does not need the VM's library to load (it may be loaded later).
JavaVM* createdJavaVM() noexcept {
    const auto lookup = reinterpret_cast<GetCreatedJavaVMs>(dlsym(RTLD_DEFAULT, "JNI_GetCreatedJavaVMs"));
    if (!lookup) return nullptr;
    JavaVM* vm = nullptr;
    jsize count = 0;
    if (lookup(&vm, 1, &count) != JNI_OK || count < 1) return nullptr;
    return vm;
}

JNIEnv* attachAsDaemon() noexcept {
    JavaVM* vm = createdJavaVM();
    if (!vm) return nullptr;
    char name[] = "main queue";
    JavaVMAttachArgs args{JNI_VERSION_1_6, name, nullptr};
    void* env = nullptr;
    if (vm->AttachCurrentThreadAsDaemon(&env, &args) != JNI_OK) return nullptr;
    return static_cast<JNIEnv*>(env);
}

// No local frame around the block: the host's main thread has none, so a
// block that leaks local references is seen (and warned about) as it would be there.
void runBlock(const dispatch_block_t& block, JNIEnv* env) noexcept {
    try {
        block();
    } catch (const std::exception& e) {
        NSLog("A block on the main queue raised: %@", e.what());
    } catch (...) {
        NSLog("A block on the main queue raised an unknown exception");
    }
    if (env && env->ExceptionCheck()) env->ExceptionDescribe();
}

}  // namespace

class Queue {
public:
    void submit(dispatch_block_t block) {
        const std::lock_guard<std::mutex> hold(lock_);
        if (!started_) {
            std::thread(&Queue::serve, this).detach();
            started_ = true;
        }
        blocks_.push_back(std::move(block));
        ready_.notify_one();
    }

    bool onQueueThread() const noexcept { return std::this_thread::get_id() == threadId_.load(); }

private:
    [[noreturn]] void serve() noexcept {
        threadId_.store(std::this_thread::get_id());
        JNIEnv* env = nullptr;
        for (;;) {
            dispatch_block_t block;
            {
                std::unique_lock<std::mutex> hold(lock_);
                ready_.wait(hold, [this] { return !blocks_.empty(); });
                block = std::move(blocks_.front());
                blocks_.pop_front();
            }
            if (!env) env = attachAsDaemon();
            runBlock(block, env);
        }
    }

    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<dispatch_block_t> blocks_;
    bool started_ = false;
    std::atomic<std::thread::id> threadId_{};
};

dispatch_queue_t dispatch_get_main_queue() noexcept {
    // Never destroyed: its thread may still run while the process exits.
    static Queue* const main = new Queue;
    return main;
}

void dispatch_async(dispatch_queue_t queue, dispatch_block_t block) { queue->submit(std::move(block)); }

void dispatch_sync(dispatch_queue_t queue, const dispatch_block_t& block) {
    if (queue->onQueueThread()) {
        block();
        return;
    }
    struct Done {
        std::mutex lock;
        std::condition_variable signal;
        bool done = false;
    };
    const auto done = std::make_shared<Done>();
    queue->submit([&block, done] {
        // Marks the block done even when it throws (the queue logs the exception).
        struct Mark {
            Done& d;
            ~Mark() {
                const std::lock_guard<std::mutex> hold(d.lock);
                d.done = true;
                d.signal.notify_all();
            }
        } mark{*done};
        block();
    });
    std::unique_lock<std::mutex> hold(done->lock);
    done->signal.wait(hold, [&] { return done->done; });
}

bool dispatch_is_queue_thread(dispatch_queue_t queue) noexcept { return queue->onQueueThread(); }

}  // namespace platform::dispatch
