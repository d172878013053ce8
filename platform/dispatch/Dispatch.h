#pragma once
// The main dispatch queue.
//
// One serial queue served by one thread, started when the first block is
// submitted; blocks run one at a time in the order they were submitted. The
// thread stands for the host application's main thread: when a Java VM exists
// in the process (found with JNI_GetCreatedJavaVMs) the thread attaches itself
// to it as a daemon thread named "main queue", before the first block that
// finds the VM, and stays attached. As on the host's main thread, no JNI
// local frame is pushed around a block: that thread never returns to Java,
// so every local reference a block makes and does not delete stays for the
// life of the process. A block that makes local references frees them itself
// (its own PushLocalFrame/PopLocalFrame, or DeleteLocalRef). A Java exception
// a block leaves pending is printed and cleared.
//
// A block that throws has its exception logged; the queue goes on with the
// next block. The queue and its thread live until the process ends.
//
// This is a shared library so that the process has exactly one main queue,
// whichever libraries use it. All functions are thread-safe.

#include <functional>

#define PLATFORM_DISPATCH_API __attribute__((visibility("default")))

namespace platform::dispatch {

class Queue;
using dispatch_queue_t = Queue*;
using dispatch_block_t = std::function<void()>;

// The main queue.
PLATFORM_DISPATCH_API dispatch_queue_t dispatch_get_main_queue() noexcept;

// Submits `block` and returns at once. Throws when out of memory or when the
// queue's thread cannot be started; the block is then not submitted.
PLATFORM_DISPATCH_API void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);

// Submits `block` and waits until it has run, so every block submitted before
// it has run too. Called on the queue's own thread, it runs `block` at once
// instead of waiting for itself.
PLATFORM_DISPATCH_API void dispatch_sync(dispatch_queue_t queue, const dispatch_block_t& block);

// True on the thread that serves `queue`.
PLATFORM_DISPATCH_API bool dispatch_is_queue_thread(dispatch_queue_t queue) noexcept;

}  // namespace platform::dispatch
